# The current device of the process and the flat device-information
# interface that the access core calls.
target_sources(tov_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/PyxDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wrapper/PyxDeviceWrapperC.cpp)

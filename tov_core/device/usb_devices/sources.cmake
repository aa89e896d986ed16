# The USB-to-I2C adapters: their common interface and bridge here, each
# adapter kind in a folder of its own.
target_sources(tov_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/QZUSBDeviceWrapperC.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qzusb/BaseQZUSB.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qzusb/QZUSBCom.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qzusb/QZUSBDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ndc/NDC.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ndc/NDCDevice.cpp)

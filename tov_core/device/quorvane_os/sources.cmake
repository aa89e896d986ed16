target_sources(tov_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/BaseQuorvaneOS.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QuorvaneOSRegAccess.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QuorvaneOSCRSpace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QuorvaneOSDevice.cpp)

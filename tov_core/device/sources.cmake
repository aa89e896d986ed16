target_sources(tov_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceFactory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bridge.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bridge_switch_os.cpp)

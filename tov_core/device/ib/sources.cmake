target_sources(tov_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/MadBuffer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BaseKey.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibIBMadWrapper.cpp)

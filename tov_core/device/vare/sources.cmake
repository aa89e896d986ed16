target_sources(tov_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/VarEDevice.cpp)

# The device-information database: one JSON file per hardware id, read with
# JsonCpp.
find_package(PkgConfig REQUIRED)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
target_sources(tov_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DeviceInfoConstants.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/parsers/DeviceInfoJsonParser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/parsers/DeviceInfoParserFactory.cpp)
target_link_libraries(tov_core PUBLIC PkgConfig::JSONCPP)

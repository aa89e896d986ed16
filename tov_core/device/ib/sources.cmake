target_sources(tov_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/MadBuffer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BaseKey.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibIBMadWrapper.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BaseMad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SmpMad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GmpMad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ClassAMad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SmpMadInterface.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigSpaceAccessMad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AccessRegisterMad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AccessRegisterMadGmp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GmpMadReset.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IBDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IBDeviceWrapperC.cpp)

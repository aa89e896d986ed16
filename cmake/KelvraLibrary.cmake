# kelvra_library(NAME SOURCES... [LINK libs...])
# Declares one static library of the device-access stack and records it so
# that the executable links it whole.
function(kelvra_library name)
  cmake_parse_arguments(KL "" "" "SOURCES;LINK;PUBLIC_INCLUDES" ${ARGN})
  add_library(${name} STATIC ${KL_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${KL_PUBLIC_INCLUDES})
  if(KL_LINK)
    target_link_libraries(${name} PUBLIC ${KL_LINK})
  endif()
  set_property(GLOBAL APPEND PROPERTY KELVRA_LIBRARIES ${name})
endfunction()

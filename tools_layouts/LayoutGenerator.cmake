# kelvra_generate_layouts(<var> DATA <file> [<file>...] INCLUDE_DIR <dir>)
# Runs the layout generator on one family's data files at build time (the
# first holds the family line and names the output; further files add to
# the family). The
# generated header, source and test source land in
# ${CMAKE_BINARY_DIR}/generated/<dir>/ (never in the source tree) and are
# included as "<dir>/<stem>_layouts.h". Sets <var>_SOURCES (header and
# source), <var>_TEST (the generated test source) and <var>_TARGET (a target
# that produces them, for consumers in other directories).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(KELVRA_PYTHON3 ${Python3_EXECUTABLE} CACHE INTERNAL "")
set(KELVRA_LAYOUT_GENERATOR ${CMAKE_CURRENT_LIST_DIR}/generator/layoutgen.py CACHE INTERNAL "")
set(KELVRA_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated CACHE INTERNAL "")

function(kelvra_generate_layouts var)
  cmake_parse_arguments(KG "" "INCLUDE_DIR" "DATA" ${ARGN})
  set(data "")
  foreach(file IN LISTS KG_DATA)
    get_filename_component(path ${file} ABSOLUTE)
    list(APPEND data ${path})
  endforeach()
  list(GET data 0 first)
  get_filename_component(stem ${first} NAME_WE)
  set(out ${KELVRA_GENERATED_DIR}/${KG_INCLUDE_DIR})
  set(header ${out}/${stem}_layouts.h)
  set(source ${out}/${stem}_layouts.cpp)
  set(test ${out}/${stem}_layouts_test.cpp)
  add_custom_command(
    OUTPUT ${header} ${source} ${test}
    COMMAND ${KELVRA_PYTHON3} ${KELVRA_LAYOUT_GENERATOR} ${data}
            --out-dir ${out} --include-dir ${KG_INCLUDE_DIR}
    DEPENDS ${KELVRA_LAYOUT_GENERATOR} ${data}
    COMMENT "Generating the ${stem} layouts"
    VERBATIM)
  add_custom_target(${stem}_layouts_generated DEPENDS ${header} ${source} ${test})
  set(${var}_SOURCES ${header} ${source} PARENT_SCOPE)
  set(${var}_TEST ${test} PARENT_SCOPE)
  set(${var}_TARGET ${stem}_layouts_generated PARENT_SCOPE)
endfunction()

# quarlex_subsystem(NAME SOURCES... [LIBS libs...])
# An object library for one folder of the core; listed so the core static library takes it in.
set(QUARLEX_SUBSYSTEMS "" CACHE INTERNAL "")
function(quarlex_subsystem name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} OBJECT ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
  set(QUARLEX_SUBSYSTEMS ${QUARLEX_SUBSYSTEMS} ${name} CACHE INTERNAL "")
endfunction()

# quarlex_test(NAME SOURCES... LIBS libs...)
# One GoogleTest executable; its cases become CTest tests. Tests run from the
# project root so that ../shared/testdata and tests/js resolve alike everywhere.
function(quarlex_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quarlex_testsupport GTest::gtest_main)
  gtest_discover_tests(${name} WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                       DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endfunction()

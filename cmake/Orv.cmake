# Helpers shared by every folder's CMakeLists.txt.
#
# orv_library(NAME DIRS... [DEPS libs...]) builds one static library from every
# .cpp file below the given folders (relative to the calling folder); folders
# without sources are a mistake in the calling list.
function(orv_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPS" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.c")
    list(APPEND sources ${found})
  endforeach()
  if(NOT sources)
    message(FATAL_ERROR "orv_library(${name}): no sources below ${ARG_DIRS}")
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# orv_test(NAME DIR [TIMEOUT s] [PROCESSORS n] DEPS libs...) builds one
# GoogleTest program from every .cpp file of the folder and registers its tests
# with CTest. TIMEOUT (default 120 s) is each test's one limit: a test's own
# bounded waits must end well inside it. PROCESSORS (default 1) is how many of
# ctest's -j slots one test takes: a whole-program test runs the display
# program and the programs under test beside itself.
function(orv_test name dir)
  cmake_parse_arguments(ARG "" "TIMEOUT;PROCESSORS" "DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  if(NOT ARG_PROCESSORS)
    set(ARG_PROCESSORS 1)
  endif()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE orv_testsupport ${ARG_DEPS} GTest::gtest_main GTest::gtest GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${ARG_TIMEOUT} PROCESSORS ${ARG_PROCESSORS})
endfunction()

# orv_test_whole(NAME [TIMEOUT s]) registers one more test, NAME_whole, that
# runs every case of the test program NAME in one process, as a person running
# the program by hand does. The per-case tests of orv_test each start a fresh
# process, so state one case leaves behind (a global, a cache, a window class,
# a handle) shows only here. TIMEOUT defaults to 600 s. One line per program.
function(orv_test_whole name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "" ${ARGN})
  if(NOT TARGET ${name})
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  add_test(NAME ${name}_whole COMMAND ${name})
  set_tests_properties(${name}_whole PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()

# orv_test_switches(TARGET...) compiles the switches that only the tests use
# (environment variables that shorten a program's timers or stop it at a
# given file step) into the targets, by defining ORV_TEST_SWITCHES, and only
# when the tests are built (ORV_TESTS). A release build (ORV_TESTS=OFF) reads
# none of them and holds none of their names. Code reads such a variable only
# inside #if defined(ORV_TEST_SWITCHES).
function(orv_test_switches)
  if(NOT ORV_TESTS)
    return()
  endif()
  foreach(target IN LISTS ARGN)
    target_compile_definitions(${target} PRIVATE ORV_TEST_SWITCHES)
  endforeach()
endfunction()

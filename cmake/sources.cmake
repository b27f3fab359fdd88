# Source selection by file name: foo_posix.cpp builds on POSIX only,
# foo_win.cpp on Windows only, foo_test.cpp belongs to the unit tests,
# foo_icu_test.cpp to the Linux-only tests that use ICU as an oracle.

function(sorvane_filter_platform out_var)
  set(files ${ARGN})
  if(WIN32)
    list(FILTER files EXCLUDE REGEX "_posix(_test)?\\.cpp$")
  else()
    list(FILTER files EXCLUDE REGEX "_win(_test)?\\.cpp$")
  endif()
  set(${out_var} ${files} PARENT_SCOPE)
endfunction()

function(sorvane_collect_sources out_var dir)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER files EXCLUDE REGEX "_test\\.cpp$")
  list(FILTER files EXCLUDE REGEX "/main_(posix|win)\\.cpp$")
  sorvane_filter_platform(files ${files})
  set(${out_var} ${files} PARENT_SCOPE)
endfunction()

function(sorvane_collect_tests out_var dir)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  list(FILTER files EXCLUDE REGEX "_icu_test\\.cpp$")
  sorvane_filter_platform(files ${files})
  set(${out_var} ${files} PARENT_SCOPE)
endfunction()

# Registers a GoogleTest binary with CTest. Under Wine every process start
# costs about a second, so a Windows suite runs as one test; on Linux each
# test case is its own CTest test.
function(sorvane_add_gtest target timeout)
  if(WIN32)
    add_test(NAME ${target}_win COMMAND ${target})
    set_tests_properties(${target}_win PROPERTIES ENVIRONMENT "WINEDEBUG=-all" TIMEOUT ${timeout})
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

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

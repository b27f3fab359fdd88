# Header-only libraries from Debian's packages (CLI11, nlohmann/json).
# They are exposed through a directory of links holding only their own
# headers, so the Windows cross build never sees the host's /usr/include.
set(SORVANE_TP_INCLUDE ${CMAKE_BINARY_DIR}/thirdparty/include)
file(MAKE_DIRECTORY ${SORVANE_TP_INCLUDE})
foreach(dir nlohmann CLI)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/setup")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${SORVANE_TP_INCLUDE}/${dir} SYMBOLIC)
endforeach()
add_library(sorvane_thirdparty_headers INTERFACE)
target_include_directories(sorvane_thirdparty_headers SYSTEM INTERFACE ${SORVANE_TP_INCLUDE})

if(NOT WIN32)
  # libsodium's archive, so the tool can be linked statically.
  find_path(SODIUM_INCLUDE_DIR sodium.h REQUIRED)
  find_library(SODIUM_ARCHIVE NAMES libsodium.a REQUIRED)
endif()

# GoogleTest: the host package for Linux, built from Debian's sources for Windows.
if(SORVANE_TESTS)
  if(WIN32)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

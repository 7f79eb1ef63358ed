# GoogleTest built from Debian's `googletest` sources with the current
# toolchain, for cross-builds, where the host's prebuilt libgtest cannot be
# linked. Gives the same GTest:: targets as find_package(GTest).
set(TARNWICK_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources built for cross-compiled tests")
if(NOT EXISTS ${TARNWICK_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in "
          "${TARNWICK_GOOGLETEST_SOURCE_DIR} (Debian package googletest)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# GoogleTest's own Win32 locking instead of pthreads on Windows.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${TARNWICK_GOOGLETEST_SOURCE_DIR}
                 ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

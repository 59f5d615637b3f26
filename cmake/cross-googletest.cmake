# GoogleTest for a cross-build, compiled from the distribution's sources
# (/usr/src/googletest) with the target's compilers and linked statically, and
# the registration of a test program as one ctest test.
set(PK_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources for cross-builds")
if(NOT TARGET GTest::gtest)
  # Its own sources are not held to our warning flags.
  get_directory_property(pk_saved_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  set(BUILD_SHARED_LIBS OFF)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${PK_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${pk_saved_options}")
  foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()

# provkit_cross_test(<program> <data dir> [<property> <value>]...): registers the
# program as one test.  Library search paths given for the test's Linux twin
# (LD_LIBRARY_PATH) become the emulator's.
function(provkit_cross_test name data)
  set(props ${ARGN})
  set(env "PROVKIT_TEST_DATA=${data}")
  set(out)
  list(LENGTH props n)
  set(i 0)
  while(i LESS n)
    list(GET props ${i} key)
    math(EXPR j "${i} + 1")
    list(GET props ${j} value)
    if(key STREQUAL "ENVIRONMENT_MODIFICATION" AND value MATCHES "^LD_LIBRARY_PATH=(.*)$")
      # scripts/wine-run.sh turns it into WINEPATH (Wine's separator is ';',
      # which a ctest property cannot carry).
      list(APPEND out ENVIRONMENT_MODIFICATION "PK_WINE_LIBRARY_PATH=${CMAKE_MATCH_1}")
    elseif(key STREQUAL "ENVIRONMENT")
      list(APPEND env ${value})
    else()
      list(APPEND out ${key} ${value})
    endif()
    math(EXPR i "${i} + 2")
  endwhile()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" ${out})
endfunction()

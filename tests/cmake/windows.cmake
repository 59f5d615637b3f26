# The Windows side of the platform seam and of the controller library's transport
# (WinHTTP, XmlLite, access lists, the roaming profile); its answer-reading group
# runs on every build.  Under the emulator its HTTP(S) tests reach this machine's
# filersim-server, which a ctest fixture starts and stops.
provkit_test(windows_test SOURCES windows_test.cpp LIBS wbemkelvai pk_platform)
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(PK_HOST_FILERSIM_SERVER "${PROJECT_SOURCE_DIR}/build/default/filersim/filersim-server"
      CACHE FILEPATH "This machine's filersim-server, for the tests that run under the emulator")
  set(pk_fixture_dir "${CMAKE_BINARY_DIR}/filersim-fixture")
  add_test(NAME filersim_fixture_start
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/filersim-fixture.sh start ${pk_fixture_dir}
                   ${PK_HOST_FILERSIM_SERVER} ${PROJECT_SOURCE_DIR}/filersim/scenarios/default.json)
  add_test(NAME filersim_fixture_stop
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/filersim-fixture.sh stop ${pk_fixture_dir})
  set_tests_properties(filersim_fixture_start PROPERTIES FIXTURES_SETUP filersim_host)
  set_tests_properties(filersim_fixture_stop PROPERTIES FIXTURES_CLEANUP filersim_host)
  set_tests_properties(windows_test PROPERTIES FIXTURES_REQUIRED filersim_host
                       ENVIRONMENT_MODIFICATION "PK_FILERSIM_FIXTURE=set:${pk_fixture_dir}")
endif()

# The registry's first load and its recovery from an update cut off between its
# renames, one process per case, on Windows too (the rest of the registry's
# tests need the simulated filer in process, which is built for Linux only).
if(WIN32 AND CMAKE_CROSSCOMPILING AND TARGET cimom AND NOT TARGET registry_firstload_test)
  add_executable(registry_firstload_test registry_firstload_test.cpp)
  target_link_libraries(registry_firstload_test PRIVATE provkit cimom pk_platform GTest::gtest
                                                        GTest::gtest_main)
  target_include_directories(registry_firstload_test PRIVATE ${PROJECT_SOURCE_DIR}/cmpi
                                                             ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(case IN ITEMS LoadsTheFileOnce UnreadableFileLeavesAnEmptyWorkingRegistry
                        UpdateCutOffBetweenItsRenamesIsFinished)
    add_test(NAME RegistryFirstLoad.${case}
             COMMAND registry_firstload_test --gtest_filter=RegistryFirstLoad.${case})
  endforeach()
endif()

# The registry over real files, with a second process sharing the data
# directory; its one case that asks the simulated filer in process is skipped.
if(WIN32 AND CMAKE_CROSSCOMPILING AND TARGET cimom AND NOT TARGET registry_test)
  add_executable(registry_peer registry_peer.cpp)
  target_link_libraries(registry_peer PRIVATE provkit cimom pk_platform)
  target_include_directories(registry_peer PRIVATE ${PROJECT_SOURCE_DIR}/cmpi
                                                   ${CMAKE_CURRENT_SOURCE_DIR})
  provkit_test(registry_test SOURCES registry_test.cpp LIBS provkit cimom pk_platform)
  target_compile_definitions(registry_test PRIVATE REGISTRY_PEER="$<TARGET_FILE:registry_peer>")
  add_dependencies(registry_test registry_peer)
endif()

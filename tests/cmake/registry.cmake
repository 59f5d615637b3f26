# The filer registry, against the embedded object manager (at both CMPI
# levels) and real files, with a file system that fails single steps on
# demand; the address lookup asks the simulated filers of the default scenario.
if(TARGET cimom AND TARGET filersim)
  # A second process that shares a data directory with the tests.
  add_executable(registry_peer registry_peer.cpp)
  target_link_libraries(registry_peer PRIVATE provkit cimom pk_platform)
  target_include_directories(registry_peer PRIVATE ${PROJECT_SOURCE_DIR}/cmpi
                                                   ${CMAKE_CURRENT_SOURCE_DIR})

  provkit_test(registry_test SOURCES registry_test.cpp LIBS provkit cimom filersim pk_platform)
  target_compile_definitions(registry_test PRIVATE
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json"
    REGISTRY_PEER="$<TARGET_FILE:registry_peer>")
  add_dependencies(registry_test registry_peer)

  # The registry's first use happens once per process, so each of these cases
  # runs in a process of its own.
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

# The filer registry, against the embedded object manager and real files; the
# address lookup asks the simulated filers of the default scenario.
if(TARGET cimom AND TARGET filersim)
  provkit_test(registry_test SOURCES registry_test.cpp LIBS provkit cimom filersim)
  target_compile_definitions(registry_test PRIVATE
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json")

  # The registry's first use happens once per process, so each of these cases
  # runs in a process of its own.
  add_executable(registry_firstload_test registry_firstload_test.cpp)
  target_link_libraries(registry_firstload_test PRIVATE provkit cimom GTest::gtest
                                                        GTest::gtest_main)
  target_include_directories(registry_firstload_test PRIVATE ${PROJECT_SOURCE_DIR}/cmpi
                                                             ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(case IN ITEMS LockCreationFailureIsReportedAndRetried LoadsTheFileOnce
                        UnreadableFileLeavesAnEmptyWorkingRegistry
                        UpdateCutOffBetweenItsRenamesIsUndone)
    add_test(NAME RegistryFirstLoad.${case}
             COMMAND registry_firstload_test --gtest_filter=RegistryFirstLoad.${case})
  endforeach()
endif()

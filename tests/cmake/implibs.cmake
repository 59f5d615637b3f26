# The storage classes' implementation libraries, loaded through provkit's loader
# against the simulated filers and the embedded object manager.
if(TARGET cimom AND TARGET filersim AND TARGET arraysysprv)
  provkit_test(implibs_test SOURCES implibs_test.cpp LIBS provkit wbemkelvai cimom filersim
                                                          pk_platform
               PROPERTIES ENVIRONMENT_MODIFICATION
                          "LD_LIBRARY_PATH=path_list_prepend:${PK_IMPLIB_DIR}")
  target_compile_definitions(implibs_test PRIVATE
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json")
  add_dependencies(implibs_test arraysysprv blockvolprv systemdeviceprv)
endif()

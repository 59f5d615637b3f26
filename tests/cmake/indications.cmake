# The indication machine against the simulated filers, with the storage volume
# element library of implibs/real found through LD_LIBRARY_PATH; also the shared
# test clock and the simulator's LUN requests.
if(TARGET cimom AND TARGET filersim AND DEFINED PK_IMPLIB_DIR)
  provkit_test(indications_test SOURCES indications_test.cpp
               LIBS provkit wbemkelvai cimom filersim pk_platform
               PROPERTIES ENVIRONMENT_MODIFICATION "LD_LIBRARY_PATH=path_list_prepend:${PK_IMPLIB_DIR}")
  target_compile_definitions(indications_test PRIVATE
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json")
  add_dependencies(indications_test storagevolind)
endif()

# Association traversal and the generic provider operations, through the
# embedded object manager at both CMPI levels, with filers registered in a
# data directory of each test's own.  The fixture libraries of implibs/ are
# found through LD_LIBRARY_PATH; the operations' folder comes first, so that
# its viewctlprv (bound for setInstance and deleteInstance) is the one loaded.
if(TARGET cimom AND DEFINED PK_IMPLIB_DIR)
  set(pk_ops_env ENVIRONMENT_MODIFICATION
      "LD_LIBRARY_PATH=path_list_prepend:${PK_OPS_IMPLIB_DIR}:${PK_IMPLIB_DIR}")
  provkit_test(associations_test SOURCES associations_test.cpp
               LIBS provkit wbemkelvai cimom pk_platform PROPERTIES ${pk_ops_env})
  add_dependencies(associations_test opsfixture implinstonly implnoexists)
  provkit_test(operations_test SOURCES operations_test.cpp
               LIBS provkit wbemkelvai cimom pk_platform PROPERTIES ${pk_ops_env})
  add_dependencies(operations_test opsfixture opsviewctl implinstonly implnoexists)
endif()

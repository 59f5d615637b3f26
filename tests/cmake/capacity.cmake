# Capacity figures, pool settings and concrete pools against the simulated filers
# of tests/data/capacity.json, under the embedded object manager.  The pool tests
# load the capabilities library (implibs/real/poolcapsprv) through LD_LIBRARY_PATH.
if(TARGET cimom AND TARGET filersim)
  provkit_test(capacity_test SOURCES capacity_test.cpp
               LIBS provkit wbemkelvai cimom filersim pk_platform)
  if(TARGET poolcapsprv)
    provkit_test(commoncaps_test SOURCES commoncaps_test.cpp
                 LIBS provkit wbemkelvai cimom filersim pk_platform
                 PROPERTIES ENVIRONMENT_MODIFICATION
                            "LD_LIBRARY_PATH=path_list_prepend:${PK_IMPLIB_DIR}")
    add_dependencies(commoncaps_test poolcapsprv)
  endif()
endif()
# Without the object manager (as in the Windows suite) the wide figures still run.
if(NOT TARGET cimom AND TARGET filersim)
  provkit_test(capacity_test SOURCES capacity_test.cpp LIBS provkit wbemkelvai filersim)
  target_compile_definitions(capacity_test PRIVATE CAPACITY_WITHOUT_CIMOM)
endif()

# The toolkit over CMPI (object paths, keys, properties, arrays) and the
# storage object identifiers, through the embedded object manager; filer-backed
# cases run against the simulated filers of tests/data/toolkit, verifyObject
# against the fixture libraries of implibs/ (found through LD_LIBRARY_PATH).
if(TARGET cimom AND TARGET filersim AND DEFINED PK_IMPLIB_DIR)
  provkit_test(objectpath_test SOURCES objectpath_test.cpp
               LIBS provkit wbemkelvai cimom filersim
               PROPERTIES ENVIRONMENT_MODIFICATION
                          "LD_LIBRARY_PATH=path_list_prepend:${PK_IMPLIB_DIR}")
  add_dependencies(objectpath_test implall)
  provkit_test(arrays_test SOURCES arrays_test.cpp LIBS provkit wbemkelvai cimom)
  provkit_test(commonimpl_test SOURCES commonimpl_test.cpp LIBS provkit wbemkelvai cimom filersim)
endif()

# The embedded object manager and the test provider it hosts.
if(TARGET cimom)
  provkit_test(cimom_test SOURCES cimom_test.cpp LIBS cimom)
  target_compile_definitions(cimom_test PRIVATE
                             CIMOM_TEST_PROVIDER_DIR="$<TARGET_FILE_DIR:cimom_testprovider>")
  add_dependencies(cimom_test cimom_testprovider)
endif()

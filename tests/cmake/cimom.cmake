# The embedded object manager and the test provider it hosts.
if(TARGET cimom)
  provkit_test(cimom_test SOURCES cimom_test.cpp LIBS cimom)
  target_compile_definitions(cimom_test PRIVATE
                             CIMOM_TEST_PROVIDER_DIR="$<TARGET_FILE_DIR:cimom_testprovider>")
  add_dependencies(cimom_test cimom_testprovider)
endif()
# provkit's exported functions called from C, on the object manager's C entry points.
if(TARGET cimom)
  target_link_libraries(c_api_test PRIVATE cimom)
endif()

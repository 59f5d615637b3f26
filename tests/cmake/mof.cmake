# The MOF reader of the embedded object manager, over the agent's class files.
if(TARGET cimom)
  provkit_test(mof_test SOURCES mof_test.cpp LIBS cimom)
  target_compile_definitions(mof_test PRIVATE MOF_DIR="${PROJECT_SOURCE_DIR}/mof")
endif()

# The controller library built without XML codec and HTTP transport: in-process
# tree filers still work.
if(TARGET wbemkelvai_noxml)
  provkit_test(noxml_test SOURCES noxml_test.cpp LIBS wbemkelvai_noxml)
endif()

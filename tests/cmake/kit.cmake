# The controller library's internal kit, linked statically (the library without XML
# and HTTP), against a small in-process tree filer.
if(TARGET wbemkelvai_noxml)
  provkit_test(kit_test SOURCES kit_test.cpp LIBS wbemkelvai_noxml)
endif()

# Storage records through the filer cache and the live storage queries, against the
# simulated filers (in process and over HTTP on 127.0.0.1).
if(TARGET filersim)
  provkit_test(storage_test SOURCES storage_test.cpp LIBS wbemkelvai filersim)
  target_compile_definitions(storage_test PRIVATE
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json")
endif()

# Quotas: configuration entries, clients' instances, reports and status, against a
# simulated filer with a quota model (and the embedded object manager where a
# broker is needed).
if(TARGET cimom AND TARGET filersim)
  foreach(area quota quota_report)
    provkit_test(${area}_test SOURCES ${area}_test.cpp LIBS provkit wbemkelvai cimom filersim)
    target_compile_definitions(${area}_test PRIVATE
      FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json")
  endforeach()
endif()

# File systems, CIFS shares and NFS export rules, through the embedded object
# manager at both CMPI levels and against the default scenario's simulated filers.
if(TARGET cimom AND TARGET filersim)
  foreach(area fsmanip femanip)
    provkit_test(${area}_test SOURCES ${area}_test.cpp LIBS provkit wbemkelvai cimom filersim)
    target_compile_definitions(${area}_test PRIVATE
      FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json")
  endforeach()
endif()

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
# Managed elements are bound through the real implementation libraries by their
# Windows file names (the links of PK_QUOTA_IMPLIB_DIR), with filers registered.
if(TARGET cimom AND TARGET filersim AND TARGET volextprv)
  provkit_test(quota_principals_test SOURCES quota_principals_test.cpp
               LIBS provkit wbemkelvai cimom filersim pk_platform
               PROPERTIES ENVIRONMENT_MODIFICATION
                          "LD_LIBRARY_PATH=path_list_prepend:${PK_QUOTA_IMPLIB_DIR}")
  target_compile_definitions(quota_principals_test PRIVATE
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json")
  add_dependencies(quota_principals_test volextprv diskunitprv nasdirprv arraysysprv blockvolprv)
endif()

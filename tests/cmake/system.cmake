# The storage system's snapshot and health (with the real trap listener of
# implibs/real, found first on LD_LIBRARY_PATH, and traps sent by snmptrap to
# loopback), its identifying information (with a DNS responder of the test's
# own), and the iSCSI and network identifiers, against the simulated filers.
if(TARGET cimom AND TARGET filersim)
  provkit_test(endpoints_test SOURCES endpoints_test.cpp LIBS provkit wbemkelvai cimom filersim)
  target_compile_definitions(endpoints_test PRIVATE
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json")
endif()
# Linux only: the trap listener is built on net-snmp, which has no Windows build here.
if(TARGET cimom AND TARGET filersim AND TARGET trapsinkprv_real)
  provkit_test(storagesystem_test SOURCES storagesystem_test.cpp
               LIBS provkit wbemkelvai cimom filersim
               PROPERTIES ENVIRONMENT_MODIFICATION
                          "LD_LIBRARY_PATH=path_list_prepend:${PK_TRAPSINK_DIR}")
  add_dependencies(storagesystem_test trapsinkprv_real)
endif()

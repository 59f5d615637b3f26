# provkit-agent serve: the agent's providers behind the CIM-XML endpoint, queried with
# Debian's wbemcli on a loopback port and compared with the command-line host.
if(TARGET provkit-agent)
  provkit_test(serve_test SOURCES serve_test.cpp LIBS pk_agent pk_platform
               PROPERTIES ENVIRONMENT_MODIFICATION
                          "LD_LIBRARY_PATH=path_list_prepend:${PK_IMPLIB_DIR}"
                          TIMEOUT 300)
  target_compile_definitions(serve_test PRIVATE
    PROVKIT_AGENT="$<TARGET_FILE:provkit-agent>"
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json"
    PK_PROVIDER_DIR="${PK_PROVIDER_DIR}"
    PK_IMPLIB_DIR="${PK_IMPLIB_DIR}"
    PK_PROVIDER_REG_FILE="${PK_PROVIDER_REG_FILE}"
    PK_AGENT_IMPLIBS="${PK_AGENT_IMPLIBS}"
    PROVKIT_LIB_DIR="${PROVKIT_LIB_DIR}"
    AGENT_TEST_LIB_DIR="${CMAKE_CURRENT_BINARY_DIR}/agentlib"
    AGENT_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data/agent")
  add_dependencies(serve_test provkit-agent agent_testindications cimom_testprovider)
endif()

# The agent: its providers in the embedded object manager at both CMPI levels, their
# registration files, object paths as users type them, and provkit-agent run as a user
# runs it (against the default scenario, in process and over HTTP on 127.0.0.1).
if(TARGET provkit-agent)
  add_library(agent_testindications MODULE agent_testindications.c)
  target_link_libraries(agent_testindications PRIVATE provkit_cmpi)
  set_target_properties(agent_testindications PROPERTIES
    PREFIX "lib" LIBRARY_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/agentlib")

  provkit_test(agent_test SOURCES agent_test.cpp LIBS pk_agent pk_platform
               PROPERTIES ENVIRONMENT_MODIFICATION
                          "LD_LIBRARY_PATH=path_list_prepend:${PK_IMPLIB_DIR}")
  target_compile_definitions(agent_test PRIVATE
    PROVKIT_AGENT="$<TARGET_FILE:provkit-agent>"
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json"
    PK_PROVIDER_DIR="${PK_PROVIDER_DIR}"
    PK_IMPLIB_DIR="${PK_IMPLIB_DIR}"
    PK_PROVIDER_REG_FILE="${PK_PROVIDER_REG_FILE}"
    PK_PROVIDER_MOF_FILE="${PK_PROVIDER_MOF_FILE}"
    PROVKIT_CLASS_MOF="${PROJECT_SOURCE_DIR}/mof/kelva.mof"
    PROVKIT_LIB_DIR="${PROVKIT_LIB_DIR}"
    AGENT_TEST_LIB_DIR="${CMAKE_CURRENT_BINARY_DIR}/agentlib"
    AGENT_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data/agent")
  add_dependencies(agent_test provkit-agent agent_testindications cimom_testprovider)
endif()

# The block elements' providers (pools, protocol controllers, hardware IDs) and the
# agent's view of them.
if(TARGET provkit-agent)
  provkit_test(agent_block_test SOURCES agent_block_test.cpp LIBS pk_agent pk_platform
               PROPERTIES ENVIRONMENT_MODIFICATION
                          "LD_LIBRARY_PATH=path_list_prepend:${PK_IMPLIB_DIR}")
  target_compile_definitions(agent_block_test PRIVATE
    PROVKIT_AGENT="$<TARGET_FILE:provkit-agent>"
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json"
    PK_PROVIDER_DIR="${PK_PROVIDER_DIR}"
    PK_IMPLIB_DIR="${PK_IMPLIB_DIR}"
    PK_PROVIDER_REG_FILE="${PK_PROVIDER_REG_FILE}")
  add_dependencies(agent_block_test provkit-agent)
endif()

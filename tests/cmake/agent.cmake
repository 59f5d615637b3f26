# The agent: its providers in the embedded object manager at both CMPI levels, their
# registration files, object paths as users type them, and provkit-agent run as a user
# runs it (against the default scenario, in process and over HTTP on 127.0.0.1).
if(TARGET provkit-agent)
  add_library(agent_testindications MODULE agent_testindications.c)
  target_link_libraries(agent_testindications PRIVATE provkit_cmpi)
  set_target_properties(agent_testindications PROPERTIES
    PREFIX "lib" LIBRARY_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/agentlib")

  # A test of the agent: linked with its pieces, told where the agent, its providers, their
  # libraries and the test data are, and built after what it runs.  PROPERTIES: further
  # test properties; DEPENDS: targets it needs besides the agent.  (Fragments are read in
  # name order, so the ones after this one may use it too.)
  function(pk_agent_test name)
    cmake_parse_arguments(A "" "" "SOURCES;PROPERTIES;DEPENDS" ${ARGN})
    provkit_test(${name} SOURCES ${A_SOURCES} LIBS pk_agent pk_platform
                 PROPERTIES ENVIRONMENT_MODIFICATION
                            "LD_LIBRARY_PATH=path_list_prepend:${PK_IMPLIB_DIR}"
                            ${A_PROPERTIES})
    target_compile_definitions(${name} PRIVATE
      PROVKIT_AGENT="$<TARGET_FILE:provkit-agent>"
      FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json"
      PK_PROVIDER_DIR="${PK_PROVIDER_DIR}"
      PK_IMPLIB_DIR="${PK_IMPLIB_DIR}"
      PK_PROVIDER_REG_FILE="${PK_PROVIDER_REG_FILE}"
      PK_PROVIDER_MOF_FILE="${PK_PROVIDER_MOF_FILE}"
      PK_AGENT_IMPLIBS="${PK_AGENT_IMPLIBS}"
      PROVKIT_CLASS_MOF="${PROJECT_SOURCE_DIR}/mof/kelva.mof"
      PROVKIT_LIB_DIR="${PROVKIT_LIB_DIR}"
      AGENT_TEST_LIB_DIR="${CMAKE_CURRENT_BINARY_DIR}/agentlib"
      AGENT_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data/agent")
    add_dependencies(${name} provkit-agent ${A_DEPENDS})
  endfunction()

  pk_agent_test(agent_test SOURCES agent_test.cpp
                DEPENDS agent_testindications cimom_testprovider)

  # The block elements' providers (pools, protocol controllers, hardware IDs) and the
  # agent's view of them.
  pk_agent_test(agent_block_test SOURCES agent_block_test.cpp)

  # The file-service providers: shares, export rules and quota entries.
  pk_agent_test(agent_file_test SOURCES agent_file_test.cpp)
endif()

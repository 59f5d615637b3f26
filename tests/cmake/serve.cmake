# provkit-agent serve: the agent's providers behind the CIM-XML endpoint, queried with
# Debian's wbemcli on a loopback port and compared with the command-line host.
if(TARGET provkit-agent)
  pk_agent_test(serve_test SOURCES serve_test.cpp PROPERTIES TIMEOUT 300
                DEPENDS agent_testindications cimom_testprovider)
endif()

# The Windows side of the platform seam and of the controller library's transport
# (WinHTTP, XmlLite, access lists, the roaming profile); its answer-reading group
# runs on every build.  Under the emulator its HTTP(S) tests reach this machine's
# filersim-server, which a ctest fixture starts and stops.
provkit_test(windows_test SOURCES windows_test.cpp LIBS wbemkelvai pk_platform)
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(PK_HOST_FILERSIM_SERVER "${PROJECT_SOURCE_DIR}/build/default/filersim/filersim-server"
      CACHE FILEPATH "This machine's filersim-server, for the tests that run under the emulator")
  set(pk_fixture_dir "${CMAKE_BINARY_DIR}/filersim-fixture")
  add_test(NAME filersim_fixture_start
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/filersim-fixture.sh start ${pk_fixture_dir}
                   ${PK_HOST_FILERSIM_SERVER} ${PROJECT_SOURCE_DIR}/filersim/scenarios/default.json)
  add_test(NAME filersim_fixture_stop
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/filersim-fixture.sh stop ${pk_fixture_dir})
  set_tests_properties(filersim_fixture_start PROPERTIES FIXTURES_SETUP filersim_host)
  set_tests_properties(filersim_fixture_stop PROPERTIES FIXTURES_CLEANUP filersim_host)
  set_tests_properties(windows_test PROPERTIES FIXTURES_REQUIRED filersim_host
                       ENVIRONMENT_MODIFICATION "PK_FILERSIM_FIXTURE=set:${pk_fixture_dir}")
endif()

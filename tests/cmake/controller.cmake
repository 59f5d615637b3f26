# The controller library's requests, filer records and cache, against the
# simulated filer (in process and over HTTP on 127.0.0.1).
if(TARGET filersim)
  provkit_test(requests_test SOURCES requests_test.cpp LIBS wbemkelvai filersim)
  target_compile_definitions(requests_test PRIVATE
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json")
endif()
if(TARGET filersim AND NOT WIN32)
  # HTTPS against the simulated filer with a certificate the test makes itself.  A
  # Windows build has no OpenSSL: windows_test reaches this machine's server over HTTPS.
  find_package(OpenSSL REQUIRED)
  provkit_test(https_test SOURCES https_test.cpp LIBS wbemkelvai filersim OpenSSL::Crypto)
  target_compile_definitions(https_test PRIVATE
    FILERSIM_DEFAULT_SCENARIO="${FILERSIM_SCENARIO_DIR}/default.json")
endif()
provkit_test(filers_test SOURCES filers_test.cpp LIBS wbemkelvai pk_platform)

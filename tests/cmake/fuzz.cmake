# Every fuzz target replayed over its seed corpus in every build (no libFuzzer
# needed): the seeds stay good inputs, the regression seeds stay fixed, and the
# targets stay compiled and seen by clang-tidy.
function(provkit_fuzz_replay name)
  add_executable(${name}_replay ${PROJECT_SOURCE_DIR}/fuzz/${name}_fuzz.cpp
                                ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(${name}_replay PRIVATE ${ARGN})
  file(GLOB seeds CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/seeds/${name}_fuzz/*)
  add_test(NAME ${name}_replay COMMAND ${name}_replay ${seeds})
endfunction()

if(TARGET cimom)
  provkit_fuzz_replay(decoders provkit wbemkelvai cimom)
endif()
provkit_fuzz_replay(answers wbemkelvai)
provkit_fuzz_replay(filersdat wbemkelvai)

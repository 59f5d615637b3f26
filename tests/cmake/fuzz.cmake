# The decoders' fuzz target replayed over its seed corpus in every build (no
# libFuzzer needed): the seeds stay good inputs and the target stays compiled.
if(TARGET cimom)
  add_executable(decoders_replay ${PROJECT_SOURCE_DIR}/fuzz/decoders_fuzz.cpp
                                 ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(decoders_replay PRIVATE provkit wbemkelvai cimom)
  file(GLOB PK_DECODER_SEEDS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/seeds/decoders_fuzz/*)
  add_test(NAME decoders_replay COMMAND decoders_replay ${PK_DECODER_SEEDS})
endif()

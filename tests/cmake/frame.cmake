# The frame, the implementation library loader and job support.  The loader's
# and the jobs' tests find the fixture libraries of implibs/ through
# LD_LIBRARY_PATH; jobs_late_test runs without it, so that the job service is
# missing when provkit is loaded.
if(TARGET cimom AND DEFINED PK_IMPLIB_DIR)
  set(pk_implibs implall implnoexists implinstonly blockvolprv viewctlprv trapsinkprv tasksvcprv)
  set(pk_implib_env ENVIRONMENT_MODIFICATION "LD_LIBRARY_PATH=path_list_prepend:${PK_IMPLIB_DIR}")

  provkit_test(frame_test SOURCES frame_test.cpp LIBS provkit wbemkelvai cimom pk_platform)

  provkit_test(loader_test SOURCES loader_test.cpp LIBS provkit wbemkelvai cimom pk_platform
               PROPERTIES ${pk_implib_env})
  add_dependencies(loader_test ${pk_implibs})

  provkit_test(jobs_test SOURCES jobs_test.cpp LIBS provkit wbemkelvai cimom pk_platform
               PROPERTIES ${pk_implib_env})
  add_dependencies(jobs_test ${pk_implibs})

  provkit_test(jobs_late_test SOURCES jobs_test.cpp LIBS provkit wbemkelvai cimom pk_platform)
  target_compile_definitions(jobs_late_test PRIVATE PK_JOB_SERVICE_HIDDEN
                             PK_TASKSVC_PATH="$<TARGET_FILE:tasksvcprv>")
  add_dependencies(jobs_late_test ${pk_implibs})
endif()

# provkit opened and closed at run time, so it is not linked in.
if(TARGET cimom)
  provkit_test(frame_unload_test SOURCES frame_unload_test.cpp LIBS wbemkelvai cimom pk_platform)
  target_compile_definitions(frame_unload_test PRIVATE
                             PROVKIT_LIBRARY="$<TARGET_FILE:provkit>"
                             PROVKIT_FILE_NAME="$<TARGET_FILE_NAME:provkit>")
  add_dependencies(frame_unload_test provkit)
endif()


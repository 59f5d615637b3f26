# Block access control: the hardware ID cache on real files, with a file
# system that fails single steps on demand, and a child process killed at each
# step of a save.
provkit_test(hwidcache_test SOURCES hwidcache_test.cpp LIBS provkit pk_platform)

if(NOT WIN32)
  # Saves a cache and dies at a chosen step of the file system.  Linux only:
  # under Wine the start or the wait of a child failed now and then while the
  # suite ran in parallel (the Windows suite fails the same steps in process,
  # through hwidcache_test).
  add_executable(hwidcache_crasher hwidcache_crasher.cpp)
  target_link_libraries(hwidcache_crasher PRIVATE provkit pk_platform GTest::gtest)
  target_include_directories(hwidcache_crasher PRIVATE ${PROJECT_SOURCE_DIR}/cmpi
                                                       ${CMAKE_CURRENT_SOURCE_DIR})
  provkit_test(hwidcache_crash_test SOURCES hwidcache_crash_test.cpp LIBS provkit pk_platform)
  target_compile_definitions(hwidcache_crash_test PRIVATE
    HWIDCACHE_CRASHER="$<TARGET_FILE:hwidcache_crasher>")
  add_dependencies(hwidcache_crash_test hwidcache_crasher)
endif()

# Initiators, protocol controllers, igroups and Fibre Channel ports against a
# simulated filer reached through a recording in-process proxy.
if(TARGET filersim)
  if(NOT TARGET pugixml::pugixml)
    find_package(pugixml REQUIRED)
  endif()
  provkit_test(mapandmask_test SOURCES mapandmask_test.cpp
               LIBS provkit filersim pk_platform pugixml::pugixml)
endif()

if(TARGET filersim AND TARGET cimom)
  provkit_test(igroups_test SOURCES igroups_test.cpp
               LIBS provkit cimom filersim pk_platform pugixml::pugixml)
endif()

if(TARGET filersim AND TARGET cimom)
  provkit_test(fcports_test SOURCES fcports_test.cpp
               LIBS provkit cimom filersim pk_platform pugixml::pugixml)
endif()

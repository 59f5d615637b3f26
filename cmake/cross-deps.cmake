# The simulated filer's libraries for a cross-build: pugixml compiled from the
# distribution's source package (scripts/bootstrap.sh puts it in /usr/src/pugixml)
# with the target's compilers, and nlohmann-json's headers, which hold no
# machine-specific code, from this machine.
set(PK_PUGIXML_SOURCE_DIR "/usr/src/pugixml" CACHE PATH "pugixml sources for cross-builds")
if(NOT TARGET pugixml::pugixml)
  if(NOT EXISTS ${PK_PUGIXML_SOURCE_DIR}/src/pugixml.cpp)
    message(FATAL_ERROR "No pugixml sources in ${PK_PUGIXML_SOURCE_DIR}: run scripts/bootstrap.sh")
  endif()
  add_library(pk_pugixml STATIC ${PK_PUGIXML_SOURCE_DIR}/src/pugixml.cpp)
  # Its own sources are not held to our warning flags.
  set_target_properties(pk_pugixml PROPERTIES COMPILE_OPTIONS "" CXX_CLANG_TIDY "")
  target_include_directories(pk_pugixml SYSTEM PUBLIC ${PK_PUGIXML_SOURCE_DIR}/src)
  add_library(pugixml::pugixml ALIAS pk_pugixml)
endif()
if(NOT TARGET nlohmann_json::nlohmann_json)
  # Only the one folder of headers: the rest of /usr/include is this machine's.
  set(pk_json_dir ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${pk_json_dir})
  file(CREATE_LINK /usr/include/nlohmann ${pk_json_dir}/nlohmann SYMBOLIC)
  add_library(pk_nlohmann_json INTERFACE)
  target_include_directories(pk_nlohmann_json SYSTEM INTERFACE ${pk_json_dir})
  add_library(nlohmann_json::nlohmann_json ALIAS pk_nlohmann_json)
endif()
# cpp-httplib, header-only from its source package, for the in-process filer's
# loopback server.  Without OpenSSL for the target it serves plain HTTP only.
set(PK_HTTPLIB_SOURCE_DIR "/usr/src/cpp-httplib" CACHE PATH "cpp-httplib sources for cross-builds")
if(NOT TARGET pk_httplib)
  if(NOT EXISTS ${PK_HTTPLIB_SOURCE_DIR}/httplib.h)
    message(FATAL_ERROR "No cpp-httplib sources in ${PK_HTTPLIB_SOURCE_DIR}: run scripts/bootstrap.sh")
  endif()
  set(pk_httplib_dir ${CMAKE_BINARY_DIR}/httplib-header)
  file(MAKE_DIRECTORY ${pk_httplib_dir})
  file(CREATE_LINK ${PK_HTTPLIB_SOURCE_DIR}/httplib.h ${pk_httplib_dir}/httplib.h SYMBOLIC)
  add_library(pk_httplib INTERFACE)
  target_include_directories(pk_httplib SYSTEM INTERFACE ${pk_httplib_dir})
  target_link_libraries(pk_httplib INTERFACE ws2_32)
endif()

# Writes pk_all_headers.h, which includes every public header, so the C tests
# prove each of them compiles as C99 without anyone keeping a list.
file(GLOB PK_PUBLIC_HEADERS RELATIVE "${PROJECT_SOURCE_DIR}/include"
     "${PROJECT_SOURCE_DIR}/include/wbemkelvai/*.h" "${PROJECT_SOURCE_DIR}/include/provkit/*.h")
file(GLOB PK_CMPI_HEADERS RELATIVE "${PROVKIT_CMPI_INCLUDE_DIR}" "${PROVKIT_CMPI_INCLUDE_DIR}/cmpi*.h")
set(_content "/* Generated: every public header. */\n")
foreach(h IN LISTS PK_CMPI_HEADERS PK_PUBLIC_HEADERS)
  string(APPEND _content "#include <${h}>\n")
endforeach()
file(CONFIGURE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/pk_all_headers.h" CONTENT "${_content}")
set(PK_C_TEST_FLAGS -std=c99 -Wall -Wextra -Werror -pedantic)

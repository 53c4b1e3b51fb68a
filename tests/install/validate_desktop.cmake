# The installed desktop entry passes desktop-file-validate, hints included. Without the tool it
# prints the line that CTest's SKIP_REGULAR_EXPRESSION takes for a skip.
cmake_minimum_required(VERSION 3.25)
if(NOT DEFINED PREFIX)
  message(FATAL_ERROR "PREFIX is not set")
endif()
find_program(VALIDATE desktop-file-validate)
if(NOT VALIDATE)
  message("ORVALE-SKIP: desktop-file-validate not found (Debian package desktop-file-utils)")
  return()
endif()
execute_process(COMMAND "${VALIDATE}" "${PREFIX}/share/applications/orvale.desktop"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate (${result}):\n${output}")
endif()

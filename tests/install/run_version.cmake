# The installed Orvale, away from the build tree, answers --version and exits 0.
cmake_minimum_required(VERSION 3.25)
if(NOT DEFINED PREFIX)
  message(FATAL_ERROR "PREFIX is not set")
endif()
execute_process(COMMAND "${PREFIX}/bin/Orvale" --version
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 30)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "installed Orvale --version exited with ${result}:\n${output}${errors}")
endif()
if(NOT output MATCHES "^Orvale Ver\\. [^\n]+ \\(Qt [0-9.]+\\)\n$")
  message(FATAL_ERROR "installed Orvale --version printed an unexpected text:\n${output}${errors}")
endif()

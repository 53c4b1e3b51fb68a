# The installed Orvale, away from the build tree, answers --version with the project's version
# (the package's) and exits 0, by either of its names.
cmake_minimum_required(VERSION 3.25)
foreach(var PREFIX VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
string(REPLACE "." "\\." version_pattern "${VERSION}")
foreach(name Orvale orvale)
  execute_process(COMMAND "${PREFIX}/bin/${name}" --version
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 30)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "installed ${name} --version exited with ${result}:\n${output}${errors}")
  endif()
  if(NOT output MATCHES "^Orvale ${version_pattern} \\(Ver\\. [^)\n]+\\) Qt [0-9.]+\n$")
    message(FATAL_ERROR "installed ${name} --version printed an unexpected text:\n${output}${errors}")
  endif()
endforeach()

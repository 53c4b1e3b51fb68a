# The installed manual pages: each is a valid gzip file whose page has the program's name line
# and synopsis, names every option the installed program's --help lists and carries the
# project's version; `man -l` (where man is installed) shows the synopsis of --help.
# MAN_PAGES says whether this build makes them: it does not without help2man, and CI has it.
cmake_minimum_required(VERSION 3.25)
foreach(var PREFIX MAN_PAGES VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
if(NOT MAN_PAGES)
  message(FATAL_ERROR "This build makes no manual pages: help2man was not found when it was "
    "configured. Install it (Debian package help2man) and configure again.")
endif()
find_program(GZIP gzip REQUIRED)
find_program(MAN man)

set(failures "")
macro(fail text)
  string(APPEND failures "  ${text}\n")
endmacro()

# page=program: orvale.1.gz is the lowercase name of Orvale's page.
foreach(entry "Orvale.1.gz=Orvale" "orvale.1.gz=Orvale" "quennet-sim.1.gz=quennet-sim")
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 program)
  set(page "${PREFIX}/share/man/man1/${name}")
  execute_process(COMMAND "${GZIP}" -dc "${page}"
    RESULT_VARIABLE result OUTPUT_VARIABLE source ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    fail("${name} is not a valid gzip file: ${errors}")
    continue()
  endif()
  execute_process(COMMAND "${PREFIX}/bin/${program}" --help
    RESULT_VARIABLE result OUTPUT_VARIABLE help TIMEOUT 30)
  if(NOT result EQUAL 0 OR NOT help MATCHES "^Usage: ([^\n]+)")
    fail("${program} --help exited with ${result} and no usage line")
    continue()
  endif()
  set(synopsis "${CMAKE_MATCH_1}")

  string(TOUPPER "${program}" title)
  if(NOT source MATCHES "\n\\.TH ${title} \"1\" \"[^\"]*\" \"${program} ${VERSION}\"")
    fail("${name}: no .TH line for ${program} ${VERSION}")
  endif()
  string(REPLACE "\\-" "-" plain "${source}")
  if(NOT plain MATCHES "\n\\.SH NAME\n${program} - [^\n]+\n")
    fail("${name}: NAME is not '${program} - <what it is>'")
  endif()
  if(NOT plain MATCHES "\n\\.SH SYNOPSIS\n\\.B ${program}\n")
    fail("${name}: SYNOPSIS does not name ${program}")
  endif()
  # A page made from an older program, or from another one, misses options.
  string(REGEX MATCHALL "\n  --[a-z][a-z-]*" options "\n${help}")
  foreach(option IN LISTS options)
    string(STRIP "${option}" option)
    string(FIND "${plain}" "${option}" at)
    if(at EQUAL -1)
      fail("${name} does not describe ${option}, which ${program} --help lists")
    endif()
  endforeach()

  if(MAN)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C MANWIDTH=100
        "${MAN}" -P cat -l "${page}"
      RESULT_VARIABLE result OUTPUT_VARIABLE shown ERROR_VARIABLE errors)
    if(NOT result EQUAL 0 OR NOT shown MATCHES "\nSYNOPSIS\n +([^\n]+)\n")
      fail("man -l ${name} (${result}) shows no SYNOPSIS:\n${shown}${errors}")
    elseif(NOT CMAKE_MATCH_1 STREQUAL synopsis)
      fail("man -l ${name} shows the synopsis '${CMAKE_MATCH_1}', --help '${synopsis}'")
    endif()
  endif()
endforeach()
if(NOT MAN)
  message("man not found (Debian package man-db): the pages were not rendered")
endif()

if(failures)
  message(FATAL_ERROR "The manual pages in ${PREFIX}/share/man/man1 are wrong:\n${failures}")
endif()

# Checks the tree that install.stage put in PREFIX: the programs and the `orvale` link, the
# desktop entry, the icons it names at every size, the README, copyright and changelog, the
# control API's Python client and its example, the
# manual pages, and nothing else (no tests, benchmarks or libraries). MAN_PAGES and CHANGELOG
# say whether this build makes them (help2man and gzip were found).
cmake_minimum_required(VERSION 3.25)
foreach(var PREFIX MAN_PAGES CHANGELOG)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

set(failures "")
macro(fail text)
  string(APPEND failures "  ${text}\n")
endmacro()

set(icon_sizes 16 24 32 48 64 128 256)

# Exactly these files, so that a test program or a static library that slips into the install
# rules is caught as surely as a missing icon.
set(expected
  bin/Orvale
  bin/orvale
  bin/quennet-sim
  share/applications/orvale.desktop
  share/doc/orvale/README.md
  share/doc/orvale/copyright
  share/doc/orvale/examples/orvale_client.py
  share/doc/orvale/examples/ramp_example.py
  share/icons/hicolor/scalable/apps/orvale.svg)
if(CHANGELOG)
  list(APPEND expected share/doc/orvale/changelog.gz)
endif()
if(MAN_PAGES)
  list(APPEND expected share/man/man1/Orvale.1.gz share/man/man1/orvale.1.gz
    share/man/man1/quennet-sim.1.gz)
endif()
foreach(size IN LISTS icon_sizes)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/orvale.png)
endforeach()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
foreach(path IN LISTS expected)
  if(NOT path IN_LIST installed)
    fail("missing: ${path}")
  endif()
endforeach()
foreach(path IN LISTS installed)
  if(NOT path IN_LIST expected)
    fail("not expected: ${path}")
  endif()
endforeach()

foreach(program bin/Orvale bin/orvale bin/quennet-sim)
  if(EXISTS "${PREFIX}/${program}")
    execute_process(COMMAND test -x "${PREFIX}/${program}" RESULT_VARIABLE not_executable)
    if(not_executable)
      fail("not executable: ${program}")
    endif()
  endif()
endforeach()

# The lowercase names are relative links, so that they hold wherever the tree is installed; a
# copy would work too, but would be a second program to keep in step.
foreach(link_and_target "bin/orvale=Orvale" "share/man/man1/orvale.1.gz=Orvale.1.gz")
  string(REPLACE "=" ";" link_and_target "${link_and_target}")
  list(GET link_and_target 0 link)
  list(GET link_and_target 1 target)
  if(NOT link IN_LIST installed)
    continue()
  endif()
  if(NOT IS_SYMLINK "${PREFIX}/${link}")
    fail("${link} is not a link to ${target}")
  else()
    file(READ_SYMLINK "${PREFIX}/${link}" points_to)
    if(NOT points_to STREQUAL target)
      fail("${link} points to '${points_to}', not to '${target}'")
    endif()
  endif()
endforeach()

# The desktop entry must start an installed program and name the installed icon.
set(desktop "${PREFIX}/share/applications/orvale.desktop")
if(EXISTS "${desktop}")
  file(STRINGS "${desktop}" exec_lines REGEX "^Exec=")
  file(STRINGS "${desktop}" icon_lines REGEX "^Icon=")
  if(NOT exec_lines MATCHES "^Exec=([^ ;]+)")
    fail("orvale.desktop has no Exec line")
  elseif(NOT EXISTS "${PREFIX}/bin/${CMAKE_MATCH_1}")
    fail("orvale.desktop starts ${CMAKE_MATCH_1}, which is not in bin/")
  endif()
  if(NOT icon_lines STREQUAL "Icon=orvale")
    fail("orvale.desktop names icon '${icon_lines}', installed is 'orvale'")
  endif()
  file(STRINGS "${desktop}" type_lines REGEX "^Type=")
  if(NOT type_lines STREQUAL "Type=Application")
    fail("orvale.desktop is not of Type=Application")
  endif()
endif()

# Each PNG is a PNG of the size its directory says.
foreach(size IN LISTS icon_sizes)
  set(png "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/orvale.png")
  if(NOT EXISTS "${png}")
    continue()
  endif()
  file(READ "${png}" signature LIMIT 8 HEX)
  file(READ "${png}" ihdr OFFSET 16 LIMIT 8 HEX)
  math(EXPR expected_hex "${size}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${expected_hex}" 2 -1 expected_hex)
  string(LENGTH "${expected_hex}" len)
  while(len LESS 8)
    string(PREPEND expected_hex "0")
    math(EXPR len "${len} + 1")
  endwhile()
  string(TOLOWER "${expected_hex}" expected_hex)
  if(NOT signature STREQUAL "89504e470d0a1a0a")
    fail("${size}x${size}/apps/orvale.png is not a PNG")
  elseif(NOT ihdr STREQUAL "${expected_hex}${expected_hex}")
    fail("${size}x${size}/apps/orvale.png is not ${size}x${size} pixels (IHDR ${ihdr})")
  endif()
endforeach()

set(svg "${PREFIX}/share/icons/hicolor/scalable/apps/orvale.svg")
if(EXISTS "${svg}")
  file(READ "${svg}" svg_text)
  if(NOT svg_text MATCHES "<svg[ \n]")
    fail("scalable/apps/orvale.svg is not an SVG drawing")
  endif()
endif()

if(failures)
  message(FATAL_ERROR "The install tree in ${PREFIX} is wrong:\n${failures}")
endif()

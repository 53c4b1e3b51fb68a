# Checks the tree that install.stage put in PREFIX: the programs, the desktop entry, the icons
# it names at every size, the README, and nothing else (no tests, benchmarks or libraries).
cmake_minimum_required(VERSION 3.25)
if(NOT DEFINED PREFIX)
  message(FATAL_ERROR "PREFIX is not set")
endif()

set(failures "")
macro(fail text)
  string(APPEND failures "  ${text}\n")
endmacro()

set(icon_sizes 16 24 32 48 64 128 256)

# Exactly these files, so that a test program or a static library that slips into the install
# rules is caught as surely as a missing icon.
set(expected
  bin/Orvale
  bin/quennet-sim
  share/applications/orvale.desktop
  share/doc/orvale/README.md
  share/icons/hicolor/scalable/apps/orvale.svg)
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

foreach(program bin/Orvale bin/quennet-sim)
  if(EXISTS "${PREFIX}/${program}")
    execute_process(COMMAND test -x "${PREFIX}/${program}" RESULT_VARIABLE not_executable)
    if(not_executable)
      fail("not executable: ${program}")
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

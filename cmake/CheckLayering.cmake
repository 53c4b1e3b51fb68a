# Fails when a source file of link/, model/ or profile/ includes a Qt header, or one of session/
# other than its Qt edge (qt_*): they are tested alone, benchmarked and fuzzed without a GUI.
file(GLOB_RECURSE sources "${ROOT}/link/*.h" "${ROOT}/link/*.cpp" "${ROOT}/model/*.h" "${ROOT}/model/*.cpp"
  "${ROOT}/session/*.h" "${ROOT}/session/*.cpp" "${ROOT}/profile/*.h" "${ROOT}/profile/*.cpp")
list(FILTER sources EXCLUDE REGEX "/session/qt_[^/]*$")
set(offenders "")
foreach(f IN LISTS sources)
  file(STRINGS "${f}" hits REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]|qt)")
  if(hits)
    list(APPEND offenders "${f}: ${hits}")
  endif()
endforeach()
if(offenders)
  message(FATAL_ERROR "Qt headers in link/, model/, profile/ or session/:\n${offenders}")
endif()
message(STATUS "link/, model/, profile/ and session/ are free of Qt")

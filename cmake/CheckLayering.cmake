# Fails when a source file of link/, model/, profile/ or plot/ includes a Qt header, or one of
# session/ other than its Qt edge (qt_*), or of plot/ other than its widget and window: they are
# tested alone, benchmarked and fuzzed without a GUI.
file(GLOB_RECURSE sources "${ROOT}/link/*.h" "${ROOT}/link/*.cpp" "${ROOT}/model/*.h" "${ROOT}/model/*.cpp"
  "${ROOT}/session/*.h" "${ROOT}/session/*.cpp" "${ROOT}/profile/*.h" "${ROOT}/profile/*.cpp"
  "${ROOT}/plot/*.h" "${ROOT}/plot/*.cpp")
list(FILTER sources EXCLUDE REGEX "/session/qt_[^/]*$")
# The plot's Qt Widgets edge: the widget and the window above its plain C++ logic.
list(FILTER sources EXCLUDE REGEX "/plot/plot_(widget|window)\\.(h|cpp)$")
set(offenders "")
foreach(f IN LISTS sources)
  file(STRINGS "${f}" hits REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]|qt)")
  if(hits)
    list(APPEND offenders "${f}: ${hits}")
  endif()
endforeach()
if(offenders)
  message(FATAL_ERROR "Qt headers in link/, model/, profile/, plot/ or session/:\n${offenders}")
endif()
message(STATUS "link/, model/, profile/, plot/ and session/ are free of Qt")

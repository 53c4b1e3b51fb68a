# Fails when a source file of link/, model/, fms/, profile/ or plot/ includes a Qt header, or one
# of session/ or bus/ other than its Qt edge (qt_*, the bus window), or of plot/ other than its
# widget and window: they are tested alone, benchmarked and fuzzed without a GUI.
file(GLOB_RECURSE sources "${ROOT}/link/*.h" "${ROOT}/link/*.cpp" "${ROOT}/model/*.h" "${ROOT}/model/*.cpp"
  "${ROOT}/session/*.h" "${ROOT}/session/*.cpp" "${ROOT}/profile/*.h" "${ROOT}/profile/*.cpp"
  "${ROOT}/plot/*.h" "${ROOT}/plot/*.cpp" "${ROOT}/fms/*.h" "${ROOT}/fms/*.cpp"
  "${ROOT}/bus/*.h" "${ROOT}/bus/*.cpp")
list(FILTER sources EXCLUDE REGEX "/(session|bus)/qt_[^/]*$")
list(FILTER sources EXCLUDE REGEX "/bus/bus_window\\.(h|cpp)$")
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
  message(FATAL_ERROR "Qt headers in link/, model/, fms/, profile/, plot/, bus/ or session/:\n${offenders}")
endif()
message(STATUS "link/, model/, fms/, profile/, plot/, bus/ and session/ are free of Qt")

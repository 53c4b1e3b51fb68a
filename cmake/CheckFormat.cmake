# Fails when a C++ source is not laid out as .clang-format says.
file(GLOB_RECURSE sources
  "${ROOT}/app/*.cpp" "${ROOT}/app/*.h" "${ROOT}/link/*.cpp" "${ROOT}/link/*.h"
  "${ROOT}/model/*.cpp" "${ROOT}/model/*.h" "${ROOT}/ui/*.cpp" "${ROOT}/ui/*.h"
  "${ROOT}/session/*.cpp" "${ROOT}/session/*.h" "${ROOT}/api/*.cpp" "${ROOT}/api/*.h"
  "${ROOT}/profile/*.cpp" "${ROOT}/profile/*.h" "${ROOT}/plot/*.cpp" "${ROOT}/plot/*.h"
  "${ROOT}/fms/*.cpp" "${ROOT}/fms/*.h" "${ROOT}/bus/*.cpp" "${ROOT}/bus/*.h"
  "${ROOT}/controls/*.cpp" "${ROOT}/controls/*.h" "${ROOT}/sim/*.cpp" "${ROOT}/sim/*.h"
  "${ROOT}/tests/*.cpp" "${ROOT}/tests/*.h" "${ROOT}/bench/*.cpp" "${ROOT}/bench/*.h"
  "${ROOT}/fuzz/*.cpp" "${ROOT}/fuzz/*.h")
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run -Werror ${sources}
  RESULT_VARIABLE status ERROR_VARIABLE complaints)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Not formatted (run clang-format -i on these):\n${complaints}")
endif()
message(STATUS "every source is formatted")

# Compile settings shared by every target of the project.
add_library(project_options INTERFACE)
target_compile_features(project_options INTERFACE cxx_std_20)
target_compile_options(project_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  $<$<BOOL:${ORVALE_WERROR}>:-Werror>)
target_compile_definitions(project_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

set(ORVALE_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
if(ORVALE_SANITIZE)
  target_compile_options(project_options INTERFACE -fsanitize=${ORVALE_SANITIZE} -fno-omit-frame-pointer
    -fno-sanitize-recover=all)
  target_link_options(project_options INTERFACE -fsanitize=${ORVALE_SANITIZE})
endif()

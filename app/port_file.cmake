# The port configuration file: plain C++, so that the reader can also be fuzzed on its own.
add_library(orvale_port_file STATIC
  ${CMAKE_CURRENT_LIST_DIR}/port_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/port_file.h
)
target_include_directories(orvale_port_file PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvale_port_file PUBLIC project_options)

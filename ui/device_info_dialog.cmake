# The device information and settings dialog. It lays itself out with the dialog units of the
# main window's catalogue library.
add_library(orvale_device_info_dialog STATIC
  ${CMAKE_CURRENT_LIST_DIR}/device_info_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_info_dialog.h
)
set_target_properties(orvale_device_info_dialog PROPERTIES AUTOMOC ON)
target_include_directories(orvale_device_info_dialog PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvale_device_info_dialog PUBLIC orvale_ui_catalogue orvale_link project_options
  Qt6::Widgets)

# Tests of the device information and settings dialog, offscreen.
add_executable(device_info_dialog_tests
  ${CMAKE_CURRENT_LIST_DIR}/device_info_dialog_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_test_main.cpp
)
target_link_libraries(device_info_dialog_tests PRIVATE orvale_device_info_dialog GTest::gtest)
gtest_discover_tests(device_info_dialog_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The dialogs' values, limits and refusals, the output text and its copy, and the icons.
vorn_add_qtest(tst_dialogs
  SOURCES tst_dialogs.cpp
  DEPS vorn_app_dialogs vorn_timeline vorn_test_support
)
target_compile_definitions(tst_dialogs PRIVATE VORN_APP_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")

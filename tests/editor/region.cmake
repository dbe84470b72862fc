# The region picker: zoom limits, conversions, drags, clamping, the edits and what is drawn.
vorn_add_qtest(tst_regionselect SOURCES tst_regionselect.cpp DEPS vorn_editor_region vorn_test_support)
target_compile_definitions(tst_regionselect PRIVATE VORN_EDITOR_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")

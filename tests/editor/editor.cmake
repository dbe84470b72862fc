# The tree panel and the property pages (Qt Test, off screen).
foreach(test tst_scenariotree tst_sceneprop)
  vorn_add_qtest(${test} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${test}.cpp ${CMAKE_CURRENT_LIST_DIR}/editortest.h
                 DEPS vorn_editor vorn_test_support)
  target_compile_definitions(${test} PRIVATE VORN_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
                             VORN_EDITOR_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
endforeach()

# The main window: commands and their enable rules, drops, keys and the timer, the two-phase
# replacement of scenario and song.
vorn_add_qtest(tst_mainview
  SOURCES tst_mainview.cpp
  DEPS vorn_app_shell vorn_test_support
)

# The real program in a real X server, found and driven through the accessibility bus as a
# screen reader would: play the demo, tap three keys, copy the CHECKPOINT text. Screenshots go
# to out/e2e-*.png. Skipped (77) when pyatspi is missing.
add_test(NAME e2e_checkpoint
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/e2e/e2e.sh $<TARGET_FILE:vorn-checkpoint>
          ${PROJECT_SOURCE_DIR}/examples/demo/demo.txt ${PROJECT_SOURCE_DIR}/out)
set_tests_properties(e2e_checkpoint PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77 RUN_SERIAL TRUE)

# The main window: commands and their enable rules, drops, keys and the timer, the two-phase
# replacement of scenario and song.
vorn_add_qtest(tst_mainview
  SOURCES tst_mainview.cpp
  DEPS vorn_app_shell vorn_test_support
)
# The program itself, for its start-up switch.
target_compile_definitions(tst_mainview PRIVATE VORN_PROGRAM="$<TARGET_FILE:vorn-checkpoint>"
                           VORN_APP_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
add_dependencies(tst_mainview vorn-checkpoint)

# The real program in a real X server, found and driven through the accessibility bus as a
# screen reader would, on a copy of the demo folder. The checkpoint test plays the demo, taps
# three keys and copies the CHECKPOINT text; the editor test changes a STILL's frame count on
# its page, applies, saves, checks the file with vorn-scenario info and opens the region
# picker; the video test exports the demo, cancelling once half way. Screenshots go to
# out/e2e-*.png. Skipped (77) when pyatspi is missing.
foreach(driver checkpoint editor video)
  add_test(NAME e2e_${driver}
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/e2e/e2e.sh ${driver}.py $<TARGET_FILE:vorn-checkpoint>
            ${PROJECT_SOURCE_DIR}/examples/demo/demo.txt ${PROJECT_SOURCE_DIR}/out
            $<TARGET_FILE:vorn-scenario>)
  set_tests_properties(e2e_${driver} PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77 RUN_SERIAL TRUE)
endforeach()

# Taps on the beat through a real clock: a PulseAudio null sink. Calibrates with keys 40 ms late
# and taps eight beats 40 ms late; each mark must land within 5 ms of its beat.
# Run again once when it fails: the sound server may stall on a busy machine.
add_test(NAME e2e_taps
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/e2e/twice.sh
          bash ${PROJECT_SOURCE_DIR}/tests/e2e/e2e.sh taps.py $<TARGET_FILE:vorn-checkpoint>
          ${PROJECT_SOURCE_DIR}/examples/demo/demo.txt ${PROJECT_SOURCE_DIR}/out)
set_tests_properties(e2e_taps PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77 RUN_SERIAL TRUE
                     ENVIRONMENT E2E_SOUND=pulse)

# A passage looped at a quarter of the speed with the pitch kept, on the same null sink: Shift+drag
# selects it, taps through two passes must all land inside it.
add_test(NAME e2e_loop
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/e2e/e2e.sh loop.py $<TARGET_FILE:vorn-checkpoint>
          ${PROJECT_SOURCE_DIR}/examples/demo/demo.txt ${PROJECT_SOURCE_DIR}/out)
set_tests_properties(e2e_loop PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77 RUN_SERIAL TRUE
                     ENVIRONMENT E2E_SOUND=pulse)

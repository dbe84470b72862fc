# The region picker: zoom limits, conversions, drags, clamping, the edits and what is drawn.
vorn_add_qtest(tst_regionselect SOURCES tst_regionselect.cpp DEPS vorn_editor_region)

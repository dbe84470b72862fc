# The region picker: a rectangle chosen on a zoomable, scrollable picture, for the property
# pages' rectangle fields.
vorn_add_library(vorn_editor_region
  SOURCES
    regionselect.cpp regionselect.h
    regionselectdlg.cpp regionselectdlg.h
  DEPS vorn_imaging Qt6::Widgets
)
set_target_properties(vorn_editor_region PROPERTIES AUTOMOC ON)

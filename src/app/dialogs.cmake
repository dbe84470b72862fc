# The shell's dialogs (scenario properties, output, about box) and the icon resources.
find_package(Qt6 6.4 REQUIRED COMPONENTS Svg)

vorn_add_library(vorn_app_dialogs
  SOURCES
    aboutdialog.cpp aboutdialog.h
    appicons.cpp appicons.h icons.qrc
    outputdialog.cpp outputdialog.h
    propertiesdialog.cpp propertiesdialog.h
  DEPS vorn_scenario_model vorn_audio Qt6::Widgets
  # The SVG icon engine is a plugin; linking Qt Svg makes sure its library is there for it.
  PRIVATE_DEPS Qt6::Svg
)
set_target_properties(vorn_app_dialogs PROPERTIES AUTOMOC ON AUTORCC ON)
# Named after the library so no other resource file called icons.qrc collides with it.
set_source_files_properties(icons.qrc PROPERTIES AUTORCC_OPTIONS "--name;vorn_app_icons")
# The draft video's progress dialog.
target_sources(vorn_app_dialogs PRIVATE videoexportdialog.cpp videoexportdialog.h)
target_link_libraries(vorn_app_dialogs PUBLIC vorn_export vorn_scenario_reader)

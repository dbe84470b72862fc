# The scenario editor: the tree panel, the property host and its pages (Qt Widgets).
find_package(Qt6 6.4 REQUIRED COMPONENTS Svg)

vorn_add_library(vorn_editor
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/editorservices.h ${CMAKE_CURRENT_LIST_DIR}/editordialogs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/editoricons.cpp ${CMAKE_CURRENT_LIST_DIR}/editoricons.h
    ${CMAKE_CURRENT_LIST_DIR}/editoricons.qrc
    ${CMAKE_CURRENT_LIST_DIR}/scenariodialog.cpp ${CMAKE_CURRENT_LIST_DIR}/scenariodialog.h
    ${CMAKE_CURRENT_LIST_DIR}/scenevirtual.cpp ${CMAKE_CURRENT_LIST_DIR}/scenevirtual.h
    ${CMAKE_CURRENT_LIST_DIR}/inputlistpage.cpp ${CMAKE_CURRENT_LIST_DIR}/inputlistpage.h
    ${CMAKE_CURRENT_LIST_DIR}/sourcepages.cpp ${CMAKE_CURRENT_LIST_DIR}/sourcepages.h
    ${CMAKE_CURRENT_LIST_DIR}/motionpages.cpp ${CMAKE_CURRENT_LIST_DIR}/motionpages.h
    ${CMAKE_CURRENT_LIST_DIR}/effectpages.cpp ${CMAKE_CURRENT_LIST_DIR}/effectpages.h
    ${CMAKE_CURRENT_LIST_DIR}/sceneprop.cpp ${CMAKE_CURRENT_LIST_DIR}/sceneprop.h
  DEPS vorn_editor_region vorn_scenario_reader vorn_scenario_model vorn_imaging Qt6::Widgets
  # The SVG icon engine is a plugin; linking Qt Svg makes sure its library is there for it.
  PRIVATE_DEPS Qt6::Svg
)
set_target_properties(vorn_editor PROPERTIES AUTOMOC ON AUTORCC ON)
# Named after the library so that no other resource file collides with it.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/editoricons.qrc
                            PROPERTIES AUTORCC_OPTIONS "--name;vorn_editor_icons")

# The frame and the main view, and the program vorn-checkpoint.
vorn_add_library(vorn_app_shell
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/mainview.cpp ${CMAKE_CURRENT_LIST_DIR}/mainview.h
    ${CMAKE_CURRENT_LIST_DIR}/scenarioloader.cpp ${CMAKE_CURRENT_LIST_DIR}/scenarioloader.h
    ${CMAKE_CURRENT_LIST_DIR}/beatdetection.cpp ${CMAKE_CURRENT_LIST_DIR}/beatdetection.h
    ${CMAKE_CURRENT_LIST_DIR}/mainframe.cpp ${CMAKE_CURRENT_LIST_DIR}/mainframe.h
    ${CMAKE_CURRENT_LIST_DIR}/shellservices.cpp ${CMAKE_CURRENT_LIST_DIR}/shellservices.h
    ${CMAKE_CURRENT_LIST_DIR}/taptaker.cpp ${CMAKE_CURRENT_LIST_DIR}/taptaker.h
    ${CMAKE_CURRENT_LIST_DIR}/calibrationdialog.cpp ${CMAKE_CURRENT_LIST_DIR}/calibrationdialog.h
  DEPS vorn_app_widgets vorn_app_dialogs vorn_editor vorn_scenario_reader vorn_audio vorn_beats vorn_timeline
       Qt6::Widgets
)
set_target_properties(vorn_app_shell PROPERTIES AUTOMOC ON)

add_executable(vorn-checkpoint ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(vorn-checkpoint PRIVATE vorn_app_shell)

# The main window: tap to mark, click to picture, start-up against a minimal window. It has its
# own main (it doubles as the minimal window), so it links Google Benchmark without its main.
add_executable(bench_mainview ${CMAKE_CURRENT_LIST_DIR}/bench_mainview.cpp)
set_target_properties(bench_mainview PROPERTIES AUTOMOC ON)
target_link_libraries(bench_mainview PRIVATE vorn_app_shell Qt6::Test benchmark::benchmark)
# The heavy frame it cancels is the one the window tests cancel.
target_include_directories(bench_mainview PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(bench_mainview PRIVATE VORN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                                   VORN_PROGRAM="$<TARGET_FILE:vorn-checkpoint>")
add_dependencies(bench_mainview vorn-checkpoint)

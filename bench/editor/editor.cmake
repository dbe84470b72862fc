# The scenario editor: apply, and the tree of large scenarios. Its own main makes the
# QApplication first, so it links Google Benchmark without benchmark_main.
add_executable(bench_editor ${CMAKE_CURRENT_LIST_DIR}/bench_editor.cpp)
target_link_libraries(bench_editor PRIVATE vorn_editor vorn_bench_support benchmark::benchmark)
target_compile_definitions(bench_editor PRIVATE VORN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

tarmin_bench(bench_registry SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_registry.cpp LIBS qzcom SQLite::SQLite3)

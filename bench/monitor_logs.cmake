# Gateway log reading benchmarks (monitor/logs); test data comes from loggen at run time.
tarmin_bench(bench_monitor_logs SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_monitor_logs.cpp LIBS tmnmonlogs)
if(TARGET loggen)
  add_dependencies(bench_monitor_logs loggen)
endif()

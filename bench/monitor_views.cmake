# The record list of the monitor: showing a large outgoing family against the
# bare reading of the log core, a refresh with new lines, and sorting.
if(TARGET tmnmon_gui AND TARGET tmnloggen)
  tarmin_bench(bench_monitor_views
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_monitor_views.cpp
    LIBS tmnmon_gui tmnloggen Qt6::Test)
endif()

# The record list of the monitor: showing a large outgoing family against the
# bare reading of the log core, a refresh with new lines, and sorting.
if(TARGET tmnmon_gui AND EXISTS ${CMAKE_SOURCE_DIR}/tools/loggen/LogGenerator.cpp)
  tarmin_bench(bench_monitor_views
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_monitor_views.cpp ${CMAKE_SOURCE_DIR}/tools/loggen/LogGenerator.cpp
    LIBS tmnmon_gui Qt6::Test)
endif()

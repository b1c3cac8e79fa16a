# Receipt tracking catching up with two million sent messages and their
# receipts (written by the log generator at run time).
if(TARGET tmnmonalerts AND TARGET tmnloggen)
  tarmin_bench(bench_monitor_receipts
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_monitor_receipts.cpp
    LIBS tmnmonalerts tmnloggen)
endif()

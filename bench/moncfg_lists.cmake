# The configuration program's lists: an address book of 10,000 entries and
# 1,000 packets saved and loaded, beside a bare SQLite write and read of the
# same rows.
if(TARGET tmnmoncfg_gui)
  tarmin_bench(bench_moncfg_lists SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_moncfg_lists.cpp
               LIBS tmnmoncfg_gui SQLite::SQLite3)
endif()

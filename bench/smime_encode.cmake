# tmnsmime: the encoder beside the qzms primitives it needs, on the same data.
if(TARGET tmnsmime AND TARGET qzms)
  tarmin_bench(bench_smime_encode SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_smime_encode.cpp LIBS tmnsmime qzms qzcom)
  add_dependencies(bench_smime_encode tmncert)
endif()

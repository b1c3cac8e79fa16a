# qzms: enveloping and opening 50 MB for one recipient beside openssl cms, and
# session containers beside openssl enc, on the same data in the same run.
if(TARGET qzms)
  tarmin_bench(bench_capi_encrypt SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_capi_encrypt.cpp LIBS qzms qzcom)
  add_dependencies(bench_capi_encrypt tmncert)
endif()

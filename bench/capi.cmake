# qzms: hashing, signing and checking 50 MB beside the openssl command line on
# the same data, and the address search among 10,000 address-book certificates.
if(TARGET qzms AND TARGET tmncert_core)
  tarmin_bench(bench_capi SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_capi.cpp LIBS qzms qzcom tmncrypto tmncert_core)
  add_dependencies(bench_capi tmncert)
endif()

# tmnsmime: decoding a signed and encrypted 50 MB message beside openssl cms
# -decrypt and -verify, and 1,000 small messages beside their primitives.
if(TARGET tmnsmime)
  tarmin_bench(bench_smime_decode SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_smime_decode.cpp LIBS tmnsmime qzms qzcom)
  add_dependencies(bench_smime_decode tmncert)
endif()

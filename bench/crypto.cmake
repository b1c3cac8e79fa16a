# tmncrypto: hashing, GOST 28147-89, CMS envelopes and signatures beside the
# openssl command line and the engine's raw operations in the same run.
if(TARGET tmncrypto AND TARGET tmncert_core)
  tarmin_bench(bench_crypto SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_crypto.cpp LIBS tmncrypto tmncert_core OpenSSL::Crypto)
endif()

# tmngwd: both gateways as processes, end to end (throughput against the
# S/MIME library's own encoding and decoding of the same messages), and the
# long kill run.
if(TARGET tmngw AND TARGET tmnmonjobs)
  foreach(b bench_gateway_throughput bench_gateway_kill_soak)
    tarmin_bench(${b} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${b}.cpp LIBS tmngw tmnmonjobs)
    target_compile_definitions(${b} PRIVATE GW_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
                                            GW_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    add_dependencies(${b} tmngwd tmncert tmnreg)
  endforeach()
endif()

# Helpers shared by the module CMakeLists.txt files.

include_directories(${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include)

set(TARMIN_TEST_ENV
  "QT_QPA_PLATFORM=offscreen"
  "TARMIN_BUILD_DIR=${CMAKE_BINARY_DIR}"
  "TARMIN_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  "LANG=C.UTF-8"
  "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# tarmin_test(NAME SOURCES ... LIBS ... [QT] [TIMEOUT s] [LABELS ...])
# A GoogleTest program registered with CTest, one CTest test per test case.
# Every test process gets a fresh TARMIN_HOME (tests/support); QT gives it a
# QApplication on the offscreen platform.
function(tarmin_test name)
  cmake_parse_arguments(T "QT" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_QT)
    target_link_libraries(${name} PRIVATE ${T_LIBS} tarmin_testsupport_qt GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} tarmin_testsupport GTest::gtest GTest::gmock)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Discovery passes the properties on as one flat list: an empty LABELS would
  # take ENVIRONMENT as its value, and the ";" between the variables must be
  # escaped for each of the four times the list is expanded on its way into
  # the discovered tests' script (eight backslashes).
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  string(REPLACE ";" [[\\\\\\\\;]] test_env "${TARMIN_TEST_ENV}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props} ENVIRONMENT "${test_env}")
endfunction()

# tarmin_module_tests(PREFIX LIBS ... [QT]) : every test_*.cpp of the calling
# folder becomes the test program PREFIX_<file name>.
function(tarmin_module_tests prefix)
  cmake_parse_arguments(M "QT" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(src ${srcs})
    get_filename_component(n ${src} NAME_WE)
    if(M_QT)
      tarmin_test(${prefix}_${n} SOURCES ${src} LIBS ${M_LIBS} QT)
    else()
      tarmin_test(${prefix}_${n} SOURCES ${src} LIBS ${M_LIBS})
    endif()
  endforeach()
endfunction()

# tarmin_fuzzer(NAME SOURCES ... LIBS ...) : a libFuzzer target, built only with TARMIN_FUZZ.
function(tarmin_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(TARMIN_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    # `fuzzers` builds every target without the tests of the fuzz tree.
    if(NOT TARGET fuzzers)
      add_custom_target(fuzzers)
    endif()
    add_dependencies(fuzzers ${name})
  endif()
endfunction()

# tarmin_bench(NAME SOURCES ... LIBS ...) : a Google Benchmark program.
function(tarmin_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()

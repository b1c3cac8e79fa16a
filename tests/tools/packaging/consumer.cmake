# Installs the libraries and development files of a build tree into a scratch
# prefix (cmake --install, by component) and builds host.c against it twice:
# with pkg-config and with find_package(Tarmin). Both programs must run and
# reach every library.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DHOST_SOURCE=host.c -DCC=... -DVERSION=...
#         [-DEXTRA_FLAGS="-fsanitize=..."] -P consumer.cmake
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/home)
# The home holds settings and keys: the libraries refuse one open to others.
file(CHMOD ${WORK_DIR}/home DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
foreach(component libraries development)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component ${component})
endforeach()
# Nothing of the programs' component came along.
if(EXISTS ${prefix}/bin)
  message(FATAL_ERROR "the library components installed programs: ${prefix}/bin")
endif()
separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")
set(expected "qzms 0 tmnsmime 0 qzvoui -1 tmnui linked\n")
set(ENV{TARMIN_HOME} ${WORK_DIR}/home)
set(ENV{LD_LIBRARY_PATH} ${prefix}/lib)

# pkg-config: tmnui and qzvoui bring tmnsmime, qzms and qzcom through Requires.
file(GLOB pc_dirs LIST_DIRECTORIES true ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
list(JOIN pc_dirs ":" pc_path)
set(ENV{PKG_CONFIG_PATH} "${pc_path}")
run(pkg-config --modversion tmnui)
if(NOT run_output STREQUAL "${VERSION}\n")
  message(FATAL_ERROR "pkg-config --modversion tmnui: ${run_output}")
endif()
run(pkg-config --cflags --libs tmnui qzvoui)
separate_arguments(pc_flags UNIX_COMMAND "${run_output}")
run(${CC} ${extra} ${HOST_SOURCE} ${pc_flags} -o ${WORK_DIR}/host-pkgconfig)
run(${WORK_DIR}/host-pkgconfig)
if(NOT run_output STREQUAL expected)
  message(FATAL_ERROR "host built with pkg-config printed: ${run_output}")
endif()

# find_package(Tarmin) with its imported targets.
file(WRITE ${WORK_DIR}/project/CMakeLists.txt
  "cmake_minimum_required(VERSION 3.25)\n"
  "project(host C)\n"
  "find_package(Tarmin ${VERSION} REQUIRED)\n"
  "add_executable(host ${HOST_SOURCE})\n"
  "target_link_libraries(host PRIVATE Tarmin::tmnui Tarmin::qzvoui)\n")
list(JOIN extra " " extra_text)
run(${CMAKE_COMMAND} -S ${WORK_DIR}/project -B ${WORK_DIR}/project/build -DCMAKE_C_COMPILER=${CC}
    -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_C_FLAGS=${extra_text}" "-DCMAKE_EXE_LINKER_FLAGS=${extra_text}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/project/build)
run(${WORK_DIR}/project/build/host)
if(NOT run_output STREQUAL expected)
  message(FATAL_ERROR "host built with find_package printed: ${run_output}")
endif()

# What an installation holds besides the programs and libraries, and the
# Debian packages made of it (`make package`, or cpack -G DEB in a build tree).
# Included at the end of the top-level CMakeLists.txt, when every target exists.

# ---- pkg-config files and the CMake package of the host libraries ---------
get_property(tarmin_public_libraries GLOBAL PROPERTY TARMIN_PUBLIC_LIBRARIES)
set(tarmin_pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(tarmin_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Tarmin)
# The prefix is found from where the .pc file lies, so that the same files
# serve the packages (/usr) and `make install PREFIX=...`.
file(RELATIVE_PATH tarmin_pc_to_prefix /prefix/${tarmin_pkgconfig_dir} /prefix)
string(REGEX REPLACE "/$" "" tarmin_pc_to_prefix "${tarmin_pc_to_prefix}")
foreach(lib ${tarmin_public_libraries})
  get_property(description GLOBAL PROPERTY TARMIN_DESCRIPTION_${lib})
  # Requires: the suite's host libraries that this one passes on.
  get_target_property(passed ${lib} INTERFACE_LINK_LIBRARIES)
  set(requires "")
  foreach(dep ${passed})
    if(dep IN_LIST tarmin_public_libraries)
      list(APPEND requires ${dep})
    endif()
  endforeach()
  list(JOIN requires ", " requires)
  set(pc "prefix=\${pcfiledir}/${tarmin_pc_to_prefix}\n"
         "libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}\n"
         "includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}/tarmin\n\n"
         "Name: ${lib}\n"
         "Description: ${description}\n"
         "Version: ${PROJECT_VERSION}\n"
         "Requires: ${requires}\n"
         "Libs: -L\${libdir} -l${lib}\n"
         "Cflags: -I\${includedir}\n")
  string(JOIN "" pc ${pc})
  file(WRITE ${CMAKE_BINARY_DIR}/pkgconfig/${lib}.pc "${pc}")
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${lib}.pc DESTINATION ${tarmin_pkgconfig_dir} COMPONENT development)
endforeach()

# The CMake package is written here rather than exported: an export would
# carry the suite's private libraries and the Qt targets of its C++ build
# into every host program, which needs only the C interfaces.
include(CMakePackageConfigHelpers)
file(RELATIVE_PATH tarmin_cmake_to_prefix /prefix/${tarmin_cmake_dir} /prefix)
string(REGEX REPLACE "/$" "" tarmin_cmake_to_prefix "${tarmin_cmake_to_prefix}")
set(config "")
string(APPEND config "# find_package(Tarmin): imported targets Tarmin::LIBRARY for the suite's host libraries,\n"
           "# each with its header directory and the suite's libraries it passes on.\n"
           "get_filename_component(_tarmin_prefix \"\${CMAKE_CURRENT_LIST_DIR}/${tarmin_cmake_to_prefix}\" ABSOLUTE)\n")
foreach(lib ${tarmin_public_libraries})
  get_target_property(passed ${lib} INTERFACE_LINK_LIBRARIES)
  set(requires "")
  foreach(dep ${passed})
    if(dep IN_LIST tarmin_public_libraries)
      list(APPEND requires Tarmin::${dep})
    endif()
  endforeach()
  set(file lib${lib}.so.${PROJECT_VERSION_MAJOR})
  string(APPEND config
    "if(NOT TARGET Tarmin::${lib})\n"
    "  add_library(Tarmin::${lib} SHARED IMPORTED)\n"
    "  set_target_properties(Tarmin::${lib} PROPERTIES\n"
    "    IMPORTED_LOCATION \"\${_tarmin_prefix}/${CMAKE_INSTALL_LIBDIR}/${file}\"\n"
    "    IMPORTED_SONAME ${file}\n"
    "    INTERFACE_INCLUDE_DIRECTORIES \"\${_tarmin_prefix}/${CMAKE_INSTALL_INCLUDEDIR}/tarmin\"\n"
    "    INTERFACE_LINK_LIBRARIES \"${requires}\")\n"
    "endif()\n"
    "if(NOT EXISTS \"\${_tarmin_prefix}/${CMAKE_INSTALL_LIBDIR}/${file}\")\n"
    "  set(Tarmin_FOUND FALSE)\n"
    "  set(Tarmin_NOT_FOUND_MESSAGE \"\${_tarmin_prefix}/${CMAKE_INSTALL_LIBDIR}/${file} is missing\")\n"
    "endif()\n")
endforeach()
string(APPEND config "unset(_tarmin_prefix)\n")
file(WRITE ${CMAKE_BINARY_DIR}/cmake/TarminConfig.cmake "${config}")
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/TarminConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/TarminConfig.cmake ${CMAKE_BINARY_DIR}/cmake/TarminConfigVersion.cmake
        DESTINATION ${tarmin_cmake_dir} COMPONENT development)

# ---- Manual pages -----------------------------------------------------------
# Section 1 is made by help2man from each program's --help and --version, with
# the sections of docs/man/PROGRAM.h2m added; tarmin(7) is written by hand.
# The programs print their help without a display, so this runs anywhere.
set(tarmin_programs tmngwmon tmnmoncfg tmncertmgr tmncert tmnreg loggen uishot tmngwd tmngw-traffic)
set(tarmin_man_pages "")
find_program(TARMIN_HELP2MAN help2man REQUIRED)
find_program(TARMIN_GZIP gzip REQUIRED)
foreach(program ${tarmin_programs})
  if(NOT TARGET ${program})
    continue()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/man1/${program}.1)
  set(include_file ${CMAKE_SOURCE_DIR}/docs/man/${program}.h2m)
  set(include_args --name "a program of the Tarmin suite")
  set(include_depends "")
  if(EXISTS ${include_file})
    set(include_args --include ${include_file})
    set(include_depends ${include_file})
  endif()
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man/man1
    COMMAND ${CMAKE_COMMAND} -E env "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp"
            ${TARMIN_HELP2MAN} --no-info --section=1 --source=Tarmin
            --manual=Tarmin ${include_args} --output=${page} $<TARGET_FILE:${program}>
    COMMAND ${TARMIN_GZIP} -9nf ${page}
    DEPENDS ${program} ${include_depends}
    COMMENT "Manual page ${program}(1)"
    VERBATIM)
  list(APPEND tarmin_man_pages ${page}.gz)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/man7/tarmin.7.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man/man7
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/man/tarmin.7 ${CMAKE_BINARY_DIR}/man/man7/tarmin.7
  COMMAND ${TARMIN_GZIP} -9nf ${CMAKE_BINARY_DIR}/man/man7/tarmin.7
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/tarmin.7
  COMMENT "Manual page tarmin(7)"
  VERBATIM)
add_custom_target(man ALL DEPENDS ${tarmin_man_pages} ${CMAKE_BINARY_DIR}/man/man7/tarmin.7.gz)
install(DIRECTORY ${CMAKE_BINARY_DIR}/man/ DESTINATION ${CMAKE_INSTALL_MANDIR} COMPONENT programs
        FILES_MATCHING PATTERN "*.gz")

# ---- Desktop entries, icons, shell completion ------------------------------
foreach(program tmngwmon tmnmoncfg tmncertmgr)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/desktop/${program}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT programs)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/${program}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT programs)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/completion/tmncert ${CMAKE_SOURCE_DIR}/packaging/completion/tmnreg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT programs)

# ---- Debian packages ---------------------------------------------------------
# tarmin (programs), libtarmin3 (shared libraries), libtarmin-dev (headers,
# pkg-config, CMake package). Library dependencies come from dpkg-shlibdeps;
# the GOST engine is loaded at run time, so it is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarmin)
set(CPACK_PACKAGE_VENDOR "Tarmin")
set(CPACK_PACKAGE_CONTACT "Tarmin maintainers <tarmin@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Operator workstation and libraries of a secure e-mail gateway with GOST cryptography")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs libraries development)
set(CPACK_COMPONENT_PROGRAMS_DEPENDS libraries)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS libraries)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs need the suite's own libraries, which their package depends on:
# dpkg-shlibdeps finds them in the libraries package's staging directory
# (it runs in the staging directory of the package it works for).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../libraries/usr/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME tarmin)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION mail)
# Qt's platform plugins (xcb for the desktop, vnc) come as a package of their
# own, which no library names.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "Tarmin operator workstation: monitor, configuration program, certificate tools\ntmngwmon watches the gateway's logs, tmnmoncfg edits its settings, tmncertmgr and\ntmncert manage the GOST certificate stores, tmnreg the settings store.")
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_NAME libtarmin${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_DEPENDS "libengine-gost-openssl")
set(CPACK_DEBIAN_LIBRARIES_DESCRIPTION "Tarmin shared libraries: common services, GOST CryptoAPI, S/MIME, dialogs\nqzcom, qzms, tmnsmime, qzvoui and tmnui, with the GOST provider they run on\n(OpenSSL 3 with the GOST engine).")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtarmin-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "pkg-config")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "Tarmin libraries: development files\nC headers, pkg-config files and the CMake package (find_package(Tarmin)) of qzcom,\nqzms, qzvoui, tmnsmime and tmnui.")
include(CPack)

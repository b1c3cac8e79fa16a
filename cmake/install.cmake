# Installation rules shared by the module CMakeLists.txt files. Everything
# installed belongs to one of three components, which are also the Debian
# packages (cmake/packaging.cmake):
#   programs      the programs, their manual pages, desktop entries, icons
#                 and shell completions
#   libraries     the shared libraries
#   development   headers, the unversioned library links, pkg-config files
#                 and the CMake package (find_package(Tarmin))
# `cmake --install` without a component installs all of them.

# An install() that names no component installs a part of a program.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME programs)

# tarmin_install_library(TARGET [HEADER file] [DESCRIPTION text])
# A library with a DESCRIPTION is one that host programs build against: it
# gets a versioned file name (libX.so.MAJOR), an imported target in the
# CMake package and a pkg-config file. Without one it is a library of
# the suite's own programs, installed for them alone. HEADER is its public
# header under include/, installed with the development files.
function(tarmin_install_library target)
  cmake_parse_arguments(L "" "HEADER;DESCRIPTION" "" ${ARGN})
  if(L_DESCRIPTION)
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    install(TARGETS ${target}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libraries
                    NAMELINK_COMPONENT development)
    set_property(GLOBAL APPEND PROPERTY TARMIN_PUBLIC_LIBRARIES ${target})
    set_property(GLOBAL PROPERTY TARMIN_DESCRIPTION_${target} "${L_DESCRIPTION}")
  else()
    install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libraries)
  endif()
  if(L_HEADER)
    install(FILES ${CMAKE_SOURCE_DIR}/include/${L_HEADER}
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarmin COMPONENT development)
  endif()
endfunction()

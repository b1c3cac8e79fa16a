# tmngwmon: the Qt library of the monitor (main window, tree and record list,
# dialogs, report window, icons) and the program built on it. Tests link the
# library and drive the real windows.
if(TARGET tmnmon_viewmodel AND TARGET tmnplatform)
  file(GLOB TMNMON_GUI_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/views/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/app/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/*.cpp)
  list(REMOVE_ITEM TMNMON_GUI_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/app/main.cpp)
  add_library(tmnmon_gui STATIC ${TMNMON_GUI_SOURCES})
  target_link_libraries(tmnmon_gui PUBLIC tmnmon_viewmodel tmnmonalerts tmnmonjobs tmnplatform qzcom Qt6::Widgets Qt6::Network)
  # The About box shows the program's version.
  target_compile_definitions(tmnmon_gui PRIVATE
    TMNMON_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    TMNMON_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    TMNMON_VERSION_PATCH=${PROJECT_VERSION_PATCH}
    TMNMON_VERSION_BUILD=0)

  add_executable(tmngwmon ${CMAKE_CURRENT_SOURCE_DIR}/app/main.cpp)
  target_link_libraries(tmngwmon PRIVATE tmnmon_gui tmncli)
  install(TARGETS tmngwmon COMPONENT programs)
  # The monitor starts the configuration program from the directory named by
  # the setting "Path" under the product key: the installation writes it for
  # the user who installs (with the settings tool of this build). A user
  # whose settings cannot be written is told, and the installation goes on.
  # Component "settings": writes into the installing user's store, so it is
  # left out of the packages (a package is built, not installed, by its maker).
  install(CODE "set(TARMIN_TMNREG \"$<TARGET_FILE:tmnreg>\")\nset(TARMIN_BINDIR \"${CMAKE_INSTALL_BINDIR}\")" COMPONENT settings)
  install(CODE [[
    execute_process(COMMAND "${TARMIN_TMNREG}" set "Software\\KELVORIA\\tarmin-operator" Path string
                            "${CMAKE_INSTALL_PREFIX}/${TARMIN_BINDIR}"
                    RESULT_VARIABLE tarmin_rc OUTPUT_QUIET ERROR_VARIABLE tarmin_error)
    if(tarmin_rc EQUAL 0)
      message(STATUS "Settings: Path = ${CMAKE_INSTALL_PREFIX}/${TARMIN_BINDIR} (where tmngwmon finds tmnmoncfg)")
    else()
      message(WARNING "The setting Path could not be written (${tarmin_error}); set it with: tmnreg set "
                      "'Software\\KELVORIA\\tarmin-operator' Path string ${CMAKE_INSTALL_PREFIX}/${TARMIN_BINDIR}")
    endif()
  ]] COMPONENT settings)
endif()

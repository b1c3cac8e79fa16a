# tmngwmon: the Qt library of the monitor (main window, tree and record list,
# dialogs, report window, icons) and the program built on it. Tests link the
# library and drive the real windows.
if(TARGET tmnmon_viewmodel AND TARGET tmnplatform)
  file(GLOB TMNMON_GUI_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/views/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/app/gui/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/*.cpp)
  list(REMOVE_ITEM TMNMON_GUI_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/app/gui/main.cpp)
  add_library(tmnmon_gui STATIC ${TMNMON_GUI_SOURCES})
  target_link_libraries(tmnmon_gui PUBLIC tmnmon_viewmodel tmnmonalerts tmnmonjobs tmnplatform qzcom Qt6::Widgets Qt6::Network)
  # The About box shows the program's version.
  target_compile_definitions(tmnmon_gui PRIVATE
    TMNMON_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    TMNMON_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    TMNMON_VERSION_PATCH=${PROJECT_VERSION_PATCH}
    TMNMON_VERSION_BUILD=0)

  add_executable(tmngwmon ${CMAKE_CURRENT_SOURCE_DIR}/app/gui/main.cpp)
  target_link_libraries(tmngwmon PRIVATE tmnmon_gui)
  install(TARGETS tmngwmon)
endif()

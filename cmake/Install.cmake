# Installation (cmake --install) and the Debian packages (cpack, ./vor package):
#   libvor-framework  the framework libraries (VorCore, VorRemote, VorWidgets)
#   vorhost           the host application
#   vor01300-screen   the screen package libVOR01300.so, loaded by the host
#   vor01300-server   the application server, its systemd unit, its
#                     configuration under /etc, a system user and a data folder
# Installed programs find the libraries relative to themselves, so an unpacked
# tree (dpkg -x into any folder) runs as it is.
include(GNUInstallDirs)
# Installing and packaging take what is built; they never start a build of
# everything (tests included) on their own.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(VOR_PACKAGE_SUBDIR "${CMAKE_INSTALL_LIBDIR}/vor01300")
set(VOR_SYSTEMD_UNITDIR "lib/systemd/system" CACHE STRING "systemd unit folder, relative to the prefix")

foreach(lib VorCore VorRemote VorWidgets)
  if(TARGET ${lib})
    set_target_properties(${lib} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${lib} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT framework)
  endif()
endforeach()

if(TARGET vorhost)
  set_target_properties(vorhost PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  # The host looks for screen packages here, relative to its own folder.
  target_compile_definitions(VorHostLib PRIVATE VOR_PACKAGE_SUBDIR="${VOR_PACKAGE_SUBDIR}")
  install(TARGETS vorhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT host)
  install(FILES host/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/vorhost COMPONENT host)
endif()

if(TARGET VOR01300)
  set_target_properties(VOR01300 PROPERTIES INSTALL_RPATH "$ORIGIN/..")
  install(TARGETS VOR01300 LIBRARY DESTINATION ${VOR_PACKAGE_SUBDIR} COMPONENT screen)
endif()

if(TARGET vor01300-server)
  install(TARGETS vor01300-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
  install(FILES packaging/server/server.conf
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/vor01300 COMPONENT server)
  install(FILES packaging/server/vor01300-server.service packaging/server/vor01300-server@.service
          DESTINATION ${VOR_SYSTEMD_UNITDIR} COMPONENT server)
  install(FILES packaging/server/nginx-vor01300.conf
          DESTINATION ${CMAKE_INSTALL_DATADIR}/vor01300-server COMPONENT server)
  install(FILES docs/operations.md docs/protocol.md docs/fixtures.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/vor01300-server COMPONENT server OPTIONAL)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vor01300)
set(CPACK_PACKAGE_VENDOR "VOR")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VOR maintainers <vor-maintainers@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Aprovação de Atividades do Projeto (VOR01300)")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_COMPONENTS_ALL framework host screen server)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

set(_qt ">= 6.4")
set(CPACK_DEBIAN_FRAMEWORK_PACKAGE_NAME libvor-framework)
set(CPACK_COMPONENT_FRAMEWORK_DESCRIPTION "VOR screen framework: datasets, server connection, forms and controls")
set(CPACK_DEBIAN_FRAMEWORK_PACKAGE_DEPENDS
    "libqt6core6 (${_qt}), libqt6gui6 (${_qt}), libqt6widgets6 (${_qt}), libqt6network6 (${_qt}), libqt6sql6 (${_qt}), libqt6sql6-sqlite")
set(CPACK_DEBIAN_HOST_PACKAGE_NAME vorhost)
set(CPACK_COMPONENT_HOST_DESCRIPTION "VOR host application: login, main window and screen packages")
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "libvor-framework (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_SCREEN_PACKAGE_NAME vor01300-screen)
set(CPACK_COMPONENT_SCREEN_DESCRIPTION "Screen VOR01300 Aprovação de Atividades do Projeto, for vorhost")
set(CPACK_DEBIAN_SCREEN_PACKAGE_DEPENDS "libvor-framework (= ${PROJECT_VERSION}), vorhost (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME vor01300-server)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "Application server VOR01300.rdmConcAtivProje (JSON-RPC over HTTP/HTTPS)")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS
    "libqt6core6 (${_qt}), libqt6sql6 (${_qt}), libqt6sql6-sqlite, libsqlite3-0, libssl3, libzstd1, zlib1g, adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "libqt6sql6-psql, postgresql")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/server/postinst
    ${PROJECT_SOURCE_DIR}/packaging/server/prerm
    ${PROJECT_SOURCE_DIR}/packaging/server/postrm
    ${PROJECT_SOURCE_DIR}/packaging/server/conffiles)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

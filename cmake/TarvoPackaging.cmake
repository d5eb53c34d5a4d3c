# Install rules and the three Debian packages: "kserver" (the headless server, kserverctl, the
# bundled world and the systemd unit; no desktop libraries), "kserver-gui" (the server's operator
# windows) and "tarvo3d" (the client, tarvo-bot, the client's assets and its desktop entry).
include(GNUInstallDirs)

# Packaging needs only the programs: neither `cpack` nor the package test waits for the tests and
# benchmarks to build (`make package` builds the programs first).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(TARVO_PACKAGE_PREFIX /usr CACHE PATH "Where the Debian packages install to")
set(TARVO_DEBIAN_REVISION 1 CACHE STRING "Debian revision of the packages")

foreach(program kserver kserver-gui kserverctl tarvo3d tarvo-bot)
  if(NOT TARGET ${program})
    message(FATAL_ERROR "packaging: the program ${program} is not part of the build")
  endif()
endforeach()

install(TARGETS kserver kserverctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kserver)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/world/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kserver/world COMPONENT kserver)
install(TARGETS kserver-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kserver_gui)
# The game and its bots go where Debian keeps games; the client still finds ../share/tarvo3d.
install(TARGETS tarvo3d tarvo-bot RUNTIME DESTINATION games COMPONENT tarvo3d)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/client/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo3d COMPONENT tarvo3d
        PATTERN tarvo3d.png EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/dist/desktop/tarvo3d.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tarvo3d)
install(FILES ${CMAKE_SOURCE_DIR}/data/client/tarvo3d.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps COMPONENT tarvo3d)
install(FILES ${CMAKE_SOURCE_DIR}/dist/desktop/org.tarvo3d.Tarvo3D.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT tarvo3d)

# The unit names the program where this installation puts it: /usr/bin in the package,
# /usr/local/bin after `cmake --install --prefix /usr/local`. Written at install time, when the
# prefix is known.
set(TARVO_UNIT_FILE ${CMAKE_BINARY_DIR}/dist/kserver@.service)
install(CODE "
  set(TARVO_UNIT_BIN_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(TARVO_UNIT_WORLD_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/kserver/world\")
  configure_file(\"${CMAKE_SOURCE_DIR}/dist/systemd/kserver@.service.in\" \"${TARVO_UNIT_FILE}\"
                 @ONLY)
" COMPONENT kserver)
install(FILES ${TARVO_UNIT_FILE} DESTINATION lib/systemd/system COMPONENT kserver)

# Documents every package carries: the copyright and the Debian changelog, compressed as Debian's
# tools do (no name or time in the gzip header, so the packages build reproducibly).
find_program(TARVO_GZIP gzip REQUIRED)
set(TARVO_DEB_VERSION ${PROJECT_VERSION}-${TARVO_DEBIAN_REVISION})
foreach(component kserver kserver_gui tarvo3d)
  string(REPLACE "_" "-" package ${component})
  set(PACKAGE ${package})
  set(VERSION ${TARVO_DEB_VERSION})
  set(doc ${CMAKE_BINARY_DIR}/dist/doc/${package})
  configure_file(${CMAKE_SOURCE_DIR}/dist/debian/doc/changelog.Debian.in ${doc}/changelog.Debian
                 @ONLY)
  execute_process(COMMAND ${TARVO_GZIP} -9nf ${doc}/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${CMAKE_SOURCE_DIR}/dist/debian/doc/copyright ${doc}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  install(FILES ${CMAKE_SOURCE_DIR}/dist/debian/lintian/${package}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component})
endforeach()

# A manual page per program, made from its --help by help2man when the package is assembled.
find_program(TARVO_HELP2MAN help2man)
set(TARVO_MAN_DIR ${CMAKE_BINARY_DIR}/dist/man)
function(tarvo_install_man program section component summary)
  if(NOT TARVO_HELP2MAN)
    message(WARNING "packaging: help2man is missing, so ${program} gets no manual page "
                    "(scripts/setup.sh installs it)")
    return()
  endif()
  set(page ${TARVO_MAN_DIR}/${program}.${section})
  install(CODE "
    file(MAKE_DIRECTORY \"${TARVO_MAN_DIR}\")
    execute_process(
      COMMAND \${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              ${TARVO_HELP2MAN} --no-info --section=${section} \"--name=${summary}\"
              --version-string=${PROJECT_VERSION} \"--output=${page}\" \"$<TARGET_FILE:${program}>\"
      COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${TARVO_GZIP} -9nf \"${page}\" COMMAND_ERROR_IS_FATAL ANY)
  " COMPONENT ${component})
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT ${component})
endfunction()
tarvo_install_man(kserver 1 kserver "game server for Tarvo3D worlds")
tarvo_install_man(kserverctl 1 kserver "remote control of a running kserver")
tarvo_install_man(kserver-gui 1 kserver_gui "game server for Tarvo3D worlds, with operator windows")
tarvo_install_man(tarvo3d 6 tarvo3d "online 3D world client")
tarvo_install_man(tarvo-bot 6 tarvo3d "headless players for tests and load")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo3d)
set(CPACK_PACKAGE_VENDOR "Tarvo3D")
set(CPACK_PACKAGE_CONTACT "Tarvo3D developers <dev@tarvo3d.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TARVO_DEBIAN_REVISION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${TARVO_PACKAGE_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL kserver kserver_gui tarvo3d)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the programs themselves; the rest is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_KSERVER_PACKAGE_NAME kserver)
set(CPACK_DEBIAN_KSERVER_PACKAGE_SECTION net)
# Debian's control file wants the long description in lines of at most 80 characters (CPack
# indents each line by one space).
set(CPACK_COMPONENT_KSERVER_DESCRIPTION "game server for Tarvo3D worlds
The kserver game server without windows, the kserverctl remote-control
client, a bundled world and the systemd unit kserver@NAME that serves one
world per instance. The operator windows are in kserver-gui.")
# adduser makes the service's user (deb-systemd-invoke, which stops and restarts the instances,
# is essential).
set(CPACK_DEBIAN_KSERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_KSERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/dist/debian/kserver/postinst ${CMAKE_SOURCE_DIR}/dist/debian/kserver/prerm
    ${CMAKE_SOURCE_DIR}/dist/debian/kserver/postrm)
set(CPACK_DEBIAN_KSERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_KSERVER_GUI_PACKAGE_NAME kserver-gui)
set(CPACK_DEBIAN_KSERVER_GUI_PACKAGE_SECTION net)
set(CPACK_COMPONENT_KSERVER_GUI_DESCRIPTION "operator windows for the Tarvo3D game server
kserver-gui runs the kserver game server from a start dialog and the system
tray, with windows for the accounts, the players and the levels; kserver
without --headless starts it.")
# The windowed server needs Qt's platform plugins, and the server package for the world.
set(CPACK_DEBIAN_KSERVER_GUI_PACKAGE_DEPENDS "kserver (= ${TARVO_DEB_VERSION}), qt6-qpa-plugins")

set(CPACK_DEBIAN_TARVO3D_PACKAGE_NAME tarvo3d)
set(CPACK_DEBIAN_TARVO3D_PACKAGE_SECTION games)
set(CPACK_COMPONENT_TARVO3D_DESCRIPTION "online 3D world client with chat
The Tarvo3D client (a 3D world to walk, run and jump in, and chat with the
other players) and tarvo-bot, headless players for tests and load, with the
client's default meshes and pictures.")
set(CPACK_DEBIAN_TARVO3D_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_TARVO3D_PACKAGE_RECOMMENDS "libgl1-mesa-dri")

include(CPack)

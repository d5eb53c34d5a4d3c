# Install rules and the two Debian packages: "kserver" (the server, kserverctl, the bundled world
# and the systemd unit) and "tarvo3d" (the client, tarvo-bot and the client's assets).
include(GNUInstallDirs)

# Packaging needs only the four programs: neither `cpack` nor the package test waits for the tests
# and benchmarks to build (`make package` builds the programs first).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(TARVO_PACKAGE_PREFIX /usr CACHE PATH "Where the Debian packages install to")

foreach(program kserver kserverctl tarvo3d tarvo-bot)
  if(NOT TARGET ${program})
    message(FATAL_ERROR "packaging: the program ${program} is not part of the build")
  endif()
endforeach()

install(TARGETS kserver kserverctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kserver)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/world/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kserver/world COMPONENT kserver)
install(TARGETS tarvo3d tarvo-bot RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tarvo3d)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/client/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo3d COMPONENT tarvo3d)

# The unit names absolute paths: those of the package, not of a `cmake --install` elsewhere.
set(TARVO_UNIT_BIN_DIR ${TARVO_PACKAGE_PREFIX}/${CMAKE_INSTALL_BINDIR})
set(TARVO_UNIT_WORLD_DIR ${TARVO_PACKAGE_PREFIX}/${CMAKE_INSTALL_DATADIR}/kserver/world)
configure_file(${CMAKE_SOURCE_DIR}/dist/systemd/kserver@.service.in
               ${CMAKE_BINARY_DIR}/dist/kserver@.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/dist/kserver@.service
        DESTINATION lib/systemd/system COMPONENT kserver)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo3d)
set(CPACK_PACKAGE_VENDOR "Tarvo3D")
set(CPACK_PACKAGE_CONTACT "Tarvo3D developers <dev@tarvo3d.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${TARVO_PACKAGE_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL kserver tarvo3d)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
# Library dependencies come from the programs themselves; the rest is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_KSERVER_PACKAGE_NAME kserver)
set(CPACK_COMPONENT_KSERVER_DESCRIPTION
    "Game server for Tarvo3D worlds\n The kserver game server (headless or with its operator windows), the kserverctl remote-control client, a bundled world and the systemd unit kserver@NAME.")
# The windowed server needs Qt's platform plugins; adduser makes the service's user.
set(CPACK_DEBIAN_KSERVER_PACKAGE_DEPENDS "qt6-qpa-plugins, adduser")
set(CPACK_DEBIAN_KSERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/dist/debian/kserver/postinst ${CMAKE_SOURCE_DIR}/dist/debian/kserver/postrm)
set(CPACK_DEBIAN_KSERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_TARVO3D_PACKAGE_NAME tarvo3d)
set(CPACK_COMPONENT_TARVO3D_DESCRIPTION
    "Tarvo3D game client and bots\n The tarvo3d client (3D world, walking, chat) and tarvo-bot, headless players for tests and load, with the client's default meshes and pictures.")
set(CPACK_DEBIAN_TARVO3D_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_TARVO3D_PACKAGE_RECOMMENDS "libgl1-mesa-dri")

include(CPack)

# Installation (cmake --install) and the packages: the Debian package on Linux
# (cpack -G DEB), an NSIS installer on Windows, a drag-and-drop disk image on
# macOS.

install(FILES ${PROJECT_SOURCE_DIR}/data/language.lng DESTINATION ${RLVEXA_INSTALL_DATADIR})
# The J1939 parameter catalogue, read from beside the language file.
install(FILES ${PROJECT_SOURCE_DIR}/data/j1939.can DESTINATION ${RLVEXA_INSTALL_DATADIR})

set(CPACK_PACKAGE_NAME rlvexa-configurator)
set(CPACK_PACKAGE_VENDOR Kelvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configurator of the Kelvane RLvexa vehicle tracker")

if(WIN32)
  # The classic layout: the language file and the catalogue beside the
  # executable (RLVEXA_INSTALL_DATADIR is the program folder). The Qt DLLs and
  # plug-ins are put beside it by windeployqt before cpack runs (README).
  set(CPACK_GENERATOR NSIS)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY RLvexa)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_DISPLAY_NAME "RLvexa configurator")
  set(CPACK_NSIS_PACKAGE_NAME "RLvexa configurator ${PROJECT_VERSION}")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  # The Start-menu entry.
  set(CPACK_PACKAGE_EXECUTABLES rlvexa-configurator "RLvexa configurator")
  set(CPACK_NSIS_MENU_LINKS "${CMAKE_INSTALL_BINDIR}/rlvexa-configurator.exe" "RLvexa configurator")
  include(CPack)
  return()
elseif(APPLE)
  # The application bundle (its data files inside, beside the executable) on
  # a disk image the user drags to Applications. macdeployqt fills the bundle
  # with Qt's frameworks before cpack runs (README).
  set(CPACK_GENERATOR DragNDrop)
  set(CPACK_DMG_VOLUME_NAME "RLvexa")
  include(CPack)
  return()
endif()

# udev reads its rules from <prefix>/lib/udev/rules.d when the prefix is /usr
# (the package's); other prefixes need the rule copied by hand (README).
set(RLVEXA_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where the tracker's udev rule is installed")
install(FILES ${PROJECT_SOURCE_DIR}/data/linux/60-rlvexa.rules DESTINATION ${RLVEXA_UDEV_RULES_DIR})
# The unit of rlvexa-services, installed but not enabled, and an example of
# its settings file (/etc/default/rlvexa-services).
set(RLVEXA_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING "Where the services' systemd unit is installed")
install(FILES ${PROJECT_SOURCE_DIR}/data/linux/rlvexa-services.service DESTINATION ${RLVEXA_SYSTEMD_UNIT_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/linux/rlvexa-services.default
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rlvexa-configurator/examples)
install(FILES ${PROJECT_SOURCE_DIR}/data/linux/rlvexa-configurator.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/linux/rlvexa-configurator.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
include(${PROJECT_SOURCE_DIR}/docs/man/Man.cmake)

# Debian policy: the copyright in machine-readable form and the changelog
# (gzipped, as the man pages) in /usr/share/doc/<package>.
if(NOT WIN32)
  set(RLVEXA_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
  add_custom_command(
    OUTPUT ${RLVEXA_DOC_DIR}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${RLVEXA_DOC_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/data/linux/changelog ${RLVEXA_DOC_DIR}/changelog
    COMMAND gzip -9nf ${RLVEXA_DOC_DIR}/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/data/linux/changelog
    VERBATIM)
  add_custom_target(rlvexa-changelog ALL DEPENDS ${RLVEXA_DOC_DIR}/changelog.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/data/linux/copyright ${RLVEXA_DOC_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rlvexa-configurator)
endif()

# One string (a CMake list would put ";" into the text), wrapped for dpkg.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Finds the tracker on its USB serial port or its GPRS link, reads, edits\n"
       "and writes its configuration, from a window, an automation mode or the\n"
       "command line. Comes with a tracker simulator, the configuration store and\n"
       "update service, and a udev rule that lets the logged-in user open the\n"
       "tracker's port and keeps ModemManager away from it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "RLvexa developers <dev@rlvexa.example>")
# Stripped programs. Their debug symbols are not shipped: CPack's -dbgsym
# package lacks a copyright and lists absolute paths in its md5sums (lintian
# errors); the build folder's programs keep their symbols.
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# Dependencies from the shared libraries the programs link (Qt 6 Core, Gui,
# Widgets, Network, SerialPort, Svg; libudev; the C++ runtime).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/linux/postinst ${PROJECT_SOURCE_DIR}/data/linux/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

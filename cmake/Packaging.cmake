# Desktop integration and the Debian package: `cpack -G DEB` in a build folder.

install(FILES ${PROJECT_SOURCE_DIR}/resources/tarnveil.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/io.github.tarnveil.Tarnveil.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_PACKAGE_NAME tarnveil)
set(CPACK_PACKAGE_VENDOR "Tarnveil developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "Tarnveil lists the WAV logs a broadcast logger records on its drive, plays\n"
  "the one the operator picks on a chosen sound card and lets them move about\n"
  "in it: a position slider over the whole file or a travelling window,\n"
  "fast-forward and rewind by the window, repeat, replay of the last seconds,\n"
  "a clock and a level meter. It also plays the log still being recorded.\n"
  "The package includes tarnveil-logger, a logger simulator for demos.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Tarnveil developers <tarnveil@users.noreply.github.com>")
set(CPACK_PACKAGE_INSTALL_DIRECTORY tarnveil)
set(CPACK_STRIP_FILES ON)
# The program finds its data relative to its own folder, so the package
# installs into /usr whatever prefix the build was configured with.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/tarnveil/tarnveil")
# Library dependencies are read off the binaries by dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no library link shows them: the Qt platform plugins
# (xcb, wayland) and fonts for the windows.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core | fonts-liberation2")
# Sound goes through the sound server when there is one, via ALSA's pulse plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, libasound2-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cifs-utils, nfs-common")

include(CPack)

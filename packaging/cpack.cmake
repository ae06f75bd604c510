# The Debian package (`make package`): everything `cmake --install` puts in place, under
# /usr, with the library dependencies taken from the binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME touchcal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "touchcal developers <touchcal@example.org>")
set(TOUCHCAL_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}" CACHE STRING
    "The Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOUCHCAL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "calibrate and test resistive touch panels on a production line")
set(CPACK_PACKAGE_DESCRIPTION
    "touchcal reads a USB HID touch controller's table, judges every line of
the panel, writes the calibration into the controller and prints the unit's
label. An operator drives it from its window, or a test station over TCP; a
line PC without a display runs it headless as the service touchcal.service.
.
The package holds the program, the station client touchcal-station, the udev
rule that gives the operator and the group touchcal access to the controller,
the service (not enabled) with its user, a desktop entry and manual pages.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beyond the libraries: the window's platform plugins, and what applies the sysusers file.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, systemd | systemd-standalone-sysusers")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

# The Debian package lyx-telemetry, built by CPack from the install rules: whatever any part
# installs lands in it (every install component, one package). Build it with
# scripts/package.sh, which configures a Release build with the prefix /usr.
#
# Included last by the top CMakeLists.txt, after every part has added its install rules and
# its lyx_package_depends() entries.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lyx-telemetry)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lyx telemetry maintainers")
set(CPACK_PACKAGE_CONTACT "Lyx telemetry maintainers <maintainers@lyx-telemetry.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PC side of the Lyx wireless telemetry network")
set(CPACK_PACKAGE_DESCRIPTION
    "Battery-powered acquisition modules send their values by radio to a base\n"
    "station on USB or a serial port. This package holds the driver for base\n"
    "stations, the DataProvider component that programs create by its\n"
    "programmatic identifier, the viewer LyxGlance, the frame monitor lyx-monitor\n"
    "and the base-station simulator lyx-basestation-sim, with headers and\n"
    "pkg-config files for programs of one's own.\n"
    "\n"
    "It gives the user at the seat access to USB base stations (udev) and\n"
    "registers the component for every user of the machine.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# Staged with DESTDIR under the real prefix, so install-time steps know the final paths.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

# Dependencies from the binaries (dpkg-shlibdeps); the project's own libraries are in the
# package, in its private folder. Only what no ELF link shows is named by the parts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/${LYX_INSTALL_LIBDIR})
get_property(lyx_depends GLOBAL PROPERTY LYX_PACKAGE_DEPENDS)
list(REMOVE_DUPLICATES lyx_depends)
string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_DEPENDS "${lyx_depends}")

set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The copyright file and the changelog every Debian package carries, dated by the build
# (SOURCE_DATE_EPOCH when set: scripts/package.sh sets the last commit's time).
set(lyx_docdir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
string(TIMESTAMP LYX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP LYX_COPYRIGHT_YEAR "%Y" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in
    ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
    ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${LYX_GZIP} -9n -c ${PROJECT_BINARY_DIR}/packaging/changelog
            > ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
    COMMENT "Compressing the package changelog")
add_custom_target(lyx_package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright
    ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${lyx_docdir})

include(CPack)

# `make package` (cpack -G DEB in a Release build): one Debian package with the three
# programs, their man pages, the desktop entry and its icons. Shared-library
# dependencies come from dpkg-shlibdeps.
set(KORDEL_MAINTAINER "Kordel updater developers <kordel-dev@example.org>" CACHE STRING
    "The package's Maintainer field and the changelog's signer: \"Name <address>\"")

# Every Debian package carries its copyright file (machine-readable, with the text of
# LICENSE) and, compressed, its changelog. The dates follow SOURCE_DATE_EPOCH when it
# is set, for reproducible packages.
string(REGEX REPLACE "\n" "\n " KORDEL_DEB_LICENSE_TEXT " ${KORDEL_LICENSE_BODY}")
string(REGEX REPLACE "\n \n" "\n .\n" KORDEL_DEB_LICENSE_TEXT "${KORDEL_DEB_LICENSE_TEXT}")
configure_file(resources/deb/copyright.in deb/copyright @ONLY)
string(TIMESTAMP KORDEL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(resources/deb/changelog.in deb/changelog @ONLY)
add_custom_command(
  OUTPUT deb/changelog.gz
  COMMAND sh -c [[gzip -9n -c "$1" > "$2"]] sh deb/changelog deb/changelog.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog
  VERBATIM)
add_custom_target(kordel_changelog ALL DEPENDS deb/changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deb/copyright ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kordel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KORDEL_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "Kordel updater developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the Kordel module of Halvern instruments")
# The extended description; CPack puts the summary above it, indents it, and turns
# the empty line into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Writes the firmware image built into the programs into the Kordel programming
module of a Halvern instrument over a serial port at 4407315 bit/s.

kordel-update is the window: port list, START, progress and error dialog.
kordel-flash is the command line for scripts and production lines; it updates
several modules in parallel and can write JSON. kordel-sim simulates a module
on a pseudo-terminal, for trying the updaters without hardware.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)

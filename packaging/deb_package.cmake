# The Debian package (scripts/package: cpack -G DEB). Its dependencies come from the libraries the
# programs link (dpkg-shlibdeps), never from a list written here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltra-configure)
set(CPACK_PACKAGE_VENDOR Veltra)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "A configuration tool for Veltra vehicle tracking terminals, for
service engineers on the bench: it finds the tracker on a serial port,
reads its whole configuration, edits it in a tree driven by a parameter
description, writes changes back and uploads firmware over XModem.
Includes veltra_cli, the same engine on the command line, and
veltra_devsim, a simulated tracker on a pseudo-terminal.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
# The package's paths are those of an installation with the prefix /usr, /etc included: installed
# with DESTDIR, so that install_layout.cmake sees the prefix the package will have.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cpack_project.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Veltra Configure developers <veltra-configure@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not a library the programs link: Qt's own Russian texts (file dialogs, a text field's menu), which
# the windows use when the system has them; without them those few texts stay English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
# The settings files in /etc are the administrator's: dpkg keeps their changes on upgrades.
set(conffiles ${CMAKE_CURRENT_BINARY_DIR}/conffiles)
set(conffiles_text)
foreach(file IN LISTS VELTRA_SETTINGS_FILES)
    get_filename_component(name ${file} NAME)
    string(APPEND conffiles_text "/etc/veltra/${name}\n")
endforeach()
file(WRITE ${conffiles} "${conffiles_text}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${conffiles})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

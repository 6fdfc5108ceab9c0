# Runs at install time (cmake --install, cpack), when the prefix and DESTDIR are known: the settings
# files and the relative links that let the programs in lib/veltra/ find their files the way they
# find them beside themselves in the build. packaging/CMakeLists.txt sets the VELTRA_* folders.

# A folder of the installation: as given when absolute, otherwise under the prefix.
function(veltra_installed_dir var dir)
    if(NOT IS_ABSOLUTE "${dir}")
        set(dir "${CMAKE_INSTALL_PREFIX}/${dir}")
    endif()
    set(${var} "${dir}" PARENT_SCOPE)
endfunction()

# GNUInstallDirs' rule for the configuration folder, applied to the prefix given at install time
# rather than the one of the configure step: /etc for the prefixes / and /usr, else <prefix>/etc.
function(veltra_sysconf_dir var dir)
    if(NOT IS_ABSOLUTE "${dir}" AND CMAKE_INSTALL_PREFIX MATCHES "^/(usr/?)?$")
        set(dir "/${dir}")
    endif()
    veltra_installed_dir(dir "${dir}")
    set(${var} "${dir}" PARENT_SCOPE)
endfunction()

# The first folder of a path: usr for /usr/lib/veltra.
function(veltra_top_dir var dir)
    string(REGEX REPLACE "^/([^/]*).*" "\\1" top "${dir}")
    set(${var} "${top}" PARENT_SCOPE)
endfunction()

# Links in `linkDir` to the files of `targetDir` named by the remaining arguments (paths or names),
# each pointing by a relative path so that the tree stays whole wherever DESTDIR puts it. The Debian
# package (cpack sets VELTRA_PACKAGE_LINKS) lies where it is installed, and there a link into another
# top-level folder (/usr to /etc) is absolute, as Debian's rules ask. A macro: the manifest is the
# caller's variable.
macro(veltra_install_links linkDir targetDir)
    veltra_top_dir(_veltra_link_top "${linkDir}")
    veltra_top_dir(_veltra_target_top "${targetDir}")
    foreach(_veltra_file ${ARGN})
        get_filename_component(_veltra_name "${_veltra_file}" NAME)
        file(RELATIVE_PATH _veltra_relative "${linkDir}" "${targetDir}/${_veltra_name}")
        if(DEFINED ENV{VELTRA_PACKAGE_LINKS} AND NOT _veltra_link_top STREQUAL _veltra_target_top)
            set(_veltra_relative "${targetDir}/${_veltra_name}")
        endif()
        message(STATUS "Installing: $ENV{DESTDIR}${linkDir}/${_veltra_name} -> ${_veltra_relative}")
        file(MAKE_DIRECTORY "$ENV{DESTDIR}${linkDir}")
        file(CREATE_LINK "${_veltra_relative}" "$ENV{DESTDIR}${linkDir}/${_veltra_name}" SYMBOLIC)
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${linkDir}/${_veltra_name}")
    endforeach()
endmacro()

veltra_installed_dir(_veltra_bin "${VELTRA_BIN_DIR}")
veltra_installed_dir(_veltra_programs "${VELTRA_PROGRAM_DIR}")
veltra_installed_dir(_veltra_data "${VELTRA_DATA_DIR}")
veltra_sysconf_dir(_veltra_etc "${VELTRA_SYSCONF_DIR}")

file(INSTALL DESTINATION "${_veltra_etc}" TYPE FILE FILES ${VELTRA_SETTINGS_FILES})
veltra_install_links("${_veltra_bin}" "${_veltra_programs}" ${VELTRA_PROGRAMS})
veltra_install_links("${_veltra_programs}" "${_veltra_data}" ${VELTRA_DATA_FILES})
veltra_install_links("${_veltra_programs}" "${_veltra_etc}" ${VELTRA_SETTINGS_FILES})

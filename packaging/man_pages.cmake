# Manual pages of the programs, written by help2man from their own --help and --version
# so that the texts exist once. Made only where the programs can be run as they ship.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
    message(STATUS "help2man not found: no manual pages (scripts/setup installs it)")
    return()
endif()
if(VELTRA_SANITIZE)
    # A sanitizer build is for the tests, never packaged; its programs would also have to pass the
    # sanitizer's checks just to print their help.
    message(STATUS "Sanitizer build: no manual pages")
    return()
endif()

set(VELTRA_MAN_PAGES)
function(veltra_man_page program name)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${HELP2MAN} --no-info --section=1 --name=${name} --output=${page} $<TARGET_FILE:${program}>
        COMMAND gzip -9nkf ${page}
        DEPENDS ${program}
        COMMENT "Manual page of ${program}"
        VERBATIM)
    set(VELTRA_MAN_PAGES ${VELTRA_MAN_PAGES} ${page}.gz PARENT_SCOPE)
endfunction()
veltra_man_page(veltra_configure "configure Veltra vehicle trackers in a window")
veltra_man_page(veltra_cli "configure Veltra vehicle trackers from the command line")
veltra_man_page(veltra_station "provision many Veltra vehicle trackers at once")
veltra_man_page(veltra_fleet "publish jobs to Veltra provisioning stations and collect their records")
veltra_man_page(veltra_devsim "play a Veltra vehicle tracker on a pseudo-terminal")

add_custom_target(veltra_man_pages ALL DEPENDS ${VELTRA_MAN_PAGES})
install(FILES ${VELTRA_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package "kqvorlink" for site hosts: kqvorlink-cli and kqunit in /usr/bin, their
# manual pages (made from their --help by help2man), the copyright file and the changelog.
#   cmake --build build/release --target package  ->  kqvorlink_<version>_amd64.deb
include(GNUInstallDirs)

install(TARGETS kqvorlink-cli kqunit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(KQ_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(KQ_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/kqvorlink)
find_program(KQ_HELP2MAN help2man)
find_program(KQ_GZIP gzip REQUIRED)

# A manual page per program: its --help (with each command's) and --version, and the sections of
# the include file.
set(kq_pages)
set(kq_commands_of_kqvorlink-cli check update manifest verify)
set(kq_commands_of_kqunit)
if(KQ_HELP2MAN)
    foreach(program kqvorlink-cli kqunit)
        set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
        set(include_file ${KQ_PACKAGING_DIR}/man/${program}.h2m)
        set(help_script ${KQ_PACKAGING_DIR}/man/command_help.sh)
        string(JOIN " " help_command ${help_script} $<TARGET_FILE:${program}>
            ${kq_commands_of_${program}})
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND ${KQ_HELP2MAN} --no-info --no-discard-stderr --include=${include_file}
                    --output=${page} ${help_command}
            COMMAND ${KQ_GZIP} -9nf ${page}
            DEPENDS ${program} ${include_file} ${help_script}
            COMMENT "Manual page of ${program}"
            VERBATIM)
        list(APPEND kq_pages ${page}.gz)
    endforeach()
    add_custom_target(manpages ALL DEPENDS ${kq_pages})
    install(FILES ${kq_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(WARNING "help2man not found: the package would lack the manual pages")
endif()

# Debian's documents: a native package keeps its history in changelog.gz.
configure_file(${KQ_PACKAGING_DIR}/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    COMMAND ${KQ_GZIP} -9nkf ${CMAKE_BINARY_DIR}/debian/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
    VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${KQ_PACKAGING_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${KQ_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kqvorlink)
set(CPACK_PACKAGE_VERSION ${KQ_VERSION})
set(CPACK_PACKAGE_VENDOR "KQ Systems")
set(CPACK_PACKAGE_CONTACT "KQ Systems <support@kq-systems.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "update KQ-A2/KQ-B2 camera control units from a site host")
# The summary above is the synopsis line; this is the extended description under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kqvorlink-cli updates many networked camera control units at once from one
update set, or checks their model and version first, over FTP and telnet,
and writes a JSON report of the run.
.
kqunit plays simulated units on loopback addresses, for rehearsals, tests
and training.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

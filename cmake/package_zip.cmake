# The Windows archive for service laptops: both programs, a README for the service person and the
# files' SHA-256 sums, in one folder KQVorlink-<version>-win32.
#   cmake --build build/windows --target package  ->  KQVorlink-<version>-win32.zip
set(kq_readme ${CMAKE_BINARY_DIR}/README.txt)
set(kq_sums ${CMAKE_BINARY_DIR}/SHA256SUMS)
# Notepad of older Windows shows a file with bare line feeds as one line.
configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/README.txt.in ${kq_readme} @ONLY
    NEWLINE_STYLE CRLF)

# The programs are stripped at link time, so the sums are those of the files that go in.
add_custom_command(OUTPUT ${kq_sums}
    COMMAND sha256sum KQVorlink.exe kqvorlink-cli.exe README.txt > SHA256SUMS
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS KQVorlink kqvorlink-cli ${kq_readme}
    VERBATIM)
add_custom_target(checksums ALL DEPENDS ${kq_sums})

install(TARGETS KQVorlink kqvorlink-cli RUNTIME DESTINATION .)
install(FILES ${kq_readme} ${kq_sums} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME KQVorlink)
set(CPACK_PACKAGE_VERSION ${KQ_VERSION})
set(CPACK_PACKAGE_FILE_NAME KQVorlink-${KQ_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)

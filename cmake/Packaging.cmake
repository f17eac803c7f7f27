# The Debian package: cmake --build build --target package gives build/pellwick_<version>_<arch>.deb
# with the program, the headless runner, the simulator, the desktop entry, the icon and the
# manual pages. Its dependencies come from the binaries' shared libraries (dpkg-shlibdeps).
include(GNUInstallDirs)

set(PELLWICK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/pellwick)
find_program(PELLWICK_GZIP gzip REQUIRED)
set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
    COMMAND ${PELLWICK_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(pellwick_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${PELLWICK_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellwick)
set(CPACK_PACKAGE_VENDOR "Quarrow, Inc.")
set(CPACK_PACKAGE_CONTACT "Pellwick developers <pellwick@quarrow.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "load files into an embedded device over a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "Runs upload scripts that send commands to a device on an RS-232 line, wait\n\
for its prompt, error and result answers, upload files as a header line plus\n\
paced raw blocks, verify each file and log everything. With a terminal window,\n\
a settings dialog, status lights for the serial lines, a headless runner\n\
for production lines and CI (pellwick-run) and a device simulator\n\
(pellwick-devsim).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window program needs a platform plugin and the terminal a fixed-width font; neither is a
# shared library that dpkg-shlibdeps could find.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

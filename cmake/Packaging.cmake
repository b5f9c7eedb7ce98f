# The CMake package that find_package(Quarvel) reads, and the Debian package of the tool
# (`cpack -G DEB` in the build tree).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUARVEL_CMAKE_DIR "${CMAKE_INSTALL_DATADIR}/cmake/Quarvel")
file(RELATIVE_PATH QUARVEL_BIN_FROM_CMAKE_DIR "/prefix/${QUARVEL_CMAKE_DIR}"
     "/prefix/${CMAKE_INSTALL_BINDIR}")
configure_file(cmake/QuarvelConfig.cmake.in QuarvelConfig.cmake @ONLY)
write_basic_package_version_file(QuarvelConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES "${CMAKE_BINARY_DIR}/QuarvelConfig.cmake" "${CMAKE_BINARY_DIR}/QuarvelConfigVersion.cmake"
        cmake/QuarvelAddInstaller.cmake
    DESTINATION "${QUARVEL_CMAKE_DIR}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarvel)
set(CPACK_PACKAGE_VENDOR Quarvel)
set(CPACK_PACKAGE_CONTACT "Quarvel developers <quarvel@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-extracting installers for 32-bit Windows, built on Linux")
set(CPACK_PACKAGE_DESCRIPTION
    "quarvel packs files, or a whole application tree, into a small self-extracting installer for every 32-bit Windows from 95 and NT 4.0 to 11, and inspects and extracts such installers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The run-time libraries the program links, as dpkg-shlibdeps finds them: nothing of the build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "osslsigncode, wine")
include(CPack)

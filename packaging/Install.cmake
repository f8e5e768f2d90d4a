# Installing the program and making a Debian package of it:
#   cmake --install build [--prefix /usr]      (DESTDIR= for a staging root)
#   (cd build && cpack -G DEB)
if(WIN32)
    # The Windows installer and ZIP: everything in one folder.
    include(${CMAKE_CURRENT_LIST_DIR}/InstallWindows.cmake)
    return()
endif()
include(GNUInstallDirs)

set(RX_SHARE ${CMAKE_INSTALL_DATADIR}/rivuletrix)

install(TARGETS rivuletrix-cli pxr-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET rivuletrix)
    install(TARGETS rivuletrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The seed databases a first start copies into the user's working folder.
install(FILES ${CMAKE_BINARY_DIR}/RX_Records.bak ${CMAKE_BINARY_DIR}/RX_Templates.bak
        DESTINATION ${RX_SHARE})
# The program looks for its manual in <prefix>/share/rivuletrix/manual.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/manual DESTINATION ${RX_SHARE})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/rivuletrix.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/rivuletrix.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rivuletrix)
# Debian keeps the package changelog compressed, without a time stamp.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/changelog
            ${CMAKE_BINARY_DIR}/changelog
    COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/changelog
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rivuletrix)

set(CPACK_PACKAGE_NAME rivuletrix)
set(CPACK_PACKAGE_VENDOR "Rivuletrix")
set(CPACK_PACKAGE_CONTACT "Rivuletrix maintainers <rivuletrix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Infusion pump testing with PXR bench analyzers")
set(CPACK_PACKAGE_DESCRIPTION
    "Rivuletrix connects up to four PXR-8 and PXR2K analyzers over USB serial ports, runs flow, occlusion, PCA and template tests on their channels, draws live graphs and trumpet curves, and keeps test records with an index and printed reports. Includes rivuletrix-cli and the pxr-sim analyzer simulator.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries linked do not tell: the SQLite driver, the window
# system plugins and the font that stands in for Arial are loaded at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins, fonts-liberation2")
# A shared records index on a PostgreSQL server ("IndexServer=") needs Qt's
# PostgreSQL driver; benches on the database files do not.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql")
include(CPack)

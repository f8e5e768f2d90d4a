# Installing the Windows build and making its installer and ZIP:
#   (cd build-win && cpack -G NSIS && cpack -G ZIP)
# Programs, Qt's DLLs and plugins, the MinGW runtime, the manual and the seed
# databases all sit in one folder: the program finds its plugins, manual and
# seeds beside itself.
set(RX_DEST .)

install(TARGETS rivuletrix-cli RUNTIME DESTINATION ${RX_DEST})
if(TARGET rivuletrix)
    install(TARGETS rivuletrix RUNTIME DESTINATION ${RX_DEST})
endif()

set(rx_qt_modules Core Gui Sql SerialPort)
if(RIVULETRIX_GUI)
    list(APPEND rx_qt_modules Widgets PrintSupport)
endif()
foreach(m ${rx_qt_modules})
    install(FILES $<TARGET_FILE:Qt6::${m}> DESTINATION ${RX_DEST})
endforeach()

# Plugins Qt loads at run time: the window system, the SQLite driver, the
# native style and the icon and picture formats.
foreach(plugin QWindowsIntegrationPlugin:platforms QSQLiteDriverPlugin:sqldrivers
               QWindowsVistaStylePlugin:styles QICOPlugin:imageformats
               QJpegPlugin:imageformats QGifPlugin:imageformats)
    string(REPLACE ":" ";" parts ${plugin})
    list(GET parts 0 target)
    list(GET parts 1 folder)
    if(TARGET Qt6::${target})
        install(FILES $<TARGET_FILE:Qt6::${target}> DESTINATION ${RX_DEST}/${folder})
    elseif(folder STREQUAL "platforms" OR folder STREQUAL "sqldrivers")
        message(FATAL_ERROR "The Qt kit has no ${target}: the program cannot run without it")
    endif()
endforeach()

# The MinGW runtime the programs and Qt are linked with, from the kit.
get_target_property(rx_qtcore_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT rx_qtcore_dll)
    get_target_property(rx_qtcore_dll Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(rx_qt_bin ${rx_qtcore_dll} DIRECTORY)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    if(NOT EXISTS ${rx_qt_bin}/${dll})
        message(FATAL_ERROR "${dll} is not in ${rx_qt_bin}")
    endif()
    install(FILES ${rx_qt_bin}/${dll} DESTINATION ${RX_DEST})
endforeach()

# The seed databases a first start copies into the working folder.
install(FILES ${CMAKE_BINARY_DIR}/RX_Records.bak ${CMAKE_BINARY_DIR}/RX_Templates.bak
        DESTINATION ${RX_DEST})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/manual DESTINATION ${RX_DEST})
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${RX_DEST})

set(CPACK_PACKAGE_NAME Rivuletrix)
set(CPACK_PACKAGE_VENDOR "Rivuletrix")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Infusion pump testing with PXR bench analyzers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME rivuletrix-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Rivuletrix)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/packaging/copyright)
set(CPACK_STRIP_FILES ON)
# The Start-menu entry; the uninstaller is the NSIS generator's own.
set(CPACK_PACKAGE_EXECUTABLES rivuletrix Rivuletrix)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_INSTALLED_ICON_NAME rivuletrix.exe)
set(CPACK_NSIS_DISPLAY_NAME "Rivuletrix ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "Rivuletrix")
set(CPACK_NSIS_MENU_LINKS "manual/index.html" "Rivuletrix Manual")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# A 64-bit installer for a 64-bit program: it installs into the 64-bit
# Program Files, and runs where only 64-bit programs do (Wine without wine32).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_GENERATOR NSIS ZIP)
include(CPack)

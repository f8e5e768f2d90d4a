# Installs the build into a scratch root (DESTDIR) and checks that every file
# is where the desktop entry and the program look for it, then starts the
# installed program far enough to name its manual and seeds.
#   cmake -DBUILD=<build dir> -DROOT=<scratch root> -P CheckInstall.cmake
file(REMOVE_RECURSE "${ROOT}")
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${ROOT} ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr
    RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(usr "${ROOT}/usr")
foreach(f bin/rivuletrix bin/rivuletrix-cli bin/pxr-sim
          share/rivuletrix/RX_Records.bak share/rivuletrix/RX_Templates.bak
          share/rivuletrix/manual/index.html
          share/applications/rivuletrix.desktop
          share/icons/hicolor/scalable/apps/rivuletrix.svg
          share/doc/rivuletrix/README.md)
    if(NOT EXISTS "${usr}/${f}")
        message(FATAL_ERROR "not installed: /usr/${f}")
    endif()
endforeach()

# The desktop entry names an installed program and an installed icon.
file(STRINGS "${usr}/share/applications/rivuletrix.desktop" entry)
foreach(line IN LISTS entry)
    if(line MATCHES "^Exec=([^ ]+)")
        set(exec "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^Icon=(.+)$")
        set(icon "${CMAKE_MATCH_1}")
    endif()
endforeach()
if(NOT exec OR NOT EXISTS "${usr}/bin/${exec}" OR IS_DIRECTORY "${usr}/bin/${exec}")
    message(FATAL_ERROR "desktop entry runs '${exec}', which is not in /usr/bin")
endif()
file(GLOB icons "${usr}/share/icons/hicolor/*/apps/${icon}.*")
if(NOT icon OR NOT icons)
    message(FATAL_ERROR "desktop entry names icon '${icon}', which is not installed")
endif()
find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
    execute_process(COMMAND ${VALIDATE} "${usr}/share/applications/rivuletrix.desktop"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "desktop-file-validate: ${out}")
    endif()
endif()

# The installed program finds its manual and seeds from where it lies.
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                        "${usr}/bin/rivuletrix" --version
                WORKING_DIRECTORY "${ROOT}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installed rivuletrix --version failed (${rc}): ${err}")
endif()
foreach(expected "Version " "Manual: ${usr}/share/rivuletrix/manual/index.html"
                 "Seeds: ${usr}/share/rivuletrix")
    string(FIND "${out}" "${expected}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "installed rivuletrix --version does not say '${expected}':\n${out}")
    endif()
endforeach()
execute_process(COMMAND "${usr}/bin/rivuletrix-cli" --help RESULT_VARIABLE rc OUTPUT_QUIET
                ERROR_QUIET)
message(STATUS "installed into ${ROOT}: every file in place\n${out}")

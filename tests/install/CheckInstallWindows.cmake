# Installs the Windows build into a scratch folder, as the installer and the
# ZIP hold it, checks that every file is there, then starts both installed
# programs under Wine with only the DLLs and plugins beside them.
#   cmake -DBUILD=<build dir> -DROOT=<scratch folder> -DRUN=<wine-run.sh> -P CheckInstallWindows.cmake
file(REMOVE_RECURSE "${ROOT}")
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${ROOT}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

foreach(f rivuletrix.exe rivuletrix-cli.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll
          Qt6PrintSupport.dll Qt6Sql.dll Qt6SerialPort.dll
          libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll
          platforms/qwindows.dll sqldrivers/qsqlite.dll styles/qwindowsvistastyle.dll
          RX_Records.bak RX_Templates.bak manual/index.html README.md copyright)
    if(NOT EXISTS "${ROOT}/${f}")
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
if(EXISTS "${ROOT}/Qt6Test.dll")
    message(FATAL_ERROR "the test library is installed")
endif()

# Bare: no kit on the DLL or plugin path, the installed folder alone.
execute_process(COMMAND ${CMAKE_COMMAND} -E env RX_WINE_BARE=1 ${RUN} "${ROOT}/rivuletrix.exe" --version
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installed rivuletrix.exe --version failed (${rc}): ${err}")
endif()
foreach(expected "Version " "/install-check/manual/index.html" "Seeds: ")
    string(FIND "${out}" "${expected}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "installed rivuletrix.exe --version does not say '${expected}':\n${out}")
    endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E env RX_WINE_BARE=1 ${RUN} "${ROOT}/rivuletrix-cli.exe"
                        record show "${ROOT}/no-such.p8d"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(FIND "${err}" "no such file" at)
if(at EQUAL -1)
    message(FATAL_ERROR "installed rivuletrix-cli.exe did not run (${rc}): ${out}${err}")
endif()
message(STATUS "installed into ${ROOT}: every file in place\n${out}")

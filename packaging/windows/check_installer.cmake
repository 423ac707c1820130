# The installer under wine, in a prefix of its own: a silent install into a chosen folder puts the
# three programs at its top with their DLLs and plugins, registers the uninstaller, and the installed
# programs start; the silent uninstall removes the program's files and leaves a user's file alone.
#   -DWINE_RUN=build-windows/wine-run -DINSTALLER=...setup.exe -DWINE_PREFIX=folder
if(NOT EXISTS "${INSTALLER}")
    message(FATAL_ERROR "no ${INSTALLER}: cmake --build build-windows --target kv_installer makes it")
endif()
set(ENV{KV_WINEPREFIX} "${WINE_PREFIX}")
set(ENV{WINEPREFIX} "${WINE_PREFIX}")
# wine quotes an argument with a space, and setup takes /D=DIR unquoted: a folder without one.
set(folder "${WINE_PREFIX}/drive_c/KestroVar-Test")
file(REMOVE_RECURSE "${folder}")
function(wine expected)
    execute_process(COMMAND ${WINE_RUN} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                    TIMEOUT 120)
    if(NOT rc STREQUAL "${expected}")
        message(FATAL_ERROR "wine ${ARGN}: exit ${rc}, expected ${expected}\n${out}\n${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

wine(0 "${INSTALLER}" /S "/D=C:\\KestroVar-Test")
foreach(file kestrovar-link.exe kestrovar-cli.exe kestrovar-certificate.exe uninstall.exe qt.conf Qt6Core.dll
        libstdc++-6.dll libwinpthread-1.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll
        sqldrivers/qsqlite.dll)
    if(NOT EXISTS "${folder}/${file}")
        message(FATAL_ERROR "setup /S did not install ${file} into ${folder}")
    endif()
endforeach()
# The Start menu entry's working folder, where the window keeps comsetting.ini: writable, and left
# alone by the uninstaller.
set(workfolder "${WINE_PREFIX}/drive_c/users/Public/Documents/KestroVar Link")
if(NOT IS_DIRECTORY "${workfolder}")
    message(FATAL_ERROR "setup /S made no working folder ${workfolder} for the Start menu entry")
endif()
file(WRITE "${workfolder}/comsetting.ini" "port\n")
wine(0 reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KestroVarLink" /v UninstallString)
if(NOT out MATCHES "C:\\\\KestroVar-Test\\\\uninstall.exe")
    message(FATAL_ERROR "Apps & features has no uninstaller for C:\\KestroVar-Test:\n${out}")
endif()
wine(0 "${folder}/kestrovar-cli.exe" --version)
if(NOT out MATCHES "1\\.0\\.0")
    message(FATAL_ERROR "the installed kestrovar-cli.exe --version printed: ${out}")
endif()

file(WRITE "${folder}/my-unit.cal" "a user's file\n")
# The uninstaller copies itself to a temporary folder and runs from there: wait for wine to finish.
wine(0 "${folder}/uninstall.exe" /S)
execute_process(COMMAND wineserver -w)
foreach(file kestrovar-link.exe kestrovar-cli.exe Qt6Core.dll platforms/qwindows.dll uninstall.exe)
    if(EXISTS "${folder}/${file}")
        message(FATAL_ERROR "uninstall /S left ${file}")
    endif()
endforeach()
if(NOT EXISTS "${folder}/my-unit.cal" OR NOT EXISTS "${workfolder}/comsetting.ini")
    message(FATAL_ERROR "uninstall /S removed a user's file")
endif()
execute_process(COMMAND ${WINE_RUN} reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KestroVarLink"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
    message(FATAL_ERROR "uninstall /S left its Apps & features entry")
endif()

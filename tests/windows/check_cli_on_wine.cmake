# The Windows kestrovar-cli.exe under wine against the Linux build's simulated device: wine's COM1
# is the simulator's pseudo-terminal, so the Windows serial control talks to it as to a real port.
#   -DWINE_RUN=build-windows/wine-run -DCLI=kestrovar-cli.exe -DSIM=build/kestrovar-sim
#   -DWORK=folder -DWINE_PREFIX=folder (a prefix of its own: the test restarts its wineserver)
if(NOT EXISTS "${SIM}")
    message(FATAL_ERROR "no Linux simulator ${SIM}: build it with `cmake --build build --target kestrovar-sim` "
                        "or give -DKV_LINUX_SIMULATOR=path when configuring build-windows")
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(ENV{KV_WINEPREFIX} "${WINE_PREFIX}")
set(ENV{WINEPREFIX} "${WINE_PREFIX}")
set(ENV{KESTROVAR_HISTORY} "${WORK}/history")

execute_process(COMMAND sh -c "'${SIM}' </dev/null >'${WORK}/sim.txt' 2>&1 & echo $!" OUTPUT_VARIABLE sim)
string(STRIP "${sim}" sim)
set(pty "")
foreach(try RANGE 50)
    file(STRINGS "${WORK}/sim.txt" pty LIMIT_COUNT 1)
    if(pty MATCHES "^/dev/")
        break()
    endif()
    execute_process(COMMAND sleep 0.1)
endforeach()
if(NOT pty MATCHES "^/dev/")
    execute_process(COMMAND kill ${sim})
    message(FATAL_ERROR "kestrovar-sim named no pseudo-terminal")
endif()

# wine keeps COM1 on the pty only when the mapping is in the registry when its wineserver starts.
execute_process(COMMAND ${WINE_RUN} reg add "HKLM\\Software\\Wine\\Ports" /v COM1 /t REG_SZ /d "${pty}" /f
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
execute_process(COMMAND wineserver -k)
execute_process(COMMAND wineserver -w)
if(NOT rc EQUAL 0)
    execute_process(COMMAND kill ${sim})
    message(FATAL_ERROR "wine reg add COM1 -> ${pty} failed: ${err}")
endif()

set(failure "")
function(cli expected)
    execute_process(COMMAND ${WINE_RUN} ${CLI} --port COM1 ${ARGN} WORKING_DIRECTORY "${WORK}"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
    list(JOIN ARGN " " command)
    if(NOT rc STREQUAL "${expected}" AND NOT failure)
        set(failure "kestrovar-cli.exe --port COM1 ${command}: exit ${rc}, expected ${expected}\n${out}\n${err}"
            PARENT_SCOPE)
    endif()
endfunction()
cli(0 read -o unit.cal)
if(NOT failure)
    file(READ "${WORK}/unit.cal" content HEX)
    string(SUBSTRING "${content}" 0 36 start)
    if(NOT start STREQUAL "31302c32302c37302c3132302c3137300d0a")  # "10,20,70,120,170\r\n"
        set(failure "read -o wrote ${content}")
    endif()
endif()
cli(0 verify unit.cal)
execute_process(COMMAND kill ${sim})
if(failure)
    message(FATAL_ERROR "${failure}")
endif()

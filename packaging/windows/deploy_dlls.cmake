# At install time (cmake/windows.cmake): copies beside the programs every DLL that they and Qt's
# plugins load, found in KV_DEPLOY_DIRS, that is not Windows' own: Qt's, QCustomPlot's and the MinGW
# runtime's. objdump reads the DLL names from the programs, so a new dependency is never forgotten.
set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${KV_DEPLOY_OBJDUMP}")
file(GET_RUNTIME_DEPENDENCIES
    RESOLVED_DEPENDENCIES_VAR dlls
    UNRESOLVED_DEPENDENCIES_VAR missing
    EXECUTABLES ${KV_DEPLOY_PROGRAMS}
    LIBRARIES ${KV_DEPLOY_PLUGINS}
    DIRECTORIES ${KV_DEPLOY_DIRS}
    # Ours to ship; every other DLL is part of Windows.
    PRE_INCLUDE_REGEXES "^(qt6|qcustomplot|libstdc\\+\\+|libgcc_s|libwinpthread|libmosquitto)"
    PRE_EXCLUDE_REGEXES ".*")
if(missing)
    message(FATAL_ERROR "DLLs not found in ${KV_DEPLOY_DIRS}: ${missing}")
endif()
file(INSTALL ${dlls} DESTINATION "${CMAKE_INSTALL_PREFIX}")

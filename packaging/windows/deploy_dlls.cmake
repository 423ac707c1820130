# At install time (cmake/windows.cmake): copies beside the programs every DLL that they and Qt's
# plugins load, found in KV_DEPLOY_DIRS, that is not Windows' own: Qt's, QCustomPlot's and the MinGW
# runtime's. objdump reads the DLL names from the programs, so a new dependency is never forgotten.
# CMake compares a PE file's DLL names in lower case, which finds no Qt6Core.dll on a Linux file
# system; such names are looked up here without regard to case, and their own DLLs in turn.
set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${KV_DEPLOY_OBJDUMP}")

set(available "")
foreach(dir IN LISTS KV_DEPLOY_DIRS)
    file(GLOB dir_dlls "${dir}/*.dll")
    list(APPEND available ${dir_dlls})
endforeach()

set(deployed "")
set(programs ${KV_DEPLOY_PROGRAMS})
set(libraries ${KV_DEPLOY_PLUGINS})
while(programs OR libraries)
    file(GET_RUNTIME_DEPENDENCIES
        RESOLVED_DEPENDENCIES_VAR dlls
        UNRESOLVED_DEPENDENCIES_VAR missing
        EXECUTABLES ${programs}
        LIBRARIES ${libraries}
        DIRECTORIES ${KV_DEPLOY_DIRS}
        # Ours to ship; every other DLL is part of Windows.
        PRE_INCLUDE_REGEXES "^(qt6|(lib)?qcustomplot|libstdc\\+\\+|libgcc_s|libwinpthread|libmosquitto)"
        PRE_EXCLUDE_REGEXES ".*")
    foreach(name IN LISTS missing)
        set(match "")
        foreach(path IN LISTS available)
            get_filename_component(file "${path}" NAME)
            string(TOLOWER "${file}" file)
            if(file STREQUAL name)
                set(match "${path}")
                break()
            endif()
        endforeach()
        if(NOT match)
            message(FATAL_ERROR "${name} is in none of ${KV_DEPLOY_DIRS}")
        endif()
        list(APPEND dlls "${match}")
    endforeach()
    set(programs "")
    set(libraries "")
    foreach(dll IN LISTS dlls)
        list(FIND deployed "${dll}" index)
        if(index EQUAL -1)
            list(APPEND deployed "${dll}")
            list(APPEND libraries "${dll}")
        endif()
    endforeach()
endwhile()
file(INSTALL ${deployed} DESTINATION "${CMAKE_INSTALL_PREFIX}")
# Debian ships the MinGW runtime's DLLs with their symbols (libstdc++ is 23 MB so, 2 MB without).
if(KV_DEPLOY_STRIP)
    foreach(dll IN LISTS deployed)
        get_filename_component(name "${dll}" NAME)
        execute_process(COMMAND ${KV_DEPLOY_STRIP} --strip-unneeded "${CMAKE_INSTALL_PREFIX}/${name}"
                        RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "${KV_DEPLOY_STRIP} ${name} failed")
        endif()
    endforeach()
endif()

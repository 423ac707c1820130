# What differs between the platforms, included from the top-level CMakeLists.txt before the targets.
#
# QtSerialPort: on Linux the serial control is QSerialPort; on Windows there is no QtSerialPort (it
# is not built for the Windows programs), the serial control being Win32's own. So
#   KV_HAVE_QTSERIALPORT     a definition in every target: 1 with QtSerialPort, 0 without
# and at the end of the configuration every target's sources are sorted by these rules:
#   (the QSerialPort control, platform/qt_serial_control.cpp, is left out in CMakeLists.txt)
#   - a source named win_*.cpp / win_*.h is built only for Windows;
#   - the sources matching KV_POSIX_ONLY_SOURCES (pseudo-terminals, termios) are built only on POSIX.
#
# On Windows, cmake/windows.cmake adds the programs' resources, their DLLs, the installer, and runs
# the suite under wine.
#

if(WIN32)
    set(KV_HAVE_QTSERIALPORT 0)
else()
    set(KV_HAVE_QTSERIALPORT 1)
endif()
add_compile_definitions(KV_HAVE_QTSERIALPORT=${KV_HAVE_QTSERIALPORT})

# The sources built on POSIX systems only: the simulator's pseudo-terminal front, the test of the
# QSerialPort control on pseudo-terminals.
set(KV_POSIX_ONLY_SOURCES "/simulator/pty_device\\.(cpp|h)$|/tests/core/qt_platform_ports_test\\.cpp$")

# kv_sort_platform_sources: drops from every target of this project the sources the platform cannot
# build, by the rules above. Run once, at the end of the top-level directory.
function(kv_sort_platform_sources)
    set(targets "")
    set(dirs "${CMAKE_SOURCE_DIR}")
    while(dirs)
        list(POP_FRONT dirs dir)
        get_property(dir_targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
        get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
        list(APPEND targets ${dir_targets})
        list(APPEND dirs ${subdirs})
    endwhile()
    set(dropped "")
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "INTERFACE_LIBRARY" OR type STREQUAL "UTILITY")
            continue()
        endif()
        get_target_property(sources ${target} SOURCES)
        get_target_property(source_dir ${target} SOURCE_DIR)
        set(kept "")
        foreach(source IN LISTS sources)
            set(path "${source}")
            if(NOT IS_ABSOLUTE "${path}")
                set(path "${source_dir}/${source}")
            endif()
            get_filename_component(name "${path}" NAME)
            set(keep TRUE)
            if(name MATCHES "^win_" AND NOT WIN32)
                set(keep FALSE)
            elseif(WIN32 AND path MATCHES "${KV_POSIX_ONLY_SOURCES}")
                set(keep FALSE)
            endif()
            if(keep)
                list(APPEND kept "${source}")
            else()
                list(APPEND dropped "${target}: ${source}")
            endif()
        endforeach()
        set_property(TARGET ${target} PROPERTY SOURCES "${kept}")
    endforeach()
    if(dropped)
        list(JOIN dropped "\n   " dropped)
        message(STATUS "Sources this platform does not build:\n   ${dropped}")
    endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL kv_sort_platform_sources)

if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/windows.cmake)
endif()

# Installs the component "application" into PREFIX and checks that exactly the expected files arrive:
# the four programs, their man pages, the menu entry, one icon per size, the copyright and the
# changelog, the SQL for a lab's database, and nothing else (no tests, no libraries).
#   cmake -DBUILD_DIR=... -DPREFIX=... -DICON_SIZES=16,22,... -P check_install.cmake
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" ICON_SIZES "${ICON_SIZES}")
file(REMOVE_RECURSE ${PREFIX})
execute_process(
    COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component application --prefix ${PREFIX}
    RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
    bin/kestrovar-certificate
    bin/kestrovar-cli
    bin/kestrovar-link
    bin/kestrovar-sim
    share/man/man1/kestrovar-certificate.1.gz
    share/man/man1/kestrovar-cli.1.gz
    share/man/man1/kestrovar-link.1.gz
    share/man/man1/kestrovar-sim.1.gz
    share/applications/kestrovar-link.desktop
    share/doc/kestrovar-link/changelog.gz
    share/doc/kestrovar-link/copyright
    share/doc/kestrovar-link/sql/postgresql-schema.sql
    share/doc/kestrovar-link/sql/postgresql-technicians.sql
    share/pixmaps/kestrovar-link.png)
foreach(size ${ICON_SIZES})
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/kestrovar-link.png)
endforeach()
list(SORT expected)

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
if(NOT installed STREQUAL expected)
    string(REPLACE ";" "\n  " got "${installed}")
    string(REPLACE ";" "\n  " want "${expected}")
    message(FATAL_ERROR "installed files differ\ngot:\n  ${got}\nexpected:\n  ${want}")
endif()

# The installed programs run and know who they are.
foreach(run "kestrovar-link --version" "kestrovar-sim --help")
    separate_arguments(command UNIX_COMMAND "${run}")
    list(GET command 0 program)
    list(POP_FRONT command)
    execute_process(COMMAND ${PREFIX}/bin/${program} ${command}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0 OR NOT output MATCHES "${program}")
        message(FATAL_ERROR "${PREFIX}/bin/${run} failed (${result}):\n${output}")
    endif()
endforeach()

# The menu entry starts the installed program and names the installed icon.
file(STRINGS ${PREFIX}/share/applications/kestrovar-link.desktop entry)
foreach(line "Exec=kestrovar-link" "Icon=kestrovar-link" "Name=KestroVar Link")
    if(NOT line IN_LIST entry)
        message(FATAL_ERROR "the menu entry lacks \"${line}\"")
    endif()
endforeach()
message(STATUS "${PREFIX}: ${installed}")

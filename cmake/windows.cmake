# The Windows programs: resources, the DLLs beside them, the installer, and the suite under wine.
# Included from cmake/platform.cmake when building for Windows; scripts/dev windows drives it:
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=scripts/windows/mingw-toolchain.cmake \
#         -DCMAKE_PREFIX_PATH="$(scripts/windows/build-libs.sh | tail -n 1)" \
#         -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
#   cmake --build build-windows                      the programs and the tests
#   ctest --test-dir build-windows                   the suite, under wine
#   cmake --build build-windows --target kv_installer   KestroVarLink-<version>-setup.exe and a .zip
#
#   build-windows/wine-run PROGRAM.exe [ARGS]        runs one of the built programs under wine
#   build-windows/wine-test PROGRAM.exe [ARGS]       the same for ctest, the output through files
#
# The programs sit at the top of the install folder with every DLL they load and Qt's plugins in
# platforms\, styles\ and sqldrivers\ (qt.conf says so).
include_guard(GLOBAL)

set(CMAKE_INSTALL_BINDIR . CACHE PATH "The programs' folder: the top of the install folder on Windows")

set(KV_WINDOWS_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging/windows)
get_filename_component(KV_WINDOWS_DIR ${KV_WINDOWS_DIR} ABSOLUTE)

# The MinGW runtime's DLLs: libstdc++, libgcc_s_seh (the compiler's folder), libwinpthread (the sysroot's).
set(KV_MINGW_DLL_DIRS "")
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
    endif()
    get_filename_component(dir "${path}" DIRECTORY)
    get_filename_component(dir "${dir}" REALPATH)
    list(APPEND KV_MINGW_DLL_DIRS "${dir}")
endforeach()
list(REMOVE_DUPLICATES KV_MINGW_DLL_DIRS)

if(CMAKE_CROSSCOMPILING)
    find_program(KV_WINE wine REQUIRED)
    set(KV_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine/prefix CACHE PATH "The wine prefix the built programs run in")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-test)
    # The end-to-end tests under wine run the Windows programs on the Linux build's simulator.
    set(KV_LINUX_BUILD ${CMAKE_SOURCE_DIR}/build
        CACHE PATH "The Linux build with kestrovar-sim and kestrovar-cli, for the end-to-end tests under wine")
    find_program(KV_PYTHON3 python3 REQUIRED)
endif()

# The Qt plugins the programs load: window system, style, the history's SQL driver.
set(KV_QT_PLUGINS platforms=Qt6::QWindowsIntegrationPlugin styles=Qt6::QWindowsVistaStylePlugin
    sqldrivers=Qt6::QSQLiteDriverPlugin)

# kv_windows_resources TARGET DESCRIPTION [ICON]: the version information and icon of TARGET.exe.
function(kv_windows_resources target description)
    set(KV_RC_NAME ${target})
    set(KV_RC_DESCRIPTION "${description}")
    set(KV_RC_ICON_LINE "")
    set(KV_RC_ICON_COMMENT "")
    if(ARGC GREATER 2)
        # IDI_ICON1 is the name Qt takes as the default window icon.
        set(KV_RC_ICON_LINE "IDI_ICON1 ICON \"${ARGV2}\"")
        set(KV_RC_ICON_COMMENT " and icon")
    endif()
    set(rc ${CMAKE_BINARY_DIR}/windows/${target}.rc)
    configure_file(${KV_WINDOWS_DIR}/program.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    if(ARGC GREATER 2)
        set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS ${ARGV2})
    endif()
endfunction()

function(kv_windows_targets)
    # wine-run: WINEPATH holds the folders of the DLLs the built programs load.
    set(dll_dirs "$<TARGET_FILE_DIR:Qt6::Core>")
    if(TARGET QCustomPlotQt6::QCustomPlotQt6)
        list(APPEND dll_dirs "$<TARGET_FILE_DIR:QCustomPlotQt6::QCustomPlotQt6>")
    endif()
    list(APPEND dll_dirs ${KV_MINGW_DLL_DIRS})
    if(CMAKE_CROSSCOMPILING)
        set(winepath "")
        foreach(dir IN LISTS dll_dirs)
            list(APPEND winepath "Z:${dir}")
        endforeach()
        list(JOIN winepath ";" KV_WINEPATH)
        configure_file(${CMAKE_SOURCE_DIR}/scripts/windows/wine-run.in ${CMAKE_BINARY_DIR}/windows/wine-run.in @ONLY)
        file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/wine-run INPUT ${CMAKE_BINARY_DIR}/windows/wine-run.in
             FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
        set(KV_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
        configure_file(${CMAKE_SOURCE_DIR}/scripts/windows/wine-test.in ${CMAKE_BINARY_DIR}/wine-test @ONLY
                       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()

    # The icon: the program draws it (kv_write_icons, run under wine at build time), ImageMagick
    # gathers the sizes into one .ico.
    set(icon_sizes 16 24 32 48 64 128 256)
    set(icon_dir ${CMAKE_BINARY_DIR}/windows/icons)
    set(ico ${CMAKE_BINARY_DIR}/windows/kestrovar-link.ico)
    # Only the drawing: the icon does not wait for the rest of kv_gui to build on Windows.
    add_executable(kv_write_icons ${CMAKE_SOURCE_DIR}/packaging/write_icons.cpp ${CMAKE_SOURCE_DIR}/src/gui/artwork.cpp)
    target_include_directories(kv_write_icons PRIVATE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(kv_write_icons PRIVATE Qt6::Widgets)
    kv_warnings(kv_write_icons)
    find_program(KV_IMAGEMAGICK_CONVERT convert REQUIRED)
    set(pngs "")
    foreach(size ${icon_sizes})
        list(APPEND pngs ${icon_dir}/${size}x${size}/kestrovar-link.png)
    endforeach()
    add_custom_command(
        OUTPUT ${ico}
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:kv_write_icons> ${icon_dir} ${icon_sizes}
        COMMAND ${KV_IMAGEMAGICK_CONVERT} ${pngs} ${ico}
        DEPENDS kv_write_icons
        COMMENT "Rendering the application icon to kestrovar-link.ico"
        VERBATIM)
    add_custom_target(kv_windows_icon DEPENDS ${ico})

    kv_windows_resources(kestrovar-link "KestroVar Link" ${ico})
    add_dependencies(kestrovar-link kv_windows_icon)
    kv_windows_resources(kestrovar-cli "KestroVar Link command line")
    kv_windows_resources(kestrovar-certificate "KestroVar Link calibration certificate")

    # Beside the programs: qt.conf, the plugins, and every DLL these load that is not Windows' own.
    set(plugin_files "")
    foreach(entry IN LISTS KV_QT_PLUGINS)
        string(REPLACE "=" ";" entry "${entry}")
        list(GET entry 0 folder)
        list(GET entry 1 plugin)
        install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${folder} COMPONENT application)
        list(APPEND plugin_files $<TARGET_FILE:${plugin}>)
    endforeach()
    install(FILES ${KV_WINDOWS_DIR}/qt.conf DESTINATION . COMPONENT application)
    install(FILES ${ico} DESTINATION . COMPONENT application)  # the installer's and Apps & features' icon
    install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT application)
    # The certificate carries DejaVu Sans; its licence goes with it.
    install(FILES ${KV_DEJAVU_DIR}/../../../doc/fonts-dejavu-core/copyright DESTINATION .
            RENAME DejaVu-fonts-LICENSE.txt COMPONENT application)
    install(CODE "
        set(KV_DEPLOY_PROGRAMS \"$<TARGET_FILE:kestrovar-link>;$<TARGET_FILE:kestrovar-cli>;$<TARGET_FILE:kestrovar-certificate>\")
        set(KV_DEPLOY_PLUGINS \"${plugin_files}\")
        set(KV_DEPLOY_DIRS \"${dll_dirs}\")
        set(KV_DEPLOY_OBJDUMP \"${CMAKE_OBJDUMP}\")
        set(KV_DEPLOY_STRIP \"${CMAKE_STRIP}\")
        include(\"${KV_WINDOWS_DIR}/deploy_dlls.cmake\")
        " COMPONENT application)

    # The installer and the portable .zip of the same folder.
    find_program(KV_MAKENSIS makensis)
    add_custom_target(kv_installer
        COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSTAGE=${CMAKE_BINARY_DIR}/installer
                -DVERSION=${PROJECT_VERSION} -DMAKENSIS=${KV_MAKENSIS} -DNSIS_SCRIPT=${KV_WINDOWS_DIR}/installer.nsi
                -P ${KV_WINDOWS_DIR}/make_installer.cmake
        DEPENDS kestrovar-link kestrovar-cli kestrovar-certificate
        COMMENT "Making the installer and the portable .zip"
        VERBATIM)

    if(KV_BUILD_TESTS AND CMAKE_CROSSCOMPILING)
        # The installed Windows kestrovar-cli under wine on the Linux build's simulated device,
        # through COM1, which wine maps to the simulator's pseudo-terminal; compared with the
        # Linux kestrovar-cli on the same device.
        add_test(NAME windows.cli_on_the_simulator
                 COMMAND ${KV_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/windows/check_cli_on_wine.py ${CMAKE_BINARY_DIR}/wine-run
                         ${CMAKE_BINARY_DIR}/KestroVarLink-${PROJECT_VERSION}-setup.exe ${KV_LINUX_BUILD}/kestrovar-cli
                         ${KV_LINUX_BUILD}/kestrovar-sim ${CMAKE_BINARY_DIR}/windows/cli-work
                         ${CMAKE_BINARY_DIR}/wine/prefix-com)
        set_tests_properties(windows.cli_on_the_simulator PROPERTIES LABELS "e2e;windows" TIMEOUT 240)
        # The installer, silently into a folder of a prefix of its own, and its uninstaller.
        add_test(NAME windows.installer
                 COMMAND ${CMAKE_COMMAND} -DWINE_RUN=${CMAKE_BINARY_DIR}/wine-run
                         -DINSTALLER=${CMAKE_BINARY_DIR}/KestroVarLink-${PROJECT_VERSION}-setup.exe
                         -DWINE_PREFIX=${CMAKE_BINARY_DIR}/wine/prefix-install
                         -P ${KV_WINDOWS_DIR}/check_installer.cmake)
        set_tests_properties(windows.installer PROPERTIES LABELS "packaging;windows" TIMEOUT 300)
    endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL kv_windows_targets)

# Qt 6.4.2 qtbase from Debian's qt6-base source: Core, Gui, Widgets, Network, Sql with the SQLite
# driver, PrintSupport, Test, the windows platform and windowsvista style plugins. Debian's Qt serves
# as the host Qt (moc, rcc, uic). Debian's "+dfsg" tree has no wintab headers (no tablet events);
# Direct2D stays on, as without it Qt6Gui leaves out the DirectWrite font engine PrintSupport calls.
build_recipe() {
    local src sqlite; src="$(source_dir qt6-base)"; sqlite="$(dep_prefix sqlite)"
    local off=(dbus opengl opengles2 opengl_dynamic opengl_desktop vulkan icu zstd openssl tabletevent
               sql_odbc sql_psql sql_mysql sql_oci sql_db2 sql_ibase
               system_zlib system_pcre2 system_png system_jpeg system_harfbuzz system_freetype
               system_doubleconversion system_libb2)
    local features=() f
    for f in "${off[@]}"; do features+=("-DFEATURE_$f=OFF"); done
    cmake_cross "$src" "$work" "$prefix" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DBUILD_SHARED_LIBS=ON -DINPUT_opengl=no \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        "${features[@]}" -DFEATURE_direct2d=ON -DFEATURE_schannel=ON \
        -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON \
        -DSQLite3_INCLUDE_DIR="$sqlite/include" -DSQLite3_LIBRARY="$sqlite/lib/libsqlite3.a"
    build_install "$work"
}

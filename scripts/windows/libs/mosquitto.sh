# libmosquitto, the MQTT client library, from Debian's mosquitto source: the C library only (no
# broker, clients, plugins or C++ wrapper), as a DLL, with TLS through the OpenSSL built above.
build_recipe() {
    local src openssl; src="$(source_dir mosquitto)"; openssl="$(dep_prefix openssl)"
    # Its Windows build expects pthreads-win32 in C:\pthreads; MinGW-w64 has winpthreads as -lpthread.
    mkdir -p "$work/src"
    cp -a "$src/." "$work/src/"
    sed -i -E 's/C:\\\\pthreads[^ )]*pthreadVC2\.lib/pthread/; s/C:\\\\pthreads[^ )]*include//' "$work/src/CMakeLists.txt"
    grep -q pthreadVC2 "$work/src/CMakeLists.txt" && return 1
    # libcrypto, being static, brings its own Windows libraries along.
    cmake_cross "$work/src" "$work/build" "$prefix" \
        -DCMAKE_C_STANDARD_LIBRARIES="-lcrypt32 -lws2_32 -luser32 -ladvapi32 -lkernel32" \
        -DWITH_BROKER=OFF -DWITH_APPS=OFF -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF -DWITH_LIB_CPP=OFF \
        -DDOCUMENTATION=OFF -DWITH_CJSON=OFF -DWITH_SRV=OFF -DWITH_STATIC_LIBRARIES=ON -DWITH_THREADING=ON \
        -DWITH_TLS=ON -DWITH_TLS_PSK=ON -DOPENSSL_ROOT_DIR="$openssl" -DOPENSSL_USE_STATIC_LIBS=ON \
        -DCMAKE_PREFIX_PATH="$openssl"
    build_install "$work/build"
}

# libmosquitto, the MQTT client library, from Debian's mosquitto source: the C library only (no
# broker, clients, plugins or C++ wrapper), as a DLL, with TLS through the OpenSSL built above.
build_recipe() {
    local src openssl; src="$(source_dir mosquitto)"; openssl="$(dep_prefix openssl)"
    cmake_cross "$src" "$work" "$prefix" \
        -DWITH_BROKER=OFF -DWITH_APPS=OFF -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF -DWITH_LIB_CPP=OFF \
        -DDOCUMENTATION=OFF -DWITH_CJSON=OFF -DWITH_SRV=OFF -DWITH_STATIC_LIBRARIES=ON -DWITH_THREADING=ON \
        -DWITH_TLS=ON -DWITH_TLS_PSK=ON -DOPENSSL_ROOT_DIR="$openssl" -DOPENSSL_USE_STATIC_LIBS=ON \
        -DCMAKE_PREFIX_PATH="$openssl"
    build_install "$work"
}

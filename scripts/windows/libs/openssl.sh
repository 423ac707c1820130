# OpenSSL 3 from Debian's openssl source: libcrypto and libssl, static, for the history's SHA-256 and
# for MQTT over TLS (libmosquitto).
build_recipe() {
    local src; src="$(source_dir openssl)"
    cp -a "$src/." "$work/"
    (cd "$work" && ./Configure mingw64 --cross-compile-prefix="$triple-" CC=gcc-posix \
        --prefix="$prefix" --libdir=lib no-shared no-tests no-module no-legacy no-engine)
    nice -n 19 make -C "$work" -j"$jobs" build_libs
    make -C "$work" install_dev >/dev/null
}

# The steps the recipes share; build-libs.sh sources it (and hashes it into every library's key).
# --- build ------------------------------------------------------------------------------------
cmake_cross() {  # cmake_cross SOURCE BUILD PREFIX [options]: configure for Windows with Ninja
    local src="$1" build="$2" prefix="$3"; shift 3
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
}
build_install() {  # build_install BUILD: build at low priority, install stripped
    nice -n 19 cmake --build "$1" -j"$jobs"
    cmake --install "$1" --strip >/dev/null
}


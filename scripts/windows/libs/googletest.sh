# GoogleTest and GoogleMock from Debian's googletest source, static, for the test suite.
build_recipe() {
    local src; src="$(source_dir googletest)"
    cmake_cross "$src" "$work" "$prefix" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
    build_install "$work"
}

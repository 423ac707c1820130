# SQLite for Qt's SQLite driver: the amalgamation made from Debian's sqlite3 source (tclsh makes it),
# compiled for Windows as a static library.
build_recipe() {
    local src; src="$(source_dir sqlite3)"
    mkdir -p "$work/amalgamation"
    (cd "$work/amalgamation" && "$src/configure" --disable-tcl >configure.log && make sqlite3.c >make.log)
    # The options of Qt's own bundled SQLite.
    "$triple-gcc-posix" -O2 -c "$work/amalgamation/sqlite3.c" -o "$work/sqlite3.o" \
        -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_OMIT_LOAD_EXTENSION \
        -DSQLITE_OMIT_COMPLETE -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS \
        -DSQLITE_ENABLE_RTREE -DSQLITE_ENABLE_JSON1
    mkdir -p "$prefix/include" "$prefix/lib"
    "$triple-ar" rcs "$prefix/lib/libsqlite3.a" "$work/sqlite3.o"
    cp "$work/amalgamation/sqlite3.h" "$work/amalgamation/sqlite3ext.h" "$prefix/include/"
}

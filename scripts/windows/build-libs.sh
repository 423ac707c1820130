#!/usr/bin/env bash
# Builds the libraries of the Windows programs from Debian's own source packages, once, into a cache
# outside the checkout:
#   ~/.cache/kestrovar-link/windows/<library>-<hash>/
# where the hash is of the toolchain file, the recipes' shared steps (libs/common.sh) and the library's
# recipe (libs/<library>.sh) with the hashes of the libraries it is built on, so a changed recipe rebuilds that library (and what
# depends on it) while an unchanged one is reused.
#
#   scripts/windows/build-libs.sh [LIBRARY...]   (default: all of them)
#
# The last line of its output is the CMAKE_PREFIX_PATH of the libraries, a ';' list.
# Sources come from `apt-get source` through an apt configuration of its own (its sources list with
# deb-src lines derived from the machine's, its own lists and cache), so the machine's apt setup is
# left as it is. dpkg-source applies Debian's patches. KV_WINDOWS_CACHE moves the cache; KV_JOBS sets
# the compile jobs (2).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cache_root="${KV_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrovar-link/windows}"
jobs="${KV_JOBS:-2}"
toolchain="$here/mingw-toolchain.cmake"
triple=x86_64-w64-mingw32
mkdir -p "$cache_root"

# The libraries in build order, each with those it is built on.
all_libs=(sqlite qtbase qcustomplot googletest openssl mosquitto)
declare -A deps=([sqlite]="" [qtbase]="sqlite" [qcustomplot]="qtbase" [googletest]="" [openssl]="" [mosquitto]="openssl")

log() { echo "build-libs: $*" >&2; }

declare -A hashes=()
lib_hash() {
    local lib="$1"
    if [ -z "${hashes[$lib]:-}" ]; then
        local input d
        input="$(cat "$here/libs/common.sh" "$toolchain" "$here/libs/$lib.sh" | sha256sum)"
        for d in ${deps[$lib]}; do input+="$(lib_hash "$d")"; done
        hashes[$lib]="$(echo "$input" | sha256sum | cut -c1-16)"
    fi
    echo "${hashes[$lib]}"
}
lib_dir() { echo "$cache_root/$1-$(lib_hash "$1")"; }

# --- sources: apt-get source through a private apt configuration -------------------------------
apt_dir="$cache_root/apt"
apt_opts=()
private_apt() {
    [ ${#apt_opts[@]} -eq 0 ] || return 0
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d"
    : >"$apt_dir/sources.list.tmp"
    local f
    if [ -f /etc/apt/sources.list ]; then
        sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' /etc/apt/sources.list >>"$apt_dir/sources.list.tmp"
    fi
    rm -f "$apt_dir/sources.list.d/"*.sources
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
    done
    for f in /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >>"$apt_dir/sources.list.tmp"
    done
    mv "$apt_dir/sources.list.tmp" "$apt_dir/sources.list"
    apt_opts=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o "Dir::Etc::sourceparts=$apt_dir/sources.list.d"
              -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
              -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache=" -o "APT::Sandbox::User=root"
              -o "Acquire::Languages=none" -o "Debug::NoLocking=1")
    if ! ls "$apt_dir/lists/"*Sources* >/dev/null 2>&1; then
        log "apt-get update (private lists in $apt_dir)"
        apt-get "${apt_opts[@]}" update -qq >&2
    fi
}

# source_dir PACKAGE: fetches and unpacks Debian's source of PACKAGE (patches applied) once;
# prints the unpacked folder.
source_dir() {
    local pkg="$1" dir="$cache_root/sources/$1"
    if [ ! -f "$dir/.unpacked" ]; then
        private_apt
        rm -rf "$dir"; mkdir -p "$dir"
        # The newest version first; an older one when the archive no longer serves the newest's files
        # (a security update's sources can be gone while its index entry stays).
        local version fetched=""
        for version in $(apt-cache "${apt_opts[@]}" showsrc "$pkg" | sed -n 's/^Version: //p' | sort -V -r -u); do
            log "apt-get source $pkg=$version"
            rm -rf "${dir:?}"/*
            if (cd "$dir" && apt-get "${apt_opts[@]}" source -qq "$pkg=$version" >"$dir/apt-get-source.log" 2>&1); then
                fetched=$version; break
            fi
            sed -n 's/^E: //p' "$dir/apt-get-source.log" | head -n 2 >&2
        done
        [ -n "$fetched" ] || { log "no version of $pkg could be fetched"; return 1; }
        echo "$fetched" >"$dir/.unpacked"
    fi
    find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

# shellcheck source=libs/common.sh
source "$here/libs/common.sh"

build_lib() {
    local lib="$1" d
    local dir; dir="$(lib_dir "$lib")"
    [ -f "$dir/.complete" ] && return 0
    for d in ${deps[$lib]}; do build_lib "$d"; done
    log "building $lib into $dir (log: $dir/build.log)"
    local start=$SECONDS
    rm -rf "$dir/prefix" "$dir/build"
    mkdir -p "$dir/prefix" "$dir/build"
    # The recipe defines build_recipe, run with: prefix, work (its build folder) and dep_prefix NAME.
    # (errexit holds in the subshell only when its status is not tested, hence the set +e around it)
    local rc
    set +e
    (
        set -euo pipefail
        prefix="$dir/prefix" work="$dir/build"
        dep_prefix() { echo "$(lib_dir "$1")/prefix"; }
        # shellcheck source=/dev/null
        source "$here/libs/$lib.sh"
        build_recipe
    ) >"$dir/build.log" 2>&1
    rc=$?
    set -e
    if [ $rc -ne 0 ]; then
        tail -n 40 "$dir/build.log" >&2
        log "$lib failed; log: $dir/build.log"
        return 1
    fi
    rm -rf "$dir/build"
    echo "$((SECONDS - start))" >"$dir/seconds"
    touch "$dir/.complete"
    log "$lib built in $((SECONDS - start)) s"
}

libs=("$@")
[ ${#libs[@]} -gt 0 ] || libs=("${all_libs[@]}")
for lib in "${libs[@]}"; do
    [ -f "$here/libs/$lib.sh" ] || { log "no recipe scripts/windows/libs/$lib.sh"; exit 2; }
    build_lib "$lib"
done
paths=()
for lib in "${all_libs[@]}"; do
    [ -f "$(lib_dir "$lib")/.complete" ] && paths+=("$(lib_dir "$lib")/prefix")
done
(IFS=';'; echo "${paths[*]}")

#!/usr/bin/env bash
# Cross-builds Torvane for 64-bit Windows into build-windows/: torvane.exe, torvane-fetch.exe,
# torvane-host.exe, the tests, and the installer torvane-<version>-setup.exe.
#   scripts/windows/build.sh [target ...]     (default: everything, then the installer)
# Qt for Windows comes from scripts/windows/build-qt.sh (its cache, unpacked or built when
# missing). The SVG renderer that draws the images at build time runs on this machine: it is built
# first into build-windows/host/ with Debian's Qt. TORVANE_MEDIA_DIR may name a folder that holds
# yt-dlp.exe and ffmpeg.exe for the installer (see scripts/windows/make-installer.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
jobs=${TORVANE_JOBS:-2}
say() { echo "windows build: $*" >&2; }
timed() {
    local start=$SECONDS label=$1
    shift
    say "$label"
    "$@"
    say "  $label took $((SECONDS - start)) s"
}

qt=$("$root/scripts/windows/build-qt.sh" | tail -1)
[ -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ] || { say "no Qt for Windows at $qt"; exit 1; }

host=build-windows/host
if [ ! -f "$host/CMakeCache.txt" ]; then
    cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
timed "host SVG renderer" cmake --build "$host" --parallel "$jobs" --target torvane-svgrender

if [ ! -f build-windows/CMakeCache.txt ]; then
    timed "configuring the cross build" cmake -S . -B build-windows -G Ninja \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DTORVANE_HOST_SVGRENDER="$root/$host/torvane-svgrender" >/dev/null
fi
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
timed "cross build" cmake --build build-windows --parallel "$jobs" "${targets[@]}"
if [ $# -eq 0 ]; then
    timed "installer" "$root/scripts/windows/make-installer.sh"
fi

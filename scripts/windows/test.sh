#!/usr/bin/env bash
# Runs the cross-built tests under Wine, each test .exe as CTest runs it on Linux (the toolchain
# makes Wine CTest's emulator). Headless: a private Xvfb, a throw-away Wine prefix removed at the
# end, WINEDEBUG=-all. The Qt and mingw-w64 runtime DLLs are found through WINEPATH; Qt finds its
# plugins beside its own DLLs. Arguments go to ctest (e.g. -R tst_httptransfer).
#   scripts/windows/test.sh [ctest arguments]      (builds first when build-windows/ is missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
[ -f build-windows/CMakeCache.txt ] || "$root/scripts/windows/build.sh" all
qt=$("$root/scripts/windows/build-qt.sh" 2>/dev/null | tail -1)
mingw=x86_64-w64-mingw32
gcc_dir=$(dirname "$($mingw-g++-posix -print-libgcc-file-name)")

export WINEPREFIX=${TORVANE_WINEPREFIX:-$(mktemp -d /tmp/torvane-wine.XXXXXX)}
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH="Z:${qt//\//\\}\\bin;Z:${gcc_dir//\//\\};Z:\\usr\\$mingw\\lib"
# Wine hands the Unix environment to Windows programs; Qt Test writes its log to stderr (which
# CTest shows) only when told to.
export QT_FORCE_STDERR_LOGGING=1 QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
export TORVANE_UNDER_WINE=1
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "${TORVANE_WINEPREFIX:-}" ] || rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

run() {
    local start=$SECONDS
    echo "windows test: preparing the Wine prefix $WINEPREFIX" >&2
    wineserver -p
    wineboot -i >/dev/null 2>&1 || true
    echo "windows test: prefix ready in $((SECONDS - start)) s" >&2
    ctest --test-dir build-windows --output-on-failure --timeout 900 "$@"
}
if [ -z "${DISPLAY:-}" ]; then
    export -f run
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c 'run "$@"' run "$@"
    exit $?
fi
run "$@"

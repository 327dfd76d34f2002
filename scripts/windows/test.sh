#!/usr/bin/env bash
# Runs the cross-built tests under Wine, each test .exe as CTest runs it on Linux (the toolchain
# makes Wine CTest's emulator), in a throw-away Wine prefix on a private Xvfb (wine-env.sh). Tests
# that cannot run under Wine skip themselves and print why (README, "Windows").
#   scripts/windows/test.sh [ctest arguments]      (builds first when build-windows/ is missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
[ -f build-windows/CMakeCache.txt ] || "$root/scripts/windows/build.sh" all
. "$root/scripts/windows/wine-env.sh"
trap wine_env_end EXIT
# Wine ends its desktop and services a few seconds after the last Windows program has ended, and
# starting them again cost every test about ten seconds: a console waiting on a pipe keeps them up.
rm -f "$WINEPREFIX/keep-alive" && mkfifo "$WINEPREFIX/keep-alive"
wine cmd.exe /q <"$WINEPREFIX/keep-alive" >/dev/null 2>&1 &
exec 9>"$WINEPREFIX/keep-alive"
# Wine hands the Unix environment to Windows programs, except variables named QT_*: those reach
# them only spelt WINEQT_* (Wine strips the WINE). Without that the tests ran on the windows
# platform with Qt's GDI font engine, which crashes on Wine's colour-emoji fallback font. Qt's
# messages go to stderr (which CTest shows) only when told to.
export WINEQT_QPA_PLATFORM=offscreen WINEQT_FORCE_STDERR_LOGGING=1 LC_ALL=C.UTF-8
# Offscreen Qt on Windows reads fonts from one folder only (Qt's own lib/fonts, empty): without
# real ones every text is measured as boxes and windows come out too wide. DejaVu covers Arabic.
[ -d /usr/share/fonts/truetype/dejavu ] &&
    export WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
# No openssl runs under Wine: the tests' certificates are made here beforehand.
export TORVANE_TEST_CERTIFICATES=$WINEPREFIX/test-certificates
"$root/scripts/windows/make-test-certificates.sh" "$TORVANE_TEST_CERTIFICATES"
ctest --test-dir build-windows --output-on-failure --timeout 900 "$@"

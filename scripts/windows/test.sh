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
# Wine hands the Unix environment to Windows programs; Qt Test writes its log to stderr (which
# CTest shows) only when told to.
export QT_FORCE_STDERR_LOGGING=1 QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
# No openssl runs under Wine: the tests' certificates are made here beforehand.
export TORVANE_TEST_CERTIFICATES=$WINEPREFIX/test-certificates
"$root/scripts/windows/make-test-certificates.sh" "$TORVANE_TEST_CERTIFICATES"
ctest --test-dir build-windows --output-on-failure --timeout 900 "$@"

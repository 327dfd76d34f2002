#!/usr/bin/env bash
# Builds the Debian package with CPack into build/ and prints its path on the last line.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh dpkg-dev file
./scripts/build.sh torvane torvane-fetch torvane_desktop_icons
rm -f build/torvane_*.deb
(cd build && cpack -G DEB) >&2
ls "$PWD"/build/torvane_*.deb

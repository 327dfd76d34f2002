#!/usr/bin/env bash
# Installs every Debian package that building, testing, running and benchmarking Torvane needs,
# and the packages named as arguments (the package check passes its tools this way).
# Idempotent: when everything is present it prints nothing and changes nothing.
set -euo pipefail

packages=(
  # build
  cmake g++ ninja-build pkg-config
  # the sanitizer build and the fuzz targets (clang's runtimes and libFuzzer)
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  # digests through OpenSSL's EVP (the engine links libcrypto)
  libssl-dev
  # TLS back end for HTTPS, and throw-away certificates in tests
  libssl3 openssl
  # display-less runs, screenshots and fonts that cover Arabic and colour emoji
  xvfb xauth x11-utils imagemagick fonts-noto-core fonts-noto-color-emoji fonts-dejavu-core
  # the media tool and ffmpeg
  yt-dlp ffmpeg
  # benchmarks (nginx also serves the login tests)
  nginx-light aria2 curl procps time
  # real proxies for the proxy tests: HTTP (with CONNECT) and SOCKS5; the tinyproxy program
  # alone, without the system service that the tinyproxy package would start
  tinyproxy-bin microsocks
  # browser-extension tests: both browsers end to end, node for the extension's own tests and npm
  # for web-ext (Debian's npm only where node did not bring its own)
  chromium firefox-esr nodejs
  "$@"
)
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

#!/usr/bin/env bash
# The browser extension's packages and lint, with web-ext from npm (pinned in
# extension/package-lock.json and installed there by the first run):
#   scripts/extension.sh build   build/extension/torvane-chromium.zip and torvane-firefox.xpi
#   scripts/extension.sh lint    web-ext lint of the Firefox package (fails on any error)
# Each browser gets the manifest keys it reads: Firefox its background scripts, Chromium its
# service worker and the key that fixes its extension id.
set -euo pipefail
cd "$(dirname "$0")/.."
ext=$PWD/extension
out=${TORVANE_EXTENSION_OUT:-$PWD/build/extension}
if [ ! -x "$ext/node_modules/.bin/web-ext" ]; then
  (cd "$ext" && npm ci --no-audit --no-fund --loglevel=error >&2)
fi
web_ext() { "$ext/node_modules/.bin/web-ext" --no-config-discovery "$@"; }

# stage FLAVOUR SCRIPT: the extension's files in $out/FLAVOUR, its manifest changed by SCRIPT (run
# by node with the manifest as `m`).
stage() {
  rm -rf "${out:?}/$1"
  mkdir -p "$out/$1"
  cp -r "$ext"/{_locales,icons,background.js,content.js,message.js,options.html,options.js} "$out/$1/"
  node -e "const fs = require('fs'); const m = JSON.parse(fs.readFileSync('$ext/manifest.json'));
    $2; fs.writeFileSync('$out/$1/manifest.json', JSON.stringify(m, null, 2) + '\n');"
}
stage firefox "delete m.key; delete m.background.service_worker"
stage chromium "delete m.background.scripts; delete m.browser_specific_settings"

case "${1:-build}" in
  lint)
    web_ext lint --source-dir "$out/firefox" --output text
    ;;
  build)
    web_ext build --source-dir "$out/firefox" --artifacts-dir "$out" --filename torvane-firefox.xpi \
      --overwrite-dest >&2
    web_ext build --source-dir "$out/chromium" --artifacts-dir "$out" --filename torvane-chromium.zip \
      --overwrite-dest >&2
    ls "$out"/torvane-firefox.xpi "$out"/torvane-chromium.zip
    ;;
  *)
    echo "usage: $0 [build|lint]" >&2
    exit 2
    ;;
esac

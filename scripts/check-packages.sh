#!/usr/bin/env bash
# The package check (CI runs it after the tests):
#  1. builds the Debian package and validates its menu entry (desktop-file-validate), its AppStream
#     data (appstreamcli, no network) and the whole package (lintian: no errors, no warnings);
#  2. installs it on this machine with apt, runs the installed torvane-fetch against the test
#     server (a plain file and a video through the media tool links), checks the native messaging
#     host's manifests and pings the host, starts the installed torvane under Xvfb and hands it a
#     link from a second start and one through the host, then removes the package again;
#  3. compiles the Windows installer script with makensis against placeholder files.
# Needs root or sudo for apt.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
./scripts/install-deps.sh dpkg-dev file desktop-file-utils appstream lintian nsis
deb=$(./scripts/package-deb.sh | tail -n 1)
./scripts/build.sh tst_fetchtool torvane_windows_icon >/dev/null
app_id=io.github.torvane.Torvane
work=$(mktemp -d)
installed=
cleanup() {
  if [ -n "$installed" ]; then $SUDO apt-get remove -y -qq torvane >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "check-packages: $*"; }

step "validating $(basename "$deb")"
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/$app_id.desktop"
appstreamcli validate-tree --no-net "$work/root"
if ! lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1; then
  cat "$work/lintian.txt"
  exit 1
fi
grep -v 'running with root privileges' "$work/lintian.txt" || true

step "installing"
if dpkg-query -W -f='${Status}' torvane 2>/dev/null | grep -q 'install ok installed'; then
  $SUDO apt-get remove -y -qq torvane >/dev/null
fi
installed=yes
$SUDO apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
for program in torvane torvane-fetch; do
  [ "$(readlink -f /usr/bin/$program)" = "/usr/libexec/torvane/$program" ]
done
[ "$(readlink -f /usr/libexec/torvane/core_engine.bin)" = "$(readlink -f /usr/bin/yt-dlp)" ]
[ "$(readlink -f /usr/libexec/torvane/media_codec.bin)" = "$(readlink -f /usr/bin/ffmpeg)" ]
desktop=/usr/share/applications/$app_id.desktop
desktop-file-validate "$desktop"
grep -qx 'Categories=Network;FileTransfer;Qt;' "$desktop"
grep -qx "Icon=$app_id" "$desktop"
[ -f "/usr/share/icons/hicolor/48x48/apps/$app_id.png" ]

step "installed native messaging host: its manifests name only our extension, and it answers"
chromium_id=$(sed -n 's/.*ChromiumExtensionId\[\] = "\(.*\)";/\1/p' src/app/bridgerequest.h)
firefox_id=$(sed -n 's/.*FirefoxExtensionId\[\] = "\(.*\)";/\1/p' src/app/bridgerequest.h)
host=io.github.torvane.host.json
for manifest in /etc/chromium/native-messaging-hosts/$host /etc/opt/chrome/native-messaging-hosts/$host \
  /usr/lib/mozilla/native-messaging-hosts/$host; do
  grep -q '"path": "/usr/libexec/torvane/torvane-host"' "$manifest"
done
grep -q "\"allowed_origins\": \[\"chrome-extension://$chromium_id/\"\]" /etc/chromium/native-messaging-hosts/$host
grep -q "\"allowed_extensions\": \[\"$firefox_id\"\]" /usr/lib/mozilla/native-messaging-hosts/$host
# A ping in the browser's framing: four bytes of length, then the JSON; the answer likewise.
frame() { printf "\\x$(printf %02x ${#1})\\x00\\x00\\x00%s" "$1"; }
[ "$(frame '{"type":"ping"}' | /usr/libexec/torvane/torvane-host | tail -c +5)" = '{"ok":true}' ]

step "installed torvane-fetch against the test server"
TORVANE_FETCH=/usr/bin/torvane-fetch QT_QPA_PLATFORM=offscreen ./build/tests/tst_fetchtool

step "installed torvane: first start under Xvfb, a second start hands over a link"
home="$work/home"
mkdir -p "$home/run"
chmod 700 "$home/run"
HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_DATA_HOME="$home/data" \
  XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" QT_QPA_PLATFORM=xcb \
  timeout 120 xvfb-run -a -s "-screen 0 1280x800x24" bash -euo pipefail -c '
    /usr/bin/torvane &
    first=$!
    for _ in $(seq 200); do [ -S "$XDG_RUNTIME_DIR/torvane.socket" ] && break; sleep 0.05; done
    [ -S "$XDG_RUNTIME_DIR/torvane.socket" ] || { echo "torvane did not start" >&2; exit 1; }
    timeout 20 /usr/bin/torvane "http://127.0.0.1:9/handed-over.zip"
    frame() { printf "\\x$(printf %02x ${#1})\\x00\\x00\\x00%s" "$1"; }
    [ "$(frame "{\"url\":\"http://127.0.0.1:9/native.zip\"}" |
      timeout 20 /usr/libexec/torvane/torvane-host | tail -c +5)" = "{\"ok\":true}" ]
    sleep 1
    kill -0 "$first" || { echo "the first torvane ended" >&2; exit 1; }
    kill "$first"
    wait "$first" || true'

step "removing"
$SUDO apt-get remove -y -qq torvane >/dev/null
installed=
[ ! -e /usr/bin/torvane ] && [ ! -e /usr/libexec/torvane ]

step "compiling the Windows installer script against placeholder files"
stage="$work/windows-stage"
mkdir -p "$stage/platforms" "$stage/tls"
for file in torvane.exe torvane-fetch.exe torvane-host.exe Qt6Core.dll Qt6Network.dll platforms/qwindows.dll \
  tls/qschannelbackend.dll core_engine.bin media_codec.bin; do
  echo placeholder >"$stage/$file"
done
version=$(sed -n 's/^project(Torvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
makensis -V2 -WX -DSTAGE="$stage" -DVERSION="$version" -DICON="$PWD/build/packaging/torvane.ico" \
  -DOUTFILE="$work/torvane-$version-win64.exe" packaging/windows/torvane.nsi
# file(1) names 32-bit NSIS stubs only; the installer is 64-bit: look for NSIS's own header.
file "$work/torvane-$version-win64.exe" | grep -q 'PE32+ executable'
grep -qa NullsoftInst "$work/torvane-$version-win64.exe"
step "all package checks passed"

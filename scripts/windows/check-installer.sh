#!/usr/bin/env bash
# The installer as a Windows user meets it, under Wine: a silent install (/S), the installed
# torvane.exe started with only what the installer put beside it (no WINEPATH) until its window
# shows, a silent uninstall, and nothing of the installation left (folder, start-menu entry,
# registry keys). A picture of the installed program's window goes to build-windows/installed.png.
#   scripts/windows/check-installer.sh         (after scripts/windows/build.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
version=$(sed -n 's/^project(Torvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
setup=$root/build-windows/torvane-$version-setup.exe
[ -f "$setup" ] || { echo "check-installer: $setup missing (scripts/windows/build.sh)" >&2; exit 1; }
. "$root/scripts/windows/wine-env.sh"
program_pid=
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
    wine_env_end
}
trap cleanup EXIT
unset WINEPATH
say() { echo "check-installer: $*" >&2; }
fail() { say "FAILED: $*"; exit 1; }

dir="$WINEPREFIX/drive_c/Program Files/Torvane"
link="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Torvane.lnk"
keys=('HKLM\Software\Torvane' 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane'
      'HKLM\Software\Mozilla\NativeMessagingHosts\io.github.torvane.host')

say "silent install"
wine "$setup" /S
[ -f "$dir/torvane.exe" ] || fail "no torvane.exe in $dir"
[ -f "$link" ] || fail "no start-menu entry"
for key in "${keys[@]}"; do
    wine reg query "$key" >/dev/null 2>&1 || fail "registry key $key missing"
done
say "installed $(find "$dir" -type f | wc -l) files"

say "starting the installed program"
(cd "$dir" && exec wine ./torvane.exe) >/dev/null 2>&1 &
program_pid=$!
shown=
for _ in $(seq 240); do
    # The main window, not the tray icon's small window: a viewable "torvane" window at least
    # 400 wide.
    for id in $(xwininfo -root -tree 2>/dev/null | grep -i '"torvane' |
        grep -E ' ([4-9][0-9]{2}|[0-9]{4,})x[0-9]+\+' | awk '{print $1}'); do
        xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable' && shown=1
    done
    [ -n "$shown" ] && break
    kill -0 "$program_pid" 2>/dev/null || fail "torvane.exe ended at start"
    sleep 0.5
done
[ -n "$shown" ] || fail "no Torvane window within 120 s"
sleep 3
kill -0 "$program_pid" 2>/dev/null || fail "torvane.exe ended after its window showed"
import -window root "$root/build-windows/installed.png" 2>/dev/null || true
say "its window shows (build-windows/installed.png)"
wine taskkill /f /im torvane.exe >/dev/null 2>&1 || true
wait "$program_pid" 2>/dev/null || true
program_pid=

say "silent uninstall"
wine "$dir/uninstall.exe" /S
# The uninstaller runs a copy of itself from the temporary folder and returns at once.
for _ in $(seq 120); do [ -e "$dir" ] || break; sleep 0.5; done
[ ! -e "$dir" ] || fail "left behind: $(find "$dir" | head -5)"
[ ! -e "$link" ] || fail "start-menu entry left"
for key in "${keys[@]}"; do
    ! wine reg query "$key" >/dev/null 2>&1 || fail "registry key $key left"
done
say "passed: installed, started, uninstalled, nothing left"

#!/usr/bin/env bash
# Stages the cross build with everything it loads and compiles the installer:
#   build-windows/torvane-<version>-setup.exe
# What is staged: the three programs (stripped); the DLLs they import, followed through the Qt and
# mingw-w64 runtime folders until only Windows' own remain; the Qt plugins the program loads at
# run time (the windows platform, the schannel TLS back end, the Vista style, the icon format).
# TORVANE_MEDIA_DIR, when set, names a folder holding yt-dlp.exe and ffmpeg.exe (the standalone
# yt-dlp and a static ffmpeg): they are staged as core_engine.bin and media_codec.bin.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
qt=$("$root/scripts/windows/build-qt.sh" 2>/dev/null | tail -1)
build=build-windows
stage=$build/stage
version=$(sed -n 's/^project(Torvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mingw=x86_64-w64-mingw32
gcc_dir=$(dirname "$($mingw-g++-posix -print-libgcc-file-name)")
dll_dirs=("$qt/bin" "$gcc_dir" "/usr/$mingw/lib")

rm -rf "$stage"
mkdir -p "$stage"
for program in torvane torvane-fetch torvane-host; do
    $mingw-strip --strip-unneeded -o "$stage/$program.exe" "$build/$program.exe"
done
plugins=(platforms/qwindows tls/qschannelbackend styles/qwindowsvistastyle imageformats/qico)
for plugin in "${plugins[@]}"; do
    mkdir -p "$stage/$(dirname "$plugin")"
    cp "$qt/plugins/$plugin.dll" "$stage/$plugin.dll"
done

# The DLLs imported by what is staged, and by those, found in dll_dirs; anything not found there
# is Windows' own.
imports() { $mingw-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
queue=("$stage"/*.exe "$stage"/*/*.dll)
while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r dll; do
        [ -e "$stage/$dll" ] && continue
        for dir in "${dll_dirs[@]}"; do
            if [ -f "$dir/$dll" ]; then
                cp "$dir/$dll" "$stage/$dll"
                queue+=("$stage/$dll")
                break
            fi
        done
    done < <(imports "$file")
done

if [ -n "${TORVANE_MEDIA_DIR:-}" ]; then
    for pair in yt-dlp.exe:core_engine.bin ffmpeg.exe:media_codec.bin; do
        [ -f "$TORVANE_MEDIA_DIR/${pair%%:*}" ] ||
            { echo "make-installer: $TORVANE_MEDIA_DIR/${pair%%:*} missing" >&2; exit 1; }
        cp "$TORVANE_MEDIA_DIR/${pair%%:*}" "$stage/${pair#*:}"
    done
else
    echo "make-installer: no TORVANE_MEDIA_DIR: the installer comes without yt-dlp and ffmpeg" >&2
fi

cmake --build "$build" --target torvane_windows_icon >/dev/null
out=$root/$build/torvane-$version-setup.exe
makensis -V2 -WX -DSTAGE="$root/$stage" -DVERSION="$version" \
    -DICON="$root/$build/packaging/torvane.ico" -DOUTFILE="$out" packaging/windows/torvane.nsi
echo "make-installer: $out ($(du -h "$out" | cut -f1), $(find "$stage" -type f | wc -l) files)" >&2

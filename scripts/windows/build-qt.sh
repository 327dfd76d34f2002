#!/usr/bin/env bash
# Qt for Windows (x86_64-w64-mingw32), cross-built from Debian's own qt6-base source of the same
# version as the host Qt, and kept in a cache outside the repository:
#   ${XDG_CACHE_HOME:-$HOME/.cache}/torvane/qt-<version>-mingw
# A finished cache is reused at once; a half-built one is removed and rebuilt. When the prebuilt
# archive ../shared/windows/qt-mingw-<version>-x86_64-w64-mingw32.tar.zst (beside the repository,
# or named by TORVANE_QT_ARCHIVE) is present and its sha256 matches the one its README names, it is
# unpacked instead of building. Prints the cache folder on its last line.
#
# Also installs the cross tools the Windows build, its tests and the installer need.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
t0=$SECONDS
step_start=$SECONDS
say() { echo "build-qt: $*" >&2; }
step() { say "$1"; step_start=$SECONDS; }
done_step() { say "  took $((SECONDS - step_start)) s"; }
die() { say "error: $*"; exit 1; }

step "installing the cross tools (mingw-w64, wine64, nsis, cmake, ninja-build)"
"$root/scripts/install-deps.sh" mingw-w64 wine64 wine nsis cmake ninja-build zstd dpkg-dev \
    qt6-base-dev qt6-base-dev-tools >&2
done_step
# Qt and the program use std::thread and friends: the posix-thread flavour of the compilers.
for tool in gcc g++; do
    [ -x /usr/bin/x86_64-w64-mingw32-$tool-posix ] ||
        die "/usr/bin/x86_64-w64-mingw32-$tool-posix missing (package mingw-w64)"
done

version=$(dpkg-query -W -f='${Version}' qt6-base-dev)   # e.g. 6.4.2+dfsg-10
upstream=${version%%+*}
upstream=${upstream%%-*}
cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/torvane
prefix=$cache_root/qt-$upstream-mingw
stamp=$prefix/.torvane-complete

if [ -f "$stamp" ] && [ -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
    say "using the finished cache $prefix"
    echo "$prefix"
    exit 0
fi
if [ -e "$prefix" ]; then
    say "removing the half-built $prefix"
    rm -rf "$prefix"
fi
mkdir -p "$cache_root"

# The archive lies in ../shared/windows beside the repository; a git worktree looks beside its main
# repository too.
archive_name=qt-mingw-$upstream-x86_64-w64-mingw32.tar.zst
archive=${TORVANE_QT_ARCHIVE:-}
if [ -z "$archive" ]; then
    common=$(git -C "$root" rev-parse --path-format=absolute --git-common-dir 2>/dev/null || true)
    for folder in "$root/.." "${common:+$(dirname "$common")/..}"; do
        [ -n "$folder" ] && [ -f "$folder/shared/windows/$archive_name" ] || continue
        archive=$(cd "$folder/shared/windows" && pwd)/$archive_name
        break
    done
fi
if [ -n "$archive" ] && [ -f "$archive" ]; then
    readme=$(dirname "$archive")/README.md
    expected=$(grep -o '[0-9a-f]\{64\}' "$readme" 2>/dev/null | head -1 || true)
    step "checking $archive"
    actual=$(sha256sum "$archive" | cut -d' ' -f1)
    done_step
    if [ -n "$expected" ] && [ "$actual" = "$expected" ]; then
        step "unpacking the prebuilt Qt into $prefix"
        work=$(mktemp -d "$cache_root/unpack.XXXXXX")
        tar --zstd -xf "$archive" -C "$work"
        mv "$work/qt-mingw" "$prefix"
        rm -rf "$work"
        touch "$stamp"
        done_step
        say "ready in $((SECONDS - t0)) s"
        echo "$prefix"
        exit 0
    fi
    say "sha256 of $archive is $actual, expected ${expected:-none in $readme}: building from source"
else
    say "no prebuilt archive ../shared/windows/$archive_name: building from source"
fi

# ---- From source: Debian's qt6-base of the installed version, Debian's patches applied.
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
has_deb_src() {
    grep -qsE '^\s*deb-src\s' /etc/apt/sources.list /etc/apt/sources.list.d/*.list ||
        grep -qsE '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources
}
if ! has_deb_src; then
    step "adding deb-src entries for Debian's archive"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            $SUDO tee /etc/apt/sources.list.d/torvane-deb-src.sources >/dev/null
    elif [ -f /etc/apt/sources.list ]; then
        grep -E '^\s*deb\s' /etc/apt/sources.list | sed -E 's/^\s*deb\s/deb-src /' |
            $SUDO tee /etc/apt/sources.list.d/torvane-deb-src.list >/dev/null
    else
        die "no Debian archive in /etc/apt to add deb-src for"
    fi
    $SUDO apt-get update -qq || die "apt-get update failed after adding deb-src"
    done_step
fi

src_work=$cache_root/qt6-base-src-$upstream
rm -rf "$src_work"
mkdir -p "$src_work"
step "fetching the source of qt6-base=$version (apt-get source)"
(cd "$src_work" && apt-get source -qq "qt6-base=$version" >&2) ||
    die "apt-get source qt6-base=$version failed: the source package cannot be fetched (check the deb-src entries and the network; or put the prebuilt archive in ../shared/windows beside the repository)"
src=$(find "$src_work" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
[ -n "$src" ] && [ -f "$src/CMakeLists.txt" ] || die "no unpacked source under $src_work"
done_step

build=$src_work/build
step "configuring Qt $upstream for x86_64-w64-mingw32 (prefix $prefix)"
# A minimal release Qt: Core, Gui, Widgets, Network with Windows' own TLS (schannel), Test; the
# windows platform plugin. No OpenGL, SQL, D-Bus or printing. Direct2D stays on: without it the
# windows platform plugin does not link. Host tools (moc, rcc, uic) are Debian's.
cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_network=ON -DFEATURE_testlib=ON \
    -DFEATURE_schannel=ON -DFEATURE_openssl=OFF -DINPUT_openssl=no \
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF \
    -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_androiddeployqt=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF \
    -DFEATURE_pkg_config=OFF >"$src_work/configure.log" 2>&1 ||
    { tail -30 "$src_work/configure.log" >&2; die "configure failed (log: $src_work/configure.log)"; }
done_step

step "building Qt (about 30 minutes on two cores)"
cmake --build "$build" --parallel "${TORVANE_JOBS:-2}" >"$src_work/build.log" 2>&1 ||
    { tail -30 "$src_work/build.log" >&2; die "build failed (log: $src_work/build.log)"; }
done_step

step "installing into $prefix"
cmake --install "$build" >"$src_work/install.log" 2>&1 ||
    { tail -30 "$src_work/install.log" >&2; die "install failed"; }
touch "$stamp"
rm -rf "$src_work"
done_step
say "ready in $((SECONDS - t0)) s"
echo "$prefix"

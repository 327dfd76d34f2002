# Sourced by the Windows scripts: a throw-away Wine prefix (or TORVANE_WINEPREFIX, kept), Wine's
# own messages off, the Qt and mingw-w64 runtime DLLs found through WINEPATH, a private Xvfb when
# there is no display. wine_env_end stops Wine's server and removes what was made.
root=${root:?}
_wine_qt=$("$root/scripts/windows/build-qt.sh" 2>/dev/null | tail -1)
_wine_gcc=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
export WINEPREFIX=${TORVANE_WINEPREFIX:-$(mktemp -d /tmp/torvane-wine.XXXXXX)}
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH="Z:${_wine_qt//\//\\}\\bin;Z:${_wine_gcc//\//\\};Z:\\usr\\x86_64-w64-mingw32\\lib"
_wine_xvfb=
if [ -z "${DISPLAY:-}" ]; then
    for _wine_n in $(seq 90 120); do
        [ -e /tmp/.X11-unix/X$_wine_n ] || [ -e /tmp/.X$_wine_n-lock ] && continue
        Xvfb ":$_wine_n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        _wine_xvfb=$!
        export DISPLAY=:$_wine_n
        break
    done
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
fi
_wine_start=$SECONDS
wineserver -p
# Wine links the prefix's Downloads, Documents and Desktop to the Unix home's folders (the home
# itself when it has none): a home inside the prefix keeps what tests download thrown away too.
mkdir -p "$WINEPREFIX/home"
HOME=$WINEPREFIX/home wineboot -i >/dev/null 2>&1 || true
echo "wine: prefix $WINEPREFIX ready in $((SECONDS - _wine_start)) s" >&2
wine_env_end() {
    wineserver -k 2>/dev/null || true
    [ -n "$_wine_xvfb" ] && kill "$_wine_xvfb" 2>/dev/null
    [ -n "${TORVANE_WINEPREFIX:-}" ] || rm -rf "$WINEPREFIX"
}

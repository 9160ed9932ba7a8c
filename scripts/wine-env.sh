# Sourced by the Windows scripts: a Wine prefix of this run's own, started
# before any test so that the wineserver does not inherit (and hold open)
# ctest's output pipes, and removed again on exit. Sets WINE64.
WINE64=${WINE64:-/usr/lib/wine/wine64}
[[ -x "$WINE64" ]] || WINE64=$(command -v wine64 || command -v wine)
WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
if [[ -z "${WINEPREFIX:-}" ]]; then
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/torvane-wine.XXXXXX")
  export WINEPREFIX
  torvane_wine_cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  }
  trap torvane_wine_cleanup EXIT
fi
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
"$WINE64" wineboot >/dev/null 2>&1 </dev/null

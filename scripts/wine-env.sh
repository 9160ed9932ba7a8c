# Sourced by the Windows scripts: a Wine prefix of this run's own, started
# before any test so that the wineserver does not inherit (and hold open)
# ctest's output pipes, and removed again on exit. Sets WINE64. Windows need
# a display: without DISPLAY an Xvfb of this run's own is started. Without a
# window manager, Wine draws the captions itself only when its X11 driver
# does not hand windows to one (Managed=N); Chinese captions need a CJK font
# (fonts-noto-cjk) and a Chinese locale hint (LANG=zh_CN.UTF-8, set by the
# scripts that show them).
WINE64=${WINE64:-/usr/lib/wine/wine64}
[[ -x "$WINE64" ]] || WINE64=$(command -v wine64 || command -v wine)
WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
TORVANE_OWN_PREFIX=
TORVANE_XVFB_PID=
if [[ -z "${WINEPREFIX:-}" ]]; then
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/torvane-wine.XXXXXX")
  export WINEPREFIX
  TORVANE_OWN_PREFIX=1
fi
if [[ -z "${DISPLAY:-}" ]] && command -v Xvfb >/dev/null; then
  for n in $(seq 90 140); do
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
    TORVANE_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
    break
  done
fi
torvane_wine_cleanup() {
  if [[ -n "$TORVANE_OWN_PREFIX" ]]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  if [[ -n "$TORVANE_XVFB_PID" ]]; then kill "$TORVANE_XVFB_PID" 2>/dev/null || true; fi
}
trap torvane_wine_cleanup EXIT
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
"$WINE64" wineboot >/dev/null 2>&1 </dev/null
"$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null || true

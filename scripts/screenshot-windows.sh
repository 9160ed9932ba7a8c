#!/usr/bin/env bash
# Retakes docs/windows-main-window.png (torvane.exe's main window after a
# flash of samples/app.bin into a simulated bootloader, its path box showing
# a neutral path) and docs/windows-station-window.png (the station window on
# simulated units passed, failed and flashing) under Wine on an Xvfb
# display, in a fresh Wine prefix with a Chinese locale and a CJK font.
# Uses the Windows build in BUILD_DIR (default build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-windows}
shown=${SHOWN_PATH:-C:\\Users\\operator\\firmware\\app.bin}
[[ -f "$build_dir/build.ninja" ]] || BUILD_DIR="$build_dir" bash scripts/build-windows.sh
cmake --build "$build_dir" --target torvane_win32_images
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
unset DISPLAY WINEPREFIX
source scripts/wine-env.sh
# The dialog fonts have no Chinese glyphs here: they are replaced by the CJK
# font, which holds the Latin letters too (a Chinese Windows links its UI
# fonts to a CJK font of its own).
for face in "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Segoe UI"; do
  "$WINE64" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d 'Noto Sans CJK SC' /f \
    >/dev/null 2>&1 </dev/null
done
"$WINE64" "$build_dir/ui/torvane_win32_images.exe" main docs/windows-main-window.png samples/app.bin "$shown"
"$WINE64" "$build_dir/ui/torvane_win32_images.exe" station docs/windows-station-window.png samples/app.bin "$PWD/samples"
echo "docs/windows-main-window.png written (path box: $shown), docs/windows-station-window.png written"

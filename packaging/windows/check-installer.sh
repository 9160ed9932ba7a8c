#!/usr/bin/env bash
# Installs the Windows installer silently under Wine (a running prefix:
# scripts/wine-env.sh), checks the installed files, the Start-menu entries
# and the uninstall entry, flashes the bundled image with the installed
# program, then uninstalls and checks that the files are gone. The exit
# status of an installer says little under Wine: the files are checked.
#   check-installer.sh <installer.exe> <zip>
set -euo pipefail
installer=$1
zip=$2
wine=${WINE64:-/usr/lib/wine/wine64}
fail() { echo "installer check: $*" >&2; exit 1; }

"$wine" "$installer" /S
appdata=$("$wine" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
folder=$(winepath -u "$appdata\\Programs\\Torvane" 2>/dev/null)
for f in torvane.exe torvane-cli.exe Torvane.ini burn_boot_0.3.0.0.bin head_1.0_2016_04_22.bin samples/app.bin uninstall.exe; do
  [[ -f "$folder/$f" ]] || fail "$f missing in $folder"
done
programs=$(winepath -u "$("$wine" cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs\\Torvane")
[[ -f "$programs/Torvane.lnk" && -f "$programs/Torvane command line.lnk" && -f "$programs/Uninstall Torvane.lnk" ]] ||
  fail "Start-menu entries missing in $programs"
"$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane' /v UninstallString \
  >/dev/null 2>&1 || fail "no uninstall entry"
# The installed files are the zip's.
listed=$(unzip -Z1 "$zip" | grep -v '/$' | sed 's|^[^/]*/||' | sort)
installed=$(cd "$folder" && find . -type f ! -name uninstall.exe | sed 's|^\./||' | sort)
[[ "$listed" == "$installed" ]] || fail "installed files differ from the zip: $installed"

# The installed program finds its settings and flashes.
(cd /tmp && "$wine" "$folder/torvane-cli.exe" flash --simulate boot "$folder/samples/app.bin" 2>&1 |
  grep -q 'image=ok') || fail "the installed torvane-cli did not flash"

# _?= runs the uninstaller in place, so it has ended when this returns.
"$wine" "$folder/uninstall.exe" /S "_?=$(winepath -w "$folder")"
rm -f "$folder/uninstall.exe"  # left behind by an in-place run
[[ ! -e "$folder/torvane.exe" && ! -e "$folder/torvane-cli.exe" && ! -e "$folder/Torvane.ini" ]] || fail "files left after uninstalling"
[[ ! -e "$programs" ]] || fail "Start-menu folder left after uninstalling"
echo "installer: installed, checked, flashed, uninstalled"

#!/usr/bin/env bash
# Checks a built torvane .deb: lists its contents and control fields, fails
# unless the programs, their links on PATH, the settings file (a conffile),
# the boot update files, the desktop entry, the icons, the udev rule and the
# udev reload script are there and the dependencies were computed. Then runs
# the packaged torvane-cli from an unpacked copy: it must find the boot update
# files beside its real executable through the link in usr/bin, and flash a
# simulated bootloader.
#   packaging/check-deb.sh [FILE.deb]   (default: the newest build*/packages/torvane_*.deb)
set -euo pipefail

deb=${1:-}
if [[ -z "$deb" ]]; then
  for candidate in "$(dirname "$0")"/../build*/packages/torvane_*.deb; do
    [[ -f "$candidate" && ( -z "$deb" || "$candidate" -nt "$deb" ) ]] && deb=$candidate
  done
fi
if [[ -z "$deb" || ! -f "$deb" ]]; then
  echo "check-deb: no package file${deb:+ at $deb}" >&2
  exit 1
fi

failures=0
fail() {
  echo "check-deb: $*" >&2
  failures=$((failures + 1))
}

echo "== $deb"
listing=$(dpkg-deb -c "$deb")
echo "$listing"
# The path column of `dpkg-deb -c`: "./usr/bin/torvane -> ../lib/torvane/torvane"
paths=$(awk '{ for (i = 6; i <= NF; i++) printf "%s%s", $i, (i < NF ? " " : "\n") }' <<<"$listing")

# has PATH: a regular file (or, with "->", a link) at PATH.
has() {
  grep -qxF -- "$1" <<<"$paths" || fail "missing: $1"
}
has_executable() {
  grep -E -- "^-rwxr-xr-x .* \\.$1\$" <<<"$listing" >/dev/null || fail "missing or not executable: .$1"
}
has_link() {
  grep -qxF -- ".$1 -> $2" <<<"$paths" || fail "missing link: .$1 -> $2"
}

app=/usr/lib/torvane
for program in torvane torvane-cli torvane-virtual-device; do
  has_executable "$app/$program"
  has_link "/usr/bin/$program" "../lib/torvane/$program"
done
has "./etc/torvane/Torvane.ini"
has_link "$app/Torvane.ini" "/etc/torvane/Torvane.ini"
has ".$app/burn_boot_0.3.0.0.bin"
has ".$app/head_1.0_2016_04_22.bin"
has "./usr/share/torvane/samples/app.bin"
has "./usr/share/applications/torvane.desktop"
for size in 16 48 256; do
  has "./usr/share/icons/hicolor/${size}x${size}/apps/torvane.png"
done
has "./usr/lib/udev/rules.d/70-torvane.rules"
for program in torvane torvane-cli torvane-virtual-device; do
  has "./usr/share/man/man1/$program.1.gz"
done
has "./usr/share/bash-completion/completions/torvane-cli"

echo "== control"
control=$(dpkg-deb -f "$deb")
echo "$control"
field() { awk -v name="$1" -F': ' '$1 == name { print $2 }' <<<"$control"; }
[[ "$(field Package)" == "torvane" ]] || fail "Package is not torvane"
[[ "$(field Version)" == "1.5.0.0" ]] || fail "Version is not 1.5.0.0"
depends=$(field Depends)
for lib in libhidapi-hidraw0 libudev1 libqt6widgets6 libstdc++6 libc6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: '$depends'"
done
# HEX and S-record files are read by the tool's own reader; SRecord only
# checks it in the tests.
[[ "$depends" != *libsrecord* ]] || fail "Depends names SRecord: '$depends'"

control_dir=$(mktemp -d)
unpacked=$(mktemp -d)
trap 'rm -rf "$control_dir" "$unpacked"' EXIT
dpkg-deb -e "$deb" "$control_dir"
grep -qxF /etc/torvane/Torvane.ini "$control_dir/conffiles" 2>/dev/null || fail "Torvane.ini is not a conffile"
if [[ ! -x "$control_dir/postinst" ]] || ! grep -q "udevadm control --reload-rules" "$control_dir/postinst"; then
  fail "postinst does not reload the udev rules"
fi

echo "== packaged torvane-cli, unpacked"
dpkg-deb -x "$deb" "$unpacked"
# No image: the old bootloader is always given the boot update files, which
# the tool finds beside its real executable.
if out=$("$unpacked/usr/bin/torvane-cli" flash --simulate oldboot 2>&1); then
  echo "$out" | tail -n 3
  grep -q "下载成功" <<<"$out" || fail "no success line after the simulated flash"
  grep -q "COMPLETED .*image=ok" <<<"$out" || fail "the simulated device did not accept the boot update"
else
  fail "torvane-cli flash --simulate oldboot failed: $out"
fi
grep -q "settings file: $unpacked/usr/lib/torvane/Torvane.ini" <<<"$("$unpacked/usr/bin/torvane-cli" config)" ||
  fail "torvane-cli config does not read Torvane.ini beside the real executable"

echo "== manual pages and completion"
for program in torvane torvane-cli torvane-virtual-device; do
  page="$unpacked/usr/share/man/man1/$program.1.gz"
  [[ -f "$page" ]] || continue
  # groff's warnings (bad requests, lines it cannot break) go to stderr.
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l $program.1 failed"
  [[ -z "$warnings" ]] || fail "man -l $program.1 warns: $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "^SYNOPSIS" || fail "$program.1 has no SYNOPSIS"
done
completion="$unpacked/usr/share/bash-completion/completions/torvane-cli"
if [[ -f "$completion" && -f /usr/share/bash-completion/bash_completion ]]; then
  # Completes as a shell would, with the unpacked tool first on PATH.
  complete_line() {
    PATH="$unpacked/usr/bin:$PATH" bash -c '
      source /usr/share/bash-completion/bash_completion; source "$1"; shift
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      _torvane_cli; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
  }
  grep -qx flash <<<"$(complete_line torvane-cli fl)" || fail "completion does not offer flash"
  grep -qx -- --address <<<"$(complete_line torvane-cli flash --add)" || fail "completion does not offer --address"
fi

if ((failures > 0)); then
  echo "check-deb: $failures problem(s) in $deb" >&2
  exit 1
fi
echo "check-deb: $deb is complete"

#!/usr/bin/env bash
# torvane-cli.exe under Wine, end to end on the simulated bus:
#   windows_end_to_end.sh <torvane-cli.exe> <samples folder>
# the bundled image; an Intel HEX file; an image whose bytes hold CR LF and
# 0x1A (the device's verdict must match the Linux build's when
# TORVANE_LINUX_CLI names it, else the bytes the device counted); an image
# under a Chinese folder name; the station with four units and a record
# file; a job file checked, locked and unlocked; Ctrl-C sent to the Wine
# process during a download. Needs a running Wine prefix
# (scripts/test-windows.sh starts one).
set -euo pipefail
exe=$1
samples=$2
wine=${WINE64:-/usr/lib/wine/wine64}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
verdict() { grep '^simulated device' || true; }

flash_ok() {  # <what> <image> [options...]: flashes, expects exit 0 and image=ok
  local what=$1 image=$2
  shift 2
  local out
  out=$("$wine" "$exe" flash --simulate boot "$@" "$image" 2>&1) || fail "$what: exit $?: $(tail -3 <<<"$out")"
  grep -q 'image=ok' <<<"$out" || fail "$what: $(verdict <<<"$out")"
  verdict <<<"$out"
}

echo "== bundled image"
flash_ok app.bin "$samples/app.bin" >/dev/null

echo "== Intel HEX (CR LF line ends) at the App Address"
python3 - "$work/app.hex" <<'PY'
import sys
data = bytes(range(256)) * 4
lines = [":020000040000FA"]
for at in range(0, len(data), 16):
    chunk = data[at:at + 16]
    addr = 0x1000 + at
    rec = [len(chunk), addr >> 8, addr & 0xFF, 0] + list(chunk)
    lines.append(":" + "".join("%02X" % b for b in rec) + "%02X" % ((-sum(rec)) & 0xFF))
lines.append(":00000001FF")
open(sys.argv[1], "wb").write(("\r\n".join(lines) + "\r\n").encode())
PY
flash_ok app.hex "$work/app.hex" | grep -q 'len=976 ' || fail "HEX: unexpected length"

echo "== image with CR LF and 0x1A bytes"
python3 -c "import sys; sys.stdout.buffer.write((b'\r\n\x1a\n\r' + bytes(range(256))) * 40 + b'\x1a\r\n')" >"$work/crlf.bin"
win_verdict=$(flash_ok crlf.bin "$work/crlf.bin")
size=$(stat -c %s "$work/crlf.bin")
grep -q "bytes=$(( (size + 3) / 4 * 4 ))/" <<<"$win_verdict" || fail "CR LF image: $win_verdict"
if [[ -n "${TORVANE_LINUX_CLI:-}" ]]; then
  linux_verdict=$("$TORVANE_LINUX_CLI" flash --simulate boot "$work/crlf.bin" 2>&1 | verdict)
  [[ "$linux_verdict" == "$win_verdict" ]] || fail "verdicts differ: Linux '$linux_verdict', Windows '$win_verdict'"
  echo "   same verdict as the Linux build"
fi

echo "== image under a Chinese folder name"
mkdir -p "$work/固件 目录"
cp "$samples/app.bin" "$work/固件 目录/应用.bin"
flash_ok chinese "$work/固件 目录/应用.bin" >/dev/null

echo "== station: four units, a record file"
out=$("$wine" "$exe" station --count 4 --record "$work/units.jsonl" \
  --simulate boot --simulate boot --simulate boot --simulate boot "$samples/app.bin" 2>&1) ||
  fail "station: exit $?: $(tail -5 <<<"$out")"
[[ $(wc -l <"$work/units.jsonl") -eq 4 ]] || fail "station: $(wc -l <"$work/units.jsonl") records"
[[ $(grep -c '"result_name":"ok"' "$work/units.jsonl") -eq 4 ]] || fail "station records: $(cat "$work/units.jsonl")"
# SHA-256 (BCrypt) and CRC-32 (zlib) of the image as the host computes them.
sha=$(sha256sum "$samples/app.bin" | cut -d' ' -f1)
crc=$(python3 -c "import sys, zlib; print('%08x' % zlib.crc32(open(sys.argv[1], 'rb').read()))" "$samples/app.bin")
[[ $(grep -c "\"crc32\":\"$crc\",\"sha256\":\"$sha\"" "$work/units.jsonl") -eq 4 ]] ||
  fail "station digests: expected crc32 $crc sha256 $sha"

echo "== job file: a relative image path with Windows separators into a Chinese folder; lock, unlock"
mkdir -p "$work/作业"
printf '[job]\r\nimage = ..\\固件 目录\\应用.bin\r\nsha256 = %s\r\n' "$sha" >"$work/作业/job.ini"
cp "$work/作业/job.ini" "$work/job.original"
out=$("$wine" "$exe" job check "$work/作业/job.ini" 2>&1) || fail "job check: exit $?: $(tail -3 <<<"$out")"
grep -q "SHA-256:  $sha" <<<"$out" || fail "job check: $out"
printf '班长\n' | "$wine" "$exe" job lock "$work/作业/job.ini" >/dev/null || fail "job lock: exit $?"
grep -q '^password = pbkdf2-sha256\$200000\$' "$work/作业/job.ini" || fail "job lock: $(cat "$work/作业/job.ini")"
printf '班长\n' | "$wine" "$exe" job unlock "$work/作业/job.ini" >/dev/null || fail "job unlock: exit $?"
cmp -s "$work/作业/job.ini" "$work/job.original" || fail "job unlock: the file differs from before the lock"

echo "== Ctrl-C during a download"
# Every reply 20 ms late: about 8 s for the image, time enough to interrupt.
"$wine" "$exe" flash --simulate boot,latency-us=20000 "$samples/app.bin" >"$work/ctrl-c.out" 2>&1 &
pid=$!
for _ in $(seq 100); do
  grep -q '正在下载: 5' "$work/ctrl-c.out" && break
  sleep 0.1
done
kill -INT "$pid"
status=0
wait "$pid" || status=$?
[[ $status -eq 6 ]] || fail "Ctrl-C: exit $status, expected 6: $(tail -3 "$work/ctrl-c.out")"
grep -q 'cancelling' "$work/ctrl-c.out" || fail "Ctrl-C: no cancel: $(tail -3 "$work/ctrl-c.out")"
echo "all passed"

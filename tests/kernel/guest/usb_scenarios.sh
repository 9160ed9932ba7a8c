# The USB tier: the same checks as the uhid scenarios where the USB layer
# matters (port paths, USB serial and interface numbers, re-enumeration
# through the USB core, output reports as interrupt transfers), against
# torvane-virtual-device --gadget on dummy_hcd. Each gadget on dummy_udc.N
# is the device on port N+1-1.

run_usb_scenarios() {
  usb_t0=$(uptime_s)
  for s in usb_enter_boot_keeps_port_then_flash usb_four_ports_list_and_pick usb_replug_while_node_held \
           usb_unplug_mid_flash usb_station_four_ports usb_report_id_composite usb_stalled_device \
           usb_bench_real_stack usb_bench_wait_to_first_start; do
    run_one "$s"
  done
  # Figure: what the USB tier adds to the run (module loading included).
  awk -v a="$usb_t0" -v b="$(uptime_s)" 'BEGIN { printf "TORVANE-NOTE USB tier took %.1f s (goal <= 60 s)\n", b - a }'
}

# The application is sent into its bootloader: the device re-enumerates
# through the USB core under the bootloader's PID on the same port, and is
# then flashed byte for byte.
scenario_usb_enter_boot_keeps_port_then_flash() {
  need torvane-virtual-device
  need torvane-cli
  usb_up
  start_gadget app 0 app,serial=UNIT-1 --save-image /tmp/usb-flashed.bin >/dev/null || exit 1
  rc=$(cli usb-enter enter-boot --wait 20)
  [ "$rc" = 0 ] || fail "enter-boot exit $rc"
  usb_hidraw_of 1-1 >/dev/null || fail "nothing came back on port 1-1"
  rc=$(cli usb-enter-list list --json)
  expect_line /tmp/cli-usb-enter-list.log '"port":"1-1","serial":"UNIT-1","vid_pid":"484F:5048"' \
    "the bootloader is not on port 1-1 with the unit's serial"
  rc=$(cli usb-flash flash --port 1-1 --wait 20 /data/app.bin)
  cat /tmp/vdev-app.log
  [ "$rc" = 0 ] || fail "flash exit $rc"
  expect_line /tmp/cli-usb-flash.log '下载成功'
  expect_line /tmp/vdev-app.log '^image confirmed: 20000 bytes, CRC-16 ok, load address 0x00001000$'
  cmp /tmp/usb-flashed.bin /data/app.bin || fail "the device holds other bytes than app.bin"
  usb_hidraw_of 1-1 >/dev/null || fail "the application did not come back on port 1-1"
}

# Four identical bootloaders (same IDs, same serial): list --json shows each
# on its own USB port with the USB serial and interface 0, and --port 2-1
# flashes the one on the second controller and no other.
scenario_usb_four_ports_list_and_pick() {
  need torvane-virtual-device
  need torvane-cli
  usb_up
  for u in 0 1 2 3; do launch_gadget p$u $u boot,serial=UNIT-0042 --save-image /tmp/usb-port$u.bin; done
  wait_gadgets 3
  rc=$(cli usb-list list --json)
  [ "$rc" = 0 ] || fail "list exit $rc"
  for u in 1 2 3 4; do
    expect_line /tmp/cli-usb-list.log "\"port\":\"$u-1\",\"serial\":\"UNIT-0042\",\"vid_pid\":\"484F:5048\",\"usage_page\":\"FF00\",\"usage\":\"0001\",\"interface\":0," \
      "port $u-1 is not listed with the unit's serial and interface 0"
  done
  rc=$(cli usb-port flash --port 2-1 --wait 20 /data/app.bin)
  [ "$rc" = 0 ] || fail "flash --port 2-1 exit $rc"
  cmp /tmp/usb-port1.bin /data/app.bin || fail "the unit on port 2-1 holds other bytes than app.bin"
  for u in 0 2 3; do
    [ -e /tmp/usb-port$u.bin ] && fail "the unit on port $((u + 1))-1 was flashed too"
  done
  return 0
}

# The device is re-plugged while another program still holds its old node:
# the old node is dead, the device comes back on another node on the same
# port, and the tool finds it there and gets its answer.
scenario_usb_replug_while_node_held() {
  need torvane-virtual-device
  need torvane-cli
  usb_up
  old=$(start_gadget replug 0 boot) || exit 1
  exec 3<>"$old" || fail "cannot hold $old"
  kill -USR1 "$(gadget_pid 0)"
  new=$(usb_hidraw_of 1-1 10 "$old") || { cat /tmp/vdev-replug.log; fail "the device did not come back beside $old"; }
  echo "old node $old (held), new node $new"
  rc=$(cli usb-replug info --port 1-1)
  exec 3>&-
  cat /tmp/vdev-replug.log
  [ "$rc" = 0 ] || fail "info exit $rc after the re-plug"
  expect_line /tmp/cli-usb-replug.log 'ZAVRO:0.3.0.0 12:33:39 Sep 13 2016'
  rc=$(cli usb-replug-list list --json)
  expect_line /tmp/cli-usb-replug-list.log "\"path\":\"$new\",\"port\":\"1-1\"" "the new node $new is not listed on port 1-1"
}

# The gadget is unbound from its controller when block 50 arrives (the
# cable pulled mid-flash): the tool fails with exit 3 and reports no success.
scenario_usb_unplug_mid_flash() {
  need torvane-virtual-device
  need torvane-cli
  usb_up
  start_gadget unplug 0 boot,unplug-block=50 >/dev/null || exit 1
  rc=$(cli usb-unplug flash --wait 20 /data/app.bin)
  cat /tmp/vdev-unplug.log
  expect_line /tmp/vdev-unplug.log 'pulled out'
  [ "$rc" = 3 ] || fail "flash exit $rc after the device left (wanted 3)"
  expect_line /tmp/cli-usb-unplug.log '下载失败'
  grep -q '下载成功' /tmp/cli-usb-unplug.log && fail "success reported for a removed device"
  return 0
}

# The station over four gadgets: records carry the USB ports 1-1 .. 4-1
# and the USB serials; the unit pulled out at block 50 is recorded failed.
scenario_usb_station_four_ports() {
  need torvane-virtual-device
  need torvane-cli
  usb_up
  for u in 0 1 2; do
    launch_gadget st$u $u "boot,serial=USB-ST$u" -v --save-image /tmp/usb-st$u.bin
  done
  launch_gadget st3 3 "boot,serial=USB-ST3,unplug-block=50"
  wait_gadgets 3
  rc=$(cli usb-station station --count 4 --record /tmp/usb-units.jsonl /data/app.bin)
  cat /tmp/usb-units.jsonl /tmp/vdev-st?.log
  [ "$rc" = 8 ] || fail "station exit $rc (wanted 8: one unit failed)"
  [ "$(wc -l </tmp/usb-units.jsonl)" = 4 ] || fail "not one record line per unit"
  for u in 0 1 2; do
    expect_line /tmp/usb-units.jsonl "\"port\":\"$((u + 1))-1\",.*\"serial\":\"USB-ST$u\",.*\"result\":0," "unit on port $((u + 1))-1 not recorded as passed"
    cmp /tmp/usb-st$u.bin /data/app.bin || fail "unit $u holds other bytes than app.bin"
  done
  expect_line /tmp/usb-units.jsonl '"port":"4-1",.*"serial":"USB-ST3",.*"result":3,' "the unplugged unit's record"
}

# Report IDs and a composite layout over USB: a keyboard collection
# (report ID 1, its own length, key reports between replies) before the
# bootloader's own one (report ID 5), in one interface, flashed.
scenario_usb_report_id_composite() {
  need torvane-virtual-device
  need torvane-cli
  usb_up
  start_gadget comp 0 boot,report-id=5,composite=1:9,composite-input=3 --save-image /tmp/usb-comp.bin >/dev/null || exit 1
  trap 'rm -f /usr/bin/Torvane.ini' EXIT
  printf '[Boot]\nUsage Page=FF00\nUsage=1\n' >/usr/bin/Torvane.ini
  rc=$(cli usb-comp-flash flash --wait 20 /data/app.bin)
  cat /tmp/vdev-comp.log
  [ "$rc" = 0 ] || fail "flash exit $rc"
  expect_line /tmp/vdev-comp.log '^image confirmed: 20000 bytes, CRC-16 ok'
  grep -q 'protocol violation' /tmp/vdev-comp.log && fail "a frame went to the wrong collection"
  cmp /tmp/usb-comp.bin /data/app.bin || fail "the device holds other bytes than app.bin"
}

# Figures, printed and not asserted: the transfer engine's time per
# exchange against a bare write/read loop on the same gadget's hidraw node.
scenario_usb_bench_real_stack() {
  need torvane-virtual-device
  need torvane-hid-probe
  usb_up
  start_gadget bench 0 boot,no-restart >/dev/null || exit 1
  torvane-hid-probe bench 484F 5048 100 >/tmp/usb-bench.txt 2>&1 || { cat /tmp/usb-bench.txt; fail "bench failed"; }
  cat /tmp/usb-bench.txt
  echo "TORVANE-NOTE USB stack: $(cat /tmp/usb-bench.txt)" >/dev/console
}

# Figure, printed and not asserted: with flash --wait running, the time from
# udev's add event of the gadget's hidraw node to the first start command.
scenario_usb_bench_wait_to_first_start() {
  need torvane-virtual-device
  need torvane-cli
  [ -S /run/udev/control ] || skip "udevd is not running in this guest"
  usb_up
  start_helper /tmp/usb-udev-monitor.log udevadm monitor --udev --subsystem-match=hidraw >/dev/null
  timeout 60 torvane-cli flash --wait 30 /data/app.bin >/tmp/cli-usb-wait.log 2>&1 &
  cli_pid=$!
  sleep 1
  start_gadget wait 0 boot -v >/dev/null || exit 1
  wait "$cli_pid"
  rc=$?
  [ "$rc" = 0 ] || { cat /tmp/cli-usb-wait.log /tmp/vdev-wait.log; fail "flash exit $rc"; }
  created=$(sed -n 's/^created at \([0-9.]*\) s$/\1/p' /tmp/vdev-wait.log | head -n 1)
  start=$(sed -n 's/^frame: command 3 at \([0-9.]*\) s$/\1/p' /tmp/vdev-wait.log | head -n 1)
  udev=$(sed -n 's/^UDEV *\[\([0-9.]*\)\] *add .*hidraw.*/\1/p' /tmp/usb-udev-monitor.log | head -n 1)
  [ -n "$start" ] && [ -n "$udev" ] || { cat /tmp/vdev-wait.log /tmp/usb-udev-monitor.log; fail "no timestamps"; }
  line=$(awk -v c="$created" -v s="$start" -v u="$udev" 'BEGIN {
    printf "USB flash --wait: first start command %.1f ms after udev'"'"'s add event (goal < 100 ms), %.1f ms after the gadget was bound", (s - u) * 1000, (s - c) * 1000 }')
  echo "$line"
  echo "TORVANE-NOTE $line" >/dev/console
}

# Seconds (with hundredths) a command takes; its output goes to $1.
timed() {
  out=$1
  shift
  t0=$(uptime_s)
  "$@" >"$out" 2>&1
  rc=$?
  t1=$(uptime_s)
  awk -v a="$t0" -v b="$t1" -v rc="$rc" 'BEGIN { printf "%.2f %d", b - a, rc }'
}

# A device that hangs mid-flash and stops taking output reports: over USB
# the host's writes back up (the first few fill the device's receive
# buffers, later ones wait in the USB core ~5 s and fail with ETIMEDOUT).
# The flash ends with a clear failure, and every write ends for the tool
# within its 1000 ms budget, later ones at once while the kernel still holds
# one.
scenario_usb_stalled_device() {
  need torvane-virtual-device
  need torvane-cli
  need torvane-hid-probe
  usb_up
  start_gadget hang 0 boot,hang-block=10 >/dev/null || exit 1
  set -- $(timed /tmp/usb-hang-flash.log torvane-cli flash --wait 20 /data/app.bin)
  grep -v 正在下载 /tmp/usb-hang-flash.log
  echo "flash into the hanging device: exit $2 after $1 s"
  [ "$2" = 3 ] || fail "flash exit $2 (wanted 3)"
  grep -q '下载成功' /tmp/usb-hang-flash.log && fail "success reported for a hung device"
  # The probe's exit waits for the write the kernel still holds; the
  # scenario does not: the gadget's removal at its end releases it.
  torvane-hid-probe write-burst 484F 5048 7 >/tmp/usb-hang-burst.log 2>&1 &
  i=0
  until grep -q '^write 7:' /tmp/usb-hang-burst.log || [ $i -ge 100 ]; do sleep 0.1; i=$((i + 1)); done
  cat /tmp/usb-hang-burst.log /tmp/vdev-hang.log
  expect_line /tmp/usb-hang-burst.log '^write 7: [0-9]+ ms, write: the device takes no output report' "the seventh write did not fail"
  awk '$3 + 0 > 1500 { bad = 1 } END { exit bad }' /tmp/usb-hang-burst.log || fail "a write took longer than its budget"
  echo "TORVANE-NOTE USB device that stops reading: $(tr '\n' ';' </tmp/usb-hang-burst.log)" >/dev/console
}

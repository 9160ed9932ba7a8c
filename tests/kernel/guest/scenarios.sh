# The kernel-test scenarios, run in this order. Each one is a function
# scenario_<name> (see run_one in lib.sh for the exit-status contract).

run_scenarios() {
  for s in kernel_modules virtual_boot_device report_id_5 udev_rule_tags app_enter_boot_probe \
           virtual_device_stops_cleanly cli_list_three_kinds cli_enter_boot_then_flash \
           cli_flash_waits_for_hotplug cli_flash_report_id_5 cli_boot_update_old_bootloader \
           cli_unplug_mid_flash \
           cli_device_killed_mid_flash cli_station_four_devices \
           cli_composite_enter_boot_then_flash cli_short_reply_enter_boot_then_flash bench_real_stack \
           bench_wait_to_first_start; do
    run_one "$s"
  done
}

# The stock kernel's HID core, uhid and hid-generic load, and uhid's
# character device appears.
scenario_kernel_modules() {
  for m in hid uhid hid_generic; do
    grep -q "^$m " /proc/modules || fail "module $m is not loaded"
  done
  wait_for_path /dev/uhid 5 || fail "/dev/uhid did not appear"
  echo "modules loaded, /dev/uhid present"
}

# A virtual bootloader is a HID device like a USB one: hidraw node, listed
# by the device layer with its usage, opened with the report lengths and IDs
# of its descriptor, and answering the info query.
scenario_virtual_boot_device() {
  need torvane-virtual-device
  need torvane-hid-probe
  node=$(start_virtual_device boot boot 0003:484F:5048) || exit 1
  echo "node $node"
  torvane-hid-probe list >/tmp/list.txt
  cat /tmp/list.txt
  expect_line /tmp/list.txt '^484F:5048 usage FF00:0001 ' "the bootloader is not listed with usage FF00:0001"
  torvane-hid-probe info 484F 5048 >/tmp/info.txt
  cat /tmp/info.txt
  expect_line /tmp/info.txt 'output 65 bytes ID 0, input 65 bytes ID 0'
  expect_line /tmp/info.txt '^info status 0 text "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016"$'
}

# Report ID 5: every frame carries the ID, the reply comes back with it and
# is aligned by the device layer.
scenario_report_id_5() {
  need torvane-virtual-device
  need torvane-hid-probe
  start_virtual_device rid5 boot,report-id=5 0003:484F:5048 >/dev/null || exit 1
  torvane-hid-probe info 484F 5048 >/tmp/info.txt
  cat /tmp/info.txt
  expect_line /tmp/info.txt 'output 65 bytes ID 5, input 65 bytes ID 5'
  expect_line /tmp/info.txt '^info status 0 text "ZAVRO:0.3.0.0 '
}

# The project's udev rule tags the hidraw nodes of all three kinds for
# desktop access, virtual devices included (no USB parent).
scenario_udev_rule_tags() {
  need torvane-virtual-device
  [ -f /etc/udev/rules.d/70-torvane.rules ] || skip "the udev rule is not in this image"
  for kind in app:0003:0534:0002 boot:0003:484F:5048 oldboot:0003:484F:5045; do
    k=${kind%%:*}
    node=$(start_virtual_device "$k" "$k" "${kind#*:}") || exit 1
    udev_settle
    udevadm info "$node" >/tmp/udev-$k.txt
    cat /tmp/udev-$k.txt
    expect_line /tmp/udev-$k.txt '^(G: uaccess|E: (CURRENT_)?TAGS=.*:uaccess:)' "$k: $node has no uaccess tag"
    stop_helpers
  done
}

# ENTER_BOOT makes an application device leave and come back as the
# bootloader, as the firmware does.
scenario_app_enter_boot_probe() {
  need torvane-virtual-device
  need torvane-hid-probe
  start_virtual_device app app 0003:0534:0002 >/dev/null || exit 1
  torvane-hid-probe enter-boot 0534 0002 >/tmp/enter.txt
  cat /tmp/enter.txt
  expect_line /tmp/enter.txt '^enter-boot status 0$'
  hidraw_of 0003:484F:5048 >/dev/null || { cat /tmp/vdev-app.log; fail "no bootloader after ENTER_BOOT"; }
  torvane-hid-probe info 484F 5048 >/tmp/info.txt
  cat /tmp/info.txt
  expect_line /tmp/info.txt '^info status 0 text "ZAVRO:0.3.0.0 '
}

# SIGTERM removes the device and ends the process with status 0.
scenario_virtual_device_stops_cleanly() {
  need torvane-virtual-device
  torvane-virtual-device boot >/tmp/vdev-stop.log 2>&1 &
  pid=$!
  node=$(hidraw_of 0003:484F:5048) || fail "no hidraw node"
  kill -TERM "$pid"
  wait "$pid"
  rc=$?
  cat /tmp/vdev-stop.log
  [ "$rc" = 0 ] || fail "exit status $rc after SIGTERM"
  i=0
  while [ -e "$node" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
  [ -e "$node" ] && fail "$node still present after the device stopped"
  expect_line /tmp/vdev-stop.log '^device removed \(stopped\)$'
}

# --- torvane-cli against virtual devices -------------------------------

# Runs torvane-cli with a time limit, output in /tmp/cli-<tag>.log; prints
# its exit status. A hang shows as 124 (timeout) instead of a stuck guest.
cli() {
  tag=$1
  shift
  timeout 60 torvane-cli "$@" >"/tmp/cli-$tag.log" 2>&1
  rc=$?
  echo "--- torvane-cli $* (exit $rc)" >&2
  cat "/tmp/cli-$tag.log" >&2
  echo "$rc"
}

# The three kinds at once, each recognised by its identity.
scenario_cli_list_three_kinds() {
  need torvane-virtual-device
  need torvane-cli
  start_virtual_device app app 0003:0534:0002 >/dev/null || exit 1
  start_virtual_device boot boot 0003:484F:5048 >/dev/null || exit 1
  start_virtual_device oldboot oldboot 0003:484F:5045 >/dev/null || exit 1
  rc=$(cli list list)
  [ "$rc" = 0 ] || fail "list exit $rc"
  expect_line /tmp/cli-list.log '^0534:0002  0001:0000 .* application '
  expect_line /tmp/cli-list.log '^484F:5048  FF00:0001 .* bootloader '
  expect_line /tmp/cli-list.log '^484F:5045  FF00:0001 .* old bootloader '
}

# The operator's path: an application device sent into its bootloader, then
# flashed; the device confirms the image byte for byte.
scenario_cli_enter_boot_then_flash() {
  need torvane-virtual-device
  need torvane-cli
  start_virtual_device app "app" 0003:0534:0002 --save-image /tmp/flashed.bin >/dev/null || exit 1
  rc=$(cli enter enter-boot --wait 20)
  [ "$rc" = 0 ] || fail "enter-boot exit $rc"
  expect_line /tmp/cli-enter.log '进入烧录模式'
  rc=$(cli flash flash --wait 20 /data/app.bin)
  cat /tmp/vdev-app.log
  [ "$rc" = 0 ] || fail "flash exit $rc"
  expect_line /tmp/cli-flash.log '下载成功'
  expect_line /tmp/vdev-app.log '^image confirmed: 20000 bytes, CRC-16 ok, load address 0x00001000$'
  cmp /tmp/flashed.bin /data/app.bin || fail "the device holds other bytes than app.bin"
  # After a good flash the device restarts into its application.
  hidraw_of 0003:0534:0002 >/dev/null || fail "the application did not come back"
}

# The tool is started first and the bootloader plugged in later: the tool
# learns of it through udevd's hot-plug events.
scenario_cli_flash_waits_for_hotplug() {
  need torvane-virtual-device
  need torvane-cli
  timeout 60 torvane-cli flash --wait 30 /data/app.bin >/tmp/cli-hotplug.log 2>&1 &
  cli_pid=$!
  sleep 1
  start_virtual_device late boot 0003:484F:5048 >/dev/null || exit 1
  wait "$cli_pid"
  rc=$?
  cat /tmp/cli-hotplug.log /tmp/vdev-late.log
  [ "$rc" = 0 ] || fail "flash exit $rc"
  expect_line /tmp/cli-hotplug.log '下载成功'
  expect_line /tmp/vdev-late.log '^image confirmed: 20000 bytes'
}

# Report ID 5 through the whole download.
scenario_cli_flash_report_id_5() {
  need torvane-virtual-device
  need torvane-cli
  start_virtual_device rid5 boot,report-id=5 0003:484F:5048 --save-image /tmp/flashed5.bin >/dev/null || exit 1
  rc=$(cli flash5 flash --wait 20 /data/app.bin)
  cat /tmp/vdev-rid5.log
  [ "$rc" = 0 ] || fail "flash exit $rc"
  expect_line /tmp/vdev-rid5.log '^image confirmed: 20000 bytes, CRC-16 ok'
  cmp /tmp/flashed5.bin /data/app.bin || fail "the device holds other bytes than app.bin"
}

# An old bootloader always gets the boot update, with the XOR checksums.
scenario_cli_boot_update_old_bootloader() {
  need torvane-virtual-device
  need torvane-cli
  [ -f /usr/bin/burn_boot_0.3.0.0.bin ] || skip "no boot update image in this image"
  start_virtual_device old oldboot 0003:484F:5045 --save-image /tmp/boot-update.bin >/dev/null || exit 1
  rc=$(cli update flash --wait 20 /data/app.bin)
  cat /tmp/vdev-old.log
  [ "$rc" = 0 ] || fail "flash exit $rc"
  expect_line /tmp/vdev-old.log '^image confirmed: 12288 bytes, XOR-32 ok'
  cmp /tmp/boot-update.bin /usr/bin/burn_boot_0.3.0.0.bin || fail "the device holds other bytes than the boot update"
}

# The device drops off the bus at block 50: the download fails cleanly
# (no success reported, no hang) and the tool exits with a failure code.
scenario_cli_unplug_mid_flash() {
  need torvane-virtual-device
  need torvane-cli
  start_virtual_device unplug boot,unplug-block=50 0003:484F:5048 >/dev/null || exit 1
  rc=$(cli unplug flash --wait 20 /data/app.bin)
  cat /tmp/vdev-unplug.log
  expect_line /tmp/vdev-unplug.log 'pulled out'
  case $rc in
    3 | 6) ;;
    *) fail "flash exit $rc after the device left (wanted 3 or 6)" ;;
  esac
  expect_line /tmp/cli-unplug.log '下载失败'
  grep -q '下载成功' /tmp/cli-unplug.log && fail "success reported for a removed device"
  [ -z "$(ls /sys/class/hidraw/)" ] || fail "a hidraw node is left behind"
}

# The device process dies mid-flash (SIGKILL): the kernel removes the uhid
# device when its descriptor closes, and the tool fails cleanly.
scenario_cli_device_killed_mid_flash() {
  need torvane-virtual-device
  need torvane-cli
  # 5 ms per reply keeps the download running for about 2 s, long enough
  # to be caught in the middle on any machine.
  pid=$(start_helper /tmp/vdev-killed.log torvane-virtual-device boot,latency-us=5000)
  hidraw_of 0003:484F:5048 >/dev/null || fail "no hidraw node"
  timeout 60 torvane-cli flash --wait 20 /data/app.bin >/tmp/cli-killed.log 2>&1 &
  cli_pid=$!
  # Kill once the download is under way.
  i=0
  until grep -q '正在下载' /tmp/cli-killed.log || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
  kill -KILL "$pid"
  wait "$cli_pid"
  rc=$?
  cat /tmp/cli-killed.log
  grep -q '正在下载' /tmp/cli-killed.log || fail "the download never started"
  case $rc in
    3 | 6) ;;
    *) fail "flash exit $rc after the device was killed (wanted 3 or 6)" ;;
  esac
  grep -q '下载成功' /tmp/cli-killed.log && fail "success reported for a removed device"
  expect_line /tmp/cli-killed.log '下载失败'
}

# The production station: four virtual devices on ports of their own (the
# port knob becomes the kernel's HID_PHYS) flashed at once by `station
# --count 4`; the one that leaves at block 50 is recorded as failed with what
# it acknowledged, the other three hold the image byte for byte.
scenario_cli_station_four_devices() {
  need torvane-virtual-device
  need torvane-cli
  for i in 1 2 3; do
    start_helper /tmp/vdev-st$i.log torvane-virtual-device --save-image /tmp/st$i.bin \
      "boot,serial=ST$i,port=bench-$i,latency-us=1000" >/dev/null
  done
  start_helper /tmp/vdev-st4.log torvane-virtual-device "boot,serial=ST4,port=bench-4,unplug-block=50" >/dev/null
  i=0
  until [ "$(ls /sys/class/hidraw/ | wc -l)" -ge 4 ] || [ $i -ge 100 ]; do sleep 0.1; i=$((i + 1)); done
  rc=$(cli station station --count 4 --record /tmp/units.jsonl /data/app.bin)
  cat /tmp/units.jsonl
  [ "$rc" = 8 ] || fail "station exit $rc (wanted 8: one unit failed)"
  [ "$(wc -l </tmp/units.jsonl)" = 4 ] || fail "not one record line per unit"
  for i in 1 2 3; do
    expect_line /tmp/units.jsonl "\"port\":\"bench-$i\",.*\"serial\":\"ST$i\",.*\"result\":0," "unit $i not recorded as passed"
    cmp /tmp/st$i.bin /data/app.bin || fail "unit $i holds other bytes than app.bin"
  done
  expect_line /tmp/units.jsonl '"port":"bench-4",.*"result":3,.*"bytes_acknowledged":2400,' "the unplugged unit's record"
}

# A composite device: a keyboard collection (report ID 1, its own length)
# before the device's own (report ID 5), with key reports landing between
# replies. The application is opened by its usage; the bootloader, whose
# keyboard collection is listed first, by the usage the settings give it.
scenario_cli_composite_enter_boot_then_flash() {
  need torvane-virtual-device
  need torvane-cli
  start_virtual_device comp app,report-id=5,composite=1:9,composite-input=3 0003:0534:0002 \
    --save-image /tmp/flashed-comp.bin >/dev/null || exit 1
  trap 'rm -f /usr/bin/Torvane.ini' EXIT
  printf '[Boot]\nUsage Page=FF00\nUsage=1\n' >/usr/bin/Torvane.ini
  torvane-cli list >/tmp/cli-comp-list.log 2>&1
  expect_line /tmp/cli-comp-list.log '^0534:0002  0001:0006 ' "the keyboard collection is not listed"
  expect_line /tmp/cli-comp-list.log '^0534:0002  0001:0000 ' "the application's collection is not listed"
  rc=$(cli comp-enter enter-boot)
  [ "$rc" = 0 ] || fail "enter-boot exit $rc"
  expect_line /tmp/cli-comp-enter.log 'ZAVRO:0.3.0.0 12:33:39 Sep 13 2016'
  rc=$(cli comp-flash flash --wait 20 /data/app.bin)
  cat /tmp/vdev-comp.log
  [ "$rc" = 0 ] || fail "flash exit $rc"
  expect_line /tmp/vdev-comp.log '^image confirmed: 20000 bytes, CRC-16 ok'
  grep -q 'protocol violation' /tmp/vdev-comp.log && fail "a frame went to the wrong collection"
  cmp /tmp/flashed-comp.bin /data/app.bin || fail "the device holds other bytes than app.bin"
}

# Replies in an input report shorter than the device's longest one (report
# ID 5, 59-byte replies beside a 64-byte input report): found by the report
# ID, not by their length.
scenario_cli_short_reply_enter_boot_then_flash() {
  need torvane-virtual-device
  need torvane-cli
  start_virtual_device short app,report-id=5,reply-length=60 0003:0534:0002 \
    --save-image /tmp/flashed-short.bin >/dev/null || exit 1
  rc=$(cli short-enter enter-boot)
  [ "$rc" = 0 ] || fail "enter-boot exit $rc"
  expect_line /tmp/cli-short-enter.log 'ZAVRO:0.3.0.0 12:33:39 Sep 13 2016'
  rc=$(cli short-flash flash --wait 20 /data/app.bin)
  cat /tmp/vdev-short.log
  [ "$rc" = 0 ] || fail "flash exit $rc"
  expect_line /tmp/vdev-short.log '^image confirmed: 20000 bytes, CRC-16 ok'
  cmp /tmp/flashed-short.bin /data/app.bin || fail "the device holds other bytes than app.bin"
}

# Figures, printed and not asserted: the transfer engine's time per
# exchange on the real stack against a bare write/read loop on the same
# hidraw node, for the same exchanges.
scenario_bench_real_stack() {
  need torvane-virtual-device
  need torvane-hid-probe
  start_virtual_device bench boot,no-restart 0003:484F:5048 >/dev/null || exit 1
  torvane-hid-probe bench 484F 5048 200 1.15 >/tmp/bench.txt 2>&1 || { cat /tmp/bench.txt; fail "bench failed"; }
  cat /tmp/bench.txt
  echo "TORVANE-NOTE real stack: $(cat /tmp/bench.txt)" >/dev/console
}

# Figure, printed and not asserted: with flash --wait already running, the
# time from the virtual device's creation (and from udev's add event of its
# hidraw node) to the first start command it receives.
scenario_bench_wait_to_first_start() {
  need torvane-virtual-device
  need torvane-cli
  [ -S /run/udev/control ] || skip "udevd is not running in this guest"
  start_helper /tmp/udev-monitor.log udevadm monitor --udev --subsystem-match=hidraw >/dev/null
  timeout 60 torvane-cli flash --wait 30 /data/app.bin >/tmp/cli-wait.log 2>&1 &
  cli_pid=$!
  sleep 1
  start_virtual_device wait boot 0003:484F:5048 -v >/dev/null || exit 1
  wait "$cli_pid"
  rc=$?
  [ "$rc" = 0 ] || { cat /tmp/cli-wait.log /tmp/vdev-wait.log; fail "flash exit $rc"; }
  created=$(sed -n 's/^created at \([0-9.]*\) s$/\1/p' /tmp/vdev-wait.log | head -n 1)
  start=$(sed -n 's/^frame: command 3 at \([0-9.]*\) s$/\1/p' /tmp/vdev-wait.log | head -n 1)
  udev=$(sed -n 's/^UDEV *\[\([0-9.]*\)\] *add .*hidraw.*/\1/p' /tmp/udev-monitor.log | head -n 1)
  [ -n "$created" ] && [ -n "$start" ] || { cat /tmp/vdev-wait.log; fail "no timestamps in the device's log"; }
  line=$(awk -v c="$created" -v s="$start" -v u="${udev:-}" 'BEGIN {
    printf "flash --wait: first start command %.1f ms after the device was created", (s - c) * 1000
    if (u != "") printf ", %.1f ms after udev'"'"'s add event (goal < 100 ms)", (s - u) * 1000 }')
  echo "$line"
  echo "TORVANE-NOTE $line" >/dev/console
}

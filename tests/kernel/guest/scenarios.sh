# The kernel-test scenarios, run in this order. Each one is a function
# scenario_<name> (see run_one in lib.sh for the exit-status contract).

run_scenarios() {
  for s in kernel_modules virtual_boot_device report_id_5 udev_rule_tags app_enter_boot_probe \
           virtual_device_stops_cleanly; do
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

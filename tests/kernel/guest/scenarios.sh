# The kernel-test scenarios, run in this order. Each one is a function
# scenario_<name> (see run_one in lib.sh for the exit-status contract).

run_scenarios() {
  for s in kernel_modules; do
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

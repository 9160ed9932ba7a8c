# Helpers shared by the guest scenarios (busybox sh).

# Seconds since boot, with hundredths.
uptime_s() { cut -d' ' -f1 /proc/uptime; }

# The scenarios to run: all, or the comma list in torvane.only= on the
# kernel command line.
scenario_selected() {
  only=$(tr ' ' '\n' </proc/cmdline | sed -n 's/^torvane\.only=//p')
  [ -z "$only" ] && return 0
  case ",$only," in *",$1,"*) return 0 ;; esac
  return 1
}

# Each scenario runs in its own shell with a time limit; exit status 0 is a
# pass, 77 a skip, anything else a failure. Its output is kept and shown,
# indented, only when it does not pass.
SCENARIO_TIMEOUT=${SCENARIO_TIMEOUT:-120}
run_one() {
  name=$1
  scenario_selected "$name" || return 0
  log=/tmp/scenario-$name.log
  t0=$(uptime_s)
  timeout "$SCENARIO_TIMEOUT" sh -c ". /etc/torvane/lib.sh; . /etc/torvane/usb.sh; . /etc/torvane/scenarios.sh; . /etc/torvane/usb_scenarios.sh; scenario_$name" >"$log" 2>&1
  rc=$?
  t1=$(uptime_s)
  secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
  # Scenarios leave nothing behind: any helper still running is stopped.
  stop_helpers
  detail=$(grep -v '^$' "$log" | tail -n 1)
  case $rc in
    0)
      grep -qw torvane.verbose=1 /proc/cmdline && sed 's/^/    | /' "$log"
      echo "TORVANE-RESULT $name PASS ${secs}s"
      ;;
    77) echo "TORVANE-RESULT $name SKIP ${detail:-skipped}" ;;
    *)
      [ "$rc" = 143 ] && detail="timed out after ${SCENARIO_TIMEOUT}s"
      sed 's/^/    | /' "$log"
      echo "TORVANE-RESULT $name FAIL ${secs}s (exit $rc) ${detail}"
      ;;
  esac
}

skip() { echo "$*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
need() { command -v "$1" >/dev/null 2>&1 || skip "$1 is not in this build"; }

# Waits up to $2 seconds (default 10) for a path to exist.
wait_for_path() {
  i=0
  limit=$(( ${2:-10} * 10 ))
  while [ ! -e "$1" ]; do
    i=$((i + 1))
    [ $i -gt $limit ] && return 1
    sleep 0.1
  done
  return 0
}

# Background helpers (virtual devices) started by a scenario are recorded
# here so that the runner can stop them when the scenario ends.
# start_helper LOG COMMAND... runs the command in the background with its
# output in LOG and prints its process id. Its output never goes to the
# caller's stdout, so $(start_helper ...) returns at once.
HELPERS=/tmp/helpers.pids
start_helper() {
  helper_log=$1
  shift
  "$@" >"$helper_log" 2>&1 </dev/null &
  echo $! >>"$HELPERS"
  echo $!
}
stop_helpers() {
  [ -f "$HELPERS" ] || return 0
  for pid in $(cat "$HELPERS"); do kill -TERM "$pid" 2>/dev/null; done
  for pid in $(cat "$HELPERS"); do
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 30 ]; do sleep 0.1; i=$((i + 1)); done
    kill -KILL "$pid" 2>/dev/null
  done
  rm -f "$HELPERS"
}

# The hidraw node whose HID device name starts with the given
# "0003:VVVV:PPPP" prefix (upper-case hex), waiting up to 10 s.
hidraw_of() {
  i=0
  while [ $i -lt 100 ]; do
    for n in /sys/class/hidraw/hidraw*; do
      [ -e "$n" ] || continue
      dev=$(basename "$(readlink -f "$n/device")")
      case $dev in "$1".*) echo "/dev/$(basename "$n")"; return 0 ;; esac
    done
    i=$((i + 1))
    sleep 0.1
  done
  return 1
}

# Starts torvane-virtual-device with a knob text, its output in
# /tmp/vdev-<tag>.log, and waits for its hidraw node (kernel name prefix
# $3, e.g. 0003:484F:5048). Prints the node.
start_virtual_device() {
  tag=$1 knobs=$2 prefix=$3
  shift 3
  start_helper "/tmp/vdev-$tag.log" torvane-virtual-device "$@" "$knobs" >/dev/null
  node=$(hidraw_of "$prefix") || { cat "/tmp/vdev-$tag.log"; fail "no hidraw node for $prefix ($knobs)"; }
  echo "$node"
}

# Waits until udevd has handled every event so far.
udev_settle() {
  [ -S /run/udev/control ] || skip "udevd is not running in this guest"
  udevadm settle --timeout=10
}

# Fails unless the file holds a line matching the pattern (grep -E).
expect_line() {
  grep -Eq "$2" "$1" || { echo "--- $1:"; cat "$1"; fail "${3:-no line matching /$2/ in $1}"; }
}

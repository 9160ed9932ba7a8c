# The USB tier's helpers (busybox sh): the stock kernel presents USB HID
# gadgets to itself through dummy_hcd, so the devices go through the USB
# core and usbhid like hardware. dummy_hcd num=4 gives four controllers,
# dummy_udc.0 .. dummy_udc.3, seen by the host side as ports 1-1 .. 4-1.

# The package has no modules.dep and the guest no kmod: the modules are
# loaded in dependency order (hid is loaded at boot).
USB_MODULES="usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_hid usbhid"
USB_GADGETS=/sys/kernel/config/usb_gadget

# Loads the USB chain and mounts configfs once; takes down gadgets a
# previous scenario left behind. Skips where the kernel lacks the modules.
usb_up() {
  for m in $USB_MODULES; do
    grep -q "^$(echo "$m" | tr - _) " /proc/modules && continue
    [ -f "/lib/modules/$m.ko" ] || skip "module $m is not in this image"
    if [ "$m" = dummy_hcd ]; then
      insmod "/lib/modules/$m.ko" num=4 || fail "insmod $m failed"
    else
      insmod "/lib/modules/$m.ko" || fail "insmod $m failed"
    fi
  done
  grep -q ' /sys/kernel/config configfs ' /proc/mounts ||
    mount -t configfs configfs /sys/kernel/config || fail "cannot mount configfs"
  wait_for_path /sys/class/udc/dummy_udc.3 5 || fail "dummy_hcd gave no four controllers"
  [ -d "$USB_GADGETS" ] || fail "$USB_GADGETS is missing"
  usb_clear
}

# Removes every gadget (a device killed before it could take its own down).
usb_clear() {
  for g in "$USB_GADGETS"/*; do
    [ -d "$g" ] || continue
    echo "" >"$g/UDC" 2>/dev/null
    for l in "$g"/configs/*/*.*; do [ -L "$l" ] && rm -f "$l"; done
    rmdir "$g"/configs/*/strings/* "$g"/configs/* "$g"/functions/* "$g"/strings/* "$g" 2>/dev/null
  done
}

# The hidraw node of the USB device on port $1 (e.g. 2-1), waiting up to $2
# seconds (default 10). With $3, only a node other than that one.
usb_hidraw_of() {
  i=0
  limit=$(( ${2:-10} * 20 ))
  bus=${1%%-*}
  while [ $i -lt $limit ]; do
    for n in /sys/class/hidraw/hidraw*; do
      [ -e "$n" ] || continue
      case $(readlink -f "$n/device") in
        */usb$bus/$1/$1:1.0/*)
          [ "/dev/$(basename "$n")" = "${3:-}" ] && continue
          echo "/dev/$(basename "$n")"
          return 0
          ;;
      esac
    done
    i=$((i + 1))
    sleep 0.05
  done
  return 1
}

# Starts torvane-virtual-device as a gadget on dummy_udc.$2 with knob text
# $3 (output in /tmp/vdev-<tag>.log), further arguments passed on, and
# waits for its hidraw node on port $2+1-1. Prints the node.
start_gadget() {
  launch_gadget "$@"
  tag=$1 udc=$2 knobs=$3
  node=$(usb_hidraw_of "$((udc + 1))-1") || { cat "/tmp/vdev-$tag.log"; fail "no hidraw node on port $((udc + 1))-1 ($knobs)"; }
  echo "$node"
}

# Starts the gadget as start_gadget does without waiting for its node, so
# that several enumerate at once.
launch_gadget() {
  tag=$1 udc=$2 knobs=$3
  shift 3
  start_helper "/tmp/vdev-$tag.log" torvane-virtual-device --gadget="dummy_udc.$udc" "$@" "$knobs" >/dev/null
}

# Waits for the nodes of the gadgets on dummy_udc.0 .. dummy_udc.$1.
wait_gadgets() {
  u=0
  while [ "$u" -le "$1" ]; do
    usb_hidraw_of "$((u + 1))-1" >/dev/null || { cat /tmp/vdev-*.log; fail "no hidraw node on port $((u + 1))-1"; }
    u=$((u + 1))
  done
}

# The pid of the helper that runs the gadget on dummy_udc.$1.
gadget_pid() {
  for p in $(cat "$HELPERS" 2>/dev/null); do
    tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | grep -q -- "--gadget=dummy_udc.$1 " && { echo "$p"; return 0; }
  done
  return 1
}

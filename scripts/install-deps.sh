#!/usr/bin/env bash
# Installs the Debian packages Torvane needs to build, test and run, skipping
# the ones already present. Safe to run again; needs root (or sudo).
# --windows installs what the Windows cross build and its tests under Wine
# need instead (scripts/build-windows.sh).
set -euo pipefail

linux_packages=(
  build-essential cmake ninja-build pkg-config
  libhidapi-dev libudev-dev zlib1g-dev libssl-dev
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n
  libsimpleini-dev libcli11-dev
  libsrecord-dev libboost-dev srecord
  help2man bash-completion
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth fonts-wqy-microhei
  file dpkg-dev
)
# GoogleTest is built from its sources with the cross compiler; the
# posix thread model has std::thread and std::mutex (the win32 one has not).
windows_packages=(
  cmake ninja-build python3
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
  libsimpleini-dev libcli11-dev googletest
  wine wine64 nsis fonts-noto-cjk zip unzip xvfb xauth
)
packages=("${linux_packages[@]}")
if [[ "${1:-}" == "--windows" ]]; then
  packages=("${windows_packages[@]}")
  shift
fi
# Extra packages (for example the kernel test harness) can be passed as arguments.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

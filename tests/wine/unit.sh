#!/usr/bin/env bash
# The unit tests under Wine, in a fresh prefix: CIniFile against kernel32's own profile
# functions, the Win32 front-end and the Win32 serial port. With a Linux build at hand, COM2 to
# COM7 are the virtual register on pseudo-terminals, for the serial port's tests with a peer.
#   unit.sh zelmo_tests.exe [LINUX_BUILD_DIR] [gtest options...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

tests=$(realpath "$1")
linux_build=${2:-}
shift $(($# < 2 ? $# : 2))

need_wine
make_scratch
make_prefix
if [[ -n $linux_build && -x $linux_build/tools/zelmo-register ]]; then
  REGISTER=$linux_build/tools/zelmo-register
  start_register --timeout 120
  map_port COM2 "$REGISTER_DEVICE"
  start_register --timeout 120 --hangup-after 1
  map_port COM3 "$REGISTER_DEVICE"
  export ZELMO_TEST_REGISTER_PORT='\\.\COM2' ZELMO_TEST_HANGUP_PORT='\\.\COM3'
  # A register serves one opening of its port: COM4 to COM7 for the openings that fail.
  ZELMO_TEST_FAULT_PORTS=""
  for n in 4 5 6 7; do
    start_register --timeout 120
    map_port COM$n "$REGISTER_DEVICE"
    ZELMO_TEST_FAULT_PORTS+="${ZELMO_TEST_FAULT_PORTS:+,}\\\\.\\COM$n"
  done
  export ZELMO_TEST_FAULT_PORTS
else
  echo "no virtual register: the serial port's tests with a peer are skipped"
fi
restart_wine
cd "$SCRATCH"
"$WINE" "$tests" "$@"

#!/usr/bin/env bash
# zelmo.exe end to end under Wine, hidden: COM1 is the virtual register on a pseudo-terminal, and
# the bytes the register receives must be the very bytes the Linux program sends for the same
# receipt; the run ends with status 0, the receipt deleted, the same event lines logged.
#   e2e-hidden.sh zelmo.exe LINUX_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

exe=$(realpath "$1")
need_wine
need_linux_build "$2"
echo "zelmo.exe: $(stat -c %s "$exe") bytes"
make_scratch
linux_reference "$SCRATCH/linux.bin"

make_prefix
folder=$SCRATCH/win
mkdir -p "$folder"
write_receipt "$folder"
write_config "$folder" 0
start_register --record "$SCRATCH/win.bin" --timeout 60
register=${REGISTER_PIDS[-1]}
map_port COM1 "$REGISTER_DEVICE"
restart_wine

status=0
"$WINE" "$exe" --dir "$(winepath -w "$folder")" </dev/null >"$SCRATCH/win.events" \
  2>"$SCRATCH/win.err" &
wait_for $! 60 || status=$?
wait_for "$register" 10 || true

failed=0
if ((status != 0)); then
  echo "FAIL: zelmo.exe ended with status $status"
  cat "$SCRATCH/win.err"
  failed=1
fi
if ! cmp -s "$SCRATCH/linux.bin" "$SCRATCH/win.bin"; then
  echo "FAIL: the register received other bytes from zelmo.exe than from the Linux zelmo"
  cmp "$SCRATCH/linux.bin" "$SCRATCH/win.bin" || true
  failed=1
fi
if ! diff <(tr -d '\r' <"$SCRATCH/linux.events") <(tr -d '\r' <"$SCRATCH/win.events"); then
  echo "FAIL: the event lines differ (Linux <, Windows >)"
  failed=1
fi
if [[ -e $folder/smetka.txt ]]; then
  echo "FAIL: smetka.txt was not deleted after the job (Clear=1)"
  failed=1
fi
((failed == 0)) || exit 1
echo "OK: $(stat -c %s "$SCRATCH/win.bin") bytes sent, the same as from Linux; status 0"

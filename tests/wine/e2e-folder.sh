#!/usr/bin/env bash
# zelmo.exe end to end under Wine from a folder whose name the ANSI code page cannot hold
# ("Каса Ω 收据": Ω and 收据 have no code in 1251 or 1252), started beside its receipt and
# settings as a point-of-sale program starts it: the settings are read, the job goes out byte for
# byte as from the Linux program, status 0, and the receipt is deleted (Clear=1).
#   e2e-folder.sh zelmo.exe LINUX_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

exe=$(realpath "$1")
need_wine
need_linux_build "$2"
make_scratch
linux_reference "$SCRATCH/linux.bin"

make_prefix
folder="$SCRATCH/Каса Ω 收据"
mkdir -p "$folder"
cp "$exe" "$folder/zelmo.exe"
write_receipt "$folder"
write_config "$folder" 0
start_register --record "$SCRATCH/win.bin" --timeout 60
register=${REGISTER_PIDS[-1]}
map_port COM1 "$REGISTER_DEVICE"
restart_wine

status=0
(cd "$SCRATCH" && exec "$WINE" "$folder/zelmo.exe") </dev/null >"$SCRATCH/win.events" \
  2>"$SCRATCH/win.err" &
wait_for $! 60 || status=$?
wait_for "$register" 10 || true

failed=0
if ((status != 0)); then
  echo "FAIL: zelmo.exe in \"$(basename "$folder")\" ended with status $status"
  cat "$SCRATCH/win.err"
  failed=1
fi
if ! cmp -s "$SCRATCH/linux.bin" "$SCRATCH/win.bin"; then
  echo "FAIL: the register received other bytes from zelmo.exe than from the Linux zelmo"
  cmp "$SCRATCH/linux.bin" "$SCRATCH/win.bin" || true
  failed=1
fi
if [[ -e $folder/smetka.txt ]]; then
  echo "FAIL: smetka.txt was not deleted after the job (Clear=1)"
  failed=1
fi
((failed == 0)) || exit 1
echo "OK: from \"$(basename "$folder")\", $(stat -c %s "$SCRATCH/win.bin") bytes sent, the same as from Linux; status 0"

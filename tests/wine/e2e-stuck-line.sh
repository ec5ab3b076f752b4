#!/usr/bin/env bash
# zelmo.exe under Wine on a line the register holds stopped after its second answer, as a
# register holding CTS low does: the write waits in the background, and after 30 s the run ends
# with status 10 (sending had begun), saying why, the receipt kept.
#   e2e-stuck-line.sh zelmo.exe LINUX_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

exe=$(realpath "$1")
need_wine
need_linux_build "$2"
make_scratch
make_prefix
folder=$SCRATCH/win
mkdir -p "$folder"
write_receipt "$folder"
write_config "$folder" 0
start_register --record "$SCRATCH/win.bin" --stop-after 2 --timeout 120
map_port COM1 "$REGISTER_DEVICE"
restart_wine

status=0
started=$SECONDS
# On the console, so that the message does not wait for an operator.
"$WINE" "$exe" --dir "$(winepath -w "$folder")" --console </dev/null >"$SCRATCH/win.events" \
  2>"$SCRATCH/win.err" &
wait_for $! 120 || status=$?

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
((status == 10)) || fail "zelmo.exe ended with $status, not 10"
grep -qF "the line has taken no data for 30 s (the register holds it stopped: CTS low)" \
  "$SCRATCH/win.err" ||
  fail "zelmo.exe did not say the line was held: $(cat "$SCRATCH/win.err")"
[[ -e $folder/smetka.txt ]] || fail "the receipt was not kept"
((failed == 0)) || exit 1
echo "OK: the held line ended the run with 10 after $((SECONDS - started)) s, the receipt kept"

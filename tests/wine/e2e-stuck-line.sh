#!/usr/bin/env bash
# zelmo.exe under Wine on a line the register holds stopped after its second answer, as a
# register holding CTS low does: the write waits in the background, and after 30 s the run ends
# with status 10 (sending had begun), saying why, the receipt kept.
#   e2e-stuck-line.sh zelmo.exe LINUX_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

need_exe_and_linux_build "$@"
make_scratch
make_prefix
folder=$SCRATCH/win
make_job_folder "$folder" 0
register_as_com1 --record "$SCRATCH/win.bin" --stop-after 2 --timeout 120

status=0
started=$SECONDS
# On the console, so that the message does not wait for an operator.
"$WINE" "$EXE" --dir "$(winepath -w "$folder")" --console </dev/null >"$SCRATCH/win.events" \
  2>"$SCRATCH/win.err" &
wait_for $! 120 || status=$?

((status == 10)) || fail "zelmo.exe ended with $status, not 10"
grep -qF "the line has taken no data for 30 s (the register holds it stopped: CTS low)" \
  "$SCRATCH/win.err" ||
  fail "zelmo.exe did not say the line was held: $(cat "$SCRATCH/win.err")"
[[ -e $folder/smetka.txt ]] || fail "the receipt was not kept"
end_checks
echo "OK: the held line ended the run with 10 after $((SECONDS - started)) s, the receipt kept"

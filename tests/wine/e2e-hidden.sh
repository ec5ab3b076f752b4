#!/usr/bin/env bash
# zelmo.exe end to end under Wine, hidden: COM1 is the virtual register on a pseudo-terminal, and
# the bytes the register receives must be the very bytes the Linux program sends for the same
# receipt; the run ends with status 0, the receipt deleted, the same event lines logged.
#   e2e-hidden.sh zelmo.exe LINUX_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

begin_against_linux "$@"
echo "zelmo.exe: $(stat -c %s "$EXE") bytes"

make_prefix
folder=$SCRATCH/win
make_job_folder "$folder" 0
register_as_com1 --record "$SCRATCH/win.bin" --timeout 60

status=0
"$WINE" "$EXE" --dir "$(winepath -w "$folder")" </dev/null >"$SCRATCH/win.events" \
  2>"$SCRATCH/win.err" &
wait_for $! 60 || status=$?
wait_for "$REGISTER_PID" 10 || true

check_job_sent zelmo.exe "$status" "$SCRATCH/win.bin" "$folder"
diff <(tr -d '\r' <"$SCRATCH/linux.events") <(tr -d '\r' <"$SCRATCH/win.events") ||
  fail "the event lines differ (Linux <, Windows >)"
end_checks
echo "OK: $(stat -c %s "$SCRATCH/win.bin") bytes sent, the same as from Linux; status 0"

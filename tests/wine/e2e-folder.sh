#!/usr/bin/env bash
# zelmo.exe end to end under Wine from a folder whose name the ANSI code page cannot hold
# ("Каса Ω 收据": Ω and 收据 have no code in 1251 or 1252), started beside its receipt and
# settings as a point-of-sale program starts it: the settings are read, the job goes out byte for
# byte as from the Linux program, status 0, and the receipt is deleted (Clear=1).
#   e2e-folder.sh zelmo.exe LINUX_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

begin_against_linux "$@"

make_prefix
folder="$SCRATCH/Каса Ω 收据"
make_job_folder "$folder" 0
cp "$EXE" "$folder/zelmo.exe"
register_as_com1 --record "$SCRATCH/win.bin" --timeout 60

status=0
(cd "$SCRATCH" && exec "$WINE" "$folder/zelmo.exe") </dev/null >"$SCRATCH/win.events" \
  2>"$SCRATCH/win.err" &
wait_for $! 60 || status=$?
wait_for "$REGISTER_PID" 10 || true

check_job_sent "zelmo.exe in \"$(basename "$folder")\"" "$status" "$SCRATCH/win.bin" "$folder"
end_checks
echo "OK: from \"$(basename "$folder")\", $(stat -c %s "$SCRATCH/win.bin") bytes sent, the same as from Linux; status 0"

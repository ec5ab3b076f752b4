#!/usr/bin/env bash
# zelmo.exe --console under Wine when the session ends (wineboot --end-session, as logging off
# does): the run is closed, not killed. Waiting for the operator, nothing sent: status 8, the
# receipt kept. In the middle of a job the register stopped answering: status 10, the receipt
# kept.
#   e2e-session-end.sh zelmo.exe LINUX_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

need_exe_and_linux_build "$@"
make_scratch
make_prefix

# Waits up to $2 seconds for the text $3 in file $1.
wait_text() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    grep -qF -- "$3" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# end_session CASE SHOWN WANTED REGISTER_OPTION... : a run of the receipt in its own folder, its
# operator a pipe held open, until READY shows on standard error; then the session ends.
end_session() {
  local name=$1 shown=$2 wanted=$3 ready=$4
  shift 4
  local folder=$SCRATCH/$name
  make_job_folder "$folder" "$shown"
  register_as_com1 --record "$SCRATCH/$name.bin" --timeout 120 "$@"
  mkfifo "$folder/operator"
  "$WINE" "$EXE" --dir "$(winepath -w "$folder")" --console <"$folder/operator" \
    >"$folder/events" 2>"$folder/err" &
  local zelmo=$!
  exec 3>"$folder/operator"
  wait_text "$folder/$ready" 120 "${READY_TEXT}" || fail "$name: zelmo.exe never got ready"
  sleep "${SETTLE:-0}"
  local started=$SECONDS
  timeout 60 wineboot --end-session >/dev/null 2>&1 || true
  local status=0
  wait_for "$zelmo" 30 || status=$?
  exec 3>&-
  ((status == wanted)) || fail "$name: zelmo.exe ended with $status, not $wanted: $(cat "$folder/err")"
  [[ -e $folder/smetka.txt ]] || fail "$name: the receipt was not kept"
  echo "$name: status $status $((SECONDS - started)) s after the session ended"
}

READY_TEXT="Спремно" end_session waiting 1 8 err
[[ -s $SCRATCH/waiting.bin ]] && fail "waiting: bytes were sent"
# The register answers the enquiry and the first frame, then nothing: the job waits in the middle.
READY_TEXT="ACK" SETTLE=2 end_session sending 0 10 events --silent-after 2
end_checks
echo "OK: the session's end closed a console run: 8 before sending, 10 in the middle of a job"

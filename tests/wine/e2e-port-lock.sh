#!/usr/bin/env bash
# Two zelmo.exe on one port under Wine, which does not keep a second program off a COM port that
# is open: the second ends with status 7 ("in use by another program") and sends nothing, its
# receipt kept. Then the first dies holding the port (killed); the lock it leaves is free, and a
# third run prints its job byte for byte as the Linux program does.
#   e2e-port-lock.sh zelmo.exe LINUX_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

begin_against_linux "$@"

make_prefix
# COM1 is a link that each register in turn points at its own pseudo-terminal.
link=$SCRATCH/com1
map_port COM1 "$link"
restart_wine

# A job in a folder of its own, hidden; sets ZELMO to its process. More arguments go to zelmo.exe.
start_job() {
  local folder=$SCRATCH/$1
  shift
  make_job_folder "$folder" 0
  "$WINE" "$EXE" --dir "$(winepath -w "$folder")" "$@" </dev/null >"$folder.events" \
    2>"$folder.err" &
  ZELMO=$!
}

# The first holds the port: the register answers its first command and then nothing.
start_register --link "$link" --record "$SCRATCH/held.bin" --silent-after 1 --timeout 120
held=${REGISTER_PIDS[-1]}
start_job first
first=$ZELMO
for _ in $(seq 600); do [[ -s $SCRATCH/held.bin ]] && break; sleep 0.1; done
[[ -s $SCRATCH/held.bin ]] || { echo "FAIL: the first zelmo.exe sent nothing in 60 s"; exit 1; }
sleep 1  # the first command and its answer are through; the first waits for the next answer
sent=$(stat -c %s "$SCRATCH/held.bin")

# On the console, so that its message does not wait for an operator.
start_job second --console
status=0
wait_for "$ZELMO" 60 || status=$?
((status == 7)) || fail "the second zelmo.exe ended with $status, not 7"
grep -q "in use by another program" "$SCRATCH/second.err" ||
  fail "the second zelmo.exe did not say the port is in use: $(cat "$SCRATCH/second.err")"
[[ $(stat -c %s "$SCRATCH/held.bin") == "$sent" ]] || fail "the second zelmo.exe sent bytes"
[[ -e $SCRATCH/second/smetka.txt ]] || fail "the second zelmo.exe did not keep its receipt"

# The first dies holding the port and its lock.
disown "$first"
kill -KILL "$first"
for _ in $(seq 100); do kill -0 "$first" 2>/dev/null || break; sleep 0.1; done
wait_for "$held" 30 || true

start_register --link "$link" --record "$SCRATCH/third.bin" --timeout 120
third_register=${REGISTER_PIDS[-1]}
start_job third
status=0
wait_for "$ZELMO" 60 || status=$?
wait_for "$third_register" 10 || true
((status == 0)) || fail "the run after the holder died ended with $status: $(cat "$SCRATCH/third.err")"
cmp -s "$SCRATCH/linux.bin" "$SCRATCH/third.bin" ||
  fail "the run after the holder died sent other bytes than the Linux zelmo"

end_checks
echo "OK: the second zelmo.exe ended with 7 and sent nothing; after the holder died the job went" \
  "out byte for byte ($(stat -c %s "$SCRATCH/third.bin") bytes)"

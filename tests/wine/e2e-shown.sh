#!/usr/bin/env bash
# zelmo.exe under Wine on a virtual X display, shown: the window appears with its caption,
# nothing is sent until its button is clicked, and the click prints the receipt, byte for byte
# as the Linux program sends it, ending with status 0.
#   e2e-shown.sh zelmo.exe LINUX_BUILD_DIR
# With ZELMO_SCREENSHOT=FILE.png the screen is kept as it was before the click.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

command -v Xvfb >/dev/null || skip "Xvfb is not installed"
command -v xdotool >/dev/null || skip "xdotool is not installed"
begin_against_linux "$@"

# A display of our own; Xvfb picks a free number and tells it on descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$SCRATCH/display" 2>/dev/null &
REGISTER_PIDS+=($!)  # ended with the registers
for _ in $(seq 100); do [[ -s $SCRATCH/display ]] && break; sleep 0.05; done
export DISPLAY=:$(head -n 1 "$SCRATCH/display")

make_prefix display
folder=$SCRATCH/win
make_job_folder "$folder" 1
register_as_com1 --record "$SCRATCH/win.bin" --timeout 60

"$WINE" "$EXE" --dir "$(winepath -w "$folder")" </dev/null >"$SCRATCH/win.events" \
  2>"$SCRATCH/win.err" &
zelmo=$!

# Each step here needs the one before it: the first failure ends the script.
fail_now() {
  echo "FAIL: $*"
  [[ -s $SCRATCH/win.err ]] && cat "$SCRATCH/win.err"
  exit 1
}

window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Зелмо$' | head -n 1) ||
  fail_now "no window with the caption Зелмо"
[[ $(xdotool getwindowname "$window") == Зелмо ]] || fail_now "caption is not Зелмо"
sleep 1
[[ ! -s $SCRATCH/win.bin ]] || fail_now "bytes were sent before the button was clicked"
[[ -n ${ZELMO_SCREENSHOT:-} ]] && import -window root "$ZELMO_SCREENSHOT" 2>/dev/null

# The button sits in the lower right corner of the window, 75 x 23 pixels at 96 DPI.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH - 44)) $((HEIGHT - 18)) click 1

status=0
wait_for "$zelmo" 60 || status=$?
wait_for "$REGISTER_PID" 10 || true
((status == 0)) || fail_now "zelmo.exe ended with status $status"
cmp -s "$SCRATCH/linux.bin" "$SCRATCH/win.bin" ||
  fail_now "the register received other bytes after the click than from the Linux zelmo"
echo "OK: the window showed, the click printed $(stat -c %s "$SCRATCH/win.bin") bytes; status 0"

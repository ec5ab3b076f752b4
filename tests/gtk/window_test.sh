#!/usr/bin/env bash
# The GTK front-end on a virtual X server without a window manager, printing on the virtual
# register: the shown window, its button and close box, the question boxes, and the hidden mode
# that must not open the display at all. Keeps screenshots of the window and of a question box in
# the build folder.
#
# usage: window_test.sh ZELMO REGISTER CLOSE_BOX BUILD_DIR
# Exit status 77 (skipped) when the X tools are missing.
set -uo pipefail

if [[ "${1:-}" != --inside ]]; then
  for tool in xvfb-run xauth xdotool xwininfo import; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $tool is not installed"
      exit 77
    fi
  done
  # The server's audit log names the process of every client that connects.
  audit=$(mktemp)
  xvfb-run -a -e "$audit" -s "-screen 0 1024x768x24 -nolisten tcp -audit 4" \
    bash "$0" --inside "$audit" "$@"
  status=$?
  rm -f "$audit"
  exit "$status"
fi

AUDIT=$2 ZELMO=$3 REGISTER=$4 CLOSE_BOX=$5 BUILD=$6
# A UTF-8 locale, so that the window's Cyrillic title is also its WM_NAME, which xdotool reads.
export LC_ALL=C.UTF-8 GDK_BACKEND=x11 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
unset WAYLAND_DISPLAY

MAIN_TITLE='^Зелмо$'
QUESTION_TITLE='^Полнење на Фискална Сметка\.\.\.$'
BREAD_QTY_1='Dq1Bread             A      3000      1000      3000'

failures=0
ZELMO_PID='' REG_PID='' DIR=''

ok() { echo "ok: $*"; }
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
expect() {  # expect WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}

cleanup() {
  [[ -n "$ZELMO_PID" ]] && kill "$ZELMO_PID" 2>/dev/null
  [[ -n "$REG_PID" ]] && kill "$REG_PID" 2>/dev/null
  [[ -n "$DIR" ]] && rm -rf "$DIR"
}
trap cleanup EXIT

# A scratch folder with the register on a fresh pseudo-terminal and COM1 pointing at it.
setup() {  # setup PRIKAZI_FORMA RECEIPT
  cleanup
  DIR=$(mktemp -d)
  "$REGISTER" --record "$DIR/received.bin" --timeout 60 >"$DIR/register.out" 2>"$DIR/register.err" &
  REG_PID=$!
  for _ in $(seq 100); do
    [[ -s "$DIR/register.out" ]] && break
    sleep 0.05
  done
  local pty
  pty=$(head -n1 "$DIR/register.out")
  printf '[Parametri]\r\nSeriska=1\r\nPrikaziForma=%s\r\nDelimiter=;\r\n[Ports]\r\nCOM1=%s\r\n' \
    "$1" "$pty" >"$DIR/Zelmocfg.ini"
  printf '%s' "$2" >"$DIR/smetka.txt"
  : >"$DIR/received.bin"
}

start_zelmo() {
  "$ZELMO" --dir "$DIR" >"$DIR/zelmo.out" 2>"$DIR/zelmo.err" &
  ZELMO_PID=$!
}

# Waits for zelmo to end (at most 30 s) and puts its exit status in STATUS.
wait_zelmo() {
  for _ in $(seq 300); do
    kill -0 "$ZELMO_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$ZELMO_PID" 2>/dev/null
  wait "$ZELMO_PID"
  STATUS=$?
  ZELMO_PID=''
}

# The first visible window whose title matches, once it is mapped (at most 15 s).
find_window() {
  timeout 15 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n1
}

nothing_sent() { [[ ! -s "$DIR/received.bin" ]]; }
received() { grep -qaF -- "$1" "$DIR/received.bin"; }
log_has_ack() { grep -q '^ACK' "$DIR/zelmo.out"; }
# The audit log must show the test's own clients, or it proves nothing.
never_connected() { grep -q 'connected from' "$AUDIT" && ! grep -q "pid=$1 )" "$AUDIT"; }

show_failure_output() {
  echo "--- zelmo's standard error:"
  cat "$DIR/zelmo.err"
}

# The window titled $1 (at most 15 s) in WINDOW; without it, the failure WHAT ($2) is counted and
# shown with zelmo's standard error, and the status is 1.
await_window() {  # await_window TITLE WHAT
  WINDOW=$(find_window "$1")
  [[ -n "$WINDOW" ]] && return 0
  fail "$2"
  show_failure_output
  return 1
}

test_shown_window_click_and_question() {
  echo "== shown: the window, the button, a question answered with Return"
  setup 1 $'Bread;0;A;30\r\n'
  start_zelmo
  await_window "$MAIN_TITLE" "the window titled Зелмо appears" || return
  ok "the window titled Зелмо appears"
  local win=$WINDOW
  local info width height x y screen_w screen_h
  info=$(xwininfo -id "$win")
  width=$(awk '/Width:/ {print $2}' <<<"$info")
  height=$(awk '/Height:/ {print $2}' <<<"$info")
  x=$(awk '/Absolute upper-left X:/ {print $4}' <<<"$info")
  y=$(awk '/Absolute upper-left Y:/ {print $4}' <<<"$info")
  read -r screen_w screen_h < <(xdotool getdisplaygeometry)
  expect "client area 268 x 60 (got ${width} x ${height})" [ "$width" = 268 -a "$height" = 60 ]
  expect "centred (at $x,$y on ${screen_w}x${screen_h})" \
    [ $((2 * x + width - screen_w)) -le 1 -a $((2 * x + width - screen_w)) -ge -1 \
    -a $((2 * y + height - screen_h)) -le 1 -a $((2 * y + height - screen_h)) -ge -1 ]
  import -window "$win" "$BUILD/zelmo-window.png" && ok "screenshot $BUILD/zelmo-window.png"

  sleep 1
  expect "nothing is sent before the button is pressed" nothing_sent
  # The button's centre: left 191 + 75 / 2, top 35 + 23 / 2.
  xdotool mousemove --window "$win" 228 46 click 1
  await_window "$QUESTION_TITLE" "the click brings the quantity question" || return
  ok "the click brings the quantity question"
  local box=$WINDOW
  expect "nothing is sent while the question is open" nothing_sent
  import -window "$box" "$BUILD/zelmo-question.png"
  xdotool windowfocus --sync "$box" key Return

  wait_zelmo
  expect "the run ends with status 0 (got $STATUS)" [ "$STATUS" = 0 ]
  expect "Return answered Yes: Bread goes out with quantity 1" received "$BREAD_QTY_1"
  expect "the register's replies are on standard output" log_has_ack
}

test_shown_return_presses_print() {
  echo "== shown: the print button has the focus"
  setup 1 $'Bread;1;A;30\r\n'
  start_zelmo
  await_window "$MAIN_TITLE" "the window appears" || return
  xdotool windowfocus --sync "$WINDOW" key Return
  wait_zelmo
  expect "Return on the window prints (status $STATUS)" [ "$STATUS" = 0 ]
  expect "the receipt went out" received "$BREAD_QTY_1"
}

test_shown_close_requests() {
  local how
  for how in close-box SIGTERM; do
    echo "== shown: closed by $how before printing"
    setup 1 $'Bread;1;A;30\r\n'
    start_zelmo
    await_window "$MAIN_TITLE" "the window appears" || continue
    if [[ "$how" = close-box ]]; then "$CLOSE_BOX" "$WINDOW"; else kill -TERM "$ZELMO_PID"; fi
    wait_zelmo
    expect "$how ends the run with status 8 (got $STATUS)" [ "$STATUS" = 8 ]
    expect "nothing was sent" nothing_sent
  done
}

test_hidden_question_on_its_own() {
  echo "== hidden: a question box appears on its own"
  setup 0 $'Bread;0;A;30\r\n'
  start_zelmo
  await_window "$QUESTION_TITLE" "the question appears without the window" || return
  local box=$WINDOW mapped
  mapped=$(xdotool search --onlyvisible --pid "$ZELMO_PID" 2>/dev/null | tr '\n' ' ')
  expect "the question is zelmo's only mapped window (mapped: $mapped)" [ "$mapped" = "$box " ]
  xdotool windowfocus --sync "$box" key Return
  wait_zelmo
  expect "the run ends with status 0 (got $STATUS)" [ "$STATUS" = 0 ]
  expect "Return answered Yes: Bread goes out with quantity 1" received "$BREAD_QTY_1"
}

# A close request while the question waits takes the box away: nothing sent, the receipt kept.
test_hidden_question_closed() {
  local how
  for how in SIGTERM SIGHUP; do
    echo "== hidden: a waiting question, then $how"
    setup 0 $'Bread;0;A;30\r\n'
    start_zelmo
    await_window "$QUESTION_TITLE" "the question appears" || continue
    kill "-${how#SIG}" "$ZELMO_PID"
    wait_zelmo
    expect "$how during the question ends with status 8 (got $STATUS)" [ "$STATUS" = 8 ]
    expect "nothing was sent" nothing_sent
    expect "the receipt stays" grep -q Bread "$DIR/smetka.txt"
  done
}

test_hidden_never_opens_the_display() {
  echo "== hidden: no question, no display"
  setup 0 $'Bread;1;A;30\r\n'
  start_zelmo
  local pid=$ZELMO_PID
  wait_zelmo
  expect "the run ends with status 0 (got $STATUS)" [ "$STATUS" = 0 ]
  expect "the receipt went out" received "$BREAD_QTY_1"
  expect "zelmo never connected to the X server" never_connected "$pid"
}

test_shown_window_click_and_question
test_shown_return_presses_print
test_shown_close_requests
test_hidden_question_on_its_own
test_hidden_question_closed
test_hidden_never_opens_the_display

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

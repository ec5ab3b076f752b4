#!/usr/bin/env bash
# zelmo.exe --serve under Wine: a receipt posted over HTTP on loopback is printed on COM1, the
# virtual register on a pseudo-terminal, as the very bytes the Linux program sends for the same
# receipt dropped as a file; the job ends printed with status 0, and asking again with the same
# key gives the same job, not a second print.
#   e2e-service.sh zelmo.exe LINUX_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

command -v curl >/dev/null || skip "curl is not installed"
begin_against_linux "$@"

make_prefix
folder=$SCRATCH/win
mkdir -p "$folder"
register_as_com1 --record "$SCRATCH/win.bin" --timeout 120
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
write_config "$folder" 0
printf '[Service]\r\nListen=127.0.0.1:%s\r\n' "$port" >>"$folder/Zelmocfg.ini"
base=http://127.0.0.1:$port

"$WINE" "$EXE" --serve --dir "$(winepath -w "$folder")" </dev/null >"$SCRATCH/serve.out" \
  2>"$SCRATCH/serve.err" &
service=$!
REGISTER_PIDS+=("$service")

# Wine takes a while to start a program: up to a minute, asked every half second.
for ((tries = 0; ; ++tries)); do
  health=$(curl -s --max-time 2 "$base/v1/health" || true)
  [[ $health == *'"ok"'* ]] && break
  if ((tries >= 120)) || ! kill -0 "$service" 2>/dev/null; then
    echo "the service did not answer /v1/health:"
    cat "$SCRATCH/serve.err"
    exit 1
  fi
  sleep 0.5
done

# The receipt of write_receipt (common.sh), as JSON.
body='{"items": [{"name": "Млеко", "quantity": 2, "taxGroup": "Б", "unitPrice": 45.5},
                 {"name": "Леб", "quantity": 1.5, "taxGroup": "A", "unitPrice": 2.499}]}'
post() {
  curl -s --max-time 90 -o "$1" -w '%{http_code}' -H 'Content-Type: application/json' \
    -H 'Idempotency-Key: wine-e2e-1' --data-binary "$body" \
    "$base/v1/registers/default/receipts?wait=60"
}
code=$(post "$SCRATCH/job.json" || true)
wait_for "$REGISTER_PID" 10 || true

[[ $code == 200 ]] || fail "the POST was answered $code, not 200 with the ended job"
field() {
  python3 -c 'import json, sys; print(json.load(open(sys.argv[1])).get(sys.argv[2]))' "$1" "$2"
}
if [[ -s $SCRATCH/job.json ]]; then
  [[ $(field "$SCRATCH/job.json" outcome) == printed ]] || fail "the job's outcome is not printed"
  [[ $(field "$SCRATCH/job.json" exitStatus) == 0 ]] || fail "the job's run did not end with 0"
fi
if ! cmp -s "$SCRATCH/linux.bin" "$SCRATCH/win.bin"; then
  fail "the register received other bytes from zelmo.exe --serve than from the Linux zelmo"
  cmp "$SCRATCH/linux.bin" "$SCRATCH/win.bin" || true
fi

# The same key and body once more: the same job, answered at once, and nothing sent.
before=$(stat -c %s "$SCRATCH/win.bin" 2>/dev/null || echo 0)
code=$(post "$SCRATCH/again.json" || true)
[[ $code == 200 ]] || fail "the repeated POST was answered $code, not 200"
[[ -s $SCRATCH/again.json && -s $SCRATCH/job.json &&
  $(field "$SCRATCH/again.json" id) == $(field "$SCRATCH/job.json" id) ]] ||
  fail "the repeated POST did not give the same job"
[[ -s $SCRATCH/again.json && $(field "$SCRATCH/again.json" attempts) == 1 &&
  $(field "$SCRATCH/again.json" outcome) == printed ]] ||
  fail "the repeated POST started another attempt"
[[ $(stat -c %s "$SCRATCH/win.bin" 2>/dev/null || echo 0) == "$before" ]] ||
  fail "the register received bytes for the repeated POST"

if ((FAILED)); then
  echo "--- the job:"; cat "$SCRATCH/job.json" 2>/dev/null || true
  echo; echo "--- the service's standard error:"; cat "$SCRATCH/serve.err"
fi
end_checks
echo "OK: $(stat -c %s "$SCRATCH/win.bin") bytes sent through HTTP, the same as from Linux"

# Requests to the print service for the install tests, with Python's standard library only.
# Sourced, not run.

# http METHOD URL [BODY IDEMPOTENCY-KEY]: prints the answer's status, then its body.
http() {
  python3 - "$@" <<'PYTHON'
import sys, urllib.request, urllib.error
method, url = sys.argv[1], sys.argv[2]
body = sys.argv[3].encode() if len(sys.argv) > 3 else None
request = urllib.request.Request(url, data=body, method=method)
if body is not None:
    request.add_header("Content-Type", "application/json")
    request.add_header("Idempotency-Key", sys.argv[4])
try:
    with urllib.request.urlopen(request, timeout=40) as answer:
        print(answer.status)
        print(answer.read().decode())
except urllib.error.HTTPError as answer:
    print(answer.code)
    print(answer.read().decode())
except OSError as error:  # no answer at all: refused, reset, timed out
    print(0)
    print(error)
    sys.exit(1)
PYTHON
}

# field JSON NAME: the value of a field of a JSON object.
field() {
  python3 -c 'import json, sys; print(json.loads(sys.argv[1]).get(sys.argv[2]))' "$1" "$2"
}

# A loopback port that nothing listens on just now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# wait_health PORT PID: waits up to 10 s for GET /v1/health to answer 200 {"status": "ok"},
# giving up early when the process PID is gone (0: no process to watch).
wait_health() {
  python3 - "$1" "$2" <<'PYTHON'
import json, os, sys, time, urllib.request
port, pid = sys.argv[1], int(sys.argv[2])
deadline = time.monotonic() + 10
while time.monotonic() < deadline:
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/v1/health", timeout=2) as answer:
            if answer.status == 200 and json.load(answer).get("status") == "ok":
                sys.exit(0)
    except (OSError, ValueError):
        pass
    if pid:
        try:
            os.kill(pid, 0)
        except OSError:
            sys.exit(1)
    time.sleep(0.1)
sys.exit(1)
PYTHON
}

# The receipt of the tests' receipt file, as a request body: "ВКУПНО 94.75" on the register.
readonly SERVICE_RECEIPT='{"items": [{"name": "Млеко", "quantity": 2, "taxGroup": "Б", "unitPrice": 45.5},
  {"name": "Леб", "quantity": 1.5, "taxGroup": "A", "unitPrice": 2.499}]}'

# print_job PORT KEY: sends the receipt to the register "default" and waits for its end; the
# ended job's JSON when it was printed, else says why and fails.
print_job() {
  local answer job
  answer=$(http POST "http://127.0.0.1:$1/v1/registers/default/receipts?wait=30" \
    "$SERVICE_RECEIPT" "$2") || { echo "no answer to the job: $answer"; return 1; }
  job=$(tail -n +2 <<<"$answer")
  if [[ $(head -n 1 <<<"$answer") != 200 || $(field "$job" outcome) != printed ]]; then
    echo "the job did not print: $answer"
    return 1
  fi
  echo "$job"
}

#!/usr/bin/env python3
"""The print service's costs, as a Markdown table (README, "Performance"):

  - POST to the first byte on the line, against starting the one-shot program for the same
    receipt (both against the same register played here on a pseudo-terminal);
  - GET /v1/health under wrk at 64 connections while a job runs at 9600 Bd: p50 and p99, and the
    job's line time against the same job unloaded;
  - an idle service's wake-ups over 10 s (context switches of all its threads);
  - its resident memory, idle and at its peak.

Everything listens and is called on 127.0.0.1 only, and every wait is bounded.
  bench/service_bench.py --zelmo build-bench/zelmo [--runs N] [--idle S]
"""

import argparse
import glob
import http.client
import json
import os
import re
import select
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import tty

ENQ, EOT, STX, ETX, ACK = 0x05, 0x04, 0x02, 0x03, 0x06
ITEMS = [("Млеко", 2, "B", 45.5), ("Леб", 1.5, "A", 2.5)]


class Register:
    """A register on a pseudo-terminal: ACK to ENQ, to every frame and to EOT; a job ends with
    its second EOT. Its own end of the line stays open, so the bridge may open and close it as
    often as it likes. With `baud`, each command is answered only once the line would have
    carried it."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.device = os.ttyname(self.slave)
        self.baud = 0
        self.lock = threading.Condition()
        self.first_byte = None  # perf_counter of the first byte since arm()
        self.job_end = None
        self.eots = 0
        self.stop = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def arm(self):
        with self.lock:
            self.first_byte = None
            self.job_end = None
            self.eots = 0

    def wait(self, what, timeout):
        deadline = time.monotonic() + timeout
        with self.lock:
            while getattr(self, what) is None:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError(f"the register saw no {what} in {timeout} s")
                self.lock.wait(left)
            return getattr(self, what)

    def _answer(self, size):
        if self.baud:
            time.sleep(size * 10 / self.baud)
        os.write(self.master, bytes([ACK]))

    def _serve(self):
        frame = None
        while not self.stop:
            ready, _, _ = select.select([self.master], [], [], 0.5)
            if not ready:
                continue
            data = os.read(self.master, 4096)
            now = time.perf_counter()
            with self.lock:
                if self.first_byte is None and data:
                    self.first_byte = now
                    self.lock.notify_all()
            for byte in data:
                if frame is not None:
                    frame.append(byte)
                    etx = frame.find(bytes([ETX]))
                    if etx >= 0 and len(frame) >= etx + 5:
                        self._answer(len(frame))
                        frame = None
                elif byte == STX:
                    frame = bytearray([byte])
                elif byte == ENQ:
                    self._answer(1)
                elif byte == EOT:
                    self._answer(1)
                    with self.lock:
                        self.eots += 1
                        if self.eots == 2:
                            self.job_end = time.perf_counter()
                            self.lock.notify_all()


def settings(device, extra="", parametri=""):
    text = ("[Parametri]\r\nSeriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nClear=1\r\n"
            f"{parametri}[Ports]\r\nCOM1={device}\r\n{extra}")
    return text.encode("cp1251")


def receipt_body(items):
    return json.dumps({"items": [{"name": n, "quantity": q, "taxGroup": t, "unitPrice": p}
                                 for n, q, t, p in items]}).encode()


def receipt_file(items):
    return "".join(f"{n};{q};{t};{p}\r\n" for n, q, t, p in items).encode("cp1251")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def median_p99(values):
    ordered = sorted(values)
    return statistics.median(ordered), ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]


class Service:
    def __init__(self, zelmo, folder, port):
        self.port = port
        self.process = subprocess.Popen([zelmo, "--serve", "--dir", folder],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(folder, "serve.err"), "wb"))
        deadline = time.monotonic() + 20
        while True:
            try:
                if self.request("GET", "/v1/health")[0] == 200:
                    return
            except OSError:
                pass
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError("the service did not answer /v1/health")
            time.sleep(0.05)

    def connect(self):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=90)

    def request(self, method, path, body=None, headers=None):
        c = self.connect()
        c.request(method, path, body=body, headers=headers or {})
        r = c.getresponse()
        data = r.read()
        c.close()
        return r.status, data

    def post(self, key, body, connection=None, wait=None):
        c = connection or self.connect()
        path = "/v1/registers/default/receipts" + (f"?wait={wait}" if wait is not None else "")
        c.request("POST", path, body=body,
                  headers={"Content-Type": "application/json", "Idempotency-Key": key})
        r = c.getresponse()
        data = r.read()
        c.close()
        return r.status, json.loads(data)

    def wait_job(self, job_id, seconds=30):
        status, data = self.request("GET", f"/v1/jobs/{job_id}?wait={seconds}")
        job = json.loads(data)
        if status != 200 or job.get("state") != "ended":
            raise RuntimeError(f"job {job_id} did not end: {status} {data[:200]!r}")
        return job

    def threads_switches(self):
        total = 0
        for status in glob.glob(f"/proc/{self.process.pid}/task/*/status"):
            try:
                text = open(status).read()
            except OSError:
                continue
            for key in ("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"):
                total += int(re.search(rf"^{key}:\s+(\d+)", text, re.M).group(1))
        return total

    def memory_kb(self, key):
        text = open(f"/proc/{self.process.pid}/status").read()
        return int(re.search(rf"^{key}:\s+(\d+)", text, re.M).group(1))

    def end(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def one_shot_first_byte(zelmo, register, work, runs):
    """With the settings a job of the service runs with (Journal=1 among them), so that the
    difference is the service's own work."""
    folder = os.path.join(work, "one-shot")
    os.makedirs(folder)
    times = []
    for _ in range(runs):
        with open(os.path.join(folder, "Zelmocfg.ini"), "wb") as f:
            f.write(settings(register.device, parametri="Journal=1\r\n"))
        with open(os.path.join(folder, "smetka.txt"), "wb") as f:
            f.write(receipt_file(ITEMS))
        register.arm()
        start = time.perf_counter()
        child = subprocess.Popen([zelmo, "--console", "--dir", folder], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        first = register.wait("first_byte", 30)
        if child.wait(timeout=60) != 0:
            raise RuntimeError(f"the one-shot run ended with {child.returncode}")
        times.append((first - start) * 1000)
    return times


def service_first_byte(service, register, runs):
    times = []
    body = receipt_body(ITEMS)
    for i in range(runs):
        register.arm()
        connection = service.connect()
        connection.connect()  # the client's connection is up before the clock starts
        start = time.perf_counter()
        status, job = service.post(f"bench-first-{i}", body, connection)
        first = register.wait("first_byte", 30)
        if status != 202:
            raise RuntimeError(f"POST answered {status}: {job}")
        ended = service.wait_job(job["id"])
        if ended.get("outcome") != "printed":
            raise RuntimeError(f"the job ended {ended.get('outcome')}: {ended.get('message')}")
        times.append((first - start) * 1000)
    return times


def job_line_time(service, register, key, items):
    register.arm()
    status, job = service.post(key, receipt_body(items))
    if status != 202:
        raise RuntimeError(f"POST answered {status}: {job}")
    first = register.wait("first_byte", 30)
    end = register.wait("job_end", 600)
    service.wait_job(job["id"], 60)
    return end - first


def health_under_load(service, register, wrk, items):
    """The job's time unloaded, then again while wrk keeps 64 connections on /v1/health."""
    register.baud = 9600
    unloaded = job_line_time(service, register, "bench-unloaded", items)
    duration = int(unloaded) + 3
    load = subprocess.Popen([wrk, "-t2", "-c64", f"-d{duration}s", "--latency", "--timeout", "5s",
                             f"http://127.0.0.1:{service.port}/v1/health"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    time.sleep(1)  # the load is on before the job starts
    loaded = job_line_time(service, register, "bench-loaded", items)
    out, _ = load.communicate(timeout=duration + 30)
    register.baud = 0

    def latency(label):
        m = re.search(rf"^\s+{label}%\s+([\d.]+)(us|ms|s)\s*$", out, re.M)
        if not m:
            raise RuntimeError("wrk gave no latency distribution:\n" + out)
        return float(m.group(1)) * {"us": 0.001, "ms": 1, "s": 1000}[m.group(2)]

    rate = re.search(r"Requests/sec:\s+([\d.]+)", out)
    errors = re.search(r"Non-2xx or 3xx responses: (\d+)|Socket errors: (.*)", out)
    return {"p50": latency("50"), "p99": latency("99"), "rate": float(rate.group(1)),
            "errors": errors.group(0) if errors else "none", "unloaded": unloaded,
            "loaded": loaded}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--zelmo", required=True)
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--idle", type=float, default=10)
    parser.add_argument("--items", type=int, default=43, help="items of the paced job")
    args = parser.parse_args()
    zelmo = os.path.abspath(args.zelmo)
    wrk = shutil.which("wrk")
    if not wrk:
        sys.exit("service_bench: wrk is not installed (scripts/setup)")

    work = tempfile.mkdtemp(prefix="zelmo-service-bench-")
    register = Register()
    service = None
    try:
        one_shot = one_shot_first_byte(zelmo, register, work, args.runs)
        folder = os.path.join(work, "service")
        os.makedirs(folder)
        port = free_port()
        with open(os.path.join(folder, "Zelmocfg.ini"), "wb") as f:
            f.write(settings(register.device, f"[Service]\r\nListen=127.0.0.1:{port}\r\n"))
        service = Service(zelmo, folder, port)
        time.sleep(1)  # start-up's own work done
        before = service.threads_switches()
        time.sleep(args.idle)
        wakeups = service.threads_switches() - before
        idle_rss = service.memory_kb("VmRSS")
        served = service_first_byte(service, register, args.runs)
        items = [(f"Артикал {i}", 1 + i % 3, "AB"[i % 2], 10 + i) for i in range(args.items)]
        load = health_under_load(service, register, wrk, items)
        peak = service.memory_kb("VmHWM")
    finally:
        register.stop = True
        if service:
            service.end()
        shutil.rmtree(work, ignore_errors=True)

    one_med, one_p99 = median_p99(one_shot)
    srv_med, srv_p99 = median_p99(served)
    change = (load["loaded"] / load["unloaded"] - 1) * 100
    print("| Measure | Goal | Now |")
    print("|---|---|---|")
    print(f"| service: POST to first byte, against the one-shot launch with `Journal=1` "
          f"({args.runs} runs, median / 99th) | at most 5 ms more | {srv_med:.2f} / {srv_p99:.2f} ms against "
          f"{one_med:.2f} / {one_p99:.2f} ms: {srv_med - one_med:+.2f} ms |")
    print(f"| service: `GET /v1/health` under wrk, 64 connections, while a {args.items}-item job "
          f"runs at 9600 Bd | | p50 {load['p50']:.3f} ms, p99 {load['p99']:.3f} ms, "
          f"{load['rate']:.0f} requests/s, errors: {load['errors']} |")
    print(f"| service: that job's line time, loaded against unloaded | no change beyond noise | "
          f"{load['loaded']:.3f} s against {load['unloaded']:.3f} s ({change:+.2f} %) |")
    print(f"| service: wake-ups of an idle service over {args.idle:g} s (all threads) | none | "
          f"{wakeups} |")
    print(f"| service: resident memory, idle / peak | | {idle_rss / 1024:.2f} MB / "
          f"{peak / 1024:.2f} MB |")


if __name__ == "__main__":
    main()

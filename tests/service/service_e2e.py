#!/usr/bin/env python3
"""End-to-end tests of the print service: the real `zelmo --serve` against the virtual register,
called with Python's http.client and curl on loopback only. Every wait is bounded."""
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ZELMO = REGISTER = None
ITEM = {"name": "Млеко", "quantity": 2, "taxGroup": "Б", "unitPrice": 58.5}


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, seconds, what):
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Line:
    """A register's serial line that is always there: a link to a waiting virtual register. The
    virtual register ends when the bridge closes the port, so as soon as one is in use (its first
    command arrived) the next is started and the link moved to it. Each session is one run."""

    def __init__(self, folder, name, extra=()):
        self.link = os.path.join(folder, name + ".tty")
        self.extra = list(extra)
        self.sessions = []
        self.lock = threading.Lock()
        self.count = 0
        self.closing = False
        self.waiting = None
        self.all = []
        with self.lock:
            self._spawn()

    def _spawn(self):
        k = self.count
        self.count += 1
        record = "%s.%d.bin" % (self.link, k)
        p = subprocess.Popen([REGISTER, "-v", "--record", record] + self.extra,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        path = p.stdout.readline().decode().strip()
        os.symlink(path, self.link + ".new")
        os.replace(self.link + ".new", self.link)
        session = {"k": k, "record": record, "process": p, "first": None, "end": None,
                   "commands": 0}
        self.waiting = session
        self.all.append(session)
        threading.Thread(target=self._watch, args=(session,), daemon=True).start()

    def _watch(self, s):
        p = s["process"]
        for _ in p.stderr:
            s["commands"] += 1
            if s["first"] is None:
                s["first"] = time.monotonic()
                with self.lock:
                    if not self.closing:
                        self._spawn()
        s["printed"] = p.stdout.read().decode("utf-8", "replace")
        p.wait()
        p.stdout.close()
        p.stderr.close()
        s["end"] = time.monotonic()
        if s["first"] is not None:
            with self.lock:
                self.sessions.append(s)

    def used(self):
        with self.lock:
            return sorted((s for s in self.sessions), key=lambda s: s["first"])

    def in_use(self):
        with self.lock:
            return [s for s in self.all if s["first"] is not None and s["end"] is None]

    def record(self, s):
        with open(s["record"], "rb") as f:
            return f.read()

    def close(self):
        with self.lock:
            self.closing = True
            waiting = self.waiting
        if waiting and waiting["first"] is None:
            waiting["process"].terminate()
            waiting["process"].wait(10)
            wait_until(lambda: waiting["end"] is not None, 10, "the idle register to end")


def write_settings(folder, text):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Zelmocfg.ini"), "wb") as f:
        f.write(text.replace("\n", "\r\n").encode("cp1251"))


def register_settings(link, shown=1):
    # Shown as a till's would be: the service runs every job hidden all the same.
    return ("[Parametri]\nSeriska=1\nPrikaziForma=%d\nDelimiter=;\n[Ports]\nCOM1=%s\n"
            % (shown, link))


class Service:
    def __init__(self, folder, port):
        self.folder, self.port, self.process = folder, port, None
        self.output = os.path.join(folder, "service.out")

    def start(self):
        out = open(self.output, "ab")
        self.process = subprocess.Popen([ZELMO, "--serve", "--dir", self.folder],
                                        stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        out.close()
        wait_until(self._healthy, 15, "the service to answer")

    def _healthy(self):
        if self.process.poll() is not None:
            raise AssertionError("the service ended: " + self.log())
        try:
            return self.call("GET", "/v1/health")[0] == 200
        except OSError:
            return False

    def log(self):
        with open(self.output, encoding="utf-8", errors="replace") as f:
            return f.read()

    def kill9(self):
        self.process.send_signal(signal.SIGKILL)
        self.process.wait(10)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            return self.process.wait(60)
        return self.process.returncode if self.process else None

    def call(self, method, path, body=None, headers=None, raw=None, timeout=70):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            h = {"Host": "127.0.0.1:%d" % self.port}
            data = raw
            if body is not None:
                data = json.dumps(body).encode()
                h["Content-Type"] = "application/json"
            h.update(headers or {})
            connection.request(method, path, body=data, headers=h)
            r = connection.getresponse()
            text = r.read().decode("utf-8", "replace")
            try:
                parsed = json.loads(text)
            except ValueError:
                parsed = text
            return r.status, {k.lower(): v for k, v in r.getheaders()}, parsed
        finally:
            connection.close()

    def post(self, register, key, items, wait=None, headers=None):
        path = "/v1/registers/%s/receipts" % register
        if wait is not None:
            path += "?wait=%d" % wait
        h = {"Idempotency-Key": key}
        h.update(headers or {})
        return self.call("POST", path, {"items": items}, h)

    def job(self, job_id, wait=0):
        return self.call("GET", "/v1/jobs/%s?wait=%d" % (job_id, wait))[2]


class Scratch(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zelmo-service-")
        self.lines, self.services = [], []

    def tearDown(self):
        for s in self.services:
            s.stop()
        for line in self.lines:
            line.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def line(self, name, extra=()):
        line = Line(self.root, name, extra)
        self.lines.append(line)
        return line

    def service(self, settings, start=True):
        folder = os.path.join(self.root, "data")
        port = free_port()
        write_settings(folder, settings.replace("PORT", str(port)))
        s = Service(folder, port)
        self.services.append(s)
        if start:
            s.start()
        return s


class ApiTest(Scratch):
    def setUp(self):
        super().setUp()
        self.main = self.line("main")
        write_settings(os.path.join(self.root, "data", "main"), register_settings(self.main.link))
        self.svc = self.service("[Service]\nListen=127.0.0.1:PORT\nOrigins=http://localhost:3000\n"
                                "[Registers]\nmain=main\n")

    def test_a_job_is_the_receipt_dropped_as_a_file_and_reads_back_through_every_route(self):
        drop = os.path.join(self.root, "drop")
        write_settings(drop, register_settings(self.main.link, shown=0))
        with open(os.path.join(drop, "smetka.txt"), "wb") as f:
            f.write("Млеко;2;Б;58.5\r\n".encode("cp1251"))
        run = subprocess.run([ZELMO, "--console", "--dir", drop], stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=30)
        self.assertEqual(run.returncode, 0, run.stderr)
        wait_until(lambda: len(self.main.used()) == 1, 10, "the dropped receipt")

        status, headers, job = self.svc.post("main", "k-1", [ITEM], wait=30)
        self.assertEqual(status, 200, job)
        self.assertEqual(headers["location"], "/v1/jobs/" + job["id"])
        self.assertEqual((job["state"], job["outcome"], job["exitStatus"], job["attempts"]),
                         ("ended", "printed", 0, 1))
        self.assertEqual(job["items"], [ITEM])
        self.assertEqual(job["total"], 117)
        self.assertRegex(job["created"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        sessions = wait_until(lambda: len(self.main.used()) == 2 and self.main.used(), 10,
                              "the job's receipt")
        self.assertEqual(self.main.record(sessions[1]), self.main.record(sessions[0]))
        self.assertIn("Млеко", sessions[1]["printed"])

        self.assertEqual(self.svc.job(job["id"]), job)
        status, _, listed = self.svc.call("GET", "/v1/jobs?register=main&since=2000-01-01T00:00:00Z")
        self.assertEqual((status, [j["id"] for j in listed["jobs"]]), (200, [job["id"]]))
        status, _, later = self.svc.call("GET", "/v1/jobs?since=2999-01-01T00:00:00Z")
        self.assertEqual(later, {"jobs": []})
        _, _, regs = self.svc.call("GET", "/v1/registers")
        self.assertEqual(regs["registers"][0]["name"], "main")
        self.assertEqual(regs["registers"][0]["device"], self.main.link)
        self.assertEqual(regs["registers"][0]["state"], "idle")
        self.assertEqual(regs["registers"][0]["lastOutcome"], "printed")
        _, headers, metrics = self.svc.call("GET", "/metrics")
        self.assertIn('zelmo_jobs{register="main",outcome="printed"} 1', metrics)
        self.assertIn('zelmo_queue_length{register="main"} 0', metrics)
        self.assertIn('zelmo_seconds_since_last_printed{register="main"}', metrics)

        # The same key and body is that job, never a second print; another body is refused.
        status, _, again = self.svc.post("main", "k-1", [ITEM])
        self.assertEqual((status, again), (200, job))
        other = dict(ITEM, quantity=3)
        status, _, refused = self.svc.post("main", "k-1", [other])
        self.assertEqual((status, refused["error"]), (422, "idempotency-key-reused"))
        time.sleep(0.5)
        self.assertEqual(len(self.main.used()), 2)

    def test_requests_refused_before_anything_is_queued(self):
        cases = [
            # (what, method, path, body, headers, status, error)
            ("no key", "POST", "/v1/registers/main/receipts", {"items": [ITEM]}, {}, 400,
             "bad-idempotency-key"),
            ("key too long", "POST", "/v1/registers/main/receipts", {"items": [ITEM]},
             {"Idempotency-Key": "k" * 129}, 400, "bad-idempotency-key"),
            ("key with a space", "POST", "/v1/registers/main/receipts", {"items": [ITEM]},
             {"Idempotency-Key": "a b"}, 400, "bad-idempotency-key"),
            ("no such register", "POST", "/v1/registers/other/receipts", {"items": [ITEM]},
             {"Idempotency-Key": "r1"}, 404, "no-register"),
            ("wait over 60", "POST", "/v1/registers/main/receipts?wait=61", {"items": [ITEM]},
             {"Idempotency-Key": "r2"}, 400, "bad-wait"),
            ("foreign Host", "GET", "/v1/health", None, {"Host": "evil.example:8470"}, 403,
             "host-refused"),
            ("foreign Origin", "POST", "/v1/registers/main/receipts", {"items": [ITEM]},
             {"Idempotency-Key": "r3", "Origin": "http://evil.example"}, 403, "origin-refused"),
            ("no such job", "GET", "/v1/jobs/0000000000-00000000", None, {}, 404, "no-job"),
        ]
        for what, method, path, body, headers, want, error in cases:
            with self.subTest(what):
                status, _, answer = self.svc.call(method, path, body, headers)
                self.assertEqual((status, answer["error"]), (want, error), answer)
                self.assertIn("message", answer)
        status, _, answer = self.svc.post("main", "r4", [dict(ITEM), dict(ITEM, taxGroup="X")])
        self.assertEqual((status, answer.get("item"), answer.get("field")), (422, 1, "taxGroup"))
        # A form or plain text from a web page cannot skip the preflight.
        for kind in ("text/plain", "application/x-www-form-urlencoded"):
            status, _, answer = self.svc.call("POST", "/v1/registers/main/receipts",
                                              raw=json.dumps({"items": [ITEM]}).encode(),
                                              headers={"Content-Type": kind,
                                                       "Idempotency-Key": "r5"})
            self.assertEqual(status, 415, kind)
        status, _, answer = self.svc.call("POST", "/v1/registers/main/receipts",
                                          raw=b"{" + b" " * (65 * 1024) + b"}",
                                          headers={"Content-Type": "application/json",
                                                   "Idempotency-Key": "r6"})
        self.assertEqual((status, answer["error"]), (413, "too-large"))
        _, _, jobs = self.svc.call("GET", "/v1/jobs")
        self.assertEqual(jobs, {"jobs": []})
        self.assertEqual(self.main.used(), [])

    def test_origins_preflights_and_curl(self):
        allowed = {"Origin": "http://localhost:3000", "Access-Control-Request-Method": "POST",
                   "Access-Control-Request-Headers": "content-type,idempotency-key"}
        status, headers, _ = self.svc.call("OPTIONS", "/v1/registers/main/receipts",
                                           headers=allowed)
        self.assertEqual(status, 204)
        self.assertEqual(headers["access-control-allow-origin"], "http://localhost:3000")
        self.assertEqual(headers["access-control-allow-private-network"], "true")
        self.assertIn("POST", headers["access-control-allow-methods"])
        self.assertIn("Idempotency-Key", headers["access-control-allow-headers"])
        status, headers, _ = self.svc.call("OPTIONS", "/v1/registers/main/receipts",
                                           headers=dict(allowed, Origin="http://evil.example"))
        self.assertEqual(status, 403)
        self.assertNotIn("access-control-allow-origin", headers)
        # The service's own origin (its status page) is always allowed.
        own = "http://127.0.0.1:%d" % self.svc.port
        status, headers, _ = self.svc.call("GET", "/v1/registers", headers={"Origin": own})
        self.assertEqual((status, headers["access-control-allow-origin"]), (200, own))
        # A rebinding name in Host is refused even with a loopback address underneath.
        url = "http://127.0.0.1:%d/v1/registers" % self.svc.port
        curl = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-H",
                               "Host: attacker.example", url], capture_output=True, timeout=20,
                              text=True)
        self.assertEqual(curl.stdout, "403")
        curl = subprocess.run(["curl", "-s", "-X", "POST", "-H", "Content-Type: application/json",
                               "-H", "Idempotency-Key: curl-1", "--data-binary",
                               json.dumps({"items": [ITEM]}),
                               url.replace("/v1/registers", "/v1/registers/main/receipts?wait=30")],
                              capture_output=True, timeout=40, text=True)
        self.assertEqual(json.loads(curl.stdout)["outcome"], "printed", curl.stdout)

    def test_a_slow_client_is_dropped(self):
        with socket.create_connection(("127.0.0.1", self.svc.port), timeout=20) as s:
            s.sendall(b"GET /v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n")  # never finished
            start = time.monotonic()
            s.settimeout(20)
            while s.recv(4096):
                pass
            self.assertLess(time.monotonic() - start, 15)


class TokenAndSettingsTest(Scratch):
    def test_token_is_asked_for_everywhere_but_health(self):
        svc = self.service("[Service]\nListen=127.0.0.1:PORT\nToken=s3cret-token\n")
        self.assertEqual(svc.call("GET", "/v1/health")[0], 200)
        # The status page's files hold no data; what the page then asks for needs the token.
        status, headers, _ = svc.call("GET", "/")
        self.assertEqual((status, headers["content-type"].split(";")[0]), (200, "text/html"))
        self.assertEqual(svc.call("GET", "/v1/jobs")[0], 401)
        for header, want in ((None, 401), ("Bearer wrong-token!", 401), ("Bearer s3cret-tok", 401),
                             ("Basic s3cret-token", 401), ("Bearer s3cret-token", 200)):
            with self.subTest(header):
                h = {"Authorization": header} if header else {}
                self.assertEqual(svc.call("GET", "/v1/registers", headers=h)[0], want)
        self.assertNotIn("s3cret", svc.log())

    def test_bad_settings_end_the_start_with_6_naming_the_key(self):
        cases = [("Listen=0.0.0.0:PORT", "Token"), ("Listen=127.0.0.1:99999", "Listen"),
                 ("Keep=0", "Keep"), ("Origins=evil.example", "Origins"),
                 ("Listen=127.0.0.1:PORT\n[Registers]\nbad/name=x", "Registers")]
        for text, key in cases:
            with self.subTest(text):
                svc = self.service("[Service]\n" + text + "\n", start=False)
                run = subprocess.run([ZELMO, "--serve", "--dir", svc.folder],
                                     capture_output=True, timeout=20, text=True)
                self.assertEqual(run.returncode, 6, run.stderr)
                self.assertIn(key, run.stderr)


class QueueTest(Scratch):
    def setUp(self):
        super().setUp()
        self.main = self.line("main")
        self.other = self.line("other")
        for name, line in (("main", self.main), ("other", self.other)):
            write_settings(os.path.join(self.root, "data", name), register_settings(line.link))
        self.svc = self.service("[Service]\nListen=127.0.0.1:PORT\n"
                                "[Registers]\nmain=main\nother=other\n")

    def post_all(self, posts):
        answers = [None] * len(posts)

        def one(i):
            answers[i] = self.svc.post(*posts[i])

        threads = [threading.Thread(target=one, args=(i,)) for i in range(len(posts))]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        return answers

    def test_twenty_keys_print_twenty_whole_receipts_one_after_another(self):
        names = ["Артикал %02d" % i for i in range(20)]
        answers = self.post_all([("main", "key-%d" % i, [dict(ITEM, name=names[i])])
                                 for i in range(20)])
        self.assertEqual([a[0] for a in answers], [202] * 20)
        for a in answers:
            self.assertEqual(self.svc.job(a[2]["id"], wait=60)["outcome"], "printed")
        sessions = wait_until(lambda: len(self.main.used()) == 20 and self.main.used(), 20,
                              "twenty receipts")
        # Each run's own log spans its whole life, the port's opening to its closing: one run
        # must have ended before the next began (the register's side is timed too late to tell).
        runs = sorted(self.run_span(a[2]["id"]) for a in answers)
        for before, after in zip(runs, runs[1:]):
            self.assertLessEqual(before[1], after[0], "two runs on the line at once")
        seen = []
        for s in sessions:
            found = [n for n in names if n in s["printed"]]
            self.assertEqual(len(found), 1, s["printed"])
            seen += found
        self.assertEqual(sorted(seen), names)

    def run_span(self, job_id):
        with open(os.path.join(self.svc.folder, "jobs", job_id, "run-1.log"),
                  encoding="utf-8", errors="replace") as f:
            lines = [line for line in f if line.strip()]
        # Every line starts with its local time to the millisecond, which sorts as text.
        return lines[0][:23], lines[-1][:23]

    def test_twenty_requests_with_one_key_print_once(self):
        answers = self.post_all([("main", "same", [ITEM])] * 20)
        ids = {a[2]["id"] for a in answers}
        self.assertEqual(len(ids), 1, answers)
        self.assertEqual(self.svc.job(ids.pop(), wait=30)["outcome"], "printed")
        time.sleep(0.5)
        self.assertEqual(len(self.main.used()), 1)

    def test_two_registers_print_side_by_side(self):
        answers = self.post_all([("main", "m", [ITEM] * 3), ("other", "o", [ITEM] * 3)])
        for status, _, job in answers:
            self.assertEqual(status, 202)
            self.assertEqual(self.svc.job(job["id"], wait=30)["outcome"], "printed")
        # A register's session is counted once its process has printed and ended.
        wait_until(lambda: (len(self.main.used()), len(self.other.used())) == (1, 1), 20,
                   "one receipt on each register")


class RestartTest(Scratch):
    """The service killed outright at each point of a job, then started again."""

    def setUp(self):
        super().setUp()
        # A slow line, so that a job is caught while it is being sent.
        self.main = self.line("main", ["--baud", "1200"])
        write_settings(os.path.join(self.root, "data", "main"), register_settings(self.main.link))
        self.svc = self.service("[Service]\nListen=127.0.0.1:PORT\n[Registers]\nmain=main\n")

    def test_killed_while_sending_and_queued(self):
        _, _, sending = self.svc.post("main", "a", [dict(ITEM, name="Прво %d" % i)
                                                    for i in range(12)])
        _, _, queued = self.svc.post("main", "b", [dict(ITEM, name="Второ")])
        wait_until(lambda: any(s["commands"] >= 4 for s in self.main.in_use()), 20,
                   "the first job well under way")
        self.assertEqual(self.svc.job(queued["id"])["state"], "queued")
        self.svc.kill9()
        # The run was told to end by the service's death: it closes the port and logs its end.
        wait_until(lambda: len(self.main.used()) == 1, 20, "the cut-off run to end")
        self.svc.start()
        cut = self.svc.job(sending["id"])
        self.assertEqual((cut["state"], cut["outcome"], cut["exitStatus"]),
                         ("ended", "unknown", 10), cut)
        self.assertEqual(self.svc.job(queued["id"], wait=30)["outcome"], "printed")
        status, _, answer = self.svc.post("main", "a", [dict(ITEM, name="Прво %d" % i)
                                                        for i in range(12)])
        self.assertEqual((status, answer["job"]["id"]), (409, sending["id"]))
        sessions = wait_until(lambda: len(self.main.used()) >= 2 and self.main.used(), 20,
                              "the queued receipt on the register")
        self.assertEqual(len(sessions), 2)
        self.assertIn("Второ", sessions[1]["printed"])

        # Someone looked at the register: nothing of it is there; the next request prints it.
        status, _, resolved = self.svc.call("POST", "/v1/jobs/%s/resolve" % sending["id"],
                                            {"printed": False})
        self.assertEqual((status, resolved["outcome"], resolved["resolved"]),
                         (200, "not-printed", True))
        self.assertFalse(os.path.exists(os.path.join(self.svc.folder, "jobs", sending["id"],
                                                     "smetka.jrn")))
        status, _, again = self.svc.post("main", "a", [dict(ITEM, name="Прво %d" % i)
                                                       for i in range(12)], wait=60)
        self.assertEqual((status, again["attempts"], again["outcome"]), (200, 2, "printed"))
        status, _, answer = self.svc.call("POST", "/v1/jobs/%s/resolve" % sending["id"],
                                          {"printed": True})
        self.assertEqual((status, answer["error"]), (409, "not-unknown"))

    def test_killed_just_after_the_end_and_stopped_while_sending(self):
        _, _, done = self.svc.post("main", "c", [ITEM], wait=30)
        self.assertEqual(done["outcome"], "printed")
        self.svc.kill9()
        self.svc.start()
        self.assertEqual(self.svc.post("main", "c", [ITEM])[2], done)
        # A stop lets the running job end and keeps the queue for the next start.
        _, _, running = self.svc.post("main", "d", [ITEM] * 4)
        _, _, kept = self.svc.post("main", "e", [dict(ITEM, name="Чека")])
        wait_until(lambda: self.svc.job(running["id"])["state"] == "sending", 20, "sending")
        self.assertEqual(self.svc.stop(), 0)
        self.svc.start()
        self.assertEqual(self.svc.job(running["id"])["outcome"], "printed")
        self.assertEqual(self.svc.job(kept["id"], wait=30)["outcome"], "printed")
        wait_until(lambda: len(self.main.used()) >= 3, 20, "three receipts on the register")
        self.assertEqual(len(self.main.used()), 3)


if __name__ == "__main__":
    ZELMO, REGISTER = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)

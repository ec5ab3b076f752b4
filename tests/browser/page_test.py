#!/usr/bin/python3
"""The status page and the web point-of-sale guide's module in headless Chromium, against the real
`zelmo --serve` and the virtual register. Everything listens and is called on 127.0.0.1 only;
every wait is bounded.

    page_test.py ZELMO REGISTER GUIDE OUT    (OUT keeps the screenshots and the service's log)
"""
import functools
import http.client
import http.server
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

ZELMO = REGISTER = GUIDE = OUT = None
MILK = {"name": "Млеко 1л", "quantity": 2, "taxGroup": "Б", "unitPrice": 58.5}
BREAD = {"name": "Леб бел", "quantity": 1, "taxGroup": "A", "unitPrice": 35}
COFFEE = {"name": "Кафе мелено", "quantity": 1, "taxGroup": "Б", "unitPrice": 120}
VIEWPORTS = [(1024, 768), (390, 844)]


def free_port():
    with socket.socket() as s:
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


def health(port):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
    try:
        connection.request("GET", "/v1/health")
        return connection.getresponse().status == 200
    except OSError:
        return False
    finally:
        connection.close()


def guide_module():
    """The first javascript block of the guide: the module, as integrators copy it."""
    lines, inside = [], False
    with open(GUIDE, encoding="utf-8") as guide:
        for line in guide:
            if line.rstrip("\n") == "```javascript":
                inside = True
            elif inside and line.rstrip("\n") == "```":
                break
            elif inside:
                lines.append(line)
    assert lines, "no javascript module in " + GUIDE
    return "".join(lines)


class Register:
    """One virtual register behind the folder's COM1 link, for one run of the bridge."""

    def __init__(self, link, record, *faults):
        self.record = record
        if os.path.lexists(link):
            os.unlink(link)  # left by a register that was killed
        self.process = subprocess.Popen(
            [REGISTER, "--link", link, "--record", record] + list(faults),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.process.stdout.readline()  # the pseudo-terminal's path: the link points at it
        wait_until(lambda: os.path.islink(link), 5, "the register's link")

    def received(self):
        return os.path.getsize(self.record) if os.path.exists(self.record) else 0

    def printed(self):
        """What the register printed, once the bridge has closed the port."""
        out, _ = self.process.communicate(timeout=20)
        return out.decode("utf-8", "replace")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()  # lets it take its link away
        try:
            self.process.communicate(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.communicate(timeout=5)


class StaticSite:
    """A web point-of-sale page on another loopback origin."""

    def __init__(self, folder):
        handler = functools.partial(Quiet, directory=folder)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.origin = "http://127.0.0.1:%d" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


POS_PAGE = """<!doctype html><meta charset="utf-8"><title>POS</title>
<script type="module">
import { printReceipt, newSaleKey } from './zelmo-print.js';
window.zelmo = { printReceipt, newSaleKey };
</script>"""

# Runs the module's printReceipt in the page; the result (the job, or the error) comes back whole.
PRINT_SCRIPT = """
const [items, key, options, done] = arguments;
window.zelmo.printReceipt(items, key, options).then(
  (job) => done({ job }),
  (error) => done({ error: String(error), name: error.name, status: error.status || null }));
"""


class BrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="zelmo-browser-")
        cls.link = os.path.join(cls.folder, "com1")
        web = os.path.join(cls.folder, "web")
        os.mkdir(web)
        with open(os.path.join(web, "zelmo-print.js"), "w", encoding="utf-8") as f:
            f.write(guide_module())
        with open(os.path.join(web, "index.html"), "w", encoding="utf-8") as f:
            f.write(POS_PAGE)
        cls.allowed = StaticSite(web)
        cls.other = StaticSite(web)
        cls.port = free_port()
        cls.service = "http://127.0.0.1:%d" % cls.port
        settings = ("[Parametri]\r\nSeriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nTimeout=2\r\n"
                    "[Ports]\r\nCOM1=%s\r\n[Service]\r\nListen=127.0.0.1:%d\r\nOrigins=%s\r\n"
                    % (cls.link, cls.port, cls.allowed.origin))
        with open(os.path.join(cls.folder, "Zelmocfg.ini"), "wb") as f:
            f.write(settings.encode("ascii"))
        cls.log = open(os.path.join(OUT, "service.log"), "wb")
        cls.zelmo = subprocess.Popen([ZELMO, "--serve", "--dir", cls.folder],
                                     stdin=subprocess.DEVNULL, stdout=cls.log, stderr=cls.log)
        wait_until(lambda: health(cls.port), 10, "the service")
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                         "--no-default-browser-check", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync",
                         "--user-data-dir=" + os.path.join(cls.folder, "profile")]:
            options.add_argument(argument)
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        cls.browser.set_page_load_timeout(20)
        cls.browser.set_script_timeout(60)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.zelmo.terminate()
        try:
            cls.zelmo.wait(timeout=20)
        except subprocess.TimeoutExpired:
            cls.zelmo.kill()
        cls.log.close()
        cls.allowed.close()
        cls.other.close()
        shutil.rmtree(cls.folder, ignore_errors=True)


    @classmethod
    def api(cls, method, path, body=None, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", cls.port, timeout=70)
        try:
            data = None if body is None else json.dumps(body).encode()
            all_headers = {"Content-Type": "application/json", **(headers or {})}
            connection.request(method, path, data, all_headers)
            response = connection.getresponse()
            return response.status, json.loads(response.read() or b"null")
        finally:
            connection.close()

    def print_by_api(self, key, items):
        status, job = self.api("POST", "/v1/registers/default/receipts?wait=30", {"items": items},
                               {"Idempotency-Key": key})
        self.assertEqual(status, 200, job)
        return job

    def view(self, width, height):
        self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})

    def shoot(self, name):
        path = os.path.join(OUT, name + ".png")
        self.assertTrue(self.browser.save_screenshot(path), path)

    def wait_for(self, condition, what, seconds=15):
        try:
            return WebDriverWait(self.browser, seconds, poll_frequency=0.1).until(
                lambda _: condition())
        except TimeoutException:
            self.fail("the page never showed " + what + "; it shows:\n" +
                      self.browser.find_element(By.TAG_NAME, "body").text)

    def job_row(self, job_id):
        """The job's row as shown, read at one moment (the page redraws while it refreshes)."""
        return self.browser.execute_script("""
            const rows = [...document.querySelectorAll('#job-rows tr')];
            const row = rows.find((r) => r.dataset.focus === arguments[0]);
            return row && { text: row.innerText.replace(/\\u00a0/g, ' '), classes: row.className, newest: rows[0] === row,
                            buttons: [...row.querySelectorAll('button')].map((b) => b.innerText) };
            """, job_id)

    # The page is one test: its steps build on the jobs before them.
    def test_status_page_shows_registers_and_jobs_and_resolves_an_unknown_one(self):
        register = Register(self.link, os.path.join(self.folder, "printed.bin"))
        printed = self.print_by_api("page-printed", [MILK, BREAD])
        register.printed()
        self.assertEqual(printed["outcome"], "printed", printed)

        self.view(1024, 768)
        self.browser.get(self.service + "/")
        cards = lambda: self.browser.find_elements(By.CSS_SELECTOR, "#registers li")
        self.wait_for(lambda: cards() and "default" in cards()[0].text, "the register")
        self.assertIn("Слободна", cards()[0].text)
        self.assertIn("Испечатена", cards()[0].text)
        row = self.wait_for(lambda: self.job_row(printed["id"]), "the printed job")
        for text in ["Млеко 1л × 2", "Леб бел × 1", "152,00 ден.", "Испечатена"]:
            self.assertIn(text, row["text"])
        self.assertEqual(row["buttons"], [])
        self.shoot("status-1024x768-printed")

        # The register answers the enquiry and the first frame, then nothing: cut off mid-job.
        silent = Register(self.link, os.path.join(self.folder, "silent.bin"), "--silent-after", "2")
        unknown = self.print_by_api("page-unknown", [COFFEE])
        silent.stop()
        self.assertEqual((unknown["outcome"], unknown["exitStatus"]), ("unknown", 10), unknown)

        row = self.wait_for(lambda: self.job_row(unknown["id"]), "the unknown job")
        self.assertIn("unknown", row["classes"].split())
        self.assertEqual(sorted(row["buttons"]), ["Испечатена", "Не е испечатена"])
        self.assertIn("Фискалната каса престана да одговара.", row["text"])
        self.assertTrue(row["newest"], "newest first")
        self.shoot("status-1024x768-unknown")
        self.view(390, 844)
        self.shoot("status-390x844-unknown")
        self.view(1024, 768)

        # From the keyboard: the button takes the focus and Enter presses it.
        button = self.browser.find_element(
            By.CSS_SELECTOR, 'button[data-focus="%s:printed"]' % unknown["id"])
        self.assertEqual(button.text, "Испечатена")
        button.send_keys(Keys.ENTER)
        resolved = wait_until(
            lambda: (lambda j: j if j.get("outcome") == "printed" else None)(
                self.api("GET", "/v1/jobs/" + unknown["id"])[1]), 10, "the job resolved")
        self.assertTrue(resolved.get("resolved"), resolved)
        self.wait_for(lambda: not self.browser.find_elements(By.CSS_SELECTOR, "tr.unknown"),
                      "the job resolved")
        self.assertIn("е запишана како испечатена",
                      self.browser.find_element(By.ID, "announce").get_attribute("textContent"))
        self.shoot("status-1024x768-resolved")
        self.view(390, 844)
        self.shoot("status-390x844-resolved")
        self.view(1024, 768)

    # With Token= set the page shows its form, asks again while the token is refused, and shows
    # the registers once it is right. Another service of its own; nothing is printed.
    def test_status_page_asks_for_the_token_and_keeps_it_for_the_session(self):
        folder = tempfile.mkdtemp(prefix="zelmo-token-")
        port = free_port()
        with open(os.path.join(folder, "Zelmocfg.ini"), "wb") as f:
            f.write(("[Parametri]\r\nSeriska=1\r\nPrikaziForma=0\r\n[Ports]\r\nCOM1=%s\r\n"
                     "[Service]\r\nListen=127.0.0.1:%d\r\nToken=till-secret-7\r\n"
                     % (os.path.join(folder, "com1"), port)).encode("ascii"))
        with open(os.path.join(OUT, "service-token.log"), "wb") as log:
            zelmo = subprocess.Popen([ZELMO, "--serve", "--dir", folder],
                                     stdin=subprocess.DEVNULL, stdout=log, stderr=log)
            try:
                wait_until(lambda: health(port), 10, "the service")
                self.check_token_page(self.browser, "http://127.0.0.1:%d/" % port)
            finally:
                zelmo.terminate()
                zelmo.wait(timeout=20)
                shutil.rmtree(folder, ignore_errors=True)

    def check_token_page(self, browser, url):
        browser.get(url)  # the page itself comes without the token
        form = browser.find_element(By.ID, "token-form")
        wait = WebDriverWait(browser, 15, poll_frequency=0.1)
        wait.until(lambda _: form.is_displayed())
        self.assertIn("бара токен", form.text)
        field = browser.find_element(By.ID, "token-input")
        self.assertEqual(browser.switch_to.active_element, field)
        field.send_keys("wrong", Keys.ENTER)
        wait.until(lambda _: form.is_displayed() and "не е прифатен" in form.text)
        self.assertEqual(browser.find_elements(By.CSS_SELECTOR, "#registers li"), [])
        browser.find_element(By.ID, "token-input").send_keys("till-secret-7", Keys.ENTER)
        wait.until(lambda _: browser.find_elements(By.CSS_SELECTOR, "#registers li"))
        self.assertFalse(form.is_displayed())
        browser.refresh()  # kept for the session: no form again
        wait.until(lambda _: browser.find_elements(By.CSS_SELECTOR, "#registers li"))
        self.assertFalse(browser.find_element(By.ID, "token-form").is_displayed())

    def run_module(self, origin, key, items, tries):
        self.browser.get(origin + "/")
        self.wait_for(lambda: self.browser.execute_script("return !!window.zelmo"), "the module")
        return self.browser.execute_async_script(
            PRINT_SCRIPT, items, key, {"service": self.service, "wait": 20, "tries": tries})

    def test_guide_module_prints_from_an_allowed_origin_only(self):
        register = Register(self.link, os.path.join(self.folder, "web.bin"))
        result = self.run_module(self.allowed.origin, "web-sale-1", [COFFEE, BREAD], 4)
        self.assertIn("job", result, result)
        self.assertEqual(result["job"]["outcome"], "printed", result)
        receipt = register.printed()
        self.assertIn("Кафе мелено", receipt)
        self.assertIn("Леб бел", receipt)

        # The same sale tried again (a reload, a second click): the same job, no second print.
        again = Register(self.link, os.path.join(self.folder, "web-again.bin"))
        first = result["job"]
        result = self.run_module(self.allowed.origin, "web-sale-1", [COFFEE, BREAD], 1)
        self.assertIn("job", result, result)
        self.assertEqual((result["job"]["id"], result["job"]["outcome"]), (first["id"], "printed"))
        time.sleep(1)
        self.assertEqual(again.received(), 0, "a retry reached the register")

        # Another origin: refused by the service, and nothing reaches the register.
        result = self.run_module(self.other.origin, "web-sale-2", [MILK], 1)
        # The preflight is refused (403), so the browser gives the page no answer at all.
        self.assertEqual(result.get("name"), "TypeError", result)
        time.sleep(1)
        self.assertEqual(again.received(), 0, "a refused origin reached the register")
        again.stop()
        _, listing = self.api("GET", "/v1/jobs?register=default")
        keys = [job["idempotencyKey"] for job in listing["jobs"]]
        self.assertIn("web-sale-1", keys)
        self.assertNotIn("web-sale-2", keys)
        self.assertEqual(keys.count("web-sale-1"), 1)


if __name__ == "__main__":
    ZELMO, REGISTER, GUIDE, OUT = (os.path.abspath(a) for a in sys.argv[1:5])
    os.makedirs(OUT, exist_ok=True)
    unittest.main(argv=sys.argv[:1], verbosity=2)

"""The hub's page in Debian's headless Chromium, against the emulator
through the hub: the grid follows the switcher, a click routes, changes made
elsewhere appear without reload, locks refuse, presets report per output, a
phone-wide window needs no sideways scrolling, the console stays clean."""

import os
import shutil
import socket
import subprocess
import time
import unittest

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

import hubweb

CTL = os.path.join(hubweb.BUILD, "src", "cli", "matrix-ctl")


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1280,1000", "--no-first-run", "--disable-extensions"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
    return webdriver.Chrome(service=service, options=options)


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = hubweb.temporary_directory()
        cls.sim = hubweb.Emulator(cls.directory.name)
        cls.hub = hubweb.Hub(f"127.0.0.1:{cls.sim.port}", cls.directory.name)
        cls.hub.wait_state(lambda s: not s["stale"])
        cls.driver = browser()
        cls.url = f"http://127.0.0.1:{cls.hub.http_port}/"
        cls.driver.get(cls.url)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.hub.stop()
        cls.sim.stop()
        cls.directory.cleanup()

    def wait(self, condition, timeout=5, message=""):
        return WebDriverWait(self.driver, timeout, poll_frequency=0.02).until(lambda d: condition(), message)

    def cell(self, output, input_):
        return self.driver.find_element(
            By.CSS_SELECTOR, f'button.cell[data-output="{output}"][data-input="{input_}"]')

    def pressed(self, output, input_):
        return self.cell(output, input_).get_attribute("aria-pressed") == "true"

    def api(self, method, path, body=None):
        return self.hub.request(method, "/api/v1" + path, body)

    def assertNoConsoleErrors(self):
        errors = [entry for entry in self.driver.get_log("browser") if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])

    def test_1_the_grid_shows_the_switchers_state_with_names(self):
        _, _, state = self.api("GET", "/state")
        for output in state["outputs"]:
            self.wait(lambda o=output: self.pressed(o["output"], o["input"]),
                      message=f"output {output['output']} never showed input {output['input']}")
        self.api("PUT", "/names", {"inputs": {"5": "Lectern PC"}, "outputs": {"3": "Projector"}})
        self.wait(lambda: self.cell(3, 5).get_attribute("aria-label").startswith("Projector: Lectern PC"))
        self.assertEqual(self.cell(4, 5).get_attribute("aria-label"), "Output 4: Lectern PC")
        self.assertTrue(self.driver.find_element(By.ID, "link").text.startswith("Connected"))
        # On loopback no token is asked for.
        self.assertFalse(self.driver.find_element(By.ID, "token-form").is_displayed())

    def test_2_a_click_puts_the_routing_bytes_on_the_line_and_the_cell_follows(self):
        _, _, state = self.api("GET", "/state")
        target = 7 if state["outputs"][2]["input"] != 7 else 8
        self.cell(3, target).click()
        self.assertTrue(self.sim.wait_received(hubweb.route_bytes(3, target)))
        self.wait(lambda: self.pressed(3, target))
        self.assertEqual(self.api("GET", "/state")[2]["outputs"][2]["input"], target)
        # By keyboard: arrow to the next input, Enter routes.
        self.cell(3, target).send_keys(Keys.ARROW_RIGHT)
        self.driver.switch_to.active_element.send_keys(Keys.ENTER)
        self.assertTrue(self.sim.wait_received(hubweb.route_bytes(3, target + 1)))
        self.wait(lambda: self.pressed(3, target + 1))

    def test_3_a_route_set_through_the_text_port_appears_without_reload(self):
        _, _, state = self.api("GET", "/state")
        target = 2 if state["outputs"][5]["input"] != 2 else 4
        link = f"127.0.0.1:{self.hub.text_port}"
        if os.path.exists(CTL):
            subprocess.run([CTL, "--link", link, "route", "6", str(target)], check=True, capture_output=True,
                           timeout=10)
        else:
            with socket.create_connection(("127.0.0.1", self.hub.text_port), timeout=3) as text:
                text.sendall(hubweb.route_bytes(6, target))
                text.recv(64)
        started = time.monotonic()
        self.wait(lambda: self.pressed(6, target), timeout=2)
        self.assertLess(time.monotonic() - started, 1.0)
        # A front-panel change shows by the hub's poll (every second here).
        self.sim.panel(f"route 7 {target}")
        self.wait(lambda: self.pressed(7, target), timeout=3)

    def test_4_a_locked_row_refuses(self):
        _, _, state = self.api("GET", "/state")
        current = state["outputs"][9]["input"]
        other = 1 if current != 1 else 2
        self.api("PUT", "/outputs/10/lock", {"locked": True})
        lock = self.driver.find_element(By.CSS_SELECTOR, "#row-10 button.lock")
        self.wait(lambda: lock.get_attribute("aria-pressed") == "true")
        self.cell(10, other).click()
        self.wait(lambda: "locked" in self.driver.find_element(By.ID, "message").text)
        time.sleep(0.3)
        self.assertNotIn(hubweb.route_bytes(10, other), self.sim.received())
        self.assertTrue(self.pressed(10, current))
        self.assertIn("(locked)", self.cell(10, other).get_attribute("aria-label"))
        lock.click()
        self.wait(lambda: lock.get_attribute("aria-pressed") == "false")
        self.assertFalse(self.api("GET", "/state")[2]["outputs"][9]["locked"])

    def test_5_a_preset_recall_reports_per_output(self):
        self.api("POST", "/outputs/1/route", {"input": 1})
        self.api("PUT", "/outputs/2/lock", {"locked": True})
        self.api("PUT", "/presets/Lecture", {"routes": [{"output": 1, "input": 1}, {"output": 2, "input": 3},
                                                        {"output": 4, "input": 9}]})
        button = self.wait(lambda: self.driver.find_element(By.CSS_SELECTOR, '[aria-label="Recall preset Lecture"]'))
        button.click()
        results = self.wait(lambda: self.driver.find_elements(By.CSS_SELECTOR, ".recall-results li"))
        shown = {int(item.get_attribute("data-output")): item.get_attribute("data-result") for item in results}
        self.api("PUT", "/outputs/2/lock", {"locked": False})
        self.assertEqual(shown, {1: "applied", 2: "skipped", 4: "applied"})
        self.wait(lambda: self.pressed(4, 9))
        # Saving the current routes from the page.
        field = self.driver.find_element(By.ID, "preset-name")
        field.send_keys("Now", Keys.ENTER)
        self.wait(lambda: self.driver.find_elements(By.CSS_SELECTOR, '[aria-label="Recall preset Now"]'))
        self.assertEqual(len(self.api("GET", "/presets/Now")[2]["routes"]), 16)

    def test_6_a_phone_wide_window_needs_no_sideways_scrolling(self):
        try:
            self.driver.set_window_size(360, 740)
            self.driver.refresh()
            self.wait(lambda: self.pressed(1, self.api("GET", "/state")[2]["outputs"][0]["input"]))
            width = self.driver.execute_script(
                "return [document.documentElement.scrollWidth, document.documentElement.clientWidth]")
            self.assertLessEqual(width[0], width[1])
            if os.environ.get("MC_WEB_SCREENSHOT"):
                self.driver.set_window_size(1280, 1000)
                self.driver.refresh()
                time.sleep(0.5)
                self.driver.execute_script("window.scrollTo(0, 0)")
                self.driver.save_screenshot(os.environ["MC_WEB_SCREENSHOT"])
        finally:
            self.driver.set_window_size(1280, 1000)

    def test_7_no_errors_in_the_browsers_console(self):
        self.assertNoConsoleErrors()


class TokenPromptTest(unittest.TestCase):
    def test_off_loopback_the_page_asks_for_the_token_and_then_shows_the_grid(self):
        with hubweb.temporary_directory() as directory:
            sim = hubweb.Emulator(directory)
            token_file = os.path.join(directory, "http-token")
            hub = hubweb.Hub(f"127.0.0.1:{sim.port}", directory, http="0.0.0.0:0",
                             extra=["--token-file", token_file])
            driver = browser()
            try:
                with open(token_file) as file:
                    token = file.read().strip()
                driver.get(f"http://127.0.0.1:{hub.http_port}/")
                wait = WebDriverWait(driver, 5, poll_frequency=0.02)
                form = driver.find_element(By.ID, "token-form")
                wait.until(lambda d: form.is_displayed())
                cell = driver.find_element(By.CSS_SELECTOR, 'button.cell[data-output="1"][data-input="1"]')
                self.assertIsNone(cell.get_attribute("aria-pressed"))
                field = driver.find_element(By.ID, "token")
                field.send_keys(token, Keys.ENTER)
                wait.until(lambda d: cell.get_attribute("aria-pressed") == "true")
                self.assertFalse(form.is_displayed())
                # The token stays with the tab, never in a cookie.
                self.assertEqual(driver.get_cookies(), [])
                errors = [entry for entry in driver.get_log("browser")
                          if entry["level"] == "SEVERE" and "401" not in entry["message"]]
                self.assertEqual(errors, [])
            finally:
                driver.quit()
                hub.stop()
                sim.stop()


if __name__ == "__main__":
    unittest.main()

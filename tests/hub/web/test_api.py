"""The hub's HTTP API against the emulator: every endpoint and error status,
the limits, and every answer checked against docs/openapi.json."""

import json
import os
import socket
import stat
import subprocess
import threading
import time
import unittest

import jsonschema

import hubweb

OPENAPI_PATH = os.path.join(os.path.dirname(__file__), "../../../docs/openapi.json")


def schema_for(ref):
    with open(OPENAPI_PATH) as file:
        document = json.load(file)
    return {"$ref": ref, "components": document["components"]}


def check(test, body, name):
    """Validates body against a schema of the API description."""
    ref = f"#/components/schemas/{name}"
    try:
        jsonschema.validate(body, schema_for(ref), cls=jsonschema.Draft202012Validator)
    except jsonschema.ValidationError as error:
        test.fail(f"{name} does not match the API description: {error.message}\n{body}")


class ApiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = hubweb.temporary_directory()
        cls.sim = hubweb.Emulator(cls.directory.name, extra=["--unanswered-output", "9"])
        cls.hub = hubweb.Hub(f"127.0.0.1:{cls.sim.port}", cls.directory.name)
        cls.hub.wait_state(lambda s: not s["stale"])

    @classmethod
    def tearDownClass(cls):
        cls.hub.stop()
        cls.sim.stop()
        cls.directory.cleanup()

    def call(self, method, path, body=None, **kwargs):
        return self.hub.request(method, "/api/v1" + path, body, **kwargs)

    def assertError(self, answer, status, code=None):
        got, response, body = answer
        self.assertEqual(got, status, body)
        check(self, body, "Error")
        if code:
            self.assertEqual(body["error"]["code"], code)

    def test_state_is_the_switchers_and_matches_the_description(self):
        status, response, state = self.call("GET", "/state")
        self.assertEqual(status, 200)
        check(self, state, "State")
        self.assertEqual(state["link"]["state"], "up")
        self.assertEqual(state["link"]["address"], f"127.0.0.1:{self.sim.port}")
        self.assertFalse(state["stale"])
        self.assertEqual([o["output"] for o in state["outputs"]], list(range(1, 17)))
        self.assertIsNone(response.getheader("Access-Control-Allow-Origin"))
        self.assertIsNone(response.getheader("Set-Cookie"))

    def test_route_puts_the_exact_bytes_on_the_line_and_answers_the_confirmed_state(self):
        status, _, state = self.call("POST", "/outputs/3/route", {"input": 5})
        self.assertEqual(status, 200, state)
        check(self, state, "State")
        self.assertEqual(state["outputs"][2]["input"], 5)
        self.assertTrue(self.sim.wait_received(hubweb.route_bytes(3, 5)))
        status, _, state = self.call("POST", "/outputs/12/route", {"input": 16})
        self.assertEqual(state["outputs"][11]["input"], 16)
        self.assertTrue(self.sim.wait_received(hubweb.route_bytes(12, 16)))

    def test_route_by_input_name(self):
        self.call("PUT", "/names", {"inputs": {"7": "Lectern PC"}})
        status, _, state = self.call("POST", "/outputs/4/route", {"input": "lectern pc"})
        self.assertEqual(status, 200, state)
        self.assertEqual(state["outputs"][3]["input"], 7)
        self.assertError(self.call("POST", "/outputs/4/route", {"input": "Nobody"}), 400, "bad_request")
        self.call("PUT", "/names", {"inputs": {"7": None}})

    def test_bad_arguments_send_nothing(self):
        before = len(self.sim.commands())
        for body in ({"input": 0}, {"input": 17}, {"input": "17"}, {"input": 2.5}, {}, {"input": None}):
            self.assertError(self.call("POST", "/outputs/2/route", body), 400, "bad_request")
        self.assertError(self.call("POST", "/outputs/2/audio", {"audio": "loud"}), 400)
        self.assertError(self.call("POST", "/inputs/2/edid", {"item": 49}), 400)
        self.assertError(self.call("POST", "/outputs/2/route", raw=b"{not json", headers={"Content-Type": "application/json"}), 400)
        self.assertError(self.call("POST", "/outputs/2/route", raw=b'{"input": 3}', headers={"Content-Type": "text/plain"}), 415)
        self.assertError(self.call("POST", "/outputs/17/route", {"input": 1}), 404, "no_such_port")
        self.assertError(self.call("GET", "/outputs/2/route"), 405)
        self.assertError(self.call("GET", "/nothing"), 404)
        time.sleep(0.2)
        self.assertEqual(len(self.sim.commands()), before)

    def test_audio_and_edid_follow_the_switcher(self):
        status, _, state = self.call("POST", "/outputs/6/audio", {"audio": "mute"})
        self.assertEqual(status, 200, state)
        self.assertEqual(state["outputs"][5]["audio"], "mute")
        status, _, state = self.call("POST", "/outputs/6/audio", {"audio": "on"})
        self.assertEqual(state["outputs"][5]["audio"], "on")
        status, _, state = self.call("POST", "/inputs/2/edid", {"item": 4})
        self.assertEqual(status, 200, state)
        self.assertEqual(state["inputs"][1]["edid"]["item"], 4)

    def test_a_locked_output_refuses_on_every_interface(self):
        status, _, state = self.call("PUT", "/outputs/8/lock", {"locked": True})
        self.assertEqual(status, 200)
        self.assertTrue(state["outputs"][7]["locked"])
        before = len(self.sim.commands())
        self.assertError(self.call("POST", "/outputs/8/route", {"input": 2}), 409, "locked")
        # The text port refuses it too and answers with the current route.
        current = state["outputs"][7]["input"]
        with socket.create_connection(("127.0.0.1", self.hub.text_port), timeout=3) as text:
            text.sendall(hubweb.route_bytes(8, 2))
            self.assertIn(f"OUT8 VS IN{current}".encode(), text.recv(256))
        self.assertEqual(len(self.sim.commands()), before)
        self.assertError(self.call("PUT", "/outputs/8/lock", {"locked": "yes"}), 400)
        status, _, state = self.call("PUT", "/outputs/8/lock", {"locked": False})
        self.assertFalse(state["outputs"][7]["locked"])
        self.assertEqual(self.call("POST", "/outputs/8/route", {"input": 2})[0], 200)

    def test_names_merge_and_null_removes(self):
        status, _, names = self.call("PUT", "/names", {"inputs": {"5": "Camera"}, "outputs": {"3": "Projector"}})
        self.assertEqual(status, 200)
        check(self, names, "Names")
        status, _, names = self.call("PUT", "/names", {"outputs": {"4": "Monitor"}})
        self.assertEqual(names, {"inputs": {"5": "Camera"}, "outputs": {"3": "Projector", "4": "Monitor"}})
        _, _, state = self.call("GET", "/state")
        self.assertEqual(state["outputs"][2]["name"], "Projector")
        self.assertEqual(state["inputs"][4]["name"], "Camera")
        self.assertError(self.call("PUT", "/names", {"outputs": {"5": "projector"}}), 409, "duplicate_name")
        for bad in ({"outputs": {"17": "X"}}, {"outputs": {"1": ""}}, {"outputs": {"1": "x" * 41}},
                    {"outputs": {"1": "a\nb"}}, {"outputs": {"1": 5}}, {"outputs": []}):
            self.assertError(self.call("PUT", "/names", bad), 400)
        status, _, names = self.call("PUT", "/names", {"inputs": {"5": None}, "outputs": {"3": None, "4": None}})
        self.assertEqual(names, {"inputs": {}, "outputs": {}})
        self.assertEqual(self.call("GET", "/names")[2], names)

    def test_presets_save_recall_per_output_and_delete(self):
        self.call("POST", "/outputs/1/route", {"input": 1})
        self.call("POST", "/outputs/2/route", {"input": 1})
        status, _, presets = self.call("PUT", "/presets/Lecture",
                                       {"routes": [{"output": 2, "input": 6}, {"output": 1, "input": 1},
                                                   {"output": 9, "input": 4}, {"output": 10, "input": 3}]})
        self.assertEqual(status, 200, presets)
        check(self, presets, "Presets")
        self.assertEqual([r["output"] for r in presets[0]["routes"]], [1, 2, 9, 10])
        self.call("PUT", "/outputs/10/lock", {"locked": True})
        status, _, report = self.call("POST", "/presets/Lecture/recall", {})
        self.call("PUT", "/outputs/10/lock", {"locked": False})
        self.assertEqual(status, 200, report)
        check(self, report, "RecallReport")
        results = {entry["output"]: (entry["result"], entry["sent"]) for entry in report["outputs"]}
        self.assertEqual(results, {1: ("applied", False), 2: ("applied", True), 9: ("failed", True),
                                   10: ("skipped", False)})
        # Saved in the site file at once.
        with open(os.path.join(self.directory.name, "site.json")) as file:
            self.assertEqual(json.load(file)["presets"][0]["name"], "Lecture")
        self.assertEqual(self.call("GET", "/state")[2]["outputs"][1]["input"], 6)

        status, _, presets = self.call("PUT", "/presets/Now", {"from": "current"})
        self.assertEqual(status, 200)
        now = next(p for p in presets if p["name"] == "Now")
        self.assertEqual(len(now["routes"]), 16)
        self.assertEqual(self.call("GET", "/presets/now")[2]["name"], "Now")
        for bad in ({"routes": []}, {"routes": [{"output": 1, "input": 1}, {"output": 1, "input": 2}]},
                    {"routes": [{"output": 1}]}, {"from": "yesterday"}):
            self.assertError(self.call("PUT", "/presets/Bad", bad), 400)
        self.assertEqual(self.call("DELETE", "/presets/Now")[0], 200)
        self.assertError(self.call("DELETE", "/presets/Now"), 404, "no_such_preset")
        self.assertError(self.call("POST", "/presets/Now/recall", {}), 404)
        self.assertEqual(self.call("DELETE", "/presets/Lecture")[0], 200)
        self.assertEqual(self.call("GET", "/presets")[2], [])

    def test_events_give_the_state_then_one_event_per_change(self):
        events = hubweb.EventReader(self.hub.http_host, self.hub.http_port)
        try:
            self.assertEqual(events.status, 200)
            kind, state = events.next()
            self.assertEqual(kind, "state")
            check(self, state, "State")
            self.assertEqual(events.next()[0], "names")
            self.assertEqual(events.next()[0], "presets")
            target = 11 if state["outputs"][10]["input"] != 11 else 12
            self.call("POST", "/outputs/11/route", {"input": target})
            kind, output = events.wait_for(lambda k, d: k == "output", 3)
            check(self, output, "Output")
            self.assertEqual((output["output"], output["input"]), (11, target))
            # A front-panel change reaches the stream through the poll.
            self.sim.panel("route 13 2" if state["outputs"][12]["input"] != 2 else "route 13 3")
            kind, output = events.wait_for(lambda k, d: k == "output", 3)
            self.assertEqual(output["output"], 13)
            self.call("PUT", "/names", {"outputs": {"13": "Stage"}})
            kind, names = events.wait_for(lambda k, d: k == "names", 3)
            self.assertEqual(names["outputs"], {"13": "Stage"})
            self.call("PUT", "/names", {"outputs": {"13": None}})
            # Polls that find nothing new send nothing.
            events.wait_for(lambda k, d: k == "output" and d["name"] is None, 3)
            with self.assertRaises(TimeoutError):
                events.next(2.5)
        finally:
            events.close()

    def test_openapi_is_served_and_is_openapi_3(self):
        status, response, document = self.call("GET", "/openapi.json")
        self.assertEqual(status, 200)
        self.assertTrue(document["openapi"].startswith("3."))
        with open(OPENAPI_PATH) as file:
            self.assertEqual(document, json.load(file))
        for path in ("/state", "/events", "/outputs/{n}/route", "/outputs/{n}/audio", "/outputs/{n}/lock",
                     "/inputs/{n}/edid", "/names", "/presets", "/presets/{name}", "/presets/{name}/recall"):
            self.assertIn(path, document["paths"])

    def test_the_page_comes_with_its_security_headers(self):
        status, response, page = self.hub.request("GET", "/")
        self.assertEqual(status, 200)
        self.assertIn("<title>matrix-hub</title>", page)
        policy = response.getheader("Content-Security-Policy")
        self.assertIn("default-src 'none'", policy)
        self.assertNotIn("unsafe-inline", policy)
        self.assertEqual(self.hub.request("GET", "/favicon.svg")[0], 200)
        self.assertEqual(self.hub.request("GET", "/app.js")[1].getheader("Content-Type"),
                         "text/javascript; charset=utf-8")

    def test_another_sites_page_is_refused(self):
        self.assertError(self.call("POST", "/outputs/1/route", {"input": 2},
                                   headers={"Origin": "http://evil.example"}), 403)

    # --- limits -------------------------------------------------------------

    def test_a_body_over_64_kib_answers_413(self):
        body = b'{"input": 1, "pad": "' + b"x" * (64 * 1024) + b'"}'
        self.assertError(self.call("POST", "/outputs/1/route", raw=body,
                                   headers={"Content-Type": "application/json"}), 413, "too_large")

    def test_headers_not_finished_within_10_s_answer_408(self):
        with socket.create_connection((self.hub.http_host, self.hub.http_port), timeout=15) as client:
            client.sendall(b"GET /api/v1/state HTTP/1.1\r\nHost: x\r\n")
            started = time.monotonic()
            answer = client.recv(4096)
            self.assertTrue(answer.startswith(b"HTTP/1.1 408"), answer)
            self.assertGreater(time.monotonic() - started, 9)
            self.assertLess(time.monotonic() - started, 12)

    def test_the_257th_connection_answers_503_and_the_hub_keeps_serving(self):
        clients = []
        try:
            for _ in range(256):
                clients.append(socket.create_connection((self.hub.http_host, self.hub.http_port)))
            time.sleep(0.3)
            extra = socket.create_connection((self.hub.http_host, self.hub.http_port), timeout=3)
            self.assertTrue(extra.recv(4096).startswith(b"HTTP/1.1 503"))
            extra.close()
        finally:
            for client in clients:
                client.close()
        time.sleep(0.3)
        self.assertEqual(self.call("GET", "/state")[0], 200)

    def test_a_keep_alive_connection_serves_many_requests(self):
        connection = self.hub.connection()
        for _ in range(20):
            self.assertEqual(self.hub.request("GET", "/api/v1/state", connection=connection)[0], 200)
        connection.close()


class UnansweredTest(unittest.TestCase):
    def test_an_unconfirmed_route_answers_504_while_the_hub_polls(self):
        # The hub polls every second, so a status answer falls into the wait;
        # its first line, output 1's route, is no answer to the route.
        with hubweb.temporary_directory() as directory:
            sim = hubweb.Emulator(directory, extra=["--unanswered-output", "1"])
            hub = hubweb.Hub(f"127.0.0.1:{sim.port}", directory)
            try:
                hub.wait_state(lambda s: not s["stale"])
                started = time.monotonic()
                status, _, body = hub.request("POST", "/api/v1/outputs/1/route", {"input": 3})
                self.assertEqual(status, 504, body)
                self.assertEqual(body["error"]["code"], "no_confirmation")
                self.assertGreater(time.monotonic() - started, 1.5)
                self.assertTrue(sim.wait_received(hubweb.route_bytes(1, 3)))
                # The polls go on once the route is given up.
                polls = len(sim.received()) - len(sim.commands())
                deadline = time.monotonic() + 3
                while len(sim.received()) - len(sim.commands()) == polls and time.monotonic() < deadline:
                    time.sleep(0.05)
                self.assertGreater(len(sim.received()) - len(sim.commands()), polls)
            finally:
                hub.stop()
                sim.stop()


class LinkDownTest(unittest.TestCase):
    def test_commands_answer_503_while_the_link_is_down_and_the_state_is_stale(self):
        with hubweb.temporary_directory() as directory:
            spare = socket.socket()
            spare.bind(("127.0.0.1", 0))
            port = spare.getsockname()[1]
            spare.close()
            hub = hubweb.Hub(f"127.0.0.1:{port}", directory)
            try:
                state = hub.wait_state(lambda s: s["link"]["state"] == "down")
                check(self, state, "State")
                self.assertTrue(state["stale"])
                self.assertTrue(state["link"]["reason"])
                status, _, body = hub.request("POST", "/api/v1/outputs/1/route", {"input": 2})
                self.assertEqual(status, 503, body)
                self.assertEqual(body["error"]["code"], "link_down")
            finally:
                hub.stop()


class FakeSwitcher:
    """Confirms every route with input 1, whatever was asked: a switcher
    that did something else than it was told."""

    def __init__(self):
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        client, _ = self.server.accept()
        buffer = b""
        while True:
            data = client.recv(4096)
            if not data:
                return
            buffer += data
            while b"\n" in buffer:
                line, buffer = buffer.split(b"\n", 1)
                line = line.strip()
                if line.startswith(b"SET OUT"):
                    output = int(line[7:9])
                    client.sendall(f"OUT{output} VS IN1\r\n".encode())
                elif line == b"GET STA":
                    status = "".join(f"OUT{o} VS IN1\r\n" for o in range(1, 17))
                    status += "".join(f"IN{p} EDID 0\r\n" for p in range(1, 17))
                    status += "".join(f"OUT{p} EXA EN\r\n" for p in range(1, 17))
                    client.sendall(status.encode())


class OtherConfirmationTest(unittest.TestCase):
    def test_a_route_the_switcher_reports_otherwise_answers_502(self):
        fake = FakeSwitcher()
        with hubweb.temporary_directory() as directory:
            hub = hubweb.Hub(f"127.0.0.1:{fake.port}", directory)
            try:
                hub.wait_state(lambda s: s["link"]["state"] == "up")
                status, _, body = hub.request("POST", "/api/v1/outputs/2/route", {"input": 7})
                self.assertEqual(status, 502, body)
                self.assertEqual(body["error"]["code"], "other_confirmation")
                self.assertIn("input 1", body["error"]["message"])
            finally:
                hub.stop()


class TokenTest(unittest.TestCase):
    def test_off_loopback_every_api_request_needs_the_token(self):
        # Every address: the token is asked also of a client that comes
        # through loopback, as a proxy on the hub's machine might.
        address = "127.0.0.1"
        with hubweb.temporary_directory() as directory:
            spare = socket.socket()
            spare.bind(("127.0.0.1", 0))
            link = spare.getsockname()[1]
            spare.close()
            token_file = os.path.join(directory, "conf", "http-token")
            hub = hubweb.Hub(f"127.0.0.1:{link}", directory, http="0.0.0.0:0",
                             extra=["--token-file", token_file])
            try:
                mode = stat.S_IMODE(os.stat(token_file).st_mode)
                self.assertEqual(mode, 0o600)
                printed = subprocess.run([hubweb.HUB, "--print-token", "--token-file", token_file],
                                         capture_output=True, text=True, check=True).stdout.strip()
                with open(token_file) as file:
                    self.assertEqual(file.read().strip(), printed)
                self.assertEqual(len(printed), 64)
                status, response, body = hub.request("GET", "/api/v1/state")
                self.assertEqual(status, 401)
                # The token with its last digit changed (never the same digit).
                wrong = printed[:-1] + ("1" if printed[-1] == "0" else "0")
                self.assertIn("Bearer", response.getheader("WWW-Authenticate"))
                self.assertEqual(hub.request("GET", "/api/v1/state",
                                             headers={"Authorization": "Bearer " + wrong})[0], 401)
                self.assertEqual(hub.request("GET", "/api/v1/state",
                                             headers={"Authorization": "Bearer " + printed})[0], 200)
                events = hubweb.EventReader(address, hub.http_port)
                self.assertEqual(events.status, 401)
                events.close()
                # The page itself loads, so it can ask for the token.
                self.assertEqual(hub.request("GET", "/")[0], 200)
            finally:
                hub.stop()
            # A second start keeps the token.
            self.assertEqual(subprocess.run([hubweb.HUB, "--print-token", "--token-file", token_file],
                                            capture_output=True, text=True).stdout.strip(), printed)


if __name__ == "__main__":
    unittest.main()

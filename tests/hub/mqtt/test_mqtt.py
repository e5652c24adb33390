"""matrix-hub on a real broker (Debian's mosquitto on a loopback port): the
topics, commands with their exact bytes on the emulator's line, locks,
Home Assistant discovery, and what the hub and the broker do when the other
goes away."""

import json
import os
import signal
import subprocess
import time
import unittest

import mqtthub
from mqtthub import EMULATOR_DEVICE, Broker, Recorder, hubweb, start_hub

ROOT = f"matrix-hub/{EMULATOR_DEVICE}"
NODE = f"matrix_hub_{EMULATOR_DEVICE}"


def audio_bytes(output, on):
    field = f"{output} " if output < 10 else str(output)
    return f"\r\nSET OUT{field} EXA {' EN' if on else 'DIS'}\r\n".encode()


class SharedHub(unittest.TestCase):
    """One emulator, one broker and one hub named by the emulator's MAC."""

    @classmethod
    def setUpClass(cls):
        cls.directory = hubweb.temporary_directory()
        cls.sim = hubweb.Emulator(cls.directory.name, extra=["--unanswered-output", "9"])
        cls.broker = Broker(cls.directory.name)
        cls.hub = start_hub(f"127.0.0.1:{cls.sim.port}", cls.directory.name, cls.broker)
        cls.watch = Recorder(cls.broker.port)
        cls.watch.wait_payload(f"{ROOT}/availability", "online", timeout=10)
        cls.watch.wait_for(lambda t, p, r: t == f"{ROOT}/state" and not json.loads(p)["stale"], timeout=10)

    @classmethod
    def tearDownClass(cls):
        cls.watch.close()
        cls.hub.stop()
        cls.broker.stop()
        cls.sim.stop()
        cls.directory.cleanup()

    def api(self, method, path, body=None):
        status, _, answer = self.hub.request(method, "/api/v1" + path, body)
        self.assertLess(status, 300, answer)
        return answer

    def config(self, component, object_id, since=0, timeout=5.0):
        topic = f"homeassistant/{component}/{NODE}/{object_id}/config"
        return json.loads(self.watch.wait_for(lambda t, p, r: t == topic and p, timeout, since)[1])

    def assert_nothing_sent(self, before, wait=0.5):
        time.sleep(wait)
        self.assertEqual(self.sim.commands()[before:], [])

    def test_discovery_documents_carry_what_home_assistant_requires_and_follow_names_and_presets(self):
        device = None
        for output in (1, 16):
            select = self.config("select", f"output_{output}_input")
            for field in ("name", "unique_id", "state_topic", "command_topic", "options", "device", "availability"):
                self.assertIn(field, select)
            self.assertEqual(select["state_topic"], f"{ROOT}/output/{output}/input")
            self.assertEqual(select["command_topic"], f"{ROOT}/output/{output}/input/set")
            self.assertEqual(len(select["options"]), 16)
            audio = self.config("switch", f"output_{output}_audio")
            self.assertEqual((audio["payload_on"], audio["payload_off"]), ("on", "mute"))
            self.assertEqual(audio["command_topic"], f"{ROOT}/output/{output}/audio/set")
            device = select["device"]
        self.assertEqual(device["identifiers"], [f"matrix-hub_{EMULATOR_DEVICE}"])
        for field in ("name", "model", "sw_version"):
            self.assertTrue(device[field])
        link = self.config("binary_sensor", "link")
        self.assertEqual(link["state_topic"], f"{ROOT}/link")
        self.assertEqual(link["availability"], [{"topic": f"{ROOT}/availability", "payload_available": "online",
                                                  "payload_not_available": "offline"}])
        unique_ids = set()
        with self.watch.changed:
            for topic, payload, _ in self.watch.messages:
                if topic.startswith(f"homeassistant/") and payload:
                    unique_ids.add(json.loads(payload)["unique_id"])
        self.assertGreaterEqual(len(unique_ids), 16 * 3 + 1)

        # Names changed over HTTP: the select's options and label follow.
        mark = self.watch.mark()
        self.api("PUT", "/names", {"inputs": {"6": "Document Camera"}, "outputs": {"2": "Projector"}})
        select = self.config("select", "output_2_input", since=mark)
        self.assertEqual(select["name"], "Projector")
        self.assertEqual(select["options"][5], "Document Camera")
        self.assertIn('"6": "Document Camera"', select["value_template"].replace('":"', '": "'))
        self.assertEqual(self.config("switch", "output_2_audio", since=mark)["name"], "Projector audio")

        # A preset gets a button that recalls it; deleted, the button goes.
        mark = self.watch.mark()
        self.api("PUT", "/presets/Quiz%20Night", {"routes": [{"output": 14, "input": 2}]})
        button_topic = None
        message = self.watch.wait_for(lambda t, p, r: t.startswith(f"homeassistant/button/{NODE}/") and p,
                                      since=mark)
        button_topic, button = message[0], json.loads(message[1])
        self.assertEqual(button["command_topic"], f"{ROOT}/preset/recall")
        self.assertEqual(button["payload_press"], "Quiz Night")
        self.assertIn("unique_id", button)
        mark = self.watch.mark()
        self.api("DELETE", "/presets/Quiz%20Night")
        self.watch.wait_payload(button_topic, "", since=mark)
        self.api("PUT", "/names", {"inputs": {"6": None}, "outputs": {"2": None}})

    def test_set_by_number_and_by_name_sends_the_exact_bytes_and_the_state_follows_the_confirmation(self):
        mark = self.watch.mark()
        self.watch.publish(f"{ROOT}/output/3/input/set", "5")
        self.assertTrue(self.sim.wait_received(hubweb.route_bytes(3, 5)))
        self.watch.wait_payload(f"{ROOT}/output/3/input", "5", since=mark)
        self.watch.wait_for(lambda t, p, r: t == f"{ROOT}/state" and json.loads(p)["outputs"][2]["input"] == 5,
                            since=mark)

        self.api("PUT", "/names", {"inputs": {"11": "Lectern PC"}})
        mark = self.watch.mark()
        self.watch.publish(f"{ROOT}/output/12/input/set", "lectern pc")
        self.assertTrue(self.sim.wait_received(hubweb.route_bytes(12, 11)))
        self.watch.wait_payload(f"{ROOT}/output/12/input", "11", since=mark)
        self.api("PUT", "/names", {"inputs": {"11": None}})

        mark = self.watch.mark()
        self.watch.publish(f"{ROOT}/output/4/audio/set", "mute")
        self.assertTrue(self.sim.wait_received(audio_bytes(4, False)))
        self.watch.wait_payload(f"{ROOT}/output/4/audio", "mute", since=mark)
        self.watch.publish(f"{ROOT}/output/4/audio/set", "on")
        self.watch.wait_payload(f"{ROOT}/output/4/audio", "on", since=mark)

    def test_a_front_panel_change_reaches_the_topics_within_the_poll_interval(self):
        mark = self.watch.mark()
        self.sim.panel("route 7 2")
        started = time.monotonic()
        self.watch.wait_payload(f"{ROOT}/output/7/input", "2", timeout=3, since=mark)
        self.assertLess(time.monotonic() - started, 2.0)  # --poll 1, and the machine may be busy

    def test_a_locked_output_refuses_sets_until_unlocked(self):
        mark = self.watch.mark()
        self.watch.publish(f"{ROOT}/output/5/locked/set", "true")
        self.watch.wait_payload(f"{ROOT}/output/5/locked", "true", since=mark)
        self.assertEqual(self.api("GET", "/state")["outputs"][4]["locked"], True)
        before = len(self.sim.commands())
        self.watch.publish(f"{ROOT}/output/5/input/set", "8")
        self.assertTrue(self.hub_log_has("output 5 is locked"))
        self.assert_nothing_sent(before)
        self.watch.publish(f"{ROOT}/output/5/locked/set", "false")
        self.watch.wait_payload(f"{ROOT}/output/5/locked", "false", since=mark)
        self.watch.publish(f"{ROOT}/output/5/input/set", "8")
        self.assertTrue(self.sim.wait_received(hubweb.route_bytes(5, 8)))

    def test_malformed_commands_are_ignored_with_a_log_line(self):
        before = len(self.sim.commands())
        for topic, payload, logged in [
            ("output/17/input/set", "3", "no output '17'"),
            ("output/x/audio/set", "on", "no output 'x'"),
            ("output/3/input/set", "99", "99"),
            ("output/3/input/set", "Nobody", "Nobody"),
            ("output/3/audio/set", "loud", "\"on\" or \"mute\""),
            ("output/3/locked/set", "maybe", "\"true\" or \"false\""),
            ("output/3/input/set", "5" * 300, "more than a command holds"),
        ]:
            self.watch.publish(f"{ROOT}/{topic}", payload)
            self.assertTrue(self.hub_log_has(logged), f"{topic} {payload!r}: no log line with {logged!r}")
        self.assert_nothing_sent(before)

    def test_a_preset_recall_reports_each_output(self):
        self.api("PUT", "/presets/Lecture", {"routes": [{"output": 8, "input": 3}, {"output": 9, "input": 4},
                                                        {"output": 10, "input": 5, "audio": "mute"}]})
        self.api("PUT", "/outputs/10/lock", {"locked": True})
        mark = self.watch.mark()
        self.watch.publish(f"{ROOT}/preset/recall", "lecture")
        _, payload, retained = self.watch.wait_for(lambda t, p, r: t == f"{ROOT}/preset/result", timeout=6,
                                                   since=mark)
        self.assertFalse(retained)
        result = json.loads(payload)
        self.assertEqual(result["preset"], "Lecture")
        outcomes = {o["output"]: o["result"] for o in result["outputs"]}
        self.assertEqual(outcomes, {8: "applied", 9: "failed", 10: "skipped"})  # 9 goes unanswered
        self.assertTrue(self.sim.wait_received(hubweb.route_bytes(8, 3)))
        self.api("PUT", "/outputs/10/lock", {"locked": False})

        mark = self.watch.mark()
        self.watch.publish(f"{ROOT}/preset/recall", "No Such Preset")
        _, payload, _ = self.watch.wait_for(lambda t, p, r: t == f"{ROOT}/preset/result", since=mark)
        self.assertEqual(json.loads(payload)["error"]["code"], "no_such_preset")

    def hub_log_has(self, text, timeout=3.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.hub.log():
                return True
            time.sleep(0.05)
        return False


class Lifecycle(unittest.TestCase):
    """Hubs and brokers that come and go, each test with its own."""

    def setUp(self):
        self.directory = hubweb.temporary_directory()
        self.sim = hubweb.Emulator(self.directory.name)
        self.broker = Broker(self.directory.name)
        self.link = f"127.0.0.1:{self.sim.port}"
        self.hubs = []

    def tearDown(self):
        for hub in self.hubs:
            hub.stop()
        self.broker.stop()
        self.sim.stop()
        self.directory.cleanup()

    def hub(self, *extra):
        hub = start_hub(self.link, self.directory.name, self.broker, extra, name=f"hub{len(self.hubs)}")
        self.hubs.append(hub)
        return hub

    def test_a_retained_set_left_on_the_broker_does_nothing_when_the_hub_starts(self):
        stale = Recorder(self.broker.port, topics=())
        stale.publish(f"{ROOT}/output/2/input/set", "9", retain=True)
        stale.close()
        watch = Recorder(self.broker.port)
        hub = self.hub()
        watch.wait_payload(f"{ROOT}/availability", "online", timeout=10)
        deadline = time.monotonic() + 3
        while "ignored the retained command" not in hub.log() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertIn("ignored the retained command \"9\"", hub.log())
        time.sleep(0.3)
        self.assertNotIn(hubweb.route_bytes(2, 9), self.sim.commands())
        watch.close()

    def test_the_broker_restarted_gets_everything_again_and_a_killed_hub_is_offline(self):
        self.hub("--device-id", "room-101")
        watch = Recorder(self.broker.port)
        watch.wait_payload("matrix-hub/room-101/availability", "online", timeout=10)
        watch.close()

        self.broker.stop()
        time.sleep(1.0)
        self.broker.start()
        started = time.monotonic()
        # A fresh broker knows nothing until the hub publishes it again.
        watch = Recorder(self.broker.port)
        watch.wait_payload("matrix-hub/room-101/availability", "online", timeout=10)
        self.assertLess(time.monotonic() - started, 5)
        # Messages the hub had queued when the broker went are sent again
        # first; then all is published anew, availability first and output
        # 16's lock last.
        watch.wait_for(lambda t, p, r: t == "matrix-hub/room-101/output/16/locked", since=watch.found_at)
        later = Recorder(self.broker.port)
        for topic in ("matrix-hub/room-101/state", "matrix-hub/room-101/link", "matrix-hub/room-101/output/16/input",
                      "homeassistant/select/matrix_hub_room-101/output_1_input/config"):
            later.wait_for(lambda t, p, r: t == topic and r and p, timeout=5)
        later.close()

        mark = watch.mark()
        self.hubs[0].process.send_signal(signal.SIGKILL)
        watch.wait_payload("matrix-hub/room-101/availability", "offline", timeout=5, since=mark)
        watch.close()

    def test_a_hub_stopped_says_offline_and_its_will_names_the_device(self):
        hub = self.hub("--device-id", "lab", "--mqtt-base", "site/av", "--no-discovery")
        watch = Recorder(self.broker.port)
        watch.wait_payload("site/av/lab/availability", "online", timeout=10)
        started = time.monotonic()
        hub.stop()
        self.assertLess(time.monotonic() - started, 1.0)
        watch.wait_payload("site/av/lab/availability", "offline", timeout=3)
        self.assertFalse(any(t.startswith("homeassistant/") for t, _, _ in watch.messages))
        watch.close()

    def test_a_lost_switcher_shows_on_the_link_topic_and_the_state_turns_stale(self):
        self.hub("--device-id", "lost")
        watch = Recorder(self.broker.port, topics=("matrix-hub/lost/#",))
        watch.wait_for(lambda t, p, r: t == "matrix-hub/lost/link" and json.loads(p)["state"] == "up", timeout=10)
        mark = watch.mark()
        self.sim.process.kill()
        self.sim.process.wait(5)
        _, payload, _ = watch.wait_for(lambda t, p, r: t == "matrix-hub/lost/link" and json.loads(p)["state"] != "up",
                                       since=mark)
        self.assertTrue(json.loads(payload)["reason"])
        watch.wait_for(lambda t, p, r: t == "matrix-hub/lost/state" and json.loads(p)["stale"], since=mark)
        self.sim.stop = lambda: self.sim.process.stdout.close()  # already gone
        watch.close()

    def test_a_hub_whose_broker_is_away_still_stops_within_a_second(self):
        self.broker.stop()
        hub = self.hub("--device-id", "alone")
        deadline = time.monotonic() + 5
        while "next attempt" not in hub.log() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertIn("Connection refused; next attempt in", hub.log())
        started = time.monotonic()
        hub.stop()
        self.assertEqual(hub.process.returncode, 0)
        self.assertLess(time.monotonic() - started, 1.0)

    def test_user_and_password_from_a_file(self):
        passwords = os.path.join(self.directory.name, "passwords")
        subprocess.run(["mosquitto_passwd", "-c", "-b", passwords, "hub", "s3cret pass"], check=True)
        os.chmod(passwords, 0o644)  # mosquitto runs as this user in the tests
        self.broker.stop()
        self.broker = Broker(self.directory.name, extra_config=f"allow_anonymous false\npassword_file {passwords}")
        credentials = os.path.join(self.directory.name, "credentials")
        with open(os.open(credentials, os.O_WRONLY | os.O_CREAT, 0o600), "w") as file:
            file.write("hub\ns3cret pass\n")
        self.hub("--device-id", "secured", "--mqtt-credentials", credentials)
        watch = Recorder(self.broker.port, username="hub", password="s3cret pass")
        watch.wait_payload("matrix-hub/secured/availability", "online", timeout=10)
        watch.close()

        with open(credentials, "w") as file:
            file.write("hub\nwrong\n")
        refused = self.hub("--device-id", "refused", "--mqtt-credentials", credentials)
        deadline = time.monotonic() + 5
        while "refused the connection" not in refused.log() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertIn("refused the connection", refused.log())

    def test_tls_with_a_ca_file_and_a_broker_another_ca_signed_is_refused(self):
        ca, certificate, key = mqtthub.make_certificates(self.directory.name, "good")
        other_ca, _, _ = mqtthub.make_certificates(self.directory.name, "other")
        self.broker.stop()
        self.broker = Broker(self.directory.name, extra_config=f"allow_anonymous true\ncafile {ca}\n"
                                                              f"certfile {certificate}\nkeyfile {key}")
        broker = f"localhost:{self.broker.port}"
        hub = hubweb.Hub(self.link, self.directory.name,
                         extra=["--mqtt", broker, "--mqtt-ca", ca, "--device-id", "tls"])
        self.hubs.append(hub)
        watch = Recorder(self.broker.port, ca=ca)
        watch.wait_payload("matrix-hub/tls/availability", "online", timeout=10)
        watch.close()

        os.makedirs(os.path.join(self.directory.name, "untrusting"))
        untrusting = hubweb.Hub(self.link, os.path.join(self.directory.name, "untrusting"),
                                extra=["--mqtt", broker, "--mqtt-ca", other_ca, "--device-id", "untrusting"])
        self.hubs.append(untrusting)
        deadline = time.monotonic() + 5
        while "TLS" not in untrusting.log() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertIn(f"MQTT: broker {broker}: A TLS error occurred", untrusting.log())
        self.assertNotIn("MQTT: connected", untrusting.log())

    def test_a_thousand_sets_a_minute_are_each_applied_once(self):
        # The short form of scripts/bench-mqtt's five-minute run.
        self.hub()
        watch = Recorder(self.broker.port, topics=(f"{ROOT}/#",))
        watch.wait_payload(f"{ROOT}/availability", "online", timeout=10)
        watch.wait_for(lambda t, p, r: t == f"{ROOT}/output/16/locked")  # the last of the first publications
        result = mqtthub.steady_sets(watch, self.sim, ROOT, seconds=10, per_minute=1000)
        watch.close()
        self.assertGreater(result["sent"], 150)
        self.assertEqual(result["on_the_line"], result["sent"], result)
        self.assertTrue(result["line_in_order"], result)
        self.assertEqual(result["confirmed"], result["sent"], result)
        self.assertTrue(result["topics_match"], result)

    def test_a_credentials_file_everyone_may_read_stops_the_hub(self):
        credentials = os.path.join(self.directory.name, "open-credentials")
        with open(credentials, "w") as file:
            file.write("hub\nsecret\n")
        os.chmod(credentials, 0o644)
        result = subprocess.run([hubweb.HUB, "--link", self.link, "--mqtt", self.broker.address,
                                 "--mqtt-credentials", credentials, "--site",
                                 os.path.join(self.directory.name, "site.json")],
                                capture_output=True, text=True, timeout=10)
        self.assertEqual(result.returncode, 1)
        self.assertIn("may be read by every user", result.stderr)


if __name__ == "__main__":
    unittest.main()

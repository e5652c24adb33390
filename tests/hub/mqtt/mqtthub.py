"""Debian's mosquitto as a child process on a loopback port with its own
configuration in a temporary folder, and a paho client that records what it
receives. The emulator and the hub come from ../web/hubweb.py."""

import os
import pwd
import signal
import socket
import subprocess
import sys
import threading
import time

import paho.mqtt.client as mqtt

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web"))
import hubweb  # noqa: E402  (shared with the HTTP tests)

MOSQUITTO = "/usr/sbin/mosquitto"
# The device id the emulator's MAC address (00:1A:2B:3C:4D:5E) gives.
EMULATOR_DEVICE = "001a2b3c4d5e"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Broker:
    """mosquitto on 127.0.0.1:PORT; never a system service. Retained
    messages live in memory only, so a restart forgets them."""

    def __init__(self, directory, port=None, extra_config=""):
        self.directory = directory
        self.port = port or free_port()
        self.config = os.path.join(directory, f"mosquitto-{self.port}.conf")
        self.log = os.path.join(directory, f"mosquitto-{self.port}.log")
        with open(self.config, "w") as config:
            config.write(f"listener {self.port} 127.0.0.1\n"
                         f"persistence false\n"
                         f"set_tcp_nodelay {os.environ.get('MC_BROKER_NODELAY', 'true')}\n"
                         # Run as root (CI), it would drop to the user
                         # "mosquitto", who cannot read this folder.
                         f"user {pwd.getpwuid(os.getuid()).pw_name}\n"
                         f"log_dest file {self.log}\n"
                         f"{extra_config or 'allow_anonymous true'}\n")
        self.process = None
        self.start()

    def start(self, timeout=10.0):
        self.process = subprocess.Popen([MOSQUITTO, "-c", self.config],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.5).close()
                return
            except OSError:
                if self.process.poll() is not None:
                    raise RuntimeError(f"mosquitto ended at once; see {self.log}")
                time.sleep(0.02)
        raise RuntimeError(f"mosquitto did not listen on {self.port} within {timeout} s")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(5)
        self.process = None

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"


class Recorder:
    """A paho client that subscribes and keeps every message it receives as
    (topic, payload text, retained)."""

    def __init__(self, port, topics=("#",), client_id=None, username=None, password=None, ca=None):
        self.messages = []
        self.found_at = 0  # the index of what wait_for found last
        self.changed = threading.Condition()
        self.client = mqtt.Client(client_id=client_id or f"test-{os.getpid()}-{id(self)}", clean_session=True)
        if username:
            self.client.username_pw_set(username, password)
        if ca:
            self.client.tls_set(ca_certs=ca)
        self.client.on_message = self._message
        subscribed = threading.Event()
        self.client.on_subscribe = lambda *args: subscribed.set()
        self.client.connect("localhost" if ca else "127.0.0.1", port, keepalive=30)
        # Small packets at once, as the hub sends them: timings measure the
        # hub, not Nagle's algorithm waiting for an acknowledgement.
        raw = self.client.socket()
        if isinstance(raw, socket.socket):
            raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.client.loop_start()
        if topics:
            self.client.subscribe([(topic, 1) for topic in topics])
        if topics and not subscribed.wait(5):
            raise RuntimeError("the broker did not confirm the subscription")

    def _message(self, client, userdata, message):
        with self.changed:
            self.messages.append((message.topic, message.payload.decode("utf-8", "replace"), bool(message.retain)))
            self.changed.notify_all()

    def wait_for(self, predicate, timeout=5.0, since=0):
        """The first message from index `since` on that matches."""
        deadline = time.monotonic() + timeout
        with self.changed:
            index = since
            while True:
                while index < len(self.messages):
                    if predicate(*self.messages[index]):
                        self.found_at = index
                        return self.messages[index]
                    index += 1
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"no matching message within {timeout} s; "
                                         f"last: {self.messages[-5:]}")
                self.changed.wait(left)

    def wait_payload(self, topic, payload, timeout=5.0, since=0):
        return self.wait_for(lambda t, p, r: t == topic and p == payload, timeout, since)

    def latest(self, topic):
        """The last payload received on a topic, or None."""
        with self.changed:
            for t, p, _ in reversed(self.messages):
                if t == topic:
                    return p
        return None

    def mark(self):
        with self.changed:
            return len(self.messages)

    def publish(self, topic, payload, retain=False):
        info = self.client.publish(topic, payload, qos=1, retain=retain)
        info.wait_for_publish()

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def start_hub(link, directory, broker, extra=(), name="hub"):
    """matrix-hub with --mqtt on the broker, its site file and log in a
    folder of its own below directory."""
    folder = os.path.join(directory, name)
    os.makedirs(folder, exist_ok=True)
    return hubweb.Hub(link, folder, extra=["--mqtt", broker.address, *extra])


def make_certificates(directory, name):
    """A CA of its own and a certificate it signed for localhost and
    127.0.0.1: (CA file, certificate file, key file)."""
    ca_key, ca = os.path.join(directory, f"{name}-ca.key"), os.path.join(directory, f"{name}-ca.crt")
    key, request, certificate = (os.path.join(directory, f"{name}-server.{kind}") for kind in ("key", "csr", "crt"))
    extensions = os.path.join(directory, f"{name}-san.ext")
    with open(extensions, "w") as file:
        file.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    for command in (
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", ca_key, "-out", ca, "-days", "2", "-subj", f"/CN={name} test CA"],
        ["openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", key, "-out", request, "-subj", "/CN=localhost"],
        ["openssl", "x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
         "-out", certificate, "-days", "2", "-extfile", extensions],
    ):
        subprocess.run(command, check=True, capture_output=True)
    return ca, certificate, key


def route_lines(sim):
    """The routing commands the emulator received, in order."""
    return [line for line in sim.commands() if b"SET OUT" in line and b" VS IN" in line]


def steady_sets(watch, sim, root, seconds, per_minute):
    """Sets at a steady rate through the broker, each output in turn and each
    time to another input than before, so every set must show once on the
    emulator's line and once on the output's topic. Returns the counts and
    how long each took from publish to its topic."""
    interval = 60.0 / per_minute
    before = len(route_lines(sim))
    sent = []
    start = time.monotonic()
    mark = watch.mark()
    k = 0
    while time.monotonic() - start < seconds:
        # The emulator starts with output N on input N; each round moves
        # every output one input on.
        output = k % 16 + 1
        input_ = (output + k // 16) % 16 + 1
        sent.append((output, input_, time.monotonic()))
        watch.client.publish(f"{root}/output/{output}/input/set", str(input_), qos=1)
        k += 1
        time.sleep(max(0.0, start + k * interval - time.monotonic()))
    time.sleep(2.5)  # the last answers, within the hub's 2 s deadline
    with watch.changed:
        arrived = [(t, p, r) for t, p, r in watch.messages[mark:]]
    topics = {}
    for topic, payload, retained in arrived:
        # Retained ones are what the broker held when the watcher subscribed.
        if not retained and topic.startswith(f"{root}/output/") and topic.endswith("/input"):
            topics.setdefault(int(topic.split("/")[-2]), []).append(int(payload))
    expected = {}
    for output, input_, _ in sent:
        expected.setdefault(output, []).append(input_)
    wire = route_lines(sim)[before:]
    wanted = [hubweb.route_bytes(o, i) for o, i, _ in sent]
    return {"sent": len(sent), "on_the_line": len(wire), "line_in_order": wire == wanted,
            "topics_match": topics == expected,
            "confirmed": sum(len(v) for v in topics.values())}

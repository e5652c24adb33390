"""The emulator and matrix-hub as child processes for the HTTP tests, and a
small HTTP client for them. Programs come from $MC_BUILD_DIR."""

import http.client
import json
import os
import re
import select
import signal
import socket
import subprocess
import tempfile
import time

BUILD = os.environ.get("MC_BUILD_DIR", os.path.join(os.path.dirname(__file__), "../../../build"))
SIM = os.path.join(BUILD, "tools", "matrix-switcher-sim")
HUB = os.path.join(BUILD, "src", "hub", "matrix-hub")


def _read_ready(process, pattern, timeout=10.0):
    """Reads the process's standard output until every pattern matched."""
    found = {}
    text = ""
    deadline = time.monotonic() + timeout
    while len(found) < len(pattern) and time.monotonic() < deadline:
        ready, _, _ = select.select([process.stdout], [], [], 0.1)
        if ready:
            chunk = os.read(process.stdout.fileno(), 4096).decode()
            if not chunk:
                break
            text += chunk
        for key, regex in pattern.items():
            match = re.search(regex, text)
            if match:
                found[key] = match.group(1)
    if len(found) < len(pattern):
        raise RuntimeError(f"not ready within {timeout} s; output: {text!r}")
    return found


class Emulator:
    """The switcher emulator on loopback TCP with a front-panel FIFO."""

    def __init__(self, directory, extra=()):
        self.log = os.path.join(directory, "sim.log")
        self.control = os.path.join(directory, "panel")
        self.process = subprocess.Popen(
            [SIM, "--listen", "127.0.0.1:0", "--log", self.log, "--control", self.control, *extra],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.port = int(_read_ready(self.process, {"tcp": r"ready tcp 127\.0\.0\.1:(\d+)"})["tcp"])

    def panel(self, line):
        with open(self.control, "w") as fifo:
            fifo.write(line + "\n")

    def received(self):
        """Every line the emulator received, as bytes."""
        lines = []
        with open(self.log, encoding="utf-8", errors="replace") as log:
            for record in log:
                match = re.match(r'\S+ rx "(.*)"$', record.rstrip("\n"))
                if match:
                    lines.append(match.group(1).encode().decode("unicode_escape").encode("latin-1"))
        return lines

    def commands(self):
        """The lines received, the hub's status polls left out."""
        return [line for line in self.received() if b"GET STA" not in line]

    def wait_received(self, data, timeout=3.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if data in self.received():
                return True
            time.sleep(0.02)
        return False

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(5)
        self.process.stdout.close()


class Hub:
    """matrix-hub with its text port and HTTP listener on loopback."""

    def __init__(self, link, directory, http="127.0.0.1:0", extra=(), env=None):
        self.log_path = os.path.join(directory, "hub.log")
        self.log_file = open(self.log_path, "w")
        self.process = subprocess.Popen(
            [HUB, "--link", link, "--text", "127.0.0.1:0", "--http", http, "--poll", "1",
             "--site", os.path.join(directory, "site.json"), *extra],
            stdout=subprocess.PIPE, stderr=self.log_file, stdin=subprocess.DEVNULL,
            env=dict(os.environ, **(env or {})))
        ready = _read_ready(self.process, {"text": r"ready text [\d.]+:(\d+)", "http": r"ready http ([\d.:]+)\n"})
        self.text_port = int(ready["text"])
        host, port = ready["http"].rsplit(":", 1)
        self.http_host = "127.0.0.1" if host == "0.0.0.0" else host
        self.http_port = int(port)

    def log(self):
        with open(self.log_path) as log:
            return log.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(5)
        self.process.stdout.close()
        self.log_file.close()

    def connection(self, host=None, timeout=5.0):
        return http.client.HTTPConnection(host or self.http_host, self.http_port, timeout=timeout)

    def request(self, method, path, body=None, headers=None, raw=None, connection=None):
        """(status, headers, parsed JSON or text)."""
        own = connection is None
        connection = connection or self.connection()
        sent = dict(headers or {})
        data = raw
        if body is not None:
            data = json.dumps(body).encode()
            sent.setdefault("Content-Type", "application/json")
        connection.request(method, path, body=data, headers=sent)
        response = connection.getresponse()
        payload = response.read()
        if own:
            connection.close()
        kind = response.getheader("Content-Type", "")
        parsed = json.loads(payload) if kind.startswith("application/json") and payload else payload.decode()
        return response.status, response, parsed

    def wait_state(self, predicate, timeout=5.0):
        deadline = time.monotonic() + timeout
        state = None
        while time.monotonic() < deadline:
            _, _, state = self.request("GET", "/api/v1/state")
            if predicate(state):
                return state
            time.sleep(0.05)
        raise AssertionError(f"the state never matched; last: {state}")


class EventReader:
    """A raw event-stream client: reads events as (type, data)."""

    def __init__(self, host, port, headers=""):
        self.socket = socket.create_connection((host, port), timeout=5)
        self.socket.sendall(f"GET /api/v1/events HTTP/1.1\r\nHost: {host}:{port}\r\n{headers}\r\n".encode())
        self.buffer = b""
        head = self._until(b"\r\n\r\n", 5)
        self.status = int(head.split(b" ")[1])

    def _until(self, marker, timeout):
        deadline = time.monotonic() + timeout
        while marker not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError(f"no {marker!r} within {timeout} s")
            self.socket.settimeout(left)
            chunk = self.socket.recv(65536)
            if not chunk:
                raise ConnectionError("the hub closed the event stream")
            self.buffer += chunk
        end = self.buffer.index(marker) + len(marker)
        taken, self.buffer = self.buffer[:end], self.buffer[end:]
        return taken

    def next(self, timeout=5.0):
        """The next event, heartbeats and retry hints skipped."""
        while True:
            block = self._until(b"\n\n", timeout).decode()
            kind, data = None, []
            for line in block.strip("\n").split("\n"):
                if line.startswith("event: "):
                    kind = line[7:]
                elif line.startswith("data: "):
                    data.append(line[6:])
            if kind:
                return kind, json.loads("\n".join(data))

    def wait_for(self, predicate, timeout=5.0):
        deadline = time.monotonic() + timeout
        while True:
            event = self.next(max(0.01, deadline - time.monotonic()))
            if predicate(*event):
                return event

    def close(self):
        self.socket.close()


def route_bytes(output, input_):
    """The routing command exactly as the switcher takes it."""
    def field(port):
        return f"{port} " if port < 10 else str(port)
    return f"\r\nSET OUT{field(output)} VS IN{field(input_)}\r\n".encode()


def temporary_directory():
    return tempfile.TemporaryDirectory(prefix="hubweb-")

"""End-to-end harness: a headless Sway desktop, the test keyboard and pointer probe, and the
daemon under test, each started and stopped by the test itself.

Every process a test starts is registered for clean-up (terminate, bounded wait, kill), so
nothing outlives the test even when it fails. Logs (Sway's, the daemon's standard error, the
probe's and the keyboard's output, screenshots) are written into a per-test folder under
$TARVIK_E2E_LOGS; the folder is deleted when the test passes (unless TARVIK_E2E_KEEP_LOGS is
set) and kept when it fails.
"""

import json
import os
import re
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import threading
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
HEADLESS_SWAY = HERE / "headless-sway"

# Bounds for every wait; a slow shared machine gets generous ones, a hang still ends.
START_TIMEOUT = 20.0
EVENT_TIMEOUT = 10.0
CLIENT_TIMEOUT = 10.0


def required_env(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest(f"{name} is not set (run the tests through ctest)")
    return value


class LineReader:
    """Collects the lines of one stream of a child process on a thread, so tests can wait
    for a line without blocking forever."""

    def __init__(self, stream, log_path):
        self._lines = []
        self._cond = threading.Condition()
        self._closed = False
        self._log = open(log_path, "w", encoding="utf-8", errors="replace")
        self._thread = threading.Thread(target=self._run, args=(stream,), daemon=True)
        self._thread.start()

    def _run(self, stream):
        for raw in iter(stream.readline, b""):
            line = raw.decode("utf-8", errors="replace").rstrip("\n")
            self._log.write(line + "\n")
            self._log.flush()
            with self._cond:
                self._lines.append(line)
                self._cond.notify_all()
        with self._cond:
            self._closed = True
            self._cond.notify_all()
        self._log.close()

    def lines(self):
        with self._cond:
            return list(self._lines)

    def mark(self):
        """Position to pass as `start` to wait_for, to only look at lines arriving later."""
        with self._cond:
            return len(self._lines)

    def wait_for(self, predicate, timeout=EVENT_TIMEOUT, start=0):
        """The first line at index >= start that satisfies predicate (a callable or a
        substring); None when the timeout passes or the stream ends without one."""
        if isinstance(predicate, str):
            text = predicate
            predicate = lambda line: text in line  # noqa: E731
        deadline = time.monotonic() + timeout
        with self._cond:
            index = start
            while True:
                while index < len(self._lines):
                    if predicate(self._lines[index]):
                        return self._lines[index]
                    index += 1
                remaining = deadline - time.monotonic()
                if remaining <= 0 or self._closed:
                    return None
                self._cond.wait(remaining)

    def wait_closed(self, timeout):
        deadline = time.monotonic() + timeout
        with self._cond:
            while not self._closed:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return False
                self._cond.wait(remaining)
            return True


class Desktop:
    """One headless Sway session (see headless-sway)."""

    def __init__(self, log_dir, extra_config=()):
        args = [str(HEADLESS_SWAY), "start"]
        for line in extra_config:
            args += ["--extra", line]
        done = subprocess.run(args, capture_output=True, text=True, timeout=START_TIMEOUT + 10)
        if done.returncode != 0:
            raise RuntimeError(f"headless Sway did not start: {done.stderr.strip()}")
        values = dict(line.split("=", 1) for line in done.stdout.split() if "=" in line)
        self.runtime_dir = values["XDG_RUNTIME_DIR"]
        self.wayland_display = values["WAYLAND_DISPLAY"]
        self.swaysock = values["SWAYSOCK"]
        self.pid = int(values["SWAY_PID"])
        self._log_dir = log_dir
        self._stopped = False

    def env(self, **extra):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "XDG_RUNTIME_DIR": self.runtime_dir,
            "WAYLAND_DISPLAY": self.wayland_display,
            "SWAYSOCK": self.swaysock,
        }
        env.update(extra)
        return env

    def alive(self):
        try:
            os.kill(self.pid, 0)
        except ProcessLookupError:
            return False
        # A dead but unreaped child of a non-reaping init still answers kill 0.
        try:
            with open(f"/proc/{self.pid}/stat") as f:
                return f.read().split()[2] != "Z"
        except OSError:
            return False

    def swaymsg(self, *args, check=True):
        done = subprocess.run(["swaymsg", "-s", self.swaysock, *args], capture_output=True,
                              text=True, env=self.env(), timeout=CLIENT_TIMEOUT)
        if check and done.returncode != 0:
            raise RuntimeError(f"swaymsg {' '.join(args)} failed: {done.stdout}{done.stderr}")
        return done.stdout

    def outputs(self):
        return json.loads(self.swaymsg("-t", "get_outputs", "-r"))

    def screenshot(self, name, output="HEADLESS-1"):
        """A grim capture of one output, kept in the log folder as PPM; returns Image."""
        path = Path(self._log_dir) / f"{name}.ppm"
        subprocess.run(["grim", "-o", output, "-t", "ppm", str(path)], check=True,
                       env=self.env(), timeout=CLIENT_TIMEOUT, capture_output=True)
        return Image.read_ppm(path)

    def kill(self, sig):
        os.kill(self.pid, sig)

    def stop(self):
        if self._stopped:
            return
        self._stopped = True
        subprocess.run([str(HEADLESS_SWAY), "stop", self.runtime_dir, "--keep-logs",
                        str(self._log_dir)], capture_output=True, timeout=30)


class Image:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    @staticmethod
    def read_ppm(path):
        data = Path(path).read_bytes()
        # P6 header: magic, width, height, maxval, each separated by white space.
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            start = pos
            while not data[pos:pos + 1].isspace():
                pos += 1
            fields.append(data[start:pos])
        pos += 1
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise ValueError(f"unexpected image format in {path}")
        return Image(int(fields[1]), int(fields[2]), data[pos:])

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])


class Process:
    """A child process with its stdout and stderr collected line by line."""

    def __init__(self, name, args, env, log_dir, stdin=subprocess.DEVNULL):
        self.name = name
        self.popen = subprocess.Popen(args, env=env, stdin=stdin, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE)
        self.out = LineReader(self.popen.stdout, Path(log_dir) / f"{name}.stdout")
        self.err = LineReader(self.popen.stderr, Path(log_dir) / f"{name}.stderr")

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout):
        try:
            return self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self, sig=signal.SIGTERM, timeout=5.0):
        if self.popen.poll() is None:
            try:
                self.popen.send_signal(sig)
            except ProcessLookupError:
                pass
            try:
                self.popen.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait(timeout=timeout)
        if self.popen.stdin:
            try:
                self.popen.stdin.close()
            except OSError:
                pass
        self.out.wait_closed(2)
        self.err.wait_closed(2)
        for stream in (self.popen.stdout, self.popen.stderr):
            stream.close()


class Keyboard(Process):
    """The persistent virtual keyboard (keyboard.c)."""

    def __init__(self, env, log_dir, with_pointer=False):
        args = [required_env("TARVIK_E2E_KEYBOARD")] + (["--pointer"] if with_pointer else [])
        super().__init__("keyboard", args, env, log_dir, stdin=subprocess.PIPE)
        if self.out.wait_for("ready", START_TIMEOUT) is None:
            raise RuntimeError("the virtual keyboard did not start")

    def send(self, command):
        mark = self.out.mark()
        self.popen.stdin.write((command + "\n").encode())
        self.popen.stdin.flush()
        answer = self.out.wait_for(lambda l: l == "ok" or l.startswith("error"), EVENT_TIMEOUT,
                                   start=mark)
        if answer != "ok":
            raise RuntimeError(f"keyboard command {command!r} failed: {answer}")

    def tap(self, key):
        self.send(f"tap {key}")

    def down(self, key):
        self.send(f"down {key}")

    def up(self, key):
        self.send(f"up {key}")

    def type(self, text):
        for ch in text:
            self.tap(ch)

    def unplug(self):
        self.popen.stdin.close()
        self.wait(EVENT_TIMEOUT)


class Probe(Process):
    """The pointer probe (probe.c), fullscreen on the output it opens on."""

    def __init__(self, env, log_dir, width=1280, height=720, args=(), name="probe"):
        super().__init__(name, [required_env("TARVIK_E2E_PROBE"), *args], env, log_dir,
                         stdin=subprocess.PIPE)
        if self.out.wait_for(f"configure {width} {height}", START_TIMEOUT) is None:
            raise RuntimeError(f"the {name} was not shown at {width}x{height}")


class Daemon(Process):
    def __init__(self, desktop, log_dir, config_text=None, extra_args=(), name="daemon",
                 env=None):
        home = Path(log_dir) / f"{name}-home"
        home.mkdir(parents=True, exist_ok=True)
        args = [required_env("TARVIK_EXECUTABLE"), "--log-level", "debug", "daemon"]
        if config_text is not None:
            config = home / "config.toml"
            config.write_text(config_text)
            args += ["--config", str(config)]
        args += list(extra_args)
        env = desktop.env(HOME=str(home), XDG_CONFIG_HOME=str(home / "config"), **(env or {}))
        super().__init__(name, args, env, log_dir)

    def wait_log(self, text, timeout=EVENT_TIMEOUT, start=0):
        return self.err.wait_for(text, timeout, start)


class DesktopTest(unittest.TestCase):
    """Base class: a fresh desktop per test, everything cleaned up, logs kept on failure."""

    extra_sway_config = ()
    # Start the persistent keyboard before anything else: the headless seat has no keyboard
    # until one is plugged in, and the daemon needs one.
    with_keyboard = True
    # Plug in a pointer device of the tests' own (for runs without the daemon's).
    with_pointer_device = False

    def run(self, result=None):
        result = result if result is not None else self.defaultTestResult()
        problems = len(result.failures) + len(result.errors)
        base = Path(os.environ.get("TARVIK_E2E_LOGS", tempfile.gettempdir() + "/tarvik-e2e-logs"))
        self.log_dir = base / self.id().split(".", 1)[-1]
        shutil.rmtree(self.log_dir, ignore_errors=True)
        self.log_dir.mkdir(parents=True, exist_ok=True)
        super().run(result)
        # TARVIK_E2E_KEEP_LOGS=1 keeps them after a pass too, for reading sanitizer reports of
        # daemons the tests stopped.
        passed = len(result.failures) + len(result.errors) == problems
        if passed and not os.environ.get("TARVIK_E2E_KEEP_LOGS"):
            shutil.rmtree(self.log_dir, ignore_errors=True)
        elif not passed:
            print(f"\nlogs kept in {self.log_dir}")
        return result

    def setUp(self):
        self.desktop = Desktop(self.log_dir, self.extra_sway_config)
        self.addCleanup(self.desktop.stop)
        self.keyboard = None
        if self.with_keyboard:
            self.keyboard = self.start(Keyboard, self.desktop.env(), self.log_dir,
                                       self.with_pointer_device)

    def start(self, kind, *args, **kwargs):
        process = kind(*args, **kwargs)
        self.addCleanup(process.stop)
        return process

    def start_daemon(self, config_text=None, extra_args=(), name="daemon", wait=True, env=None):
        daemon = self.start(Daemon, self.desktop, self.log_dir, config_text, extra_args, name,
                            env)
        if wait and daemon.wait_log("daemon started", START_TIMEOUT) is None:
            daemon.stop()
            self.fail(f"{name} did not start:\n" + "\n".join(daemon.err.lines()[-20:]))
        return daemon

    def start_probe(self, **kwargs):
        return self.start(Probe, self.desktop.env(), self.log_dir, **kwargs)

    def client(self, *args):
        """Runs one tarvik client command: (exit status, stdout, stderr)."""
        done = subprocess.run([required_env("TARVIK_EXECUTABLE"), *args], capture_output=True,
                              text=True, env=self.desktop.env(), timeout=CLIENT_TIMEOUT)
        return done.returncode, done.stdout, done.stderr

    def socket_path(self):
        display = re.sub(r"[^A-Za-z0-9_-]", "_", self.desktop.wayland_display)
        return Path(self.desktop.runtime_dir) / f"tarvik-{display}.sock"

    def raw_request(self, text):
        """Sends one raw request line and returns the decoded answer."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(CLIENT_TIMEOUT)
            s.connect(str(self.socket_path()))
            s.sendall(text.encode() + b"\n")
            answer = b""
            while chunk := s.recv(8192):
                answer += chunk
        return json.loads(answer)

    def assert_socket_mode(self, mode):
        st = os.stat(self.socket_path())
        self.assertTrue(stat.S_ISSOCK(st.st_mode))
        self.assertEqual(stat.S_IMODE(st.st_mode), mode)

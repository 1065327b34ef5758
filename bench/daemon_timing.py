#!/usr/bin/env python3
"""Times the real daemon on headless Sway: whole client commands against a bare process start,
key-to-frame latency at several output sizes, idle wake-ups and memory.

Run through scripts/bench, or directly with TARVIK_EXECUTABLE, TARVIK_E2E_KEYBOARD and
TARVIK_E2E_PROBE set (the paths the end-to-end tests use):

    bench/daemon_timing.py [--repetitions N] [--keys N] [--idle-seconds S] [--out FILE.json]
                           [--baseline EXE]

--baseline times key-to-frame a second time in the same run with another build of tarvik (an
older commit, say), on a fresh Sway, so that before and after are measured side by side.

Timestamps: the daemon logs, at trace level, "key arrived ... t_ns=" when a key event reaches
it and "overlay committed ... t_ns=" after each overlay commit, both CLOCK_MONOTONIC, the same
clock as time.monotonic_ns() here. Key-to-frame is the time from a key press's arrival to the
last commit before the next key event, so every redrawn overlay is included.
"""

import argparse
import json
import os
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
import harness  # noqa: E402

SIZES = [(1280, 720), (1920, 1080), (3840, 2160)]
ARRIVED = re.compile(r"key arrived code=(\d+) pressed=(\w+) t_ns=(\d+)")
COMMITTED = re.compile(r"overlay committed output=(\S+) size=(\d+)x(\d+) t_ns=(\d+)")


def summary(values):
    """Median, spread (population stddev), min and max of a list of numbers."""
    values = sorted(values)
    return {
        "n": len(values),
        "median": statistics.median(values),
        "stddev": statistics.pstdev(values) if len(values) > 1 else 0.0,
        "min": values[0],
        "max": values[-1],
    }


def proc_status(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        # The command name may contain spaces; fields after it are fixed.
        rest = f.read().rsplit(")", 1)[1].split()
    return int(rest[11]) + int(rest[12])  # utime + stime


def rss_kib(pid):
    return int(proc_status(pid)["VmRSS"].split()[0])


def hwm_kib(pid):
    return int(proc_status(pid)["VmHWM"].split()[0])


def switches(pid):
    status = proc_status(pid)
    return int(status["voluntary_ctxt_switches"]), int(status["nonvoluntary_ctxt_switches"])


class Bench:
    def __init__(self, log_dir, args, exe=None):
        self.args = args
        self.log_dir = log_dir
        self.exe = exe or harness.required_env("TARVIK_EXECUTABLE")
        self.desktop = harness.Desktop(log_dir)
        self.processes = []
        try:
            self.keyboard = self._start(harness.Keyboard, self.desktop.env(), log_dir)
            home = Path(log_dir) / "daemon-home"
            home.mkdir(parents=True, exist_ok=True)
            # Trace level: the arrival and commit lines carry the timestamps.
            env = self.desktop.env(HOME=str(home), XDG_CONFIG_HOME=str(home / "config"))
            self.daemon = self._start(harness.Process, "daemon",
                                      [self.exe, "--log-level", "trace", "daemon"], env, log_dir)
            if self.daemon.err.wait_for("daemon started", harness.START_TIMEOUT) is None:
                raise RuntimeError("daemon did not start:\n" +
                                   "\n".join(self.daemon.err.lines()[-20:]))
        except BaseException:
            self.stop()
            raise

    def _start(self, kind, *args):
        process = kind(*args)
        self.processes.append(process)
        return process

    def stop(self):
        for process in reversed(self.processes):
            process.stop()
        self.desktop.stop()

    def run_timed(self, argv):
        """Wall time of one process started like every client: (ns, exit status)."""
        start = time.monotonic_ns()
        done = subprocess.run(argv, env=self.desktop.env(), stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=harness.CLIENT_TIMEOUT)
        return time.monotonic_ns() - start, done.returncode, done.stderr

    def client(self, *args):
        elapsed, status, err = self.run_timed([self.exe, *args])
        if status != 0:
            raise RuntimeError(f"tarvik {' '.join(args)} failed: {err.decode(errors='replace')}")
        return elapsed

    def wait_commit(self, mark, width, height, after_ns=0):
        line = self.daemon.err.wait_for(
            lambda l: (m := COMMITTED.search(l)) and (int(m[2]), int(m[3])) == (width, height)
            and int(m[4]) > after_ns,
            harness.EVENT_TIMEOUT, start=mark)
        if line is None:
            raise RuntimeError(f"no {width}x{height} overlay commit in the daemon log")
        return int(COMMITTED.search(line)[4])

    def wait_quiet(self, quiet=0.5):
        """Until the daemon has logged nothing for `quiet` seconds (bounded): a grid shown right
        after a layout change may be redrawn once more when the overlay is configured again."""
        deadline = time.monotonic() + harness.EVENT_TIMEOUT
        seen = self.daemon.err.mark()
        while time.monotonic() < deadline:
            time.sleep(quiet)
            now = self.daemon.err.mark()
            if now == seen:
                return
            seen = now

    def set_size(self, width, height):
        current = self.desktop.outputs()[0]["current_mode"]
        if (current["width"], current["height"]) == (width, height):
            return
        mark = self.daemon.err.mark()
        self.desktop.swaymsg("output", "HEADLESS-1", "resolution", f"{width}x{height}")
        if self.daemon.err.wait_for(f"size={width}x{height}", harness.EVENT_TIMEOUT,
                                    start=mark) is None:
            raise RuntimeError(f"daemon did not see the output at {width}x{height}")
        # Let the layout change settle (overlay reconfigured and parked) before timing.
        time.sleep(0.5)

    def whole_commands(self, width, height):
        """Client start to first grid frame; grid and click against /bin/true and --version."""
        rows = {"grid_to_first_frame": [], "grid_exit": [], "click": [], "version": [],
                "bin_true": []}
        for _ in range(self.args.repetitions):
            mark = self.daemon.err.mark()
            start = time.monotonic_ns()
            rows["grid_exit"].append(self.client("grid"))
            rows["grid_to_first_frame"].append(self.wait_commit(mark, width, height) - start)
            self.client("cancel")
            time.sleep(0.1)
            rows["click"].append(self.client("click", "left"))
            rows["version"].append(self.client("--version"))
            rows["bin_true"].append(self.run_timed(["/bin/true"])[0])
        return {name: summary(values) for name, values in rows.items()}

    def key_to_frame(self, width, height):
        """Alternates a first label letter (narrowing) and BackSpace (widening again); each
        press redraws the output."""
        mark = self.daemon.err.mark()
        self.client("grid")
        self.wait_commit(mark, width, height)
        self.wait_quiet()
        start = self.daemon.err.mark()
        rss_in_mode = rss_kib(self.daemon.pid)
        for i in range(self.args.keys):
            key_mark = self.daemon.err.mark()
            self.keyboard.tap("a" if i % 2 == 0 else "BackSpace")
            arrived = self.daemon.err.wait_for(
                lambda l: (m := ARRIVED.search(l)) and m[2] == "true", harness.EVENT_TIMEOUT,
                start=key_mark)
            if arrived is None:
                raise RuntimeError("a key press did not reach the daemon")
            self.wait_commit(key_mark, width, height, after_ns=int(ARRIVED.search(arrived)[3]))
        # The release of the last key may still be on its way; its line ends the last window.
        time.sleep(0.2)
        lines = self.daemon.err.lines()[start:]
        self.client("cancel")
        events = []
        for line in lines:
            if m := ARRIVED.search(line):
                events.append(("key", m[2] == "true", int(m[3])))
            elif m := COMMITTED.search(line):
                events.append(("commit", (int(m[2]), int(m[3])), int(m[4])))
        latencies, commits_per_key = [], []
        for i, (kind, pressed, t) in enumerate(events):
            if kind != "key" or not pressed:
                continue
            window = []
            for other in events[i + 1:]:
                if other[0] == "key":
                    break
                window.append(other)
            if window:
                latencies.append(window[-1][2] - t)
                commits_per_key.append(len(window))
        if len(latencies) < self.args.keys:
            raise RuntimeError(f"only {len(latencies)} of {self.args.keys} presses were drawn:\n"
                               + "\n".join(lines))
        return summary(latencies), max(commits_per_key), rss_in_mode

    def idle(self, seconds):
        pid = self.daemon.pid
        ticks, (vol, nonvol) = cpu_ticks(pid), switches(pid)
        time.sleep(seconds)
        ticks2, (vol2, nonvol2) = cpu_ticks(pid), switches(pid)
        return {"seconds": seconds, "cpu_ticks": ticks2 - ticks,
                "voluntary_ctxt_switches": vol2 - vol,
                "nonvoluntary_ctxt_switches": nonvol2 - nonvol}


def ms(ns):
    return ns / 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repetitions", type=int, default=15)
    parser.add_argument("--keys", type=int, default=40)
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    parser.add_argument("--out", type=Path)
    parser.add_argument("--baseline", help="another tarvik executable to time key-to-frame with")
    args = parser.parse_args()
    # A terminating signal (the caller's timeout) still stops Sway, keyboard and daemon.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    log_dir = Path(tempfile.mkdtemp(prefix="tarvik-bench-logs."))
    report = {"machine": {"nproc": os.cpu_count(), "loadavg": os.getloadavg()}}
    try:
        bench = Bench(log_dir, args)
    except BaseException:
        print(f"logs kept in {log_dir}", file=sys.stderr)
        raise
    try:
        time.sleep(1.0)
        report["idle_after_start"] = bench.idle(args.idle_seconds)
        report["commands_1280x720"] = bench.whole_commands(1280, 720)
        report["rss_kib_before_sessions"] = rss_kib(bench.daemon.pid)
        report["key_to_frame"] = {}
        for width, height in SIZES:
            bench.set_size(width, height)
            if (width, height) == (3840, 2160):
                report["rss_kib_before_3840x2160"] = rss_kib(bench.daemon.pid)
            latency, commits, rss_in_mode = bench.key_to_frame(width, height)
            report["key_to_frame"][f"{width}x{height}"] = {
                "ns": latency, "commits_per_key": commits, "rss_kib_in_grid": rss_in_mode}
        time.sleep(0.5)
        report["rss_kib_after_3840x2160"] = rss_kib(bench.daemon.pid)
        report["vmhwm_kib"] = hwm_kib(bench.daemon.pid)
        report["idle_after_sessions"] = bench.idle(args.idle_seconds)
    except BaseException:
        print(f"logs kept in {log_dir}", file=sys.stderr)
        raise
    finally:
        bench.stop()
    if args.baseline:
        baseline_dir = log_dir / "baseline"
        baseline_dir.mkdir()
        try:
            bench = Bench(baseline_dir, args, exe=args.baseline)
        except BaseException:
            print(f"logs kept in {log_dir}", file=sys.stderr)
            raise
        try:
            time.sleep(1.0)
            report["key_to_frame_baseline"] = {"executable": args.baseline}
            for width, height in SIZES:
                bench.set_size(width, height)
                latency, commits, _ = bench.key_to_frame(width, height)
                report["key_to_frame_baseline"][f"{width}x{height}"] = {
                    "ns": latency, "commits_per_key": commits}
        except BaseException:
            print(f"logs kept in {log_dir}", file=sys.stderr)
            raise
        finally:
            bench.stop()
    report["machine"]["loadavg_after"] = os.getloadavg()

    text = json.dumps(report, indent=2)
    if args.out:
        args.out.parent.mkdir(parents=True, exist_ok=True)
        args.out.write_text(text + "\n")
    print(text)
    print("\nkey-to-frame (ms, median ± stddev):")
    for size, row in report["key_to_frame"].items():
        s = row["ns"]
        print(f"  {size}: {ms(s['median']):.2f} ± {ms(s['stddev']):.2f} "
              f"(min {ms(s['min']):.2f}, max {ms(s['max']):.2f}, n={s['n']})")
    for size, row in report.get("key_to_frame_baseline", {}).items():
        if size == "executable":
            continue
        s = row["ns"]
        print(f"  baseline {size}: {ms(s['median']):.2f} ± {ms(s['stddev']):.2f} "
              f"(min {ms(s['min']):.2f}, max {ms(s['max']):.2f}, n={s['n']})")
    print("commands at 1280x720 (ms, median ± stddev):")
    for name, s in report["commands_1280x720"].items():
        print(f"  {name}: {ms(s['median']):.2f} ± {ms(s['stddev']):.2f}")
    subprocess.run(["rm", "-rf", str(log_dir)], check=False)


if __name__ == "__main__":
    main()

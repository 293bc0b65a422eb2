#!/usr/bin/env python3
"""What one `bwcctl stats` and one `bwcctl apps` cost the service: bwcd's CPU
time (from /proc/PID/schedstat, less what it spends meanwhile on its own
once-a-second work) and bwcctl's wall time, at several numbers of simulated
applications; with a second build (a baseline) in the same run, the ratio of
each figure to the baseline's.

    bench/bwcd/bench_ctl.py BUILD [BASELINE_BUILD] [--apps 30,300,3000] [--runs 9]
"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cpu_ns(pid):
    with open(f"/proc/{pid}/schedstat") as f:
        return int(f.read().split()[0])


class Daemon:
    def __init__(self, build, apps, folder):
        self.port = free_port()
        self.process = subprocess.Popen(
            [os.path.join(build, "bin/bwcd"), "--port", str(self.port), "--apps", str(apps),
             "--state", os.path.join(folder, f"state-{self.port}.json")],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("bwcd did not start")

    def idle_rate(self, seconds=2.0):
        """CPU nanoseconds per second the daemon spends with no client."""
        before, start = cpu_ns(self.process.pid), time.monotonic()
        time.sleep(seconds)
        return (cpu_ns(self.process.pid) - before) / (time.monotonic() - start)

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


def measure(build, daemon, args, runs, idle):
    ctl = [os.path.join(build, "bin/bwcctl"), "--port", str(daemon.port)] + args
    subprocess.run(ctl, stdout=subprocess.DEVNULL, check=True)  # warm up
    cpu, wall = [], []
    for _ in range(runs):
        before, start = cpu_ns(daemon.process.pid), time.monotonic()
        subprocess.run(ctl, stdout=subprocess.DEVNULL, check=True)
        elapsed = time.monotonic() - start
        spent = cpu_ns(daemon.process.pid) - before - idle * elapsed
        cpu.append(max(spent, 0) / 1e6)
        wall.append(elapsed * 1e3)
    return statistics.median(cpu), statistics.median(wall)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("baseline", nargs="?")
    parser.add_argument("--apps", default="30,300,3000")
    parser.add_argument("--runs", type=int, default=9)
    options = parser.parse_args()
    builds = [("new", options.build)] + ([("baseline", options.baseline)]
                                         if options.baseline else [])
    verbs = [("stats --json", ["--json", "stats"]), ("stats", ["stats"]), ("apps", ["apps"])]
    print(f"{'apps':>5} {'verb':<13} {'build':<9} {'bwcd CPU ms':>12} {'wall ms':>9}"
          f" {'CPU ratio':>10} {'wall ratio':>11}")
    with tempfile.TemporaryDirectory() as folder:
        for apps in [int(n) for n in options.apps.split(",")]:
            for label, args in verbs:
                figures = {}
                for name, build in builds:
                    daemon = Daemon(build, apps, folder)
                    try:
                        idle = daemon.idle_rate()
                        figures[name] = measure(build, daemon, args, options.runs, idle)
                    finally:
                        daemon.stop()
                for name, _ in builds:
                    cpu, wall = figures[name]
                    ratio = ""
                    if name == "new" and "baseline" in figures:
                        base_cpu, base_wall = figures["baseline"]
                        ratio = f"{cpu / base_cpu:>10.3f} {wall / base_wall:>11.3f}"
                    print(f"{apps:>5} {label:<13} {name:<9} {cpu:>12.2f} {wall:>9.1f} {ratio}")
                sys.stdout.flush()


if __name__ == "__main__":
    main()

"""Prints how long Halcyra takes from launch to the Workday home page with saved credentials
(median of N runs against the demo tenant, Duo approving after its default 1.5 s), where that time
goes (from the verbose log's launch trace), and the memory of all Halcyra processes (UI, web,
network) once signed in with the main view and the three hidden views after two poll cycles.

    benchmarks/run-launch-benchmark [N]
"""

import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from halcyra_processes import busCounts, printSnapshot, snapshot, startSignedInApplication  # noqa: E402
from harness import homeServedCount, waitFor  # noqa: E402

TRACE = re.compile(r"^\[Launch\] +([0-9.]+) s (.*)$")


def launchTrace(log):
    """The last launch's steps from the verbose log: [(seconds since process start, step)]."""
    steps = []
    for line in log.splitlines():
        match = TRACE.match(line)
        if match:
            if match.group(2) == "main entered":
                steps = []
            steps.append((float(match.group(1)), match.group(2)))
    return steps


def waitForPollCycles(cycles):
    """Waits until the counts on D-Bus have been read `cycles` times after the first reading."""
    seen = set()
    waitFor(lambda: (busCounts() or {}).get("lastUpdated"), limit=120, what="the first counts")
    while len(seen) < cycles + 1:
        reading = busCounts()
        if reading and reading["lastUpdated"]:
            seen.add(reading["lastUpdated"])
        time.sleep(1)


def chromiumBeside(tenant, runs):
    """The same figures for Debian's Chromium, on the same tenant in the same run."""
    here = Path(__file__).resolve().parent / "chromium"
    if not Path("/usr/bin/chromium").exists() or not (here / "node_modules" / "playwright-core").exists():
        print("chromium: not installed (apt-get install chromium; npm install in benchmarks/chromium)")
        return
    subprocess.run(["node", str(here / "chromium-benchmark.mjs"), "%s:%d" % tenant.proxy, "%s:%d" % tenant.controlAddress,
                    "https://workday.ashgrove.test/", "https://wd5.myworkday.test", str(runs)], cwd=here, timeout=900)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    tenant, home, application = startSignedInApplication("halcyra-benchmark-")
    durations = []
    traces = []
    try:
        for run in range(runs):
            tenant.set("/expire-sessions")
            before = homeServedCount(tenant)
            started = time.monotonic()
            application.launch()
            waitFor(lambda: homeServedCount(tenant) > before, what="the home page")
            durations.append(time.monotonic() - started)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and not any(step == "home committed" for _, step in launchTrace(application.log())):
                time.sleep(0.1)
            traces.append(launchTrace(application.log()))
            if run == runs - 1:
                waitForPollCycles(2)
                print("signed in, main view and three hidden views, after two poll cycles:")
                printSnapshot(snapshot(application.process.pid))
            application.quit()
        chromiumBeside(tenant, runs)
    finally:
        application.quit()
        tenant.cleanUp()
        shutil.rmtree(home, ignore_errors=True)
    print("launch to home page (s): %s; median %.2f" % (", ".join("%.2f" % d for d in durations),
                                                         statistics.median(durations)))
    if traces and all(traces):
        print("launch steps (s since process start, median of %d runs):" % len(traces))
        names = [step for _, step in traces[0]]
        for name in names:
            times = [dict((step, at) for at, step in trace).get(name) for trace in traces]
            times = [at for at in times if at is not None]
            if times:
                print("  %6.2f  %s" % (statistics.median(times), name))


if __name__ == "__main__":
    main()

"""Prints how long Halcyra takes from launch to the Workday home page with saved credentials
(median of N runs against the demo tenant, Duo approving after its default 1.5 s), and the
resident memory of all Halcyra processes (UI, web, network) once signed in.

    benchmarks/run-launch-benchmark [N]
"""

import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SETTLE_SECONDS = 10

from test_application import SERVICE, Application, Tenant, homeServedCount, waitFor


def processTree(pid):
    """The process and all its descendants, children of any of its threads included."""
    children = []
    for task in Path("/proc/%d/task" % pid).glob("*"):
        try:
            children += [int(child) for child in (task / "children").read_text().split()]
        except OSError:
            pass
    return [pid] + [process for child in children for process in processTree(child)]


def memoryKiB(pid, field, fileName):
    """A field of /proc/PID/status (VmRSS) or smaps_rollup (Pss, shared pages divided among sharers)."""
    try:
        for line in Path("/proc/%d/%s" % (pid, fileName)).read_text().splitlines():
            if line.startswith(field + ":"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    tenant = Tenant().start()
    home = Path(tempfile.mkdtemp(prefix="halcyra-benchmark-"))
    subprocess.run(["secret-tool", "store", "--label=Workday SSO credentials", *SERVICE],
                   input=b'{"username":"demo","password":"ashgrove-demo"}', check=True)
    application = Application(tenant, home)
    durations = []
    try:
        for run in range(runs):
            tenant.set("/expire-sessions")
            before = homeServedCount(tenant)
            started = time.monotonic()
            application.launch()
            waitFor(lambda: homeServedCount(tenant) > before, what="the home page")
            durations.append(time.monotonic() - started)
            if run == runs - 1:
                time.sleep(SETTLE_SECONDS)  # let the page settle and the sign-in chain's processes end
                resident = proportional = 0
                for process in processTree(application.process.pid):
                    name = Path("/proc/%d/comm" % process).read_text().strip()
                    if name in ("bwrap", "xdg-dbus-proxy"):
                        continue  # the sandbox's helpers, a few MiB
                    rss, pss = memoryKiB(process, "VmRSS", "status"), memoryKiB(process, "Pss", "smaps_rollup")
                    print("%-16s %6d  RSS %7d KiB  PSS %7d KiB" % (name, process, rss, pss))
                    resident += rss
                    proportional += pss
                print("all processes: RSS %.0f MiB, PSS %.0f MiB" % (resident / 1024, proportional / 1024))
            application.quit()
    finally:
        application.quit()
        tenant.cleanUp()
        shutil.rmtree(home, ignore_errors=True)
    print("launch to home page (s): %s; median %.2f" % (", ".join("%.2f" % d for d in durations),
                                                         statistics.median(durations)))


if __name__ == "__main__":
    main()

"""Prints how long Halcyra takes from launch to the Workday home page with saved credentials
(median of N runs against the demo tenant, Duo approving after its default 1.5 s), and the
resident memory of all Halcyra processes (UI, web, network) once signed in.

    tests/app/run-benchmark [N]
"""

import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SETTLE_SECONDS = 10

from test_application import SERVICE, Application, Tenant, homeServedCount, waitFor


def descendants(pid):
    children = {}
    for status in Path("/proc").glob("[0-9]*/status"):
        try:
            fields = dict(line.split(":", 1) for line in status.read_text().splitlines() if ":" in line)
        except OSError:
            continue
        children.setdefault(int(fields["PPid"].strip()), []).append((int(status.parent.name), fields))
    found, queue = [], [pid]
    while queue:
        for child, fields in children.get(queue.pop(), []):
            found.append((child, fields))
            queue.append(child)
    return found


def residentKiB(fields):
    return int(fields.get("VmRSS", "0 kB").split()[0])


def proportionalKiB(pid):
    """Resident memory with shared pages divided among the processes that share them."""
    try:
        for line in Path("/proc/%d/smaps_rollup" % pid).read_text().splitlines():
            if line.startswith("Pss:"):
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
            waitFor(lambda: homeServedCount(tenant) > before, limit=60, what="the home page")
            durations.append(time.monotonic() - started)
            if run == runs - 1:
                time.sleep(SETTLE_SECONDS)  # let the page settle and the sign-in chain's processes end
                pid = application.process.pid
                own = Path("/proc/%d/status" % pid).read_text()
                processes = [(pid, dict(line.split(":", 1) for line in own.splitlines() if ":" in line))]
                processes += descendants(pid)
                resident = proportional = 0
                for process, fields in processes:
                    name = fields["Name"].strip()
                    if name in ("bwrap", "xdg-dbus-proxy"):
                        continue  # the sandbox's helpers, a few MiB
                    print("%-16s %6d  RSS %7d KiB  PSS %7d KiB" % (name, process, residentKiB(fields), proportionalKiB(process)))
                    resident += residentKiB(fields)
                    proportional += proportionalKiB(process)
                print("all processes: RSS %.0f MiB, PSS %.0f MiB" % (resident / 1024, proportional / 1024))
            application.quit()
    finally:
        application.quit()
        tenant.cleanUp()
    print("launch to home page (s): %s; median %.2f" % (", ".join("%.2f" % d for d in durations),
                                                         statistics.median(durations)))


if __name__ == "__main__":
    main()

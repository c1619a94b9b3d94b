"""What the benchmarks read of a running Halcyra: its processes and their memory, and the counts it
publishes on D-Bus."""

import json
import subprocess
from pathlib import Path

# The sandbox's own helpers (a few MiB each) are not the application's.
SANDBOX_HELPERS = ("bwrap", "xdg-dbus-proxy")


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


def processName(pid):
    try:
        return Path("/proc/%d/comm" % pid).read_text().strip()
    except OSError:
        return ""


def cpuSeconds(pid):
    """User and system CPU time a process has used so far."""
    try:
        fields = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / 100.0
    except (OSError, IndexError, ValueError):
        return 0.0


def snapshot(pid):
    """[(name, pid, RSS KiB, PSS KiB)] of the application and every process it started."""
    rows = []
    for process in processTree(pid):
        name = processName(process)
        if not name or name in SANDBOX_HELPERS:
            continue
        rows.append((name, process, memoryKiB(process, "VmRSS", "status"), memoryKiB(process, "Pss", "smaps_rollup")))
    return rows


def isWebProcess(name):
    return name.startswith("WebKitWebProces")


def totalCPUSeconds(pid):
    return sum(cpuSeconds(process) for process in processTree(pid))


def printSnapshot(rows, out=print):
    for name, process, rss, pss in rows:
        out("%-16s %7d  RSS %7d KiB  PSS %7d KiB" % (name, process, rss, pss))
    out("all processes: RSS %.0f MiB, PSS %.0f MiB, web processes %d"
        % (sum(row[2] for row in rows) / 1024, sum(row[3] for row in rows) / 1024,
           sum(1 for row in rows if isWebProcess(row[0]))))


def busCounts():
    """The Counts and LastUpdated properties the application publishes, or None before it does."""
    result = subprocess.run(["gdbus", "call", "--session", "--dest", "com.ashgrove.Halcyra", "--object-path",
                             "/com/ashgrove/Halcyra", "--method", "org.freedesktop.DBus.Properties.GetAll",
                             "com.ashgrove.Halcyra.Counts"], capture_output=True, text=True, timeout=10)
    if result.returncode:
        return None
    text = result.stdout
    counts = {}
    start = text.find("'Counts': <{")
    if start >= 0:
        body = text[start + len("'Counts': <{"):text.find("}>", start)]
        for pair in filter(None, (part.strip() for part in body.split(","))):
            key, _, value = pair.partition(":")
            counts[key.strip().strip("'")] = int(value.strip().removeprefix("int64").strip())
    lastUpdated = 0
    marker = "'LastUpdated': <"
    start = text.find(marker)
    if start >= 0:
        value = text[start + len(marker):text.find(">", start)]
        lastUpdated = int(value.removeprefix("int64").strip() or 0)
    return {"counts": counts, "lastUpdated": lastUpdated}


def tenantCounts(tenant):
    """The tenant's counts in the keys the application publishes (null and absent ones left out)."""
    counts = tenant.state()["counts"]
    return {key: value for key, value in counts.items() if isinstance(value, int)}


def asJSON(value):
    return json.dumps(value, sort_keys=True)


def startSignedInApplication(prefix):
    """A demo tenant, the demo account saved in the keyring and the application not yet launched,
    in a new home folder: what every benchmark measures from."""
    from harness import SERVICE, Application, Tenant
    import tempfile
    tenant = Tenant().start()
    home = Path(tempfile.mkdtemp(prefix=prefix))
    subprocess.run(["secret-tool", "store", "--label=Workday SSO credentials", *SERVICE],
                   input=b'{"username":"demo","password":"ashgrove-demo"}', check=True)
    return tenant, home, Application(tenant, home)

"""A working day in fast motion: Halcyra against the demo tenant for SOAK_MINUTES (120 by default)
while the tenant ends every session every 4 minutes, the network goes away for 40 s every 6
minutes, the counts change every minute and the computer sleeps and wakes every 30 minutes.
Every minute it records the memory of each Halcyra process, the number of web processes, the
tenant's password submissions and whether the counts on D-Bus match the tenant's; it writes the
series as CSV (SOAK_CSV, build/soak.csv by default) and prints a summary. Asserts nothing.

    make soak                  # or: SOAK_MINUTES=20 benchmarks/run-soak
"""

import csv
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from halcyra_processes import asJSON, busCounts, isWebProcess, memoryKiB, snapshot, startSignedInApplication, tenantCounts, totalCPUSeconds  # noqa: E402
from harness import REPOSITORY, homeServedCount, waitFor  # noqa: E402

MINUTES = int(os.environ.get("SOAK_MINUTES", "120"))
CSV_PATH = Path(os.environ.get("SOAK_CSV", REPOSITORY / "build" / "soak.csv"))
SESSION_END_EVERY = 240
OFFLINE_EVERY, OFFLINE_FOR = 360, 40
SLEEP_EVERY = 1800
POLL_CYCLE = 30


def prepareForSleep(isGoingToSleep):
    """The mock logind of tests/platform/run-with-services announces sleep or wake."""
    subprocess.run(["gdbus", "call", "--system", "--dest", "org.freedesktop.login1", "--object-path",
                    "/org/freedesktop/login1", "--method", "org.freedesktop.DBus.Mock.EmitSignal",
                    "org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                    "[<%s>]" % ("true" if isGoingToSleep else "false")], capture_output=True, timeout=10)


def countsFor(minute):
    """Counts that differ every minute."""
    return {"task": minute % 7, "notification": (minute + 1) % 4, "prepaid": minute % 3, "draft": (minute // 2) % 3}


def countsMatch(tenant):
    reading = busCounts()
    return reading is not None and reading["counts"] == tenantCounts(tenant)


def main():
    tenant, home, application = startSignedInApplication("halcyra-soak-")
    rows = []
    sessionsEnded = 0
    endedEarly = None
    try:
        tenant.set("/counts", countsFor(0))
        application.launch()
        waitFor(lambda: homeServedCount(tenant) > 0, what="the home page")
        waitFor(lambda: countsMatch(tenant), limit=120, what="the first counts")
        firstWebProcesses = sum(1 for row in snapshot(application.process.pid) if isWebProcess(row[0]))
        started = time.monotonic()
        offlineUntil = None
        nextEvent = {"session": SESSION_END_EVERY, "offline": OFFLINE_EVERY, "sleep": SLEEP_EVERY, "minute": 60}
        cpuAtStart = totalCPUSeconds(application.process.pid)
        while True:
            elapsed = time.monotonic() - started
            if application.process.poll() is not None:
                endedEarly = "ended at %.1f min with status %s" % (elapsed / 60, application.process.returncode)
                print("Halcyra " + endedEarly)
                break
            if offlineUntil and elapsed >= offlineUntil:
                tenant.set("/offline", {"offline": False})
                offlineUntil = None
            due = min(nextEvent, key=nextEvent.get)
            if elapsed < nextEvent[due]:
                time.sleep(min(1.0, nextEvent[due] - elapsed))
                continue
            nextEvent[due] += {"session": SESSION_END_EVERY, "offline": OFFLINE_EVERY, "sleep": SLEEP_EVERY,
                               "minute": 60}[due]
            events = []
            if due == "session":
                tenant.set("/expire-sessions")
                sessionsEnded += 1
                events.append("sessions ended")
            elif due == "offline":
                tenant.set("/offline", {"offline": True})
                offlineUntil = elapsed + OFFLINE_FOR
                events.append("offline")
            elif due == "sleep":
                prepareForSleep(True)
                time.sleep(2)
                prepareForSleep(False)
                events.append("slept and woke")
            else:
                minute = round(elapsed / 60)
                processes = snapshot(application.process.pid)
                state = tenant.state()
                pss = lambda match: sum(row[3] for row in processes if match(row[0])) / 1024  # noqa: E731
                rows.append({
                    "minute": minute,
                    "pss_total_mib": round(pss(lambda name: True), 1),
                    "pss_ui_mib": round(pss(lambda name: name == "halcyra"), 1),
                    "pss_network_mib": round(pss(lambda name: name.startswith("WebKitNetwork")), 1),
                    "pss_web_mib": round(pss(isWebProcess), 1),
                    # Private memory alone: PSS moves whenever another program maps the same libraries.
                    "uss_total_mib": round(sum(memoryKiB(row[1], "Private_Clean", "smaps_rollup")
                                               + memoryKiB(row[1], "Private_Dirty", "smaps_rollup")
                                               for row in processes) / 1024, 1),
                    "web_processes": sum(1 for row in processes if isWebProcess(row[0])),
                    "pss_per_process_mib": " ".join("%s:%d=%.0f" % (name, pid, value / 1024)
                                                    for name, pid, _, value in processes),
                    "password_submissions": state["passwordSubmissions"],
                    "sessions_ended": sessionsEnded,
                    "counts_match": countsMatch(tenant),
                    # What differed, when the counts did not match.
                    "counts_bus": asJSON((busCounts() or {}).get("counts")),
                    "counts_tenant": asJSON(tenantCounts(tenant)),
                    "offline": offlineUntil is not None,
                })
                print("minute %3d: PSS %6.1f MiB, %d web processes, %d password submissions, counts %s"
                      % (minute, rows[-1]["pss_total_mib"], rows[-1]["web_processes"],
                         rows[-1]["password_submissions"], "match" if rows[-1]["counts_match"] else "differ"),
                      flush=True)
                if minute >= MINUTES:
                    break
                tenant.set("/counts", countsFor(minute))
        if offlineUntil:
            tenant.set("/offline", {"offline": False})
        # The counts of the end, within one poll cycle (and the sign-in it may need).
        deadline = time.monotonic() + 2 * POLL_CYCLE + 60
        while time.monotonic() < deadline and application.process.poll() is None and not countsMatch(tenant):
            time.sleep(1)
        endMatch = application.process.poll() is None and countsMatch(tenant)
        cpu = totalCPUSeconds(application.process.pid) if application.process.poll() is None else float("nan")
    finally:
        application.quit()
        tenant.cleanUp()
        log = home / "halcyra.log"
        if log.exists():
            shutil.copy(log, CSV_PATH.with_suffix(".log"))
        shutil.rmtree(home, ignore_errors=True)

    if not rows:
        print("no samples")
        return
    CSV_PATH.parent.mkdir(parents=True, exist_ok=True)
    with open(CSV_PATH, "w", newline="") as file:
        writer = csv.DictWriter(file, fieldnames=list(rows[0]))
        writer.writeheader()
        writer.writerows(rows)
    reference = next((row for row in rows if row["minute"] >= 3), rows[0])
    last = rows[-1]
    growth = (last["pss_total_mib"] / reference["pss_total_mib"] - 1) * 100
    print("\nsoak of %d minutes: %s" % (last["minute"], endedEarly or "no crash"))
    print("PSS: minute %d %.0f MiB, minute %d %.0f MiB (%+.1f %%), highest %.0f MiB"
          % (reference["minute"], reference["pss_total_mib"], last["minute"], last["pss_total_mib"], growth,
             max(row["pss_total_mib"] for row in rows)))
    print("web processes: %d after the first sign-in, %d at the end, at most %d"
          % (firstWebProcesses, last["web_processes"], max(row["web_processes"] for row in rows)))
    print("password submissions: %d for %d ended sessions (one sign-in at launch)"
          % (last["password_submissions"], sessionsEnded))
    print("counts on D-Bus equal to the tenant's at the end: %s; minutes with equal counts: %d of %d"
          % ("yes" if endMatch else "no", sum(1 for row in rows if row["counts_match"]), len(rows)))
    print("CPU time of all processes: %.1f s over %.0f min" % (cpu - cpuAtStart, last["minute"]))
    print("series: %s" % CSV_PATH)


if __name__ == "__main__":
    main()

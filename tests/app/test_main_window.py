"""The signed-in main window and what Halcyra tells the desktop about it: the counts of a hidden
launch on its own bus object and the launcher badge, a window that closes without ending the
session, and the roster error alert as a screen reader reads it. With HALCYRA_SCREENSHOT_DIR set,
screenshots of the signed-in window, of Settings, About and of the alert are saved there."""

import json
import os
import re
import subprocess
import time
import unittest
from pathlib import Path

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

from test_application import SERVICE, ApplicationTestCase, stopProcess, visibleWindows, waitFor, xdotool  # noqa: E402

DEMO_ROSTER = Path(__file__).resolve().parents[3] / "shared" / "demo-tenant" / "roster.json"
COUNTS = {"task": 3, "notification": 2, "prepaid": 4, "draft": 1}
EVERY_COUNT_IN_THE_BADGE = {"badgeInclude" + name: True for name in ("Task", "Notification", "Prepaid", "Draft")}


def busProperties():
    """The com.ashgrove.Halcyra.Counts properties, or None while the name is not on the bus."""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    try:
        reply = bus.call_sync("com.ashgrove.Halcyra", "/com/ashgrove/Halcyra", "org.freedesktop.DBus.Properties", "GetAll",
                              GLib.Variant("(s)", ("com.ashgrove.Halcyra.Counts",)), None,
                              Gio.DBusCallFlags.NO_AUTO_START, 5000, None)
    except GLib.Error:
        return None
    return reply.unpack()[0]


def saveScreenshot(name):
    """What the display shows, for a person to look at, where HALCYRA_SCREENSHOT_DIR says."""
    folder = os.environ.get("HALCYRA_SCREENSHOT_DIR")
    if folder:
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["import", "-window", "root", os.path.join(folder, name)], check=True)


# The application's windows as a screen reader reads them: role, name and the texts of their labels.
ACCESSIBLE_WINDOWS = """
import json, pyatspi
def texts(node):
    found = []
    for child in node:
        if child is not None:
            if child.getRoleName() == "label" and child.name:
                found.append(child.name)
            found += texts(child)
    return found
print(json.dumps([{"role": window.getRoleName(), "name": window.name, "texts": texts(window)}
                  for application in pyatspi.Registry.getDesktop(0) if application is not None
                  for window in application if window is not None]))
"""


def accessibleWindows():
    """Looks from a new process each time: pyatspi keeps the tree of its first look."""
    result = subprocess.run(["/usr/bin/python3", "-c", ACCESSIBLE_WINDOWS], capture_output=True, text=True, timeout=30)
    return json.loads(result.stdout) if result.returncode == 0 and result.stdout.strip() else []


def gdbusCall(bus, name, path, method, *arguments):
    return subprocess.run(["gdbus", "call", "--" + bus, "--dest", name, "--object-path", path, "--method", method, *arguments],
                          capture_output=True, timeout=20).returncode == 0


class MainWindowAndDesktop(ApplicationTestCase):
    def setUp(self):
        super().setUp()
        subprocess.run(["secret-tool", "store", "--label=Workday SSO credentials", *SERVICE],
                       input=b'{"username":"demo","password":"ashgrove-demo"}', check=True)
        self.tenant.set("/counts", COUNTS)
        # dbus-monitor's capture of the launcher Update signals on the session bus.
        self.launcherLog = self.home / "launcher.log"
        with open(self.launcherLog, "w") as output:
            monitor = subprocess.Popen(["dbus-monitor", "--session", "type='signal',interface='com.canonical.Unity.LauncherEntry',member='Update'"],
                                       stdout=output, stderr=subprocess.DEVNULL)
        self.addCleanup(stopProcess, monitor)
        # A notification service that logs what it is asked to show.
        self.notificationLog = self.home / "notifications.log"
        notifications = subprocess.Popen(["/usr/bin/python3", "-m", "dbusmock", "--session", "--template", "notification_daemon",
                                          "--logfile", str(self.notificationLog)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stopProcess, notifications)
        waitFor(lambda: gdbusCall("session", "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications.GetCapabilities"), what="the notification service")
        # The accessibility bus, as a desktop session starts it. Its registry must answer before
        # the application starts, or the application never joins it: the first look starts it.
        launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stopProcess, launcher)
        waitFor(lambda: gdbusCall("session", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"),
                what="the accessibility bus")
        accessibleWindows()

    def notificationsShown(self):
        return [line for line in self.notificationLog.read_text().splitlines() if " Notify " in line]

    def launcherCounts(self):
        return [int(count) for count in re.findall(r'string "count"\s+variant\s+int64 (\d+)', self.launcherLog.read_text())]

    def waitForBusCounts(self, counts):
        """Until a complete reading of these counts is on the bus (the counts come one by one,
        the time stamp once all four are read)."""
        def isComplete():
            properties = busProperties() or {}
            return properties.get("Counts") == counts and properties.get("StatusText") == "Updated just now"
        waitFor(isComplete, what="the counts %s on the bus" % counts)

    def test_hiddenLaunchSignsInCountsAndNotifiesNewTasksUntilTheUserOpensTheWindow(self):
        self.application.writeSettings({"hideOnLaunch": True, **EVERY_COUNT_IN_THE_BADGE})
        self.application.launch()
        self.waitForBusCounts(COUNTS)
        properties = busProperties()
        self.assertEqual(properties["State"], "polling")
        self.assertGreater(properties["LastUpdated"], time.time() - 120)
        self.assertEqual(self.application.windows(), [])
        waitFor(lambda: 10 in self.launcherCounts(), what="the launcher badge of 10")

        # The next cycle, 30 s later, carries a changed count to the badge, and the two new tasks
        # to the one desktop notification (none for the first reading).
        self.tenant.set("/counts", {**COUNTS, "task": 5})
        waitFor(lambda: 12 in self.launcherCounts(), limit=90, what="the launcher badge of 12")
        waitFor(self.notificationsShown, what="the new-tasks notification")
        shown = self.notificationsShown()
        self.assertEqual(len(shown), 1)
        self.assertIn('"2 new Workday tasks"', shown[0])

        # A click on it opens the window, signed in already.
        self.assertTrue(gdbusCall("session", "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                  "org.freedesktop.DBus.Mock.EmitSignal", "org.freedesktop.Notifications", "ActionInvoked", "us",
                                  "[<uint32 1>, <'default'>]"))
        waitFor(self.application.windows, what="the window after a click on the notification")
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)

    def test_closedWindowComesBackSignedInWithoutANewSignIn(self):
        self.application.writeSettings(EVERY_COUNT_IN_THE_BADGE)
        self.application.launch()
        self.waitForBusCounts(COUNTS)
        window = waitFor(self.application.windows, what="the main window")[0]
        time.sleep(1)  # the bubbles appear on the next refresh of the window
        saveScreenshot("main-window-signed-in.png")

        # Settings opens from the keyboard and closes again without touching the main window.
        xdotool("windowfocus", "--sync", window)
        xdotool("key", "ctrl+comma")
        settings = waitFor(lambda: visibleWindows("Settings"), what="the Settings window")
        xdotool("windowraise", settings[0])
        time.sleep(2)  # a window is shown before it is drawn; the screenshot is for a person
        saveScreenshot("settings.png")
        # Asked again, the open Settings window comes forward: there is only ever one, so that
        # closing it (keys are handled in the order they come) leaves none.
        xdotool("windowfocus", "--sync", window)
        xdotool("key", "ctrl+comma")
        xdotool("windowfocus", "--sync", settings[0])
        xdotool("key", "ctrl+w")
        waitFor(lambda: not visibleWindows("Settings"), what="the Settings window to close")

        # About, from the menu's action as the desktop activates it.
        self.assertTrue(gdbusCall("session", "com.ashgrove.Halcyra", "/com/ashgrove/Halcyra", "org.gtk.Actions.Activate",
                                  "about", "[]", "{}"))
        about = waitFor(lambda: visibleWindows("About Halcyra"), what="the About window")
        xdotool("windowraise", about[0])
        time.sleep(2)
        saveScreenshot("about.png")
        xdotool("windowfocus", "--sync", about[0])
        xdotool("key", "Escape")
        waitFor(lambda: not visibleWindows("About Halcyra"), what="the About window to close")

        signInPagesBefore = self.tenant.log().count("login.ashgrove.test GET /cas/login")
        xdotool("windowfocus", "--sync", window)
        xdotool("key", "ctrl+w")
        waitFor(lambda: not self.application.windows(), what="the window to close")
        self.assertIsNone(self.application.process.poll())

        self.application.launchAgain()
        self.assertEqual(self.application.waitForOneWindow("the window again"), 1)
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)
        self.assertEqual(self.tenant.log().count("login.ashgrove.test GET /cas/login"), signInPagesBefore)

    def test_aRosterOfNamelessRowsEndsInTheAlertAfterTheUnlock(self):
        # One row, which readers skip for its empty names: the page is a roster page, with no student.
        demoRoster = json.loads(DEMO_ROSTER.read_text())
        nameless = dict(demoRoster["students"][0], studentId="", first="", last="", email="")
        nameless["photo"] = os.path.relpath(DEMO_ROSTER.parent / nameless["photo"], self.home)
        roster = self.home / "nameless-roster.json"
        roster.write_text(json.dumps({"course": demoRoster["course"], "students": [nameless]}))
        self.tenant.set("/roster", {"file": str(roster)})
        self.application.launch()
        self.waitForBusCounts(COUNTS)

        # The window is locked after an automatic sign-in: the export, run as a desktop shell runs
        # an action, waits for the owner to answer the polkit prompt (no answer while none is open).
        self.assertTrue(gdbusCall("session", "com.ashgrove.Halcyra", "/com/ashgrove/Halcyra", "org.gtk.Actions.Activate",
                                  "export-roster", "[]", "{}"))
        waitFor(lambda: gdbusCall("system", "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
                                  "org.freedesktop.DBus.Mock.Answer", "true", "false"), what="the unlock prompt")
        alerts = waitFor(lambda: [window for window in accessibleWindows()
                                  if window["role"] in ("dialog", "alert") and window["name"] == "Couldn't Download the Roster"],
                         what="the roster alert")
        self.assertIn("The roster has no students.", alerts[0]["texts"])
        time.sleep(1)  # for the screenshot only: the alert is drawn with the window's next refresh
        saveScreenshot("roster-error-alert.png")


if __name__ == "__main__":
    unittest.main()

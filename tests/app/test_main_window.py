"""The signed-in main window and what Halcyra tells the desktop about it: the counts of a hidden
launch on its own bus object and the launcher badge, a window that closes without ending the
session, the roster error alert as a screen reader reads it; and what a screen reader finds in
the windows over AT-SPI (the real accessibility bus and registry): every control named, every
button with an action. With HALCYRA_SCREENSHOT_DIR set, screenshots of the signed-in window, of
Settings, About and of the alert are saved there."""

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

from harness import HALCYRA, ApplicationTestCase, gdbus, look, polkit, visibleWindows, waitFor, waitForUnlockPrompt, xdotool  # noqa: E402

DEMO_ROSTER = Path(__file__).resolve().parents[3] / "shared" / "demo-tenant" / "roster.json"
COUNTS = {"task": 3, "notification": 2, "prepaid": 4, "draft": 1}
TOOLBAR = {("push button", "Back"), ("push button", "Forward"), ("push button", "Home"), ("push button", "Main Menu")}
BUBBLES = {("push button", "3 outstanding tasks. Tap to review."), ("push button", "2 notifications. Tap to view.")}
SETTINGS = {("check box", "Notify about new tasks"), ("page tab", "General")}
EVERY_COUNT_IN_THE_BADGE = {"badgeInclude" + name: True for name in ("Task", "Notification", "Prepaid", "Draft")}
NOTIFICATIONS = ("org.freedesktop.Notifications", "/org/freedesktop/Notifications")


def saveScreenshot(name, settle=0):
    """What the display shows, for a person to look at, where HALCYRA_SCREENSHOT_DIR says. A window
    is shown before it is drawn: `settle` seconds let it draw (the screenshot is for a person)."""
    folder = os.environ.get("HALCYRA_SCREENSHOT_DIR")
    if folder:
        time.sleep(settle)
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["import", "-window", "root", os.path.join(folder, name)], check=True)


def pressIn(window, key):
    xdotool("windowfocus", "--sync", window)
    xdotool("key", key)


class MainWindowAndDesktop(ApplicationTestCase):
    def setUp(self):
        super().setUp()
        self.saveCredentials()
        self.tenant.set("/counts", COUNTS)
        self.bus = self.application.sessionBus
        # dbus-monitor's capture of the launcher Update signals on the session bus.
        self.launcherLog = self.home / "launcher.log"
        with open(self.launcherLog, "w") as output:
            self.start(["dbus-monitor", "--session", "type='signal',interface='com.canonical.Unity.LauncherEntry',member='Update'"],
                       stdout=output)
        # A notification service that logs what it is asked to show.
        self.notificationLog = self.home / "notifications.log"
        self.start(["/usr/bin/python3", "-m", "dbusmock", "--session", "--template", "notification_daemon", "--logfile", str(self.notificationLog)])
        waitFor(lambda: gdbus(self.bus, *NOTIFICATIONS, "org.freedesktop.Notifications.GetCapabilities"), what="the notification service")
        self.startAccessibilityBus()

    def notificationsShown(self):
        return [line for line in self.notificationLog.read_text().splitlines() if " Notify " in line]

    def launcherCounts(self):
        return [int(count) for count in re.findall(r'string "count"\s+variant\s+int64 (\d+)', self.launcherLog.read_text())]

    def waitForBusCounts(self):
        """Until a complete reading of the counts is on the bus (the counts come one by one, the
        time stamp once all four are read); gives the com.ashgrove.Halcyra.Counts properties."""
        def properties():
            bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
            try:
                return bus.call_sync(*HALCYRA, "org.freedesktop.DBus.Properties", "GetAll", GLib.Variant("(s)", ("com.ashgrove.Halcyra.Counts",)),
                                     None, Gio.DBusCallFlags.NO_AUTO_START, 5000, None).unpack()[0]
            except GLib.Error:
                return None
        return waitFor(lambda: (found := properties()) and found.get("Counts") == COUNTS and found.get("StatusText") == "Updated just now" and found,
                       what="the counts %s on the bus" % COUNTS)

    def test_hiddenLaunchSignsInCountsAndNotifiesNewTasksUntilTheUserOpensTheWindow(self):
        self.application.writeSettings({"hideOnLaunch": True, **EVERY_COUNT_IN_THE_BADGE})
        self.application.launch()
        properties = self.waitForBusCounts()
        self.assertEqual(properties["State"], "polling")
        self.assertGreater(properties["LastUpdated"], time.time() - 120)
        self.assertEqual(self.application.windows(), [])
        waitFor(lambda: 10 in self.launcherCounts(), what="the launcher badge of 10")

        # The next cycle, 30 s later, carries a changed count to the badge, and the two new tasks
        # to the one desktop notification (none for the first reading).
        self.tenant.set("/counts", {**COUNTS, "task": 5})
        waitFor(lambda: 12 in self.launcherCounts(), limit=90, what="the launcher badge of 12")
        shown = waitFor(self.notificationsShown, what="the new-tasks notification")
        self.assertEqual(len(shown), 1)
        self.assertIn('"2 new Workday tasks"', shown[0])

        # A click on it opens the window, signed in already.
        self.assertTrue(gdbus(self.bus, *NOTIFICATIONS, "org.freedesktop.DBus.Mock.EmitSignal", "org.freedesktop.Notifications",
                              "ActionInvoked", "us", "[<uint32 1>, <'default'>]"))
        self.application.waitForWindows("the window after a click on the notification")
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)

    def test_closedWindowComesBackSignedInWithoutANewSignIn(self):
        self.application.writeSettings(EVERY_COUNT_IN_THE_BADGE)
        self.application.launch()
        self.waitForBusCounts()
        window = self.application.waitForWindows("the main window")[0]
        saveScreenshot("main-window-signed-in.png", settle=1)  # the bubbles appear on the next refresh

        # Settings opens from the keyboard and closes again without touching the main window.
        pressIn(window, "ctrl+comma")
        settings = waitFor(lambda: visibleWindows("Settings"), what="the Settings window")
        xdotool("windowraise", settings[0])
        saveScreenshot("settings.png", settle=2)
        # Asked again, the open Settings window comes forward: there is only ever one, so that
        # closing it (keys are handled in the order they come) leaves none.
        pressIn(window, "ctrl+comma")
        pressIn(settings[0], "ctrl+w")
        waitFor(lambda: not visibleWindows("Settings"), what="the Settings window to close")

        # About, from the menu's action as the desktop activates it.
        self.assertTrue(self.application.activate("about"))
        about = waitFor(lambda: visibleWindows("About Halcyra"), what="the About window")
        xdotool("windowraise", about[0])
        saveScreenshot("about.png", settle=2)
        pressIn(about[0], "Escape")
        waitFor(lambda: not visibleWindows("About Halcyra"), what="the About window to close")

        signInPages = lambda: self.tenant.log().count("login.ashgrove.test GET /cas/login")
        signInPagesBefore = signInPages()
        pressIn(window, "ctrl+w")
        waitFor(lambda: not self.application.windows(), what="the window to close")
        self.assertIsNone(self.application.process.poll())
        self.application.launchAgain()
        self.assertEqual(self.application.waitForOneWindow("the window again"), 1)
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)
        self.assertEqual(signInPages(), signInPagesBefore)

    def test_aRosterOfNamelessRowsEndsInTheAlertAfterTheUnlock(self):
        # One row, which readers skip for its empty names: the page is a roster page, with no student.
        demoRoster = json.loads(DEMO_ROSTER.read_text())
        nameless = dict(demoRoster["students"][0], studentId="", first="", last="", email="")
        nameless["photo"] = os.path.relpath(DEMO_ROSTER.parent / nameless["photo"], self.home)
        roster = self.home / "nameless-roster.json"
        roster.write_text(json.dumps({"course": demoRoster["course"], "students": [nameless]}))
        self.tenant.set("/roster", {"file": str(roster)})
        self.application.launch()
        self.waitForBusCounts()

        # The window is locked after an automatic sign-in: the export, run as a desktop shell runs
        # an action, waits for the owner to answer the polkit prompt (no answer while none is open).
        self.assertTrue(self.application.activate("export-roster"))
        waitFor(lambda: polkit("Answer", "true", "false") is not None, what="the unlock prompt")
        alerts = waitFor(lambda: [window for window in look()
                                  if window["role"] in ("dialog", "alert") and window["name"] == "Couldn't Download the Roster"],
                         what="the roster alert")
        self.assertIn("The roster has no students.", alerts[0]["texts"])
        saveScreenshot("roster-error-alert.png", settle=1)  # the alert is drawn with the window's next refresh


def namesIn(window):
    return {(control["role"], control["name"]) for control in window["controls"]}


class ScreenReader(ApplicationTestCase):
    def setUp(self):
        super().setUp()
        self.startAccessibilityBus()

    def openSettings(self):
        self.application.activate("preferences")

    def openPasswordDialog(self):
        """The unlock asked for from the locked window, where polkit has no agent to ask: the
        application's own password dialog."""
        self.application.activate("course-roster")
        waitForUnlockPrompt()
        polkit("Answer", "false", "true")

    def checkWindows(self, windows):
        """Each window (title, what opens it, controls that must be there by role and name): found
        over AT-SPI with every control usable."""
        launched = time.monotonic()
        self.application.launch()
        for title, opener, expected in windows:
            with self.subTest(window=title):
                if opener:
                    opener()
                # Controls come as the window fills in (the count bubbles after the first
                # reading): look until they are all there, then judge the last look.
                looks = []

                def isComplete():
                    looks.append(next((window for window in look() if window["name"] == title), {"controls": []}))
                    return looks[-1]["controls"] and expected <= namesIn(looks[-1])
                try:
                    waitFor(isComplete, what="the %s window's controls over AT-SPI" % title)
                except AssertionError:
                    pass
                found = looks[-1]
                self.assertTrue(found["controls"], "the %s window over AT-SPI" % title)
                if not opener:
                    # GTK registers the application from an idle callback, which a window
                    # repainting without pause (spinners, under software rendering) puts off.
                    print("\n%s: a screen reader found the window %.1f s after launch" % (self.id(), time.monotonic() - launched))
                self.assertEqual(found["problems"], [], title)
                self.assertLessEqual(expected, namesIn(found), title)

    def test_firstLaunchUnlockedForTheSignIn(self):
        self.checkWindows([("Ashgrove Workday", None, TOOLBAR | {("push button", "Lock Workday")}),
                           ("Settings", self.openSettings, SETTINGS)])

    def test_savedCredentialsLaunchLockedWithItsCountsAndThePasswordDialog(self):
        polkit("Reset")
        self.saveCredentials()
        self.tenant.set("/counts", COUNTS)
        self.checkWindows([("Ashgrove Workday", None, TOOLBAR | BUBBLES | {("push button", "Unlock Workday")}),
                           ("Settings", self.openSettings, SETTINGS),
                           ("Unlock Workday", self.openPasswordDialog, {("password text", "Password"), ("push button", "Unlock")})])


if __name__ == "__main__":
    unittest.main()

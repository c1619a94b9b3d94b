"""Halcyra as a user meets it: the real application window on a virtual display, a private
keyring, the demo tenant. Run through tests/app/run-tests (display and services included)."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPOSITORY = HERE.parents[1]
sys.path.insert(0, str(REPOSITORY / "tests" / "demo-tenant"))
from support import Tenant, stopProcess  # noqa: E402

APPLICATION = Path(os.environ.get("HALCYRA_BINARY", REPOSITORY / "build" / "bin" / "halcyra"))
SERVICE = ["service", "com.ashgrove.workday.sso", "account", "ashgrove-ss"]


def waitFor(condition, limit=120.0, what="condition"):
    """Waits for real pages with a time limit (a limit, not a measurement)."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], capture_output=True, text=True, timeout=20)


def visibleWindows(title):
    return xdotool("search", "--onlyvisible", "--name", "^%s$" % title).stdout.split()


class Application:
    def __init__(self, tenant, home):
        self.tenant = tenant
        self.home = home
        self.settingsPath = home / "config" / "halcyra" / "defaults.json"
        self.process = None
        # Another session bus than the test's own, for a Secret Service of the test's choosing.
        self.sessionBus = os.environ.get("DBUS_SESSION_BUS_ADDRESS", "")

    def environment(self):
        # No xdg-user-dirs in the new home: downloads go to ~/Downloads, as on a minimal install.
        return dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.sessionBus, HOME=str(self.home),
                    HALCYRA_CONFIG=str(self.tenant.configPath), XDG_CONFIG_HOME=str(self.home / "config"),
                    XDG_DATA_HOME=str(self.home / "data"), XDG_CACHE_HOME=str(self.home / "cache"))

    def launch(self, *arguments):
        # The diagnostic lines go to a file: an unread pipe would stall the application once full.
        with open(self.home / "halcyra.log", "a") as log:
            self.process = subprocess.Popen([str(APPLICATION), "-HalcyraVerbose", *arguments], env=self.environment(),
                                            stdout=log, stderr=subprocess.STDOUT)

    def launchAgain(self):
        """A second launch, as from the desktop's launcher, while the first one runs."""
        return subprocess.run([str(APPLICATION)], env=self.environment(), capture_output=True, timeout=30)

    def quit(self):
        stopProcess(self.process)

    def log(self):
        return (self.home / "halcyra.log").read_text(errors="replace")

    def settings(self):
        return json.loads(self.settingsPath.read_text()) if self.settingsPath.exists() else {}

    def writeSettings(self, values):
        self.settingsPath.parent.mkdir(parents=True, exist_ok=True)
        self.settingsPath.write_text(json.dumps(values))

    def windows(self):
        return visibleWindows("Ashgrove Workday")

    def waitForOneWindow(self, what):
        # xdotool misses windows that change while it searches: wait for one, then count.
        return len(waitFor(self.windows, what=what))


def homeServedCount(tenant):
    return tenant.log().count("GET /ashgrove/d/home.htmld -> 200")


class ApplicationTestCase(unittest.TestCase):
    """A new home folder and keyring item, a demo tenant whose Duo approves at once, the application."""

    def setUp(self):
        self.home = Path(tempfile.mkdtemp(prefix="halcyra-app-test-"))
        self.addCleanup(shutil.rmtree, self.home, ignore_errors=True)
        self.tenant = Tenant().start()
        self.addCleanup(self.tenant.cleanUp)
        self.tenant.set("/duo", {"mode": "approve", "delayMs": 300})
        subprocess.run(["secret-tool", "clear", *SERVICE], capture_output=True)
        self.application = Application(self.tenant, self.home)
        self.addCleanup(self.application.quit)


class WindowPosition(ApplicationTestCase):
    def geometry(self, window):
        output = xdotool("getwindowgeometry", "--shell", window).stdout
        values = dict(line.split("=", 1) for line in output.split())
        return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))

    def test_theWindowComesBackWhereItWasMovedAndAFrameOffEveryScreenIsIgnored(self):
        # X11 lets the window be placed (the virtual display is 1280 x 1024, without panels).
        self.application.writeSettings({"mainWindowFrameX": 150, "mainWindowFrameY": 120,
                                        "mainWindowFrameW": 700, "mainWindowFrameH": 600})
        self.application.launch()
        window = waitFor(self.application.windows, what="the main window")[0]
        waitFor(lambda: self.geometry(window) == (150, 120, 700, 600), limit=20, what="the saved frame")

        xdotool("windowmove", window, "300", "200")
        waitFor(lambda: self.application.settings().get("mainWindowFrameX") == 300, limit=20, what="the move saved")
        self.assertEqual(self.application.settings().get("mainWindowFrameY"), 200)
        self.application.quit()

        self.application.launch()
        window = waitFor(self.application.windows, what="the main window again")[0]
        waitFor(lambda: self.geometry(window) == (300, 200, 700, 600), limit=20, what="the moved frame")
        self.application.quit()

        # Moved to a screen that is no longer there: the window manager's placement stays.
        self.application.writeSettings({"mainWindowFrameX": 5000, "mainWindowFrameY": 200,
                                        "mainWindowFrameW": 700, "mainWindowFrameH": 600})
        self.application.launch()
        window = waitFor(self.application.windows, what="the main window off screen")[0]
        waitFor(lambda: self.geometry(window)[2:] == (800, 900), limit=20, what="the default size")
        self.assertLess(self.geometry(window)[0], 1280 - 100)


class DesktopActions(ApplicationTestCase):
    def startAsDBusDoes(self):
        """As D-Bus starts Halcyra for a launcher's action: as a service, without activating it,
        here with the window hidden at launch."""
        self.application.writeSettings({"hideOnLaunch": True})
        startsBefore = self.application.log().count("[App] started") if (self.home / "halcyra.log").exists() else 0
        self.application.launch("--gapplication-service")
        waitFor(lambda: self.application.log().count("[App] started") > startsBefore, what="the start")
        self.assertEqual(self.application.windows(), [])

    def gapplication(self, command, *arguments):
        result = subprocess.run(["gapplication", command, "com.ashgrove.Halcyra", *arguments],
                                env=self.application.environment(), capture_output=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_anActionThatNeedsTheWindowOpensItAndALaunchAfterAnActionShowsIt(self):
        self.startAsDBusDoes()
        self.gapplication("action", "course-roster")
        self.assertEqual(self.application.waitForOneWindow("the window for the roster"), 1)
        self.application.quit()

        # The launch was the action's: opening Halcyra from the launcher afterwards shows the window.
        self.startAsDBusDoes()
        self.gapplication("action", "about")
        waitFor(lambda: visibleWindows("About Halcyra"), what="the About window")
        self.gapplication("launch")
        self.assertEqual(self.application.waitForOneWindow("the window after the launch"), 1)


class FirstRunAndRestart(ApplicationTestCase):
    def typeIntoTheSignInForm(self, username, password):
        window = waitFor(self.application.windows, what="the main window")[0]
        waitFor(lambda: "login.ashgrove.test GET /cas/login -> 200" in self.tenant.log(), what="the CAS form")
        time.sleep(1.5)  # the form renders by script after load; the page focuses the NetID field
        xdotool("windowfocus", "--sync", window)
        xdotool("type", "--delay", "20", username)
        xdotool("key", "Tab")
        xdotool("type", "--delay", "20", password)
        xdotool("key", "Return")

    def test_typedCredentialsAreSavedAndTheNextStartSignsInAlone(self):
        self.application.launch()
        self.typeIntoTheSignInForm("demo", "ashgrove-demo")
        waitFor(lambda: homeServedCount(self.tenant) >= 1, what="the home page")

        saved = subprocess.run(["secret-tool", "lookup", *SERVICE], capture_output=True, text=True)
        self.assertEqual(json.loads(saved.stdout), {"username": "demo", "password": "ashgrove-demo"})
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)
        waitFor(lambda: not self.application.settings().get("ssoUnconfirmedAutoSubmits"),
                what="the sign-in to be confirmed")

        # A second launch brings the running window forward instead of opening another.
        self.assertEqual(self.application.launchAgain().returncode, 0)
        self.assertEqual(self.application.waitForOneWindow("the window after a second launch"), 1)
        self.assertIsNone(self.application.process.poll())

        self.application.quit()
        # The hidden count views load the home page too: only a later one counts.
        servedBefore = homeServedCount(self.tenant)
        self.tenant.set("/expire-sessions")
        self.application.launch()
        waitFor(lambda: homeServedCount(self.tenant) > servedBefore, what="the home page after a restart")
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 2)

    def test_wrongTypedPasswordIsNeverSubmittedAgainByTheApplication(self):
        self.application.launch()
        self.typeIntoTheSignInForm("demo", "not-the-password")
        # What the user typed is saved on submit; CAS then shows its error, and after a restart
        # the application fills in the user name only.
        waitFor(lambda: self.application.settings().get("ssoPasswordRejected") is True, what="the rejection saved")
        self.application.quit()
        withheld = "[Workday] withholding the saved password: CAS rejected the saved password"
        withheldBefore = self.application.log().count(withheld)
        self.application.launch()
        waitFor(lambda: self.application.log().count(withheld) > withheldBefore, what="the password withheld")
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)


if __name__ == "__main__":
    unittest.main()

"""The window's place, launches by the desktop and a second time, and the first sign-in typed by
hand."""

import json
import subprocess
import time
import unittest

from harness import SERVICE, ApplicationTestCase, homeServedCount, visibleWindows, waitFor, xdotool


class WindowPosition(ApplicationTestCase):
    def launchWithFrame(self, matches, what):
        self.application.launch()
        window = self.application.waitForWindows("the main window")[0]

        def geometry():
            values = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window).stdout.split())
            return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))
        waitFor(lambda: matches(geometry()), limit=20, what=what)
        return window, geometry

    def test_theWindowComesBackWhereItWasMovedAndAFrameOffEveryScreenIsIgnored(self):
        # X11 lets the window be placed (the virtual display is 1280 x 1024, without panels).
        frame = lambda x, y: {"mainWindowFrameX": x, "mainWindowFrameY": y, "mainWindowFrameW": 700, "mainWindowFrameH": 600}
        self.application.writeSettings(frame(150, 120))
        window, _ = self.launchWithFrame(lambda shown: shown == (150, 120, 700, 600), "the saved frame")
        xdotool("windowmove", window, "300", "200")
        waitFor(lambda: self.application.settings().get("mainWindowFrameX") == 300, limit=20, what="the move saved")
        self.assertEqual(self.application.settings().get("mainWindowFrameY"), 200)
        self.application.quit()
        self.launchWithFrame(lambda shown: shown == (300, 200, 700, 600), "the moved frame")
        self.application.quit()

        # Moved to a screen that is no longer there: the window manager's placement stays.
        self.application.writeSettings(frame(5000, 200))
        _, geometry = self.launchWithFrame(lambda shown: shown[2:] == (800, 900), "the default size")
        self.assertLess(geometry()[0], 1280 - 100)


class DesktopActions(ApplicationTestCase):
    def startAsDBusDoes(self):
        """As D-Bus starts Halcyra for a launcher's action: as a service, without activating it,
        here with the window hidden at launch."""
        self.application.writeSettings({"hideOnLaunch": True})
        pagesBefore = self.application.log().count("CAS page committed")
        self.application.launch("--gapplication-service")
        # Looked at once the sign-in page has loaded in the background, well after the start, so
        # that a window shown late is seen too.
        waitFor(lambda: self.application.log().count("CAS page committed") > pagesBefore, what="the sign-in page")
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
    def launchAndType(self, username, password):
        self.application.launch()
        window = self.application.waitForWindows("the main window")[0]
        waitFor(lambda: "login.ashgrove.test GET /cas/login -> 200" in self.tenant.log(), what="the CAS form")
        time.sleep(1.5)  # the form renders by script after load; the page focuses the NetID field
        xdotool("windowfocus", "--sync", window)
        xdotool("type", "--delay", "20", username)
        xdotool("key", "Tab")
        xdotool("type", "--delay", "20", password)
        xdotool("key", "Return")

    def relaunchUntilMore(self, count, what, beforeLaunch=lambda: None):
        """Quits and launches again, until `count()` grows."""
        self.application.quit()
        before = count()
        beforeLaunch()
        self.application.launch()
        waitFor(lambda: count() > before, what=what)

    def test_typedCredentialsAreSavedAndTheNextStartSignsInAlone(self):
        self.launchAndType("demo", "ashgrove-demo")
        waitFor(lambda: homeServedCount(self.tenant) >= 1, what="the home page")
        saved = subprocess.run(["secret-tool", "lookup", *SERVICE], capture_output=True, text=True)
        self.assertEqual(json.loads(saved.stdout), {"username": "demo", "password": "ashgrove-demo"})
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)
        waitFor(lambda: not self.application.settings().get("ssoUnconfirmedAutoSubmits"), what="the sign-in to be confirmed")

        # A second launch brings the running window forward instead of opening another.
        self.assertEqual(self.application.launchAgain().returncode, 0)
        self.assertEqual(self.application.waitForOneWindow("the window after a second launch"), 1)
        self.assertIsNone(self.application.process.poll())

        # The hidden count views load the home page too: only a later one counts.
        self.relaunchUntilMore(lambda: homeServedCount(self.tenant), "the home page after a restart",
                               lambda: self.tenant.set("/expire-sessions"))
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 2)

    def test_wrongTypedPasswordIsNeverSubmittedAgainByTheApplication(self):
        # What the user typed is saved on submit; CAS then shows its error, and after a restart
        # the application fills in the user name only.
        self.launchAndType("demo", "not-the-password")
        waitFor(lambda: self.application.settings().get("ssoPasswordRejected") is True, what="the rejection saved")
        withheld = "[Workday] withholding the saved password: CAS rejected the saved password"
        self.relaunchUntilMore(lambda: self.application.log().count(withheld), "the password withheld")
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)


if __name__ == "__main__":
    unittest.main()

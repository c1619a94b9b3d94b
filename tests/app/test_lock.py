"""The lock at launch, when Workday remembers the session across restarts: Workday content is
shown only after system authentication unless the keyring says for certain that no credentials
are saved. Whether the window is locked is seen as a user sees it: asking the window for the
roster page brings up the polkit prompt (answered by the test's polkit authority) only while
the gate is shown."""

import json
import subprocess
import unittest

from harness import HERE, NONE_WAITING, SERVICE, ApplicationTestCase, gdbus, homeServedCount, polkit, stopProcess, waitFor, waitForUnlockPrompt

# A session bus with no services to start on demand: a real keyring must not answer in the mock's place.
BUS_CONFIG = """<busconfig><type>session</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
</policy></busconfig>"""
FAILED = "[Keychain] load credentials failed"


class LockAtLaunch(ApplicationTestCase):
    def setUp(self):
        super().setUp()
        self.tenant.set("/persistent-sessions", {"on": True})
        polkit("Reset")

    def signInAndQuit(self):
        """An automatic sign-in whose Workday session outlives the application."""
        self.saveCredentials()
        self.application.launch()
        waitFor(lambda: homeServedCount(self.tenant) >= 1, what="the home page")
        self.application.quit()
        self.servedBefore = homeServedCount(self.tenant)

    def launchUntilTheRememberedHomePage(self):
        self.application.launch()
        waitFor(lambda: homeServedCount(self.tenant) > self.servedBefore, what="the remembered home page")

    def startSecretService(self, mode):
        """A session bus of its own with a Secret Service (secret_service.py) that never gives a secret."""
        socket = self.home / ("bus-" + mode)
        config = self.home / ("bus-%s.conf" % mode)
        config.write_text(BUS_CONFIG % socket)
        self.start(["dbus-daemon", "--nofork", "--nosyslog", "--config-file=" + str(config)])
        waitFor(socket.exists, limit=10, what="the session bus")
        self.application.sessionBus = "unix:path=%s" % socket
        service = self.start(["/usr/bin/python3", "-m", "dbusmock", "--template", str(HERE / "secret_service.py"),
                              "--parameters", json.dumps({"mode": mode})],
                             env={"DBUS_SESSION_BUS_ADDRESS": self.application.sessionBus, "PATH": "/usr/bin:/bin"})
        waitFor(self.heldCount, limit=20, what="the Secret Service")
        return service

    def heldCount(self):
        return gdbus(self.application.sessionBus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
                     "org.freedesktop.DBus.Mock.HeldCount")

    def assertLocked(self, why):
        """The roster page waits for the owner to authenticate; the prompt is refused again."""
        self.assertIsNotNone(self.application.activate("course-roster"))
        waitForUnlockPrompt("the unlock prompt: " + why)
        polkit("Answer", "false", "false")

    def test_aRememberedSessionStartedHiddenWithoutSavedCredentialsOpensLocked(self):
        self.signInAndQuit()
        subprocess.run(["secret-tool", "clear", *SERVICE], check=True)
        self.application.writeSettings({"hideOnLaunch": True})
        self.launchUntilTheRememberedHomePage()
        self.assertEqual(self.application.windows(), [])
        self.application.launchAgain()
        self.application.waitForWindows("the window")
        self.assertLocked("a window made after the home page was reached")
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)

    def test_aKeyringThatRefusesOrNeverAnswersKeepsWorkdayLocked(self):
        # A refusing keyring, before any sign-in: the CAS form stays behind the gate too.
        testSessionBus = self.application.sessionBus
        self.startSecretService("refuse")
        self.application.launch()
        waitFor(lambda: FAILED in self.application.log(), what="the refusal")
        self.assertLocked("the keyring refused")
        self.application.quit()

        # A keyring that never answers while the remembered session reaches Workday, and then
        # goes away without answering.
        self.application.sessionBus = testSessionBus
        self.signInAndQuit()
        service = self.startSecretService("silent")
        self.launchUntilTheRememberedHomePage()
        waitFor(lambda: self.heldCount() not in NONE_WAITING, what="a question to the keyring")
        self.assertLocked("the keyring has not answered")
        failuresBefore = self.application.log().count(FAILED)
        stopProcess(service)
        waitFor(lambda: self.application.log().count(FAILED) > failuresBefore, what="the keyring's failure")
        self.assertLocked("the keyring went away without answering")


def pageInGrey(window, area="760x600+20+100"):
    """Part of the window (by default its page below the toolbar) as grey levels, one bytes object
    per row."""
    shot = subprocess.run(["import", "-window", window, "-crop", area, "+repage", "-colorspace", "Gray",
                           "-depth", "8", "pgm:-"], capture_output=True, check=True).stdout
    _, width, height, _, pixels = shot.split(maxsplit=4)
    width, height = int(width), int(height)
    return [pixels[row * width:(row + 1) * width] for row in range(height)]


def sharpestEdge(rows):
    """The largest step between two neighbouring pixels: text that can be read has steps of 20
    grey levels and more (at a 1-pixel blur too); a page blurred beyond reading, a few."""
    return max(max(abs(left - right) for left, right in zip(row, row[1:])) for row in rows)


def contrast(rows):
    return max(max(row) for row in rows) - min(min(row) for row in rows)


class LockedPage(ApplicationTestCase):
    def test_aLockedWindowShowsNothingOfWorkdayThatCanBeRead(self):
        polkit("Reset")
        self.saveCredentials()
        self.application.launch()
        waitFor(lambda: homeServedCount(self.tenant) >= 1, what="the home page")
        window = self.application.waitForWindows("the window")[0]
        # The page is drawn behind the lock (shapes, no text), then the unlock shows its text.
        waitFor(lambda: contrast(pageInGrey(window)) > 15, what="the page drawn behind the lock")
        self.assertLess(sharpestEdge(pageInGrey(window)), 8)
        subprocess.run(["xdotool", "mousemove", "--window", window, "400", "500", "click", "1"], check=True)
        waitForUnlockPrompt()
        polkit("Answer", "true", "false")
        waitFor(lambda: sharpestEdge(pageInGrey(window)) > 100, what="the page's text after the unlock")

    def test_theBlurStaysOnThePage(self):
        # A first launch shows the sign-in page, red at its top, right under the toolbar.
        polkit("Reset")
        self.application.launch()
        window = self.application.waitForWindows("the window")[0]
        waitFor(lambda: sharpestEdge(pageInGrey(window)) > 100, what="the sign-in page")
        toolbarBottom = lambda: pageInGrey(window, "780x6+10+42")
        before = toolbarBottom()
        self.application.activate("lock")
        waitFor(lambda: sharpestEdge(pageInGrey(window)) < 8, what="the locked page")
        change = max(abs(old - new) for rowBefore, rowAfter in zip(before, toolbarBottom()) for old, new in zip(rowBefore, rowAfter))
        self.assertEqual(change, 0, "the locked page's blur reached the toolbar")


if __name__ == "__main__":
    unittest.main()

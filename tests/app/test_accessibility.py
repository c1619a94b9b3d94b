"""What a screen reader finds in Halcyra's windows over AT-SPI (the real accessibility bus and
registry): every control named, every button with an action."""

import time
import unittest

from harness import ApplicationTestCase, look, polkit, waitFor, waitForUnlockPrompt

TOOLBAR = {("push button", "Back"), ("push button", "Forward"), ("push button", "Home"), ("push button", "Main Menu")}
BUBBLES = {("push button", "3 outstanding tasks. Tap to review."), ("push button", "2 notifications. Tap to view.")}
SETTINGS = {("check box", "Notify about new tasks"), ("page tab", "General")}


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
        self.tenant.set("/counts", {"task": 3, "notification": 2, "prepaid": 4, "draft": 1})
        self.checkWindows([("Ashgrove Workday", None, TOOLBAR | BUBBLES | {("push button", "Unlock Workday")}),
                           ("Settings", self.openSettings, SETTINGS),
                           ("Unlock Workday", self.openPasswordDialog, {("password text", "Password"), ("push button", "Unlock")})])


if __name__ == "__main__":
    unittest.main()

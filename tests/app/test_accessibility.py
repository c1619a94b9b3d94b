"""What a screen reader finds in Halcyra's windows over AT-SPI (the real accessibility bus and
registry): every control named, every button with an action. Each look runs
accessibility_tree.py in a process of its own."""

import json
import subprocess
import time
import unittest
from pathlib import Path

from test_application import SERVICE, ApplicationTestCase, stopProcess, waitFor

HERE = Path(__file__).resolve().parent


def look(title):
    output = subprocess.run(["/usr/bin/python3", str(HERE / "accessibility_tree.py"), title],
                            capture_output=True, text=True, timeout=60).stdout
    return json.loads(output) if output.strip() else {"missing": title, "seen": []}


def activateAction(name):
    subprocess.run(["gdbus", "call", "--session", "--dest", "com.ashgrove.Halcyra", "--object-path", "/com/ashgrove/Halcyra",
                    "--method", "org.gtk.Actions.Activate", name, "[]", "{}"], capture_output=True, timeout=20)


def polkit(method, *arguments):
    return subprocess.run(["gdbus", "call", "--system", "--dest", "org.freedesktop.PolicyKit1", "--object-path",
                           "/org/freedesktop/PolicyKit1/Authority", "--method", "org.freedesktop.DBus.Mock." + method, *arguments],
                          capture_output=True, text=True, timeout=20).stdout


def openSettings():
    activateAction("preferences")


def openPasswordDialog():
    """The unlock asked for from the locked window, where polkit has no agent to ask: the
    application's own password dialog."""
    activateAction("course-roster")
    waitFor(lambda: polkit("WaitingCount") not in ("", "(uint32 0,)\n"), limit=30, what="the unlock prompt")
    polkit("Answer", "false", "true")


TOOLBAR = {("push button", "Back"), ("push button", "Forward"), ("push button", "Home"), ("push button", "Main Menu")}
BUBBLES = {("push button", "3 outstanding tasks. Tap to review."), ("push button", "2 notifications. Tap to view.")}


def namesIn(tree):
    """The controls of a look, by role and name."""
    return {(control["role"], control["name"]) for control in tree["controls"]}


class ScreenReader(ApplicationTestCase):
    def setUp(self):
        super().setUp()
        # The bus launcher starts the registry on demand; GTK finds the bus through it. It is
        # waited for by name: asking it for the bus would start a second one through D-Bus.
        launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stopProcess, launcher)
        waitFor(lambda: "true" in subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                                                  "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", "org.a11y.Bus"],
                                                 capture_output=True, text=True, timeout=20).stdout,
                limit=20, what="the accessibility bus")

    def checkWindows(self, windows):
        """Each window (title, what opens it, controls that must be
        there by role and name): found over AT-SPI with every control usable."""
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
                    looks.append(look(title))
                    return looks[-1].get("controls") and expected <= namesIn(looks[-1])
                try:
                    waitFor(isComplete, what="the %s window's controls over AT-SPI" % title)
                except AssertionError:
                    pass
                found = looks[-1]
                self.assertTrue(found.get("controls"), "the %s window over AT-SPI" % title)
                if not opener:
                    # GTK registers the application from an idle callback, which a window
                    # repainting without pause (spinners, under software rendering) puts off.
                    print("\n%s: a screen reader found the window %.1f s after launch" % (self.id(), time.monotonic() - launched))
                self.assertEqual(found["problems"], [], title)
                self.assertLessEqual(expected, namesIn(found), title)

    def test_firstLaunchUnlockedForTheSignIn(self):
        self.checkWindows([("Ashgrove Workday", None, TOOLBAR | {("push button", "Lock Workday")}),
                           ("Settings", openSettings, {("check box", "Notify about new tasks"), ("page tab", "General")})])

    def test_savedCredentialsLaunchLockedWithItsCountsAndThePasswordDialog(self):
        polkit("Reset")
        subprocess.run(["secret-tool", "store", "--label=Workday SSO credentials", *SERVICE],
                       input=b'{"username":"demo","password":"ashgrove-demo"}', check=True)
        self.tenant.set("/counts", {"task": 3, "notification": 2, "prepaid": 4, "draft": 1})
        self.checkWindows([("Ashgrove Workday", None, TOOLBAR | BUBBLES | {("push button", "Unlock Workday")}),
                           ("Settings", openSettings, {("check box", "Notify about new tasks"), ("page tab", "General")}),
                           ("Unlock Workday", openPasswordDialog, {("password text", "Password"), ("push button", "Unlock")})])


if __name__ == "__main__":
    unittest.main()

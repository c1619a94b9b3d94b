"""What a screen reader finds in Halcyra's windows over AT-SPI (the real accessibility bus and
registry): every control named, every button with an action. Each look runs
accessibility_tree.py in a process of its own."""

import json
import subprocess
import unittest
from pathlib import Path

from test_application import SERVICE, ApplicationTestCase, stopProcess, waitFor

HERE = Path(__file__).resolve().parent


def accessibilityBusAnswers():
    return subprocess.run(["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus",
                           "--method", "org.a11y.Bus.GetAddress"], capture_output=True, timeout=20).returncode == 0


def look(title):
    output = subprocess.run(["/usr/bin/python3", str(HERE / "accessibility_tree.py"), title],
                            capture_output=True, text=True, timeout=60).stdout
    return json.loads(output) if output.strip() else {"missing": title, "seen": []}


def activateAction(name):
    subprocess.run(["gdbus", "call", "--session", "--dest", "com.ashgrove.Halcyra", "--object-path", "/com/ashgrove/Halcyra",
                    "--method", "org.gtk.Actions.Activate", name, "[]", "{}"], capture_output=True, timeout=20)


# Each window, how to open it, and controls a screen reader must find there by name.
WINDOWS = [
    ("Ashgrove Workday", None, {("push button", "Back"), ("push button", "Home"), ("push button", "Main Menu")}),
    ("Settings", "preferences", set()),
]


class ScreenReader(ApplicationTestCase):
    def setUp(self):
        super().setUp()
        # The bus launcher starts the registry on demand; GTK finds the bus through it.
        launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stopProcess, launcher)
        waitFor(accessibilityBusAnswers, limit=20, what="the accessibility bus")

    def checkWindows(self):
        self.application.launch()
        for title, action, expected in WINDOWS:
            with self.subTest(window=title):
                if action:
                    activateAction(action)
                found = waitFor(lambda: (lambda tree: tree if tree.get("controls") else None)(look(title)),
                                limit=60, what="the %s window over AT-SPI" % title)
                self.assertEqual(found["problems"], [], title)
                names = {(control["role"], control["name"]) for control in found["controls"]}
                self.assertLessEqual(expected, names, title)

    def test_everyControlIsNamedOnAFirstLaunch(self):
        self.checkWindows()

    def test_everyControlIsNamedWithSavedCredentials(self):
        subprocess.run(["secret-tool", "store", "--label=Workday SSO credentials", *SERVICE],
                       input=b'{"username":"demo","password":"ashgrove-demo"}', check=True)
        self.checkWindows()


if __name__ == "__main__":
    unittest.main()

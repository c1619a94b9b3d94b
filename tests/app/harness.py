"""Halcyra as a user meets it: the real application on a virtual display, a private keyring, the
demo tenant. Each test gets a new home folder, a tenant whose Duo approves at once, and the
application to launch (run through tests/app/run-tests: display and services included)."""

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
from support import Tenant, stopProcess  # noqa: E402,F401

APPLICATION = Path(os.environ.get("HALCYRA_BINARY", REPOSITORY / "build" / "bin" / "halcyra"))
SERVICE = ["service", "com.ashgrove.workday.sso", "account", "ashgrove-ss"]
HALCYRA = ("com.ashgrove.Halcyra", "/com/ashgrove/Halcyra")
NONE_WAITING = (None, "(uint32 0,)\n")


def waitFor(condition, limit=120.0, what="condition"):
    """Waits for real pages and processes with a time limit (a limit, not a measurement)."""
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


def gdbus(bus, name, path, method, *arguments):
    """One D-Bus call on the system bus or the bus at an address; its printed answer, or None."""
    where = ["--system"] if bus == "system" else ["--address", bus]
    result = subprocess.run(["gdbus", "call", *where, "--dest", name, "--object-path", path, "--method", method, *arguments],
                            capture_output=True, text=True, timeout=20)
    return result.stdout if result.returncode == 0 else None


def polkit(method, *arguments):
    """The test's polkit authority: Reset, WaitingCount, Answer(authorized, asks for a password)."""
    return gdbus("system", "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
                 "org.freedesktop.DBus.Mock." + method, *arguments)


def waitForUnlockPrompt(what="the unlock prompt"):
    waitFor(lambda: polkit("WaitingCount") not in NONE_WAITING, limit=30, what=what)


def look():
    """The application's windows as a screen reader reads them (see accessibility_tree.py), from a
    new process each time: pyatspi keeps the tree of its first look."""
    result = subprocess.run(["/usr/bin/python3", str(HERE / "accessibility_tree.py")], capture_output=True, text=True, timeout=60)
    return json.loads(result.stdout) if result.returncode == 0 and result.stdout.strip() else []


def homeServedCount(tenant):
    return tenant.log().count("GET /ashgrove/d/home.htmld -> 200")


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
        path = self.home / "halcyra.log"
        return path.read_text(errors="replace") if path.exists() else ""

    def settings(self):
        return json.loads(self.settingsPath.read_text()) if self.settingsPath.exists() else {}

    def writeSettings(self, values):
        self.settingsPath.parent.mkdir(parents=True, exist_ok=True)
        self.settingsPath.write_text(json.dumps(values))

    def activate(self, action):
        """An action of the application's, as a desktop shell activates it."""
        return gdbus(self.sessionBus, *HALCYRA, "org.gtk.Actions.Activate", action, "[]", "{}")

    def windows(self):
        return visibleWindows("Ashgrove Workday")

    def waitForWindows(self, what):
        """The application's visible windows, once there is one. A timeout says which windows the
        display shows and what the application logged last, so that a rare failure can be read."""
        try:
            return waitFor(self.windows, what=what)
        except AssertionError as error:
            shown = [xdotool("getwindowname", window).stdout.strip() for window in xdotool("search", "--onlyvisible", "--name", ".").stdout.split()]
            raise AssertionError("%s; windows shown: %s; the log ends:\n%s" % (error, shown, "\n".join(self.log().splitlines()[-30:]))) from None

    def waitForOneWindow(self, what):
        # xdotool misses windows that change while it searches: wait for one, then count.
        return len(self.waitForWindows(what))


class ApplicationTestCase(unittest.TestCase):
    def setUp(self):
        self.home = Path(tempfile.mkdtemp(prefix="halcyra-app-test-"))
        self.addCleanup(shutil.rmtree, self.home, ignore_errors=True)
        self.tenant = Tenant().start()
        self.addCleanup(self.tenant.cleanUp)
        self.tenant.set("/duo", {"mode": "approve", "delayMs": 300})
        subprocess.run(["secret-tool", "clear", *SERVICE], capture_output=True)
        self.application = Application(self.tenant, self.home)
        self.addCleanup(self.application.quit)

    def start(self, command, **options):
        """A helper process that ends with the test."""
        process = subprocess.Popen(command, **{"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, **options})
        self.addCleanup(stopProcess, process)
        return process

    def saveCredentials(self):
        subprocess.run(["secret-tool", "store", "--label=Workday SSO credentials", *SERVICE],
                       input=b'{"username":"demo","password":"ashgrove-demo"}', check=True)

    def startAccessibilityBus(self):
        """The accessibility bus, as a desktop session starts it. It is waited for by name (asking
        it for the bus would start a second one through D-Bus); its registry must answer before
        the application starts, or the application never joins it: the first look starts it."""
        self.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        waitFor(lambda: "true" in (gdbus(self.application.sessionBus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                         "org.freedesktop.DBus.NameHasOwner", "org.a11y.Bus") or ""),
                limit=20, what="the accessibility bus")
        look()

"""The lock at launch, when Workday remembers the session across restarts: Workday content is
shown only after system authentication unless the keyring says for certain that no credentials
are saved. Whether the window is locked is seen as a user sees it: asking the window for the
roster page brings up the polkit prompt (answered by the test's polkit authority) only while
the gate is shown."""

import json
import subprocess
import unittest

from test_application import SERVICE, ApplicationTestCase, HERE, homeServedCount, stopProcess, waitFor

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_type="method_call"/>
<allow send_type="signal"/><allow send_type="method_return"/><allow send_type="error"/>
<allow receive_type="method_call"/><allow receive_type="signal"/><allow receive_type="method_return"/>
<allow receive_type="error"/></policy></busconfig>"""


def gdbus(bus, *arguments):
    result = subprocess.run(["gdbus", "call", *bus, *arguments], capture_output=True, text=True, timeout=20)
    return result.stdout if result.returncode == 0 else None


def polkit(method, *arguments):
    return gdbus(["--system"], "--dest", "org.freedesktop.PolicyKit1", "--object-path", "/org/freedesktop/PolicyKit1/Authority",
                 "--method", "org.freedesktop.DBus.Mock." + method, *arguments)


class LockAtLaunch(ApplicationTestCase):
    def setUp(self):
        super().setUp()
        self.tenant.set("/persistent-sessions", {"on": True})
        polkit("Reset")

    def signInAndQuit(self):
        """An automatic sign-in whose Workday session outlives the application."""
        subprocess.run(["secret-tool", "store", "--label=Workday SSO credentials", *SERVICE],
                       input=b'{"username":"demo","password":"ashgrove-demo"}', check=True)
        self.application.launch()
        waitFor(lambda: homeServedCount(self.tenant) >= 1, what="the home page")
        self.application.quit()
        self.servedBefore = homeServedCount(self.tenant)

    def startSecretService(self, mode):
        """A session bus of its own with a Secret Service that never gives a secret."""
        socket = self.home / ("bus-" + mode)
        config = self.home / ("bus-%s.conf" % mode)
        config.write_text(BUS_CONFIG % socket)
        bus = subprocess.Popen(["dbus-daemon", "--nofork", "--nosyslog", "--config-file=" + str(config)])
        self.addCleanup(stopProcess, bus)
        waitFor(socket.exists, limit=10, what="the session bus")
        self.application.sessionBus = "unix:path=%s" % socket
        environment = {"DBUS_SESSION_BUS_ADDRESS": self.application.sessionBus, "PATH": "/usr/bin:/bin"}
        service = subprocess.Popen(["/usr/bin/python3", "-m", "dbusmock", "--template", str(HERE / "secret_service.py"),
                                    "--parameters", json.dumps({"mode": mode})], env=environment,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stopProcess, service)
        waitFor(lambda: self.secretService("HeldCount"), limit=20, what="the Secret Service")
        return service

    def secretService(self, method):
        return gdbus(["--address", self.application.sessionBus], "--dest", "org.freedesktop.secrets",
                     "--object-path", "/org/freedesktop/secrets", "--method", "org.freedesktop.DBus.Mock." + method)

    def assertLocked(self, why):
        """The roster page waits for the owner to authenticate; the prompt is refused again."""
        self.assertIsNotNone(gdbus(["--address", self.application.sessionBus], "--dest", "com.ashgrove.Halcyra",
                                   "--object-path", "/com/ashgrove/Halcyra", "--method", "org.gtk.Actions.Activate",
                                   "course-roster", "[]", "{}"))
        waitFor(lambda: polkit("WaitingCount") not in (None, "(uint32 0,)\n"), limit=30, what="the unlock prompt: " + why)
        polkit("Answer", "false", "false")

    def test_aRememberedSessionStartedHiddenWithoutSavedCredentialsOpensLocked(self):
        self.signInAndQuit()
        subprocess.run(["secret-tool", "clear", *SERVICE], check=True)
        self.application.writeSettings({"hideOnLaunch": True})
        self.application.launch()
        waitFor(lambda: homeServedCount(self.tenant) > self.servedBefore, what="the remembered home page")
        self.assertEqual(self.application.windows(), [])
        self.application.launchAgain()
        waitFor(self.application.windows, what="the window")
        self.assertLocked("a window made after the home page was reached")
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)

    def test_aKeyringThatRefusesOrNeverAnswersKeepsWorkdayLocked(self):
        # A refusing keyring, before any sign-in: the CAS form stays behind the gate too.
        testSessionBus = self.application.sessionBus
        self.startSecretService("refuse")
        self.application.launch()
        waitFor(lambda: "[Keychain] load credentials failed" in self.application.log(), what="the refusal")
        self.assertLocked("the keyring refused")
        self.application.quit()

        # A keyring that never answers while the remembered session reaches Workday, and then
        # goes away without answering.
        self.application.sessionBus = testSessionBus
        self.signInAndQuit()
        service = self.startSecretService("silent")
        self.application.launch()
        waitFor(lambda: homeServedCount(self.tenant) > self.servedBefore, what="the remembered home page")
        waitFor(lambda: self.secretService("HeldCount") not in (None, "(uint32 0,)\n"), what="a question to the keyring")
        self.assertLocked("the keyring has not answered")
        failuresBefore = self.application.log().count("[Keychain] load credentials failed")
        stopProcess(service)
        waitFor(lambda: self.application.log().count("[Keychain] load credentials failed") > failuresBefore,
                what="the keyring's failure")
        self.assertLocked("the keyring went away without answering")


if __name__ == "__main__":
    unittest.main()

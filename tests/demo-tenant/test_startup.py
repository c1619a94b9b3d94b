"""Starting and stopping the tenant, its start line and its certificate."""

import json
import os
import signal
import subprocess
import tempfile
import unittest
from pathlib import Path

from support import RUN, Browser, Tenant


class StartupTests(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory(prefix="demo-tenant-start-")
        self.addCleanup(folder.cleanup)
        self.stateDir = Path(folder.name)

    def startTenant(self, stateDir=None):
        tenant = Tenant(stateDir or self.stateDir)
        self.addCleanup(tenant.stop)
        return tenant.start()

    def assertServes(self, tenant):
        browser = Browser(tenant)
        self.addCleanup(browser.close)
        self.assertEqual(browser.get("https://login.ashgrove.test/cas/login").status_code, 200)

    def test_startLineStopRequestsAndTheCertificateAcrossRestarts(self):
        first = self.startTenant()
        info = json.loads(first.startLine)
        self.assertRegex(info["proxy"], r"^127\.0\.0\.1:\d+$")
        self.assertRegex(info["control"], r"^127\.0\.0\.1:\d+$")
        self.assertEqual(info["config"], str(self.stateDir.resolve() / "halcyra.conf"))
        certificate = first.certPath.read_bytes()
        # Ctrl-C reaches the tenant and the demo script's own stop right after it, a tunnel still open.
        self.assertServes(first)
        for signalNumber in (signal.SIGINT, signal.SIGINT, signal.SIGTERM):
            first.process.send_signal(signalNumber)
        self.assertEqual(first.process.wait(10), 0)
        self.assertEqual(first.process.stderr.read(), b"")

        again = self.startTenant()
        self.assertEqual(again.certPath.read_bytes(), certificate)
        self.assertEqual(again.stop(), 0)
        (self.stateDir / "tls" / "key.pem").write_text("not a key")
        self.assertServes(self.startTenant())

    def test_twoInstancesRunSideBySideAndStartFailuresAreClearErrors(self):
        other = tempfile.TemporaryDirectory(prefix="demo-tenant-start-")
        self.addCleanup(other.cleanup)
        first, second = self.startTenant(), self.startTenant(Path(other.name))
        first.set("/counts", {"task": 1})
        second.set("/counts", {"task": 2})
        self.assertEqual((first.state()["counts"]["task"], second.state()["counts"]["task"]), (1, 2))
        self.assertServes(second)
        cases = (
            ({"HALCYRA_DEMO_DATA": str(self.stateDir / "nowhere")}, [], "roster.json"),
            ({}, ["--proxy-port", str(first.proxy[1])], "cannot listen"),
        )
        for extraEnvironment, arguments, message in cases:
            with self.subTest(message=message):
                result = subprocess.run([str(RUN), "--state-dir", str(self.stateDir / "other"), *arguments],
                                        capture_output=True, text=True, timeout=20,
                                        env=dict(os.environ, **extraEnvironment))
                self.assertNotEqual(result.returncode, 0)
                self.assertEqual(result.stdout, "")
                self.assertIn(message, result.stderr)


if __name__ == "__main__":
    unittest.main()

"""Starting and stopping the tenant, its start line, certificate and application configuration."""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import unittest
from pathlib import Path

from support import RUN, Browser, Tenant

HOSTS = ["workday.ashgrove.test", "webapps.ashgrove.test", "login.ashgrove.test", "shib.ashgrove.test",
         "api-d3m0.duosecurity.test", "wd5.myworkday.test", "wd5.identity.myworkday.test"]


class StartupTests(unittest.TestCase):
    def setUp(self):
        self.stateDir = Path(tempfile.mkdtemp(prefix="demo-tenant-start-"))
        self.addCleanup(shutil.rmtree, self.stateDir, True)

    def startTenant(self, stateDir=None, env=None):
        tenant = Tenant(stateDir or self.stateDir, env=env)
        self.addCleanup(tenant.stop)
        return tenant.start()

    def test_startLineNamesProxyControlAndConfigAndComesWithinTwoSeconds(self):
        tenant = self.startTenant()
        self.assertLess(tenant.startSeconds, 2.0)
        info = json.loads(tenant.startLine)
        self.assertEqual(list(info), ["proxy", "control", "config"])
        self.assertRegex(info["proxy"], r"^127\.0\.0\.1:\d+$")
        self.assertRegex(info["control"], r"^127\.0\.0\.1:\d+$")
        self.assertEqual(info["config"], str(self.stateDir.resolve() / "halcyra.conf"))
        self.assertEqual(tenant.stop(), 0, "SIGTERM must end the tenant cleanly")

    def test_repeatedStopRequestsWithOpenTunnelsEndTheTenantQuietly(self):
        # Ctrl-C reaches the tenant and the demo script's own stop right after it.
        tenant = self.startTenant()
        browser = Browser(tenant)
        self.addCleanup(browser.close)
        self.assertEqual(browser.get("https://login.ashgrove.test/cas/login").status, 200)
        for signalNumber in (signal.SIGINT, signal.SIGINT, signal.SIGTERM):
            tenant.process.send_signal(signalNumber)
        self.assertEqual(tenant.process.wait(10), 0)
        self.assertEqual(tenant.process.stderr.read(), b"")

    def test_configurationNamesTheHostsTheProxyAndTheCertificate(self):
        tenant = self.startTenant()
        config = json.loads(tenant.configPath.read_text())
        self.assertEqual(config["endpoints"], {
            "entryHost": "workday.ashgrove.test", "webappsHost": "webapps.ashgrove.test",
            "ssoHost": "login.ashgrove.test", "shibbolethHost": "shib.ashgrove.test",
            "duoDomain": "duosecurity.test", "workdayDomain": "myworkday.test",
            "tenantHost": "wd5.myworkday.test", "identityHost": "wd5.identity.myworkday.test"})
        self.assertEqual(config["proxy"], "http://%s:%d" % tenant.proxy)
        [certificate] = config["trustedCertificates"]
        self.assertTrue(Path(certificate["file"]).is_absolute())
        self.assertEqual(Path(certificate["file"]), tenant.certPath.resolve())
        self.assertTrue(set(HOSTS) <= set(certificate["hosts"]))
        self.assertEqual(config["sync"], {"url": "", "user": ""})
        self.assertEqual(config["updateFeedURL"], "")

    def test_certificateCoversEveryHostAndIsKeptAcrossRestarts(self):
        tenant = self.startTenant()
        text = subprocess.run(["openssl", "x509", "-in", str(tenant.certPath), "-noout", "-text"],
                              capture_output=True, text=True, check=True).stdout
        for host in HOSTS:
            self.assertIn("DNS:" + host, text)
        first = tenant.certPath.read_bytes()
        tenant.stop()
        again = self.startTenant()
        self.assertEqual(again.certPath.read_bytes(), first)
        browser = Browser(again)
        self.addCleanup(browser.close)
        self.assertEqual(browser.get("https://login.ashgrove.test/cas/login").status, 200)

    def test_damagedCertificateIsMadeAgain(self):
        tenant = self.startTenant()
        tenant.stop()
        (self.stateDir / "tls" / "key.pem").write_text("not a key")
        again = self.startTenant()
        browser = Browser(again)
        self.addCleanup(browser.close)
        self.assertEqual(browser.get("https://login.ashgrove.test/cas/login").status, 200)

    def test_twoInstancesRunSideBySide(self):
        first = self.startTenant()
        otherDir = Path(tempfile.mkdtemp(prefix="demo-tenant-start-"))
        self.addCleanup(shutil.rmtree, otherDir, True)
        second = self.startTenant(otherDir)
        self.assertNotEqual(first.proxy, second.proxy)
        first.set("/counts", {"task": 1})
        second.set("/counts", {"task": 2})
        self.assertEqual(first.state()["counts"]["task"], 1)
        self.assertEqual(second.state()["counts"]["task"], 2)

    def test_missingDemoDataIsAClearErrorNotACrash(self):
        env = dict(os.environ, HALCYRA_DEMO_DATA=str(self.stateDir / "nowhere"))
        result = subprocess.run([str(RUN), "--state-dir", str(self.stateDir)], capture_output=True, text=True,
                                env=env, timeout=20)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stdout, "")
        self.assertIn("roster.json", result.stderr)

    def test_busyPortIsAClearError(self):
        tenant = self.startTenant()
        result = subprocess.run([str(RUN), "--state-dir", str(self.stateDir / "other"), "--proxy-port",
                                 str(tenant.proxy[1])], capture_output=True, text=True, timeout=20)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("cannot listen", result.stderr)


if __name__ == "__main__":
    unittest.main()

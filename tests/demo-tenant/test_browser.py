"""The tenant's pages in a real engine: WebKitGTK, through the proxy, under Xvfb.

Screenshots of the home and roster pages are left in build/test-output/demo-tenant/ (or in
$DEMO_TENANT_TEST_OUTPUT).
"""

import json
import os
import shutil
import subprocess
import unittest
from pathlib import Path

from support import REPOSITORY, Tenant

HERE = Path(__file__).resolve().parent
OUTPUT = Path(os.environ.get("DEMO_TENANT_TEST_OUTPUT") or REPOSITORY / "build" / "test-output" / "demo-tenant")


def webkitMissing():
    if not shutil.which("xvfb-run"):
        return "xvfb-run is not installed"
    probe = subprocess.run(["/usr/bin/python3", "-c", "import gi; gi.require_version('WebKit', '6.0');"
                            "gi.require_version('Gtk', '4.0'); from gi.repository import WebKit"],
                           capture_output=True, text=True)
    return "WebKitGTK 6.0 for Python is not installed" if probe.returncode else None


@unittest.skipIf(webkitMissing(), webkitMissing())
class RealEngineTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tenant = Tenant().start()
        OUTPUT.mkdir(parents=True, exist_ok=True)
        for name in ("home.png", "roster.png"):
            (OUTPUT / name).unlink(missing_ok=True)
        result = subprocess.run(
            ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "/usr/bin/python3", str(HERE / "browser_check.py"),
             "--proxy", "%s:%d" % cls.tenant.proxy, "--control", "%s:%d" % cls.tenant.controlAddress,
             "--cert", str(cls.tenant.certPath), "--out", str(OUTPUT)],
            capture_output=True, text=True, timeout=240)
        cls.facts = {"error": "no result (exit %d); stdout: %s; stderr: %s"
                              % (result.returncode, result.stdout[-1000:], result.stderr[-2000:])}
        for line in reversed(result.stdout.splitlines()):
            if line.startswith("{"):
                try:
                    cls.facts = json.loads(line)
                    break
                except ValueError:
                    pass

    @classmethod
    def tearDownClass(cls):
        cls.tenant.cleanUp()

    def fact(self, name):
        self.assertIn(name, self.facts, "the browser stopped early: %s" % self.facts.get("error"))
        return self.facts[name]

    def test_signInChainRunsByItselfAfterThePasswordIsSubmitted(self):
        self.assertTrue(self.fact("casUrl").startswith("https://login.ashgrove.test/cas/login?service="))
        self.assertTrue(self.fact("formMissingAtLoad"), "the CAS form must appear after the page has loaded")
        self.assertTrue(self.fact("formSubmitIsShadowed"), "the button named submit hides form.submit")
        self.assertTrue(self.fact("errorShownInForm"))
        self.assertTrue(self.fact("duoUrl").startswith("https://api-d3m0.duosecurity.test/"))
        self.assertRegex(self.fact("duoReturnUrl"), r"/cas/login\?state=[^&]+&duo_code=")
        self.assertTrue(self.fact("reachedHome"))
        self.assertEqual(self.fact("afterExpiry"), "https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld")

    def test_rememberDevicePromptCanBeAnsweredInThePage(self):
        self.assertEqual(self.fact("rememberDevice"), {"shown": 1, "submitted": 1, "trusted": 1})

    def test_homeShowsTheBadgesTheBannerClosesAndTheInboxBadgeNavigates(self):
        self.assertEqual(self.fact("homeBadges"), ["4", ""])
        self.assertGreater(self.fact("homeBodyLength"), 1000)
        self.assertTrue(self.fact("bannerClosed"))
        self.assertEqual(self.fact("inboxUrl"), "https://wd5.myworkday.test/ashgrove/d/inbox/2998$1.htmld")

    def test_expensePagesRenderAfterLoadAndShowTheirCounts(self):
        self.assertTrue(self.fact("hubEmptyAtLoad"), "tenant pages must render after the load has finished")
        self.assertEqual(self.fact("prepaidHeading"), "Credit Card Transactions (3)")
        self.assertEqual(self.fact("grid"), {"label": "(2 items)", "rows": 2, "status": ["Draft", "Draft"]})

    def test_rosterRecyclesAtMostTwentyRowsAndScrollingRevealsEveryRow(self):
        self.assertTrue(self.fact("rosterTitle").startswith("View Course Section Detailed Roster"))
        roster = self.fact("roster")
        self.assertLessEqual(roster["mostRows"], 20)
        self.assertTrue(roster["recycled"], "row elements must be reused while scrolling")
        self.assertEqual(roster["label"], "37 items")
        # Every row but the one without names, which readers skip.
        self.assertEqual(roster["rows"], 36)
        self.assertGreater(roster["images"], 0)
        self.assertGreater(roster["backgrounds"], 0)
        self.assertEqual(roster["loadedImages"], roster["images"] - 1, "all but the text file load as images")
        self.assertEqual((roster["photoStatus"], roster["photoType"]), (200, "image/jpeg"))
        generated = self.fact("generatedRoster")
        self.assertEqual(generated["read"]["rows"], generated["expectedRows"])
        self.assertLessEqual(generated["read"]["mostRows"], 20)

    def test_screenshotsOfHomeAndRosterAreWritten(self):
        self.fact("roster")
        for name in ("home.png", "roster.png"):
            data = (OUTPUT / name).read_bytes()
            self.assertTrue(data.startswith(b"\x89PNG"), name)
            self.assertGreater(len(data), 10000, name)


if __name__ == "__main__":
    unittest.main()

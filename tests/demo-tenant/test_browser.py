"""The tenant's pages in a real engine: WebKitGTK, through the proxy, under Xvfb.

Screenshots of the home and roster pages are left in build/test-output/demo-tenant/ (or in
$DEMO_TENANT_TEST_OUTPUT).
"""

import json
import os
import subprocess
import unittest
from pathlib import Path

from support import REPOSITORY, Tenant

HERE = Path(__file__).resolve().parent
OUTPUT = Path(os.environ.get("DEMO_TENANT_TEST_OUTPUT") or REPOSITORY / "build" / "test-output" / "demo-tenant")


class RealEngineTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tenant = Tenant().start()
        OUTPUT.mkdir(parents=True, exist_ok=True)
        result = subprocess.run(
            ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "/usr/bin/python3", str(HERE / "browser_check.py"),
             "%s:%d" % cls.tenant.proxy, "%s:%d" % cls.tenant.controlAddress, str(cls.tenant.certPath), str(OUTPUT)],
            capture_output=True, text=True, timeout=240)
        lines = [line for line in result.stdout.splitlines() if line.startswith("{")]
        cls.facts = json.loads(lines[-1]) if lines else {"error": "no result (exit %d); stdout: %s; stderr: %s" % (
            result.returncode, result.stdout[-1000:], result.stderr[-2000:])}

    @classmethod
    def tearDownClass(cls):
        cls.tenant.cleanUp()

    def fact(self, name):
        self.assertIn(name, self.facts, "the browser stopped early: %s" % self.facts.get("error"))
        return self.facts[name]

    def test_casFormHidesTheFormsOwnSubmitAsRealCasDoes(self):
        self.assertTrue(self.fact("formSubmitIsShadowed"))

    def test_homeBadgesRenderAndTheReportGridShowsItsRowsInAVisiblePage(self):
        self.assertEqual(self.fact("homeBadges"), ["4", ""])
        self.assertEqual(self.fact("grid"), {"label": "(2 items)", "rows": 2})

    def test_rosterRecyclesAtMostTwentyRowsAndScrollingRevealsEveryRow(self):
        self.assertTrue(self.fact("rosterTitle").startswith("View Course Section Detailed Roster"))
        roster = self.fact("roster")
        self.assertLessEqual(roster["mostRows"], 20)
        self.assertTrue(roster["recycled"], "row elements must be reused while scrolling")
        self.assertEqual(roster["label"], "37 items")
        # Every row but the one without names, which readers skip.
        self.assertEqual(roster["rows"], 36)
        self.assertGreater(roster["backgrounds"], 0)
        self.assertEqual(roster["loadedImages"], roster["images"] - 1, "all but the text file load as images")
        self.assertEqual((roster["photoStatus"], roster["photoType"]), (200, "image/jpeg"))
        self.assertEqual(self.fact("generatedRoster")["rows"], self.fact("generatedRows"))
        self.assertLessEqual(self.fact("generatedRoster")["mostRows"], 20)


if __name__ == "__main__":
    unittest.main()

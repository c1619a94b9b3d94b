"""The control API that tests and `make demo` use to steer the tenant."""

import json
import unittest

from support import TenantTestCase, rosterRows, signIn

ROSTER = "https://wd5.myworkday.test/ashgrove/d/task/1422$2579.htmld"


class ControlApiTests(TenantTestCase):
    def test_countsChangeOnlyTheGivenKeys(self):
        state = self.tenant.set("/counts", {"task": 5, "prepaid": "absent", "notification": None})
        self.assertEqual(state["counts"], {"task": 5, "notification": None, "prepaid": "absent", "draft": 1})

    def test_badCallsAreRefusedWithAMessageAndChangeNothing(self):
        wrongRoster = self.tenant.stateDir / "wrong-roster.json"
        wrongRoster.write_text(json.dumps({"students": [{"first": 5}]}))
        cases = (
            ("POST", "/counts", b"{not json", 400),
            ("POST", "/counts", b'{"tasks": 3}', 400),
            ("POST", "/counts", b'{"draft": -1}', 400),
            ("POST", "/counts", b'{"prepaid": "lots"}', 400),
            ("POST", "/reject", b'{"mode": "loud"}', 400),
            ("POST", "/duo", b'{"delayMs": "soon"}', 400),
            ("POST", "/offline", b'{"offline": "yes"}', 400),
            ("POST", "/broken-flow", b"{}", 400),
            ("POST", "/persistent-sessions", b'{"on": 1}', 400),
            ("POST", "/account", b'{"username": "demo"}', 400),
            ("POST", "/roster", b'{"generate": -5}', 400),
            ("POST", "/roster", b'{"file": "/no/such/roster.json"}', 400),
            ("POST", "/roster", json.dumps({"file": str(wrongRoster)}).encode(), 400),
            ("POST", "/nothing", b"{}", 404),
            ("POST", "/state", b"{}", 405),
            ("GET", "/counts", None, 405),
        )
        before = self.tenant.state()
        for method, path, raw, status in cases:
            with self.subTest(path=path, body=raw):
                answer = self.tenant.control(path, method=method, raw=raw)
                self.assertEqual(answer[0], status)
                if status == 400:
                    self.assertTrue(answer[1]["error"])
        self.assertEqual(self.tenant.state(), before)

    def test_resetRestoresEverything(self):
        before = self.tenant.state()
        signIn(self.browser, self.tenant)
        for path, body in (("/counts", {"task": 9}), ("/reject", {"mode": "401"}), ("/duo", {"mode": "hold"}),
                           ("/broken-flow", {"on": True}), ("/remember-device", {"on": True}),
                           ("/persistent-sessions", {"on": True}),
                           ("/account", {"username": "x", "password": "y"}), ("/roster", {"generate": 3})):
            self.tenant.set(path, body)
        self.assertEqual(self.tenant.set("/reset"), before)

    def test_rosterFromAnotherFileAndBackToTheDemoRoster(self):
        file = self.tenant.stateDir / "other-roster.json"
        file.write_text(json.dumps({"course": "HIST 201", "students": [
            {"studentId": "9", "first": "Ana", "last": "Lima", "email": "a@ashgrove.test", "classOf": "2027",
             "programs": "History (BA)", "sections": ["HIST 201-01 Modern Europe"], "photo": None, "photoStyle": None}]}))
        self.tenant.set("/roster", {"file": str(file)})
        signIn(self.browser, self.tenant)
        self.assertEqual([row[3:5] for row in rosterRows(self.browser)], [["Ana", "Lima"]])
        self.assertIn("HIST 201", self.browser.get(ROSTER).text)
        generated = self.tenant.set("/roster", {"generate": 120})["modes"]["roster"]["rows"]
        self.assertEqual(len(rosterRows(self.browser)), generated)
        self.tenant.set("/roster", {})
        self.assertEqual(len({row[2] for row in rosterRows(self.browser) if row[2]}), 28)


if __name__ == "__main__":
    unittest.main()

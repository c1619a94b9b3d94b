"""The control API that tests and `make demo` use to steer the tenant."""

import json
import re
import tempfile
import unittest
from pathlib import Path

from support import TenantTestCase, signIn

ROSTER = "https://wd5.myworkday.test/ashgrove/d/task/1422$2579.htmld"


class ControlApiTests(TenantTestCase):
    def test_stateHasTheDocumentedShape(self):
        state = self.tenant.state()
        self.assertEqual(state["counts"], {"task": 3, "notification": 2, "prepaid": 2, "draft": 1})
        self.assertEqual((state["sessions"], state["passwordSubmissions"], state["lastUsername"]), (0, 0, ""))
        self.assertEqual(state["modes"]["reject"], "form-error")
        self.assertEqual(state["modes"]["duo"], "approve")
        self.assertEqual(state["modes"]["duoDelayMs"], 1500)
        self.assertFalse(state["modes"]["offline"])

    def test_everyCallAnswersTheState(self):
        for path, body in (("/counts", {"task": 9}), ("/expire-sessions", {}), ("/reject", {"mode": "401"}),
                           ("/duo", {"mode": "hold"}), ("/broken-flow", {"on": True}),
                           ("/remember-device", {"on": True}), ("/account", {"username": "a", "password": "b"}),
                           ("/roster", {}), ("/offline", {"offline": False}), ("/reset", {})):
            with self.subTest(path=path):
                status, state = self.tenant.control(path, body)
                self.assertEqual(status, 200)
                self.assertIn("passwordSubmissions", state)

    def test_countsChangeOnlyTheGivenKeys(self):
        state = self.tenant.set("/counts", {"task": 5, "prepaid": "absent", "notification": None})
        self.assertEqual(state["counts"], {"task": 5, "notification": None, "prepaid": "absent", "draft": 1})

    def test_badInputIsRefusedWithAMessageAndChangesNothing(self):
        cases = (
            ("/counts", b"{not json"),
            ("/counts", b"[1, 2]"),
            ("/counts", b'{"tasks": 3}'),
            ("/counts", b'{"draft": -1}'),
            ("/counts", b'{"prepaid": "lots"}'),
            ("/counts", b'{"draft": true}'),
            ("/reject", b'{"mode": "loud"}'),
            ("/duo", b'{"delayMs": "soon"}'),
            ("/duo", b"{}"),
            ("/offline", b'{"offline": "yes"}'),
            ("/broken-flow", b"{}"),
            ("/account", b'{"username": "demo"}'),
            ("/roster", b'{"generate": -5}'),
            ("/roster", b'{"generate": 5, "file": "x"}'),
            ("/roster", b'{"file": "/no/such/roster.json"}'),
        )
        before = self.tenant.state()
        for path, raw in cases:
            with self.subTest(path=path, body=raw):
                status, answer = self.tenant.control(path, raw=raw)
                self.assertEqual(status, 400)
                self.assertTrue(answer["error"])
        self.assertEqual(self.tenant.state(), before)

    def test_unknownCallAndWrongMethodAreRefused(self):
        self.assertEqual(self.tenant.control("/nothing", {})[0], 404)
        self.assertEqual(self.tenant.control("/state", {}, method="POST")[0], 405)
        self.assertEqual(self.tenant.control("/counts", method="GET")[0], 405)

    def test_resetRestoresEverything(self):
        signIn(self.browser, self.tenant)
        for path, body in (("/counts", {"task": 9}), ("/reject", {"mode": "401"}), ("/duo", {"mode": "hold"}),
                           ("/broken-flow", {"on": True}), ("/remember-device", {"on": True}),
                           ("/account", {"username": "x", "password": "y"}), ("/roster", {"generate": 3})):
            self.tenant.set(path, body)
        state = self.tenant.set("/reset")
        fresh = self.tenant.state()
        self.assertEqual(state, fresh)
        self.assertEqual((fresh["sessions"], fresh["passwordSubmissions"]), (0, 0))
        self.assertEqual(fresh["modes"]["duo"], "approve")
        self.assertEqual(fresh["modes"]["roster"]["students"], 30)
        self.assertEqual(fresh["counts"]["task"], 3)


class RosterControlTests(TenantTestCase):
    def rosterRows(self):
        page = self.browser.get(ROSTER)
        return json.loads(re.search(r'id="wd-roster-data">(.*?)</script>', page.text, re.S).group(1))["rows"]

    def test_generatedRosterHasTheAskedStudentsWithDemoPhotos(self):
        state = self.tenant.set("/roster", {"generate": 200})
        self.assertEqual(state["modes"]["roster"]["students"], 200)
        signIn(self.browser, self.tenant)
        rows = self.rosterRows()
        self.assertEqual(len({row[2] for row in rows}), 200)
        self.assertEqual({row[0] for row in rows}, {"img", "background"})
        photo = self.browser.get(rows[0][1].split("?")[0])
        self.assertEqual(photo.status, 200)
        self.assertTrue(photo.header("Content-Type").startswith("image/"))

    def test_rosterFromAnotherFileAndBackToTheDemoRoster(self):
        with tempfile.TemporaryDirectory() as folder:
            file = Path(folder) / "roster.json"
            file.write_text(json.dumps({"course": "HIST 201", "students": [
                {"studentId": "9", "first": "Ana", "last": "Lima", "email": "a@ashgrove.test", "classOf": "2027",
                 "programs": "History (BA)", "sections": ["HIST 201-01 Modern Europe"], "photo": None,
                 "photoStyle": None}]}))
            self.tenant.set("/roster", {"file": str(file)})
        signIn(self.browser, self.tenant)
        self.assertEqual([row[3:5] for row in self.rosterRows()], [["Ana", "Lima"]])
        self.assertIn("HIST 201", self.browser.get(ROSTER).text)
        self.tenant.set("/roster", {})
        self.assertEqual(len({row[2] for row in self.rosterRows() if row[2]}), 28)

    def test_rosterFileWithWrongFieldsIsRefused(self):
        with tempfile.TemporaryDirectory() as folder:
            file = Path(folder) / "roster.json"
            file.write_text(json.dumps({"students": [{"first": 5}]}))
            status, answer = self.tenant.control("/roster", {"file": str(file)})
        self.assertEqual(status, 400)
        self.assertIn("first", answer["error"])


if __name__ == "__main__":
    unittest.main()

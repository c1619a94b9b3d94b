"""The sign-in chain as the application walks it: entry, CAS, Duo, back to CAS, the Workday
gateway, and the ways each step can go wrong."""

import time
import unittest
import urllib.parse

from support import TenantTestCase, approveDuo, formFields, location, rosterRows, signIn, submitPassword, templateForm

HOME = "https://wd5.myworkday.test/ashgrove/d/home.htmld"
LOGOUT = "https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld"
REPORTS = "https://wd5.myworkday.test/ashgrove/d/reports/"
ERROR_MESSAGE = '<div class="alert alert-danger"'
PASSWORD_FIELD = r'<input[^>]*type="password"'


class SignInChainTests(TenantTestCase):
    def test_wrongPasswordIsAnsweredAsTheRejectModeSaysAndCounted(self):
        for mode, status, showsError in (("form-error", 200, True), ("401", 401, False), ("off", 200, False)):
            with self.subTest(mode=mode):
                self.tenant.set("/reset")
                self.tenant.set("/reject", {"mode": mode})
                answer = submitPassword(self.browser, "not-it", username="jdoe")
                self.assertEqual(answer.status_code, status)
                self.assertEqual(ERROR_MESSAGE in answer.text, showsError)
                if showsError:
                    self.assertRegex(templateForm(answer), r'<form id="fm1".*' + ERROR_MESSAGE)
                    self.assertEqual(formFields(templateForm(answer))["username"], "jdoe")
                if mode == "off":
                    self.assertRegex(templateForm(answer), PASSWORD_FIELD)
                state = self.tenant.state()
                self.assertEqual((state["passwordSubmissions"], state["lastUsername"]), (1, "jdoe"))

    def test_everySubmissionCountsRightOrWrongAgainstTheCurrentAccount(self):
        self.tenant.set("/account", {"username": "demo", "password": "new-secret"})
        self.assertEqual(submitPassword(self.browser, "one").status_code, 200)
        self.assertEqual(submitPassword(self.browser, "ashgrove-demo").status_code, 200)
        self.assertEqual(submitPassword(self.browser, "new-secret").status_code, 302)
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 3)

    def test_duoApprovesAfterItsDelayOrWhenAHoldIsReleased(self):
        for hold, release in (({"delayMs": 60000}, {"delayMs": 0}), ({"mode": "hold", "delayMs": 0}, {"mode": "approve"})):
            with self.subTest(hold=hold):
                self.tenant.set("/duo", hold)
                duoPage = self.browser.get(location(submitPassword(self.browser, "ashgrove-demo")))
                self.assertEqual(urllib.parse.urlsplit(duoPage.url).hostname, "api-d3m0.duosecurity.test")
                self.assertIsNone(approveDuo(self.browser, duoPage))
                self.assertIsNone(approveDuo(self.browser, duoPage))
                self.tenant.set("/duo", release)
                self.assertRegex(approveDuo(self.browser, duoPage),
                                 r"^https://login\.ashgrove\.test/cas/login\?state=[^&]+&duo_code=[^&]+$")


class SessionEndTests(TenantTestCase):
    def test_endedSessionsLeadToTheLogoutPageAndCasAsksForThePasswordAgain(self):
        for end in (lambda: self.tenant.set("/expire-sessions"), lambda: self.browser.get(LOGOUT)):
            self.assertEqual(signIn(self.browser, self.tenant).url, HOME)
            end()
            self.assertEqual(self.tenant.state()["sessions"], 0)
            self.assertEqual(location(self.browser.get(HOME)), LOGOUT)
        self.assertIn('href="https://workday.ashgrove.test/"', self.browser.get(LOGOUT).text)
        # CAS keeps no session of its own: signing in again shows the form, not a shortcut.
        casPage = self.browser.follow(self.browser.get("https://workday.ashgrove.test/"))[-1]
        self.assertRegex(templateForm(casPage), PASSWORD_FIELD)
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 2)

    def test_onlyARememberedSessionOutlivesABrowserRestartAndLeadsFromTheEntryToHome(self):
        for persistent in (False, True):
            with self.subTest(persistent=persistent):
                self.tenant.set("/reset")
                self.assertEqual(self.tenant.set("/persistent-sessions", {"on": persistent})["modes"]["persistentSessions"], persistent)
                browser = self.newBrowser()
                self.assertEqual(signIn(browser, self.tenant).url, HOME)
                cookie = next(c for c in browser.cookies if c.name == "PLAY_SESSION")
                if persistent:
                    self.assertAlmostEqual(cookie.expires - time.time(), 8 * 3600, delta=60)
                else:
                    self.assertIsNone(cookie.expires)
                # A restarted browser keeps only the cookies that carry a lifetime.
                restarted = self.newBrowser()
                for kept in (c for c in browser.cookies if c.expires):
                    restarted.cookies.set_cookie(kept)
                last = restarted.follow(restarted.get("https://workday.ashgrove.test/"))[-1]
                if persistent:
                    self.assertEqual(last.url, HOME)
                else:
                    self.assertRegex(templateForm(last), PASSWORD_FIELD)
                # Without a live session the remembered route still ends at the CAS form.
                self.tenant.set("/expire-sessions")
                last = restarted.follow(restarted.get("https://workday.ashgrove.test/"))[-1]
                self.assertRegex(templateForm(last), PASSWORD_FIELD)
                self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)

    def test_photosAndReportFilesAreServedOnlyWithinASession(self):
        signIn(self.browser, self.tenant)
        photo = next(row[1] for row in rosterRows(self.browser) if row[0] == "img").split("?")[0]
        reports = [REPORTS + name for name in ("summary.pdf", "summary.pdf?download=1", "budget.xlsx")]
        self.assertEqual([self.browser.get(url).status_code for url in [photo, *reports]], [200] * 4)
        self.tenant.set("/expire-sessions")
        self.assertEqual(self.browser.get(photo).status_code, 403)
        for url in reports:
            self.assertEqual(location(self.browser.get(url)), LOGOUT, url)


if __name__ == "__main__":
    unittest.main()

"""The sign-in chain as the application walks it: entry, CAS, Duo, back to CAS, the Workday
gateway, and the ways each step can go wrong."""

import re
import unittest
import urllib.parse

from support import (TenantTestCase, approveDuo, continueLink, formFields, signIn, submitPassword,
                     templateForm)

GATEWAY = "https://wd5.myworkday.test/wday/authgwy/ashgrove/"
HOME = "https://wd5.myworkday.test/ashgrove/d/home.htmld"
LOGOUT = "https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld"
ERROR_MESSAGE = '<div class="alert alert-danger"'
PASSWORD_FIELD = r'<input[^>]*type="password"'


class CasFormTests(TenantTestCase):
    def test_entryRedirectsToCasWithTheWorkdayGatewayAsService(self):
        page = self.browser.get("https://workday.ashgrove.test/")
        self.assertEqual(page.status, 302)
        location = urllib.parse.urlsplit(page.location)
        self.assertEqual((location.scheme, location.hostname, location.path), ("https", "login.ashgrove.test", "/cas/login"))
        service = urllib.parse.parse_qs(location.query)["service"][0]
        self.assertTrue(service.startswith(GATEWAY), service)

    def test_formIsBuiltByScriptFromATemplateWithCasFieldNames(self):
        page = self.browser.follow(self.browser.get("https://workday.ashgrove.test/"))[-1]
        self.assertEqual(page.status, 200)
        body = page.text.split("<body", 1)[1]
        # Until the script runs there is no password field in the document.
        self.assertNotRegex(body, PASSWORD_FIELD)
        self.assertIn("fm1-template", re.search(r"<script>(.*?)</script>", page.text, re.S).group(1))
        form = templateForm(page)
        self.assertRegex(form, r'<form id="fm1" method="post"')
        self.assertRegex(form, r'<input[^>]*name="username"')
        self.assertRegex(form, r'<input[^>]*name="password"[^>]*type="password"')
        self.assertRegex(form, r'<input type="hidden" name="execution" value="[^"]+"')
        self.assertRegex(form, r'<button type="submit" name="submit"')
        self.assertNotIn(ERROR_MESSAGE, form)

    def test_wrongPasswordShowsTheErrorInsideTheFormAndCounts(self):
        answer = submitPassword(self.browser, "not-it", username="jdoe")
        self.assertEqual(answer.status, 200)
        form = templateForm(answer)
        self.assertRegex(form, r'<form id="fm1".*<div class="alert alert-danger"', "the error must sit inside the form")
        self.assertEqual(formFields(form)["username"], "jdoe")
        state = self.tenant.state()
        self.assertEqual(state["passwordSubmissions"], 1)
        self.assertEqual(state["lastUsername"], "jdoe")

    def test_wrongPasswordIn401ModeAnswersUnauthorizedWithoutTheMessage(self):
        self.tenant.set("/reject", {"mode": "401"})
        answer = submitPassword(self.browser, "not-it")
        self.assertEqual(answer.status, 401)
        self.assertNotIn(ERROR_MESSAGE, answer.text)
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 1)

    def test_wrongPasswordWithRejectionOffLooksLikeAFreshForm(self):
        self.tenant.set("/reject", {"mode": "off"})
        answer = submitPassword(self.browser, "not-it")
        self.assertEqual(answer.status, 200)
        self.assertNotIn(ERROR_MESSAGE, answer.text)
        self.assertRegex(templateForm(answer), PASSWORD_FIELD)

    def test_everySubmissionCountsRightOrWrong(self):
        submitPassword(self.browser, "one")
        submitPassword(self.browser, "two")
        submitPassword(self.browser, "ashgrove-demo")
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 3)

    def test_changedAccountRejectsTheOldPassword(self):
        self.tenant.set("/account", {"username": "demo", "password": "new-secret"})
        self.assertEqual(submitPassword(self.browser, "ashgrove-demo").status, 200)
        self.assertEqual(submitPassword(self.browser, "new-secret").status, 302)

    def test_brokenFlowShowsTheWebflowMessageInsteadOfTheForm(self):
        self.tenant.set("/broken-flow", {"on": True})
        page = self.browser.follow(self.browser.get("https://workday.ashgrove.test/"))[-1]
        self.assertIn("Invalid/Unknown Webflow Configuration", page.text)
        self.assertNotIn("fm1", page.text)
        self.assertNotRegex(page.text, PASSWORD_FIELD)
        self.tenant.set("/broken-flow", {"on": False})
        self.assertIn("fm1-template", self.browser.get(page.url).text)


class DuoTests(TenantTestCase):
    def test_rightPasswordGoesToDuoOnTheDuoApiHost(self):
        answer = submitPassword(self.browser, "ashgrove-demo")
        self.assertEqual(answer.status, 302)
        self.assertEqual(urllib.parse.urlsplit(answer.location).hostname, "api-d3m0.duosecurity.test")
        duoPage = self.browser.get(answer.location)
        self.assertEqual(duoPage.status, 200)
        self.assertIn("/frame/v4/status", duoPage.text)

    def test_pushWaitsForItsDelayThenReturnsToCasWithDuoCode(self):
        self.tenant.set("/duo", {"delayMs": 60000})
        duoPage = self.browser.get(submitPassword(self.browser, "ashgrove-demo").location)
        self.assertIsNone(approveDuo(self.browser, duoPage))
        self.tenant.set("/duo", {"delayMs": 0})
        returnUrl = approveDuo(self.browser, duoPage)
        self.assertRegex(returnUrl, r"^https://login\.ashgrove\.test/cas/login\?state=[^&]+&duo_code=[^&]+$")

    def test_holdKeepsThePushWaitingUntilApproveReleasesIt(self):
        self.tenant.set("/duo", {"mode": "hold", "delayMs": 0})
        duoPage = self.browser.get(submitPassword(self.browser, "ashgrove-demo").location)
        self.assertIsNone(approveDuo(self.browser, duoPage))
        self.assertIsNone(approveDuo(self.browser, duoPage))
        self.tenant.set("/duo", {"mode": "approve"})
        self.assertIsNotNone(approveDuo(self.browser, duoPage))

    def test_duoReturnPageFinishesByItselfWithoutAPasswordField(self):
        self.tenant.set("/duo", {"delayMs": 0})
        duoPage = self.browser.get(submitPassword(self.browser, "ashgrove-demo").location)
        finish = self.browser.get(approveDuo(self.browser, duoPage))
        self.assertEqual(finish.status, 200)
        self.assertNotRegex(finish.text, PASSWORD_FIELD)
        self.assertIn("location.replace", finish.text)
        self.assertTrue(continueLink(finish).startswith(GATEWAY + "login-cas.htmld?ticket="))
        # The code works once: a second visit cannot sign in again.
        again = self.browser.get(finish.url)
        self.assertIsNone(continueLink(again))

    def test_duoReturnWithAForgedCodeDoesNotSignIn(self):
        self.tenant.set("/duo", {"delayMs": 0})
        duoPage = self.browser.get(submitPassword(self.browser, "ashgrove-demo").location)
        returnUrl = approveDuo(self.browser, duoPage)
        forged = re.sub(r"duo_code=[^&]+", "duo_code=guess", returnUrl)
        self.assertIsNone(continueLink(self.browser.get(forged)))


class SessionTests(TenantTestCase):
    def test_gatewaySetsASecureHttpOnlySessionCookieAndLandsOnHome(self):
        self.tenant.set("/duo", {"delayMs": 0})
        duoPage = self.browser.get(submitPassword(self.browser, "ashgrove-demo").location)
        finish = self.browser.get(approveDuo(self.browser, duoPage))
        gateway = self.browser.get(continueLink(finish))
        self.assertEqual(gateway.status, 302)
        self.assertEqual(gateway.location, HOME)
        cookie = gateway.header("Set-Cookie")
        for attribute in ("Secure", "HttpOnly", "Path=/"):
            self.assertIn(attribute, [part.strip() for part in cookie.split(";")])
        home = self.browser.get(HOME)
        self.assertEqual(home.status, 200)
        self.assertEqual(self.tenant.state()["sessions"], 1)

    def test_tenantPagesWithoutASessionGoToTheLogoutPage(self):
        page = self.browser.get("https://wd5.myworkday.test/ashgrove/d/task/2997$728.htmld")
        self.assertEqual(page.status, 302)
        self.assertEqual(page.location, LOGOUT)
        logout = self.browser.get(LOGOUT)
        self.assertEqual(logout.status, 200)
        self.assertIn('href="https://workday.ashgrove.test/"', logout.text)

    def test_expiredSessionLandsOnTheLogoutPageAndCasAsksForThePasswordAgain(self):
        self.assertEqual(signIn(self.browser, self.tenant).url, HOME)
        self.tenant.set("/expire-sessions")
        self.assertEqual(self.tenant.state()["sessions"], 0)
        self.assertEqual(self.browser.get(HOME).location, LOGOUT)
        # CAS keeps no session of its own: signing in again shows the form, not a shortcut.
        casPage = self.browser.follow(self.browser.get("https://workday.ashgrove.test/"))[-1]
        self.assertRegex(templateForm(casPage), PASSWORD_FIELD)
        self.assertEqual(signIn(self.browser, self.tenant).url, HOME)
        self.assertEqual(self.tenant.state()["passwordSubmissions"], 2)

    def test_visitingTheLogoutPageEndsTheSession(self):
        signIn(self.browser, self.tenant)
        self.browser.get(LOGOUT)
        self.assertEqual(self.browser.get(HOME).status, 302)
        self.assertEqual(self.tenant.state()["sessions"], 0)

    def test_rememberDevicePromptSitsBetweenCasAndTheGateway(self):
        self.tenant.set("/remember-device", {"on": True})
        self.tenant.set("/duo", {"delayMs": 0})
        duoPage = self.browser.get(submitPassword(self.browser, "ashgrove-demo").location)
        finish = self.browser.get(approveDuo(self.browser, duoPage))
        pages = self.browser.follow(self.browser.get(continueLink(finish)))
        prompt = pages[-1]
        self.assertEqual(prompt.url, "https://wd5.identity.myworkday.test/wday/authgwy/ashgrove/upc/login?pending=trust")
        template = re.search(r'<template id="wd-page">(.*?)</template>', prompt.text, re.S).group(1)
        self.assertIn("Remember Device?", template)
        self.assertRegex(template, r'<input type="checkbox"')
        self.assertRegex(template, r"<button[^>]*>Submit</button>")
        self.assertEqual(self.tenant.state()["sessions"], 0)
        answer = self.browser.post(prompt.url, {"trustDevice": "true"})
        self.assertEqual(self.browser.follow(answer)[-1].url, HOME)
        state = self.tenant.state()
        self.assertEqual(state["sessions"], 1)
        self.assertEqual(state["rememberDevicePrompt"], {"shown": 1, "submitted": 1, "trusted": 1})

    def test_upcLoginWithoutPendingIsASignedOutPage(self):
        page = self.browser.get("https://wd5.identity.myworkday.test/wday/authgwy/ashgrove/upc/login")
        self.assertEqual(page.status, 200)
        self.assertNotIn("Remember Device?", page.text)
        self.assertIn('href="https://workday.ashgrove.test/"', page.text)


if __name__ == "__main__":
    unittest.main()

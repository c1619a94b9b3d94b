"""The signed-in tenant: pages and their counts, the roster and its photos, the report files."""

import io
import json
import re
import unittest
import zipfile

from support import TenantTestCase, signIn

TENANT = "https://wd5.myworkday.test"
HOME = TENANT + "/ashgrove/d/home.htmld"
HUB = TENANT + "/ashgrove/d/task/2997$1705.htmld"
GRID = TENANT + "/ashgrove/d/task/2997$728.htmld"
ROSTER = TENANT + "/ashgrove/d/task/1422$2579.htmld"
INBOX = TENANT + "/ashgrove/d/inbox/2998$1.htmld"
NOTIFICATIONS = TENANT + "/ashgrove/d/notifications/2998$2.htmld"
REPORTS = TENANT + "/ashgrove/d/reports/"


def rendered(page):
    """The markup that the page's script puts into the body after load."""
    match = re.search(r'<template id="wd-page">(.*?)</template>', page.text, re.S)
    assert match, "%s has no page template" % page.url
    return match.group(1)


def automationText(markup, automationId):
    match = re.search(r'<(\w+)[^>]*data-automation-id="%s"[^>]*>(.*?)</\1>' % re.escape(automationId), markup, re.S)
    return None if match is None else re.sub(r"<[^>]+>", "", match.group(2))


class SignedInPagesTests(TenantTestCase):
    def setUp(self):
        super().setUp()
        self.assertEqual(signIn(self.browser, self.tenant).url, HOME)

    def page(self, url, counts=None):
        if counts:
            self.tenant.set("/counts", counts)
        page = self.browser.get(url)
        self.assertEqual(page.status, 200, url)
        return page

    def test_pagesRenderLateByScriptWithTheAppBannerAndItsCloseButton(self):
        for url in (HOME, HUB, GRID, ROSTER, INBOX, NOTIFICATIONS):
            with self.subTest(url=url):
                page = self.page(url)
                self.assertLess(len(page.text.split("<body>", 1)[1]), 1000, "content must arrive by script")
                markup = rendered(page)
                self.assertGreater(len(markup), 1000)
                banner = re.search(r'<div class="wd-app-banner"[^>]*>(.*?)</div>', markup, re.S).group(1)
                self.assertIn("Use the Workday App", banner)
                self.assertRegex(banner, r"<button[^>]*>")

    def test_homeBadgesShowTheCountsOfEachLoadAndLeadToTheirPages(self):
        for counts, inbox, bell in (({"task": 7, "notification": 12}, "7", "12"), ({"task": 0}, "0", "12"),
                                    ({"task": None, "notification": "absent"}, "", None), ({"task": "99+"}, "99+", None)):
            with self.subTest(counts=counts):
                markup = rendered(self.page(HOME, counts))
                self.assertEqual(automationText(markup, "inbox_preview"), inbox)
                self.assertEqual(automationText(markup, "notification_preview"), bell)
        self.assertIn('data-automation-id="inbox_preview" data-href="/ashgrove/d/inbox/2998$1.htmld"', markup)
        self.tenant.set("/counts", {"notification": 1})
        self.assertIn('data-automation-id="notification_preview" data-href="/ashgrove/d/notifications/2998$2.htmld"',
                      rendered(self.page(HOME)))

    def test_hubShowsTheCreditCardCountOrNoNumberOrNoSection(self):
        for prepaid, heading in ((4, "Credit Card Transactions (4)"), (None, "Credit Card Transactions"), ("absent", None)):
            with self.subTest(prepaid=prepaid):
                markup = rendered(self.page(HUB, {"prepaid": prepaid}))
                self.assertEqual(automationText(markup, "creditCardTransactionsHeader"), heading)
        self.assertNotIn("Credit Card Transactions", markup)
        self.assertGreater(len(markup), 20000)

    def test_rosterListsEachStudentPerSectionWithThumbnailPhotos(self):
        page = self.page(ROSTER)
        self.assertRegex(page.text, r"<title>View Course Section Detailed Roster")
        markup = rendered(page)
        self.assertEqual(re.findall(r"<th>(.*?)</th>", markup), [
            "Photo", "Student ID", "First Name", "Last Name", "ASH Email", "Class Of", "Programs of Study",
            "Course Section"])
        rows = json.loads(re.search(r'id="wd-roster-data">(.*?)</script>', page.text, re.S).group(1))["rows"]
        self.assertEqual(automationText(markup, "rowCountLabel"), "%d items" % len(rows))
        sections = [row[8] for row in rows]
        self.assertEqual(sections, sorted(sections))
        dmitri = [index for index, row in enumerate(rows) if row[3] == "Dmitri"]
        self.assertEqual(len(dmitri), 3)
        self.assertNotIn(dmitri[0] + 1, dmitri, "a student's rows must not be adjacent")
        self.assertEqual({row[0] for row in rows if row[1]}, {"img", "background", "external"})
        for style, url, *_ in rows:
            if style in ("img", "background"):
                self.assertRegex(url, r"^https://wd5\.myworkday\.test/ashgrove/attachment/[^/?]+\?thumbnail=1$")
            elif style == "external":
                self.assertTrue(url.startswith("https://webapps.ashgrove.test/"), url)

        # The photos themselves are read through the signed-in page by the roster export test.
        thumbnail = next(row[1] for row in rows if row[0] == "img")
        self.assertEqual(self.browser.get(thumbnail.split("?")[0]).status, 200)
        self.tenant.set("/expire-sessions")
        self.assertIn(self.browser.get(thumbnail.split("?")[0]).status, (302, 403))

    def test_reportFilesAreWellFormedAndNeedASession(self):
        # Which are shown and which saved is the session behaviour test's.
        pdf = self.page(REPORTS + "summary.pdf").body
        self.assertTrue(pdf.startswith(b"%PDF-") and pdf.rstrip().endswith(b"%%EOF"))
        # The cross-reference table must point at the objects, or viewers reject the file.
        self.assertTrue(pdf[int(re.search(rb"startxref\n(\d+)", pdf).group(1)):].startswith(b"xref"))
        for offset in re.findall(rb"(\d{10}) 00000 n", pdf):
            self.assertRegex(pdf[int(offset):int(offset) + 12], rb"^\d+ 0 obj")
        with zipfile.ZipFile(io.BytesIO(self.page(REPORTS + "budget.xlsx").body)) as archive:
            self.assertIsNone(archive.testzip())
            self.assertIn("xl/worksheets/sheet1.xml", archive.namelist())

        self.tenant.set("/expire-sessions")
        for path in ("summary.pdf", "summary.pdf?download=1", "budget.xlsx"):
            self.assertEqual(self.browser.get(REPORTS + path).status, 302, path)


if __name__ == "__main__":
    unittest.main()

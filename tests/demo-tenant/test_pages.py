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
ROSTER_HEADERS = ["Photo", "Student ID", "First Name", "Last Name", "ASH Email", "Class Of", "Programs of Study",
                  "Course Section"]


def rendered(page):
    """The markup that the page's script puts into the body after load."""
    match = re.search(r'<template id="wd-page">(.*?)</template>', page.text, re.S)
    assert match, "%s has no page template" % page.url
    return match.group(1)


def automationText(markup, automationId):
    match = re.search(r'<(\w+)[^>]*data-automation-id="%s"[^>]*>(.*?)</\1>' % re.escape(automationId), markup, re.S)
    return None if match is None else re.sub(r"<[^>]+>", "", match.group(2))


class SignedInTestCase(TenantTestCase):
    def setUp(self):
        super().setUp()
        self.assertEqual(signIn(self.browser, self.tenant).url, HOME)

    def page(self, url):
        page = self.browser.get(url)
        self.assertEqual(page.status, 200, url)
        return page


class WorkdayShellTests(SignedInTestCase):
    def test_pagesRenderLateByScriptWithTheAppBannerAndItsCloseButton(self):
        for url in (HOME, HUB, GRID, ROSTER, INBOX, NOTIFICATIONS):
            with self.subTest(url=url):
                page = self.page(url)
                body = page.text.split("<body>", 1)[1]
                self.assertLess(len(body), 1000, "content must arrive by script, not with the document")
                markup = rendered(page)
                self.assertGreater(len(markup), 1000)
                banner = re.search(r'<div class="wd-app-banner"[^>]*>(.*?)</div>', markup, re.S).group(1)
                self.assertIn("Use the Workday App", banner)
                self.assertRegex(banner, r"<button[^>]*>")
                self.assertLess(len(re.sub(r"<[^>]+>", "", banner)), 200)

    def test_homeBadgesShowTheCountsAndLeadToInboxAndNotifications(self):
        self.tenant.set("/counts", {"task": 7, "notification": 12})
        markup = rendered(self.page(HOME))
        self.assertEqual(automationText(markup, "inbox_preview"), "7")
        self.assertEqual(automationText(markup, "notification_preview"), "12")
        self.assertRegex(markup, r'data-automation-id="inbox_preview" data-href="/ashgrove/d/inbox/2998\$1\.htmld"')
        self.assertRegex(markup, r'data-automation-id="notification_preview" data-href="/ashgrove/d/notifications/2998\$2\.htmld"')

    def test_countsAreReadAtEachPageLoad(self):
        self.assertEqual(automationText(rendered(self.page(HOME)), "inbox_preview"), "3")
        self.tenant.set("/counts", {"task": 0})
        self.assertEqual(automationText(rendered(self.page(HOME)), "inbox_preview"), "0")

    def test_nullBadgeIsEmptyAndAbsentBadgeIsMissing(self):
        self.tenant.set("/counts", {"task": None, "notification": "absent"})
        markup = rendered(self.page(HOME))
        self.assertEqual(automationText(markup, "inbox_preview"), "")
        self.assertIsNone(automationText(markup, "notification_preview"))

    def test_badgeTextIsShownAsGiven(self):
        self.tenant.set("/counts", {"task": "99+"})
        self.assertEqual(automationText(rendered(self.page(HOME)), "inbox_preview"), "99+")


class ExpensesTests(SignedInTestCase):
    def cardHeading(self, markup):
        return automationText(markup, "creditCardTransactionsHeader")

    def test_hubShowsTheCreditCardCountInAnAutomationElement(self):
        self.tenant.set("/counts", {"prepaid": 4})
        self.assertEqual(self.cardHeading(rendered(self.page(HUB))), "Credit Card Transactions (4)")

    def test_nullPrepaidShowsTheHeadingWithoutANumber(self):
        self.tenant.set("/counts", {"prepaid": None})
        self.assertEqual(self.cardHeading(rendered(self.page(HUB))), "Credit Card Transactions")

    def test_absentPrepaidHasNoSectionAndALongBody(self):
        self.tenant.set("/counts", {"prepaid": "absent"})
        markup = rendered(self.page(HUB))
        self.assertNotIn("Credit Card Transactions", markup)
        self.assertGreater(len(markup), 20000)

    def gridRows(self, page):
        rows = re.search(r'<template id="wd-grid-rows">(.*?)</template>', page.text, re.S)
        return re.findall(r'<tr data-automation-id="row">(.*?)</tr>', rows.group(1), re.S) if rows else []

    def test_reportGridListsOneDraftRowPerDraftReport(self):
        self.tenant.set("/counts", {"draft": 3})
        page = self.page(GRID)
        markup = rendered(page)
        self.assertEqual(automationText(markup, "rowCountLabel"), "(3 items)")
        self.assertRegex(markup, r'<table[^>]*data-automation-id="table"')
        self.assertIn("<th>Status</th>", markup)
        rows = self.gridRows(page)
        self.assertEqual(len(rows), 3)
        for row in rows:
            cells = re.findall(r"<td>(.*?)</td>", row)
            self.assertRegex(cells[0], r"\bER-\d+\b")
            self.assertEqual(cells[-1], "Draft")
        self.assertEqual(len({re.search(r"ER-\d+", row).group(0) for row in rows}), 3, "report numbers repeat")

    def test_reportGridRendersRowsOnlyWhileVisible(self):
        page = self.page(GRID)
        # Rows wait in their own template and the script checks visibility before adding them.
        self.assertNotIn('data-automation-id="row"', rendered(page))
        self.assertIn('document.visibilityState !== "visible"', page.text)
        self.assertIn('addEventListener("visibilitychange"', page.text)

    def test_noDraftsSaysNoItemsFound(self):
        self.tenant.set("/counts", {"draft": 0})
        page = self.page(GRID)
        self.assertEqual(automationText(rendered(page), "rowCountLabel"), "No items found")
        self.assertEqual(self.gridRows(page), [])

    def test_gridShowsOnlyTheFirstBatchOfManyReports(self):
        self.tenant.set("/counts", {"draft": 75})
        page = self.page(GRID)
        self.assertEqual(automationText(rendered(page), "rowCountLabel"), "(75 items)")
        self.assertEqual(len(self.gridRows(page)), 50)


class RosterTests(SignedInTestCase):
    def rosterData(self, page):
        return json.loads(re.search(r'<script type="application/json" id="wd-roster-data">(.*?)</script>',
                                    page.text, re.S).group(1))["rows"]

    def test_rosterPageHasTheTitleHeadersAndItemCount(self):
        page = self.page(ROSTER)
        self.assertRegex(page.text, r"<title>View Course Section Detailed Roster")
        markup = rendered(page)
        self.assertEqual(re.findall(r"<th>(.*?)</th>", markup), ROSTER_HEADERS)
        self.assertRegex(markup, r'data-automation-id="tableWrapper"')
        rows = self.rosterData(page)
        self.assertEqual(automationText(markup, "rowCountLabel"), "%d items" % len(rows))

    def test_rosterHasOneRowPerStudentAndSectionWithAStudentsRowsApart(self):
        rows = self.rosterData(self.page(ROSTER))
        sections = [row[8] for row in rows]
        self.assertEqual(sections, sorted(sections), "rows are ordered by section")
        dmitri = [index for index, row in enumerate(rows) if row[3] == "Dmitri"]
        self.assertEqual(len(dmitri), 3)
        self.assertNotIn(dmitri[0] + 1, dmitri, "a student's rows must not be adjacent")
        self.assertEqual(self.tenant.state()["modes"]["roster"]["rows"], len(rows))

    def test_photosAreThumbnailsOnTheTenantInBothStyles(self):
        rows = self.rosterData(self.page(ROSTER))
        styles = {row[0] for row in rows if row[1]}
        self.assertEqual(styles, {"img", "background", "external"})
        for style, url, *_ in rows:
            if style in ("img", "background"):
                self.assertRegex(url, r"^https://wd5\.myworkday\.test/ashgrove/attachment/[^/?]+\?thumbnail=1$")
            elif style == "external":
                self.assertTrue(url.startswith("https://webapps.ashgrove.test/"), url)
        script = self.page(ROSTER).text
        self.assertIn("MAX_ROWS = 20", script)

    def test_photoNeedsASessionAndIsServedFullSize(self):
        url = next(row[1] for row in self.rosterData(self.page(ROSTER)) if row[0] == "img")
        full = url.split("?")[0]
        photo = self.browser.get(full)
        self.assertEqual(photo.status, 200)
        self.assertEqual(photo.header("Content-Type"), "image/jpeg")
        self.assertTrue(photo.body.startswith(b"\xff\xd8\xff"))
        self.assertEqual(self.browser.get(url).status, 200)
        self.tenant.set("/expire-sessions")
        self.assertIn(self.browser.get(full).status, (302, 403))

    def test_photoThatIsNotAnImageIsPlainText(self):
        photo = self.browser.get(TENANT + "/ashgrove/attachment/100248-not-an-image.txt")
        self.assertEqual(photo.status, 200)
        self.assertTrue(photo.header("Content-Type").startswith("text/plain"))


class DownloadTests(SignedInTestCase):
    def test_summaryPdfIsShownInline(self):
        page = self.page(TENANT + "/ashgrove/d/reports/summary.pdf")
        self.assertEqual(page.header("Content-Type"), "application/pdf")
        self.assertIsNone(page.header("Content-Disposition"))
        self.assertTrue(page.body.startswith(b"%PDF-"))
        self.assertTrue(page.body.rstrip().endswith(b"%%EOF"))
        # The cross-reference table must point at the objects, or viewers reject the file.
        xref = int(re.search(rb"startxref\n(\d+)", page.body).group(1))
        self.assertTrue(page.body[xref:].startswith(b"xref"))
        for offset in re.findall(rb"(\d{10}) 00000 n", page.body):
            self.assertRegex(page.body[int(offset):int(offset) + 12], rb"^\d+ 0 obj")

    def test_summaryPdfWithDownloadIsAnAttachment(self):
        page = self.page(TENANT + "/ashgrove/d/reports/summary.pdf?download=1")
        self.assertEqual(page.header("Content-Type"), "application/pdf")
        self.assertEqual(page.header("Content-Disposition"), 'attachment; filename="summary.pdf"')

    def test_budgetIsASpreadsheetWithoutDisposition(self):
        page = self.page(TENANT + "/ashgrove/d/reports/budget.xlsx")
        self.assertEqual(page.header("Content-Type"),
                         "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet")
        self.assertIsNone(page.header("Content-Disposition"))
        with zipfile.ZipFile(io.BytesIO(page.body)) as archive:
            self.assertIsNone(archive.testzip())
            self.assertIn("xl/worksheets/sheet1.xml", archive.namelist())

    def test_downloadsNeedASession(self):
        self.tenant.set("/expire-sessions")
        for path in ("summary.pdf", "summary.pdf?download=1", "budget.xlsx"):
            with self.subTest(path=path):
                self.assertEqual(self.browser.get(TENANT + "/ashgrove/d/reports/" + path).status, 302)


if __name__ == "__main__":
    unittest.main()

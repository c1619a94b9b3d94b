"""HTML of the sign-in chain and the Workday tenant.

Tenant pages arrive as an empty shell: their content sits in a <template> in the head and
tenant.js puts it in place a moment after load, as Workday's single-page application does. The
head keeps the body small until then, and keeps page scripts out of the body's text.
"""

import datetime
import html
import json
import urllib.parse
from functools import lru_cache
from pathlib import Path

from . import hosts

HOME_PATH = hosts.HOME_PATH
EXPENSES_HUB_PATH = "/ashgrove/d/task/2997$1705.htmld"
REPORT_GRID_PATH = "/ashgrove/d/task/2997$728.htmld"
ROSTER_PATH = "/ashgrove/d/task/1422$2579.htmld"
INBOX_PATH = "/ashgrove/d/inbox/2998$1.htmld"
NOTIFICATIONS_PATH = "/ashgrove/d/notifications/2998$2.htmld"
SUMMARY_PDF_PATH = "/ashgrove/d/reports/summary.pdf"
BUDGET_XLSX_PATH = "/ashgrove/d/reports/budget.xlsx"

ROSTER_HEADERS = ("Photo", "Student ID", "First Name", "Last Name", "ASH Email", "Class Of",
                  "Programs of Study", "Course Section")
GRID_FIRST_BATCH = 50

_ASSETS = Path(__file__).resolve().parent / "assets"
e = html.escape


@lru_cache(maxsize=None)
def asset(name):
    return (_ASSETS / name).read_text(encoding="utf-8")


def _document(title, body, head="", bodyAttributes=""):
    return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            "<title>%s</title><link rel=\"icon\" href=\"data:,\">%s</head>\n<body%s>%s</body></html>\n"
            % (e(title), head, bodyAttributes, body))


def _scripts(*names):
    return "".join("<script>%s</script>" % asset(name) for name in names)


def _style(name):
    return "<style>%s</style>" % asset(name)


def _jsonForScript(value):
    # "<" escaped so that no text in the data can end the script element early.
    return json.dumps(value, ensure_ascii=False).replace("<", "\\u003c")


# ---------------------------------------------------------------- CAS

def casLoginUrl(service=hosts.GATEWAY_URL):
    return "https://%s%s?service=%s" % (hosts.SSO_HOST, hosts.CAS_LOGIN_PATH, urllib.parse.quote(service, safe=""))


_CAS_STYLE = """<style>
body { margin: 0; font: 15px/1.5 Arial, sans-serif; background: #eef1f4; color: #1d2731; }
header { background: #7a1f2b; color: #fff; padding: 14px 28px; font-size: 20px; font-weight: 700; }
main { max-width: 460px; margin: 48px auto; background: #fff; border-radius: 6px; padding: 28px 32px;
       box-shadow: 0 2px 6px rgba(0,0,0,0.15); }
h1 { font-size: 22px; margin: 0 0 18px; }
label { display: block; font-weight: 600; margin: 14px 0 4px; }
input[type=text], input[type=password] { width: 100%; box-sizing: border-box; padding: 9px; font-size: 15px;
       border: 1px solid #9aa5b1; border-radius: 4px; }
button { margin-top: 20px; width: 100%; padding: 10px; font-size: 16px; color: #fff; background: #7a1f2b;
       border: 0; border-radius: 4px; cursor: pointer; }
.alert-danger { background: #fbe3e4; color: #8a1f11; border: 1px solid #f3a6a9; border-radius: 4px; padding: 10px 12px; }
.banner-danger { background: #fbe3e4; border: 1px solid #f3a6a9; border-radius: 4px; padding: 12px 16px; }
footer { text-align: center; color: #5f6b77; font-size: 13px; }
</style>"""

_CAS_FOOTER = ("<footer><p>Ashgrove University Central Authentication Service. For help, contact the "
               "IT Service Desk at extension 4357.</p></footer>")


def casLoginPage(service, execution, username="", showError=False):
    action = hosts.CAS_LOGIN_PATH + ("?service=" + urllib.parse.quote(service, safe="") if service else "")
    alert = ('<div class="alert alert-danger" role="alert"><span>Invalid credentials.</span> '
             'Check your NetID and password and try again.</div>') if showError else ""
    form = (
        '<template id="fm1-template">'
        '<form id="fm1" method="post" action="%s" autocomplete="off">%s'
        '<section><label for="username">NetID</label>'
        '<input id="username" name="username" type="text" autocomplete="username" autocapitalize="none" '
        'spellcheck="false" value="%s" required></section>'
        '<section><label for="password">Password</label>'
        '<input id="password" name="password" type="password" autocomplete="current-password" value="" required>'
        '</section>'
        '<input type="hidden" name="execution" value="%s">'
        '<input type="hidden" name="_eventId" value="submit">'
        '<input type="hidden" name="geolocation" value="">'
        '<button type="submit" name="submit" accesskey="l">Log In</button>'
        '</form></template>') % (e(action), alert, e(username), e(execution))
    body = ('<header>Ashgrove University</header><main><h1>Central Authentication Service</h1>'
            '<div id="login" aria-live="polite"><p>Loading\u2026</p></div></main>' + _CAS_FOOTER)
    return _document("Log In - Ashgrove University CAS", body, _CAS_STYLE + form + _scripts("cas.js"))


def casBrokenFlowPage():
    body = ('<header>Ashgrove University</header><main><h1>Central Authentication Service</h1>'
            '<div class="banner-danger" role="alert"><h2>Invalid/Unknown Webflow Configuration</h2>'
            '<p>The sign-in flow could not be resumed. Close this page and start the sign-in again.</p>'
            '</div></main>' + _CAS_FOOTER)
    return _document("Error - Ashgrove University CAS", body, _CAS_STYLE)


def casFinishPage(nextUrl):
    body = ('<header>Ashgrove University</header><main><h1>Central Authentication Service</h1>'
            '<p>Two-factor authentication complete. Signing you in\u2026</p>'
            '<p><a id="continue" href="%s">Continue</a></p></main>%s') % (e(nextUrl), _CAS_FOOTER)
    return _document("Signing In - Ashgrove University CAS", body, _CAS_STYLE + _scripts("finish.js"))


def casReturnFailedPage():
    body = ('<header>Ashgrove University</header><main><h1>Central Authentication Service</h1>'
            '<div class="banner-danger" role="alert"><p>This sign-in has already been used or has expired.</p>'
            '</div><p><a href="%s">Sign in again</a></p></main>%s') % (e(hosts.ENTRY_URL), _CAS_FOOTER)
    return _document("Error - Ashgrove University CAS", body, _CAS_STYLE)


def casLogoutPage():
    body = ('<header>Ashgrove University</header><main><h1>Logout successful</h1>'
            '<p>You have signed out of the Central Authentication Service.</p></main>' + _CAS_FOOTER)
    return _document("Logged Out - Ashgrove University CAS", body, _CAS_STYLE)


# ---------------------------------------------------------------- Duo

def duoPromptUrl(sid):
    return "https://%s/frame/frameless/v4/auth?sid=%s" % (hosts.DUO_API_HOST, urllib.parse.quote(sid))


def duoPage(sid):
    style = """<style>
body { margin: 0; font: 15px/1.5 Arial, sans-serif; background: #f6f7f9; color: #222; }
main { max-width: 420px; margin: 64px auto; background: #fff; border-radius: 10px; padding: 32px;
       box-shadow: 0 2px 8px rgba(0,0,0,0.12); text-align: center; }
.duo-logo { color: #6bbf4e; font-weight: 800; font-size: 28px; letter-spacing: 1px; }
.duo-spinner { width: 36px; height: 36px; margin: 20px auto; border-radius: 50%; border: 4px solid #dde3e8;
       border-top-color: #6bbf4e; animation: spin 0.9s linear infinite; }
@keyframes spin { to { transform: rotate(360deg); } }
</style>"""
    body = ('<main><div class="duo-logo">DUO</div><h1>Check for a Duo Push</h1>'
            '<p>Verify it\'s you by approving the notification sent to "iOS" (***-***-4217).</p>'
            '<div class="duo-spinner" aria-hidden="true"></div>'
            '<p id="duo-status" aria-live="polite">Waiting for approval\u2026</p>'
            '<p><small>Ashgrove University &middot; Secured by Duo</small></p></main>')
    return _document("Duo Security", body, style + _scripts("duo.js"), ' data-sid="%s"' % e(sid))


# ---------------------------------------------------------------- Workday shell

_BANNER = ('<div class="wd-app-banner" data-automation-id="mobileAppBanner" role="region" aria-label="Workday app">'
           '<span>Use the Workday App for quicker access on your phone.</span>'
           '<button type="button" data-automation-id="closeMobileAppBanner" aria-label="Close">\u2715</button></div>')

_FOOTER = ('<footer class="wd-footer">&copy; 2026 Workday, Inc. All rights reserved. Ashgrove University '
           'production tenant &middot; <a href="%s">Sign Out</a></footer>') % e(hosts.LOGOUT_PATH)


def _badge(automationId, cssClass, href, label, value):
    if value == "absent":
        return ""
    text = "" if value is None else str(value)
    return ('<button type="button" class="wd-header-button %s" data-automation-id="%s" data-href="%s" '
            'aria-label="%s">%s</button>') % (cssClass, automationId, e(href), e(label), e(text))


def _header(counts):
    return ('<header class="wd-header"><a class="wd-logo" href="%s">workday.</a>'
            '<div class="wd-search"><input type="search" placeholder="Search" aria-label="Search"></div>'
            '<div class="wd-header-actions">%s%s<span class="wd-avatar" title="Demo User">DU</span></div>'
            '</header>') % (e(HOME_PATH),
                            _badge("notification_preview", "wd-bell", NOTIFICATIONS_PATH, "Notifications",
                                   counts.get("notification")),
                            _badge("inbox_preview", "wd-inbox", INBOX_PATH, "Inbox", counts.get("task")))


def _tenantPage(title, content, counts, head="", scripts=(), banner=True, header=True):
    template = '<template id="wd-page">%s%s<main class="wd-main">%s</main>%s</template>' % (
        _BANNER if banner else "", _header(counts) if header else "", content, _FOOTER if header else "")
    shell = ('<div id="wd-app" aria-busy="true">'
             '<div class="wd-loading" role="progressbar" aria-label="Loading"></div></div>')
    return _document(title, shell, _style("tenant.css") + template + head + _scripts("tenant.js", *scripts))


def _number(value):
    """The count as a number of things to list (0 for null, absent or text)."""
    return value if isinstance(value, int) and value > 0 else 0


def _greeting(now):
    part = "morning" if now.hour < 12 else "afternoon" if now.hour < 18 else "evening"
    return "Good %s, Demo User" % part


# ---------------------------------------------------------------- Workday pages

_TASK_KINDS = ("Expense Report: ER-%05d needs your review", "Time Off Request for Jordan Lee (%d hours)",
               "Grade Change Request for COMP 112-%02d", "Purchase Requisition R-%05d awaiting approval")


def homePage(counts, now=None):
    now = now or datetime.datetime.now()
    tasks = "".join('<li>%s<div class="wd-muted">Received %d day(s) ago</div></li>'
                    % (e(_TASK_KINDS[i % 4] % (10420 + i)), i + 1) for i in range(min(_number(counts.get("task")), 10)))
    content = (
        '<section class="wd-welcome"><h1>%s</h1><p class="wd-muted">It\'s %s</p></section>'
        '<div class="wd-home-grid">'
        '<section class="wd-card" data-automation-id="awaitingYourAction"><h2>Awaiting Your Action</h2>'
        '<ul class="wd-list">%s</ul><p><a href="%s">Go to All Inbox Items</a></p></section>'
        '<section class="wd-card" data-automation-id="topApps"><h2>Your Top Apps</h2><div class="wd-apps">'
        '<a class="wd-app-tile" href="%s">Expenses</a>'
        '<a class="wd-app-tile" href="%s">My Expense Reports</a>'
        '<a class="wd-app-tile" href="%s">Teaching</a>'
        '<a class="wd-app-tile" href="%s">Inbox</a>'
        '<a class="wd-app-tile" href="%s">Notifications</a>'
        '<a class="wd-app-tile" href="%s">Pay</a></div></section>'
        '<section class="wd-card" data-automation-id="reports"><h2>Reports</h2><ul class="wd-list">'
        '<li><a data-automation-id="summaryPdfLink" href="%s">Expense Summary (PDF)</a></li>'
        '<li><a data-automation-id="summaryPdfDownloadLink" href="%s?download=1">Download Expense Summary</a></li>'
        '<li><a data-automation-id="budgetXlsxLink" href="%s">Department Budget (Excel)</a></li></ul></section>'
        '<section class="wd-card" data-automation-id="helpfulLinks"><h2>Helpful Links</h2><ul class="wd-list">'
        '<li><a data-automation-id="helpfulLinkNewWindow" href="https://%s/" target="_blank">Ashgrove Web Applications</a></li>'
        '<li><a data-automation-id="helpfulLinkHttp" href="http://%s/">Campus Services</a></li>'
        '<li><a data-automation-id="helpfulLinkOtherPort" href="https://%s:8443/">Faculty Portal</a></li>'
        '<li><a data-automation-id="helpfulLinkExternal" href="https://www.example.com/">Benefits Provider</a></li>'
        '</ul></section>'
        '<section class="wd-card" data-automation-id="announcements"><h2>Announcements</h2>'
        '<p><strong>Open enrollment closes November 30.</strong> Review your medical, dental and vision '
        'elections in the Benefits app before the deadline.</p>'
        '<p><strong>Expense policy update.</strong> Receipts are now required for every expense over $25. '
        'Submit reports within 60 days of travel.</p></section>'
        '<section class="wd-card" data-automation-id="timelyReminders"><h2>Timely Reminders</h2>'
        '<p>Your next pay date is the last business day of the month. Grades for the autumn term are due '
        'three days after the final examination.</p></section>'
        '</div>') % (
        e(_greeting(now)), e(now.strftime("%A, %B %d, %Y")), tasks, e(INBOX_PATH), e(EXPENSES_HUB_PATH),
        e(REPORT_GRID_PATH), e(ROSTER_PATH), e(INBOX_PATH), e(NOTIFICATIONS_PATH), e(HOME_PATH),
        e(SUMMARY_PDF_PATH), e(SUMMARY_PDF_PATH), e(BUDGET_XLSX_PATH), hosts.WEBAPPS_HOST, hosts.WEBAPPS_HOST,
        hosts.WEBAPPS_HOST)
    return _tenantPage("Home - Workday", content, counts)


def inboxPage(counts):
    count = _number(counts.get("task"))
    items = "".join('<li data-automation-id="inboxItem"><strong>%s</strong><div class="wd-muted">'
                    'Step: Review &middot; Due in %d day(s)</div></li>' % (e(_TASK_KINDS[i % 4] % (10420 + i)), i + 2)
                    for i in range(min(count, 100)))
    if not count:
        items = '<li>You have no items in your inbox. New tasks and approvals will appear here.</li>'
    content = ('<h1>My Tasks</h1><section class="wd-card" data-automation-id="inboxList"><h2>Actions</h2>'
               '<ul class="wd-list">%s</ul></section>'
               '<section class="wd-card"><h2>Archive</h2><p class="wd-muted">Completed tasks stay in the '
               'archive for 90 days. Use the filter to find tasks by type, date or initiator.</p></section>'
               ) % items
    return _tenantPage("My Tasks - Workday", content, counts)


def notificationsPage(counts):
    count = _number(counts.get("notification"))
    items = "".join('<li data-automation-id="notificationItem"><strong>Your expense report ER-%05d was '
                    'approved.</strong><div class="wd-muted">%d hour(s) ago</div></li>' % (10300 + i, i + 1)
                    for i in range(min(count, 100)))
    if not count:
        items = '<li>You\'re all caught up. Notifications about your requests and approvals appear here.</li>'
    content = ('<h1>Notifications</h1><section class="wd-card" data-automation-id="notificationList">'
               '<ul class="wd-list">%s</ul></section><section class="wd-card"><h2>Preferences</h2>'
               '<p class="wd-muted">Choose which notifications reach you by e-mail or on your phone in '
               'My Account &rsaquo; Change Preferences.</p></section>') % items
    return _tenantPage("Notifications - Workday", content, counts)


_MERCHANTS = ("Campus Bookstore", "Metro Rail", "Harbor Hotel", "Office Depot", "Lab Supply Co.",
              "Airline Ticketing", "Conference Registration", "Coffee Collective")


def expensesHubPage(counts):
    prepaid = counts.get("prepaid")
    cardSection = ""
    if prepaid != "absent":
        heading = "Credit Card Transactions" + (" (%d)" % prepaid if isinstance(prepaid, int) else "")
        rows = "".join('<tr><td>2026-10-%02d</td><td>%s</td><td>$%d.%02d</td><td>Unverified</td></tr>'
                       % (1 + i % 28, e(_MERCHANTS[i % len(_MERCHANTS)]), 12 + i * 7, (i * 37) % 100)
                       for i in range(min(_number(prepaid), 50)))
        cardSection = ('<section class="wd-card" data-automation-id="creditCardTransactionsSection">'
                       '<h2 data-automation-id="creditCardTransactionsHeader">%s</h2>'
                       '<table class="wd-table"><thead><tr><th>Date</th><th>Merchant</th><th>Amount</th>'
                       '<th>Status</th></tr></thead><tbody>%s</tbody></table></section>') % (e(heading), rows)
    # Enough history that the hub's body is well over 20000 characters with or without the card
    # section, as the real hub is once it has rendered.
    activity = "".join(
        '<li data-automation-id="activityItem"><strong>Expense line %d: %s</strong>'
        '<div class="wd-muted">Business purpose: departmental travel and teaching materials for the '
        'autumn term &middot; Cost center CC-%04d &middot; Submitted 2026-%02d-%02d</div></li>'
        % (i + 1, e(_MERCHANTS[i % len(_MERCHANTS)]), 1200 + i % 17, 1 + i % 12, 1 + i % 28)
        for i in range(120))
    content = ('<h1>Expenses Hub</h1>'
               '<section class="wd-card" data-automation-id="expenseActions"><h2>Actions</h2><ul class="wd-list">'
               '<li><a href="#">Create Expense Report</a></li><li><a href="%s">Find Expense Reports</a></li>'
               '<li><a href="#">Create Spend Authorization</a></li></ul></section>%s'
               '<section class="wd-card" data-automation-id="recentActivity"><h2>Recent Activity</h2>'
               '<ul class="wd-list">%s</ul></section>') % (e(REPORT_GRID_PATH), cardSection, activity)
    return _tenantPage("Expenses Hub - Workday", content, counts)


def reportGridPage(counts):
    draft = counts.get("draft")
    rowsTemplate = ""
    if draft == "absent":
        grid = '<section class="wd-card"><p>You have no expense reports.</p></section>'
    else:
        if isinstance(draft, int):
            label = "(%d items)" % draft if draft else "No items found"
        else:
            label = ""
        grid = ('<section class="wd-card" data-automation-id="expenseReportGrid"><div class="wd-toolbar">'
                '<span data-automation-id="rowCountLabel">%s</span></div>'
                '<table class="wd-table" data-automation-id="table"><thead><tr><th>Expense Report</th>'
                '<th>Report Date</th><th>Business Purpose</th><th>Total Amount</th><th>Status</th></tr></thead>'
                '<tbody></tbody></table></section>') % e(label)
        rows = "".join('<tr data-automation-id="row"><td><a href="#">ER-%05d</a></td><td>2026-10-%02d</td>'
                       '<td>Conference travel</td><td>$%d.00</td><td>Draft</td></tr>'
                       % (20100 + i, 1 + i % 28, 150 + i * 25) for i in range(min(_number(draft), GRID_FIRST_BATCH)))
        rowsTemplate = '<template id="wd-grid-rows">%s</template>' % rows
    content = ('<h1>My Expense Reports</h1>%s<section class="wd-card"><h2>About this report</h2>'
               '<p class="wd-muted">Shows the expense reports you created or that were created for you. '
               'Reports in Draft have not been submitted for approval yet; open one to finish and submit it.'
               '</p></section>') % grid
    return _tenantPage("My Expense Reports - Workday", content, counts, head=rowsTemplate, scripts=("grid.js",))


def rosterPage(counts, roster):
    title = "View Course Section Detailed Roster"
    if roster.course:
        title += " - " + roster.course
    data = {"rows": [[r.photoStyle, r.photoUrl, r.studentId, r.first, r.last, r.email, r.classOf, r.programs,
                      r.section] for r in roster.rows]}
    headers = "".join("<th>%s</th>" % e(name) for name in ROSTER_HEADERS)
    content = ('<h1>%s</h1><p class="wd-muted">Course sections taught by Demo User this term.</p>'
               '<section class="wd-card" data-automation-id="rosterGrid"><div class="wd-toolbar">'
               '<span data-automation-id="rowCountLabel">%d items</span></div>'
               '<div class="wd-grid-wrapper" data-automation-id="tableWrapper"><div class="wd-grid-sizer">'
               '<table class="wd-table" data-automation-id="table"><thead><tr>%s</tr></thead><tbody></tbody>'
               '</table></div></div><div class="wd-grid-loader" data-automation-id="loadingMore" hidden>Loading more\u2026</div>'
               '</section>') % (
        e(title), len(roster.rows), headers)
    head = '<script type="application/json" id="wd-roster-data">%s</script>' % _jsonForScript(data)
    return _tenantPage(title + " - Workday", content, counts, head=head, scripts=("roster.js",))


def signedOutPage(heading="You have signed out"):
    body = ('<main class="wd-main"><section class="wd-card" data-automation-id="signedOut"><h1>%s</h1>'
            '<p>Your Workday session has ended. To continue, sign in again with your Ashgrove NetID.</p>'
            '<p><a class="wd-button" data-automation-id="signInLink" href="%s">Sign In</a></p></section></main>'
            ) % (e(heading), e(hosts.ENTRY_URL))
    return _document("Workday", body, _style("tenant.css"))


def rememberDevicePage():
    content = ('<section class="wd-card" data-automation-id="rememberDevice"><h1>Remember Device?</h1>'
               '<p>If you remember this device, you will not be asked to confirm your identity here again '
               'for 30 days. Do not remember a device that others use.</p>'
               '<form class="wd-form" method="post" action="%s?pending=trust">'
               '<label><input type="checkbox" name="trustDevice" value="true" '
               'data-automation-id="trustDeviceCheckbox"> Remember this device</label>'
               '<button type="submit" class="wd-button" data-automation-id="submitButton">Submit</button>'
               '</form></section>') % e(hosts.UPC_LOGIN_PATH)
    return _tenantPage("Workday", content, {}, banner=False, header=False)


# ---------------------------------------------------------------- other hosts

def simplePage(title, heading, text, status_note=""):
    body = '<main class="wd-main"><section class="wd-card"><h1>%s</h1><p>%s</p>%s</section></main>' % (
        e(heading), e(text), status_note)
    return _document(title, body, _style("tenant.css"))


def notFoundPage(path):
    return simplePage("Page Not Found", "Page Not Found",
                      "The page you asked for does not exist: %s" % path,
                      '<p><a href="%s">Go to Workday</a></p>' % e(hosts.ENTRY_URL))

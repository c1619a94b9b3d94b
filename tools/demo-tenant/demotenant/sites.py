"""What each demo host answers, once the proxy has opened a tunnel to it."""

import logging
import re
import urllib.parse

from . import files, hosts, pages
from .httpio import Response, errorPage, htmlResponse, jsonResponse, redirect
from .roster import photoContentType
from .state import PERSISTENT_SESSION_SECONDS, newToken

SESSION_COOKIE = "PLAY_SESSION"
UPC_COOKIE = "wd-upc-ticket"
UPC_COOKIE_PATH = "/wday/authgwy/ashgrove/upc"
SIGNED_OUT_PATH = "/wday/authgwy/ashgrove/login.htmld"
ATTACHMENT_PREFIX = "/ashgrove/attachment/"
LOGOUT_URL = hosts.TENANT_ORIGIN + hosts.LOGOUT_PATH
CAS_LOGO_PATH = "/cas/images/logo.gif"
# A transparent 1 x 1 GIF: the sign-in site serves images of its own, as real CAS servers do.
CAS_LOGO = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00"
            b",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")


def _notFound(request):
    return htmlResponse(404, pages.notFoundPage(request.path))


def _methodNotAllowed(allowed):
    response = errorPage(405, "This address does not accept that method.")
    response.addHeader("Allow", ", ".join(allowed))
    return response


class Sites:
    def __init__(self, state, log=None):
        self.state = state
        self.log = log or logging.getLogger("demo-tenant")
        self.summaryPdf = files.summaryPdf()
        self.budgetXlsx = files.budgetXlsx()
        self._tenantPages = {
            pages.HOME_PATH: pages.homePage,
            pages.EXPENSES_HUB_PATH: pages.expensesHubPage,
            pages.REPORT_GRID_PATH: pages.reportGridPage,
            pages.INBOX_PATH: pages.inboxPage,
            pages.NOTIFICATIONS_PATH: pages.notificationsPage,
            pages.ROSTER_PATH: lambda counts: pages.rosterPage(counts, self.state.roster),
        }
        self._hosts = {
            hosts.ENTRY_HOST: self.entry,
            hosts.SSO_HOST: self.cas,
            hosts.DUO_API_HOST: self.duo,
            hosts.TENANT_HOST: self.tenant,
            hosts.IDENTITY_HOST: self.identity,
            hosts.WEBAPPS_HOST: self.webapps,
            hosts.SHIBBOLETH_HOST: self.shibboleth,
        }

    def handle(self, request, host):
        if request.method not in ("GET", "HEAD", "POST"):
            response = _methodNotAllowed(("GET", "HEAD", "POST"))
        else:
            response = self._hosts.get(host, _notFound)(request)
        self.log.info("%s %s %s -> %d", host, request.method, request.path, response.status)
        return response

    # ------------------------------------------------------------ university entry

    def entry(self, request):
        # Every address on the entry host starts a sign-in into Workday. With sessions that
        # persist, it passes through the tenant, which knows whether its session is still live.
        if self.state.persistentSessions:
            return redirect(hosts.TENANT_ORIGIN + hosts.SSO_START_PATH)
        return redirect(pages.casLoginUrl())

    # ------------------------------------------------------------ CAS

    def cas(self, request):
        path = request.path
        if path in ("/", "/cas", "/cas/"):
            return redirect("https://%s%s" % (hosts.SSO_HOST, hosts.CAS_LOGIN_PATH))
        if path == "/cas/logout":
            return htmlResponse(200, pages.casLogoutPage())
        if path == CAS_LOGO_PATH:
            return Response(200, CAS_LOGO, "image/gif", [("Cache-Control", "max-age=3600")])
        if path != hosts.CAS_LOGIN_PATH:
            return _notFound(request)
        query = request.query
        service = query.get("service", "")
        if request.method == "POST":
            return self._casSubmit(request, service)
        if "duo_code" in query or "state" in query:
            return self._casDuoReturn(query.get("state", ""), query.get("duo_code", ""))
        if self.state.brokenFlow:
            return htmlResponse(200, pages.casBrokenFlowPage())
        return self._casForm(200, service)

    def _casForm(self, status, service, username="", showError=False):
        return htmlResponse(status, pages.casLoginPage(service, newToken("e1s1-"), username, showError))

    def _casSubmit(self, request, service):
        form = request.form()
        username = form.get("username", "")
        accepted = False
        if "password" in form:
            accepted = self.state.submitPassword(username, form["password"])
        if self.state.brokenFlow:
            return htmlResponse(200, pages.casBrokenFlowPage())
        if "password" not in form:
            return self._casForm(200, service, username)
        if accepted:
            transaction = self.state.startDuo()
            return redirect(pages.duoPromptUrl(transaction.sid))
        mode = self.state.rejectMode
        if mode == "form-error":
            return self._casForm(200, service, username, showError=True)
        if mode == "401":
            # The status alone says that the password was wrong: the form carries no message.
            return self._casForm(401, service, username)
        return self._casForm(200, service, username)

    def _casDuoReturn(self, state, code):
        result = self.state.finishDuo(state, code)
        if result is None:
            return htmlResponse(200, pages.casReturnFailedPage())
        ticket, rememberDevice = result
        quoted = urllib.parse.quote(ticket, safe="")
        if rememberDevice:
            nextUrl = "https://%s%s?ticket=%s" % (hosts.IDENTITY_HOST, hosts.UPC_START_PATH, quoted)
        else:
            nextUrl = "%s?ticket=%s" % (hosts.GATEWAY_URL, quoted)
        return htmlResponse(200, pages.casFinishPage(nextUrl))

    # ------------------------------------------------------------ Duo

    def duo(self, request):
        sid = request.query.get("sid", "")
        if request.path == "/frame/frameless/v4/auth":
            if sid not in self.state.duoTransactions:
                return errorPage(400, "This Duo login has expired. Start the sign-in again.")
            return htmlResponse(200, pages.duoPage(sid))
        if request.path == "/frame/v4/status":
            try:
                nextUrl = self.state.duoResult(sid)
            except KeyError:
                return jsonResponse(404, {"result": "expired"})
            if nextUrl is None:
                return jsonResponse(200, {"result": "pending"})
            return jsonResponse(200, {"result": "allow", "redirect": nextUrl})
        return _notFound(request)

    # ------------------------------------------------------------ Workday tenant

    def tenant(self, request):
        path = request.path
        token = request.cookies().get(SESSION_COOKIE, "")
        if path == hosts.GATEWAY_PATH:
            return self._gateway(request.query.get("ticket", ""))
        if path == hosts.LOGOUT_PATH:
            return self._logout(token)
        if path == hosts.SSO_START_PATH:
            return redirect(hosts.TENANT_ORIGIN + hosts.HOME_PATH if self.state.hasSession(token) else pages.casLoginUrl())
        if path == SIGNED_OUT_PATH:
            return htmlResponse(200, pages.signedOutPage("Sign in to Workday"))
        signedIn = self.state.hasSession(token)
        if path in ("/", "/ashgrove", "/ashgrove/", "/ashgrove/d", "/ashgrove/d/"):
            return redirect(hosts.TENANT_ORIGIN + hosts.HOME_PATH if signedIn else LOGOUT_URL)
        if not path.startswith("/ashgrove/"):
            return _notFound(request)
        if path.startswith(ATTACHMENT_PREFIX):
            if not signedIn:
                return errorPage(403, "Sign in to Workday to see this attachment.")
            return self._attachment(request, path[len(ATTACHMENT_PREFIX):])
        if not signedIn:
            return redirect(LOGOUT_URL)
        if path in self._tenantPages:
            if request.method == "POST":
                return _methodNotAllowed(("GET", "HEAD"))
            return htmlResponse(200, self._tenantPages[path](dict(self.state.counts)))
        if path == pages.SUMMARY_PDF_PATH:
            response = Response(200, self.summaryPdf, files.PDF_TYPE, [("Cache-Control", "private, no-store")])
            if request.query.get("download") == "1":
                response.addHeader("Content-Disposition", 'attachment; filename="summary.pdf"')
            return response
        if path == pages.BUDGET_XLSX_PATH:
            return Response(200, self.budgetXlsx, files.XLSX_TYPE, [("Cache-Control", "private, no-store")])
        return _notFound(request)

    def _gateway(self, ticket):
        session = self.state.redeemTicket(ticket) if ticket else None
        if session is None:
            return redirect(LOGOUT_URL)
        cookie = "%s=%s; Path=/; Secure; HttpOnly" % (SESSION_COOKIE, session)
        # "Remember me": a cookie with a lifetime is kept on disk, so a restarted browser has it.
        if self.state.persistentSessions:
            cookie += "; Max-Age=%d" % PERSISTENT_SESSION_SECONDS
        return redirect(hosts.TENANT_ORIGIN + hosts.HOME_PATH, headers=[("Set-Cookie", cookie)])

    def _logout(self, token):
        headers = []
        if token:
            self.state.endSession(token)
            headers.append(("Set-Cookie", "%s=; Path=/; Secure; HttpOnly; Max-Age=0" % SESSION_COOKIE))
        return htmlResponse(200, pages.signedOutPage(), headers)

    def _attachment(self, request, name):
        file = self.state.roster.attachments.get(name)
        return self._photo(request, file)

    def _photo(self, request, file):
        if file is None:
            return _notFound(request)
        try:
            data = file.read_bytes()
        except OSError as error:
            self.log.warning("cannot read photo %s: %s", file, error)
            return _notFound(request)
        # Thumbnails are the same bytes: the demo has no image scaler, and readers are meant to
        # fetch the full-size address anyway.
        return Response(200, data, photoContentType(data), [("Cache-Control", "private, no-store")])

    # ------------------------------------------------------------ Workday identity

    def identity(self, request):
        if request.path == hosts.UPC_START_PATH:
            ticket = request.query.get("ticket", "")
            if not re.fullmatch(r"[A-Za-z0-9_-]{1,200}", ticket):
                return redirect(LOGOUT_URL)
            cookie = "%s=%s; Path=%s; Secure; HttpOnly" % (UPC_COOKIE, ticket, UPC_COOKIE_PATH)
            return redirect("https://%s%s?pending=trust" % (hosts.IDENTITY_HOST, hosts.UPC_LOGIN_PATH),
                            headers=[("Set-Cookie", cookie)])
        if request.path != hosts.UPC_LOGIN_PATH:
            return _notFound(request)
        if request.query.get("pending") != "trust":
            # Workday sends an ended session here without a pending step.
            return htmlResponse(200, pages.signedOutPage())
        prompts = self.state.rememberPrompts
        if request.method != "POST":
            prompts["shown"] += 1
            return htmlResponse(200, pages.rememberDevicePage())
        prompts["submitted"] += 1
        if request.form().get("trustDevice") == "true":
            prompts["trusted"] += 1
        ticket = request.cookies().get(UPC_COOKIE, "")
        clear = ("Set-Cookie", "%s=; Path=%s; Secure; HttpOnly; Max-Age=0" % (UPC_COOKIE, UPC_COOKIE_PATH))
        if not ticket:
            return redirect(LOGOUT_URL, headers=[clear])
        return redirect("%s?ticket=%s" % (hosts.GATEWAY_URL, urllib.parse.quote(ticket, safe="")), headers=[clear])

    # ------------------------------------------------------------ university web applications

    def webapps(self, request):
        if request.path == "/":
            return htmlResponse(200, pages.simplePage(
                "Ashgrove Web Applications", "Ashgrove Web Applications",
                "Campus directory, room booking and other university services."))
        if request.path.startswith("/photos/"):
            return self._photo(request, self.state.roster.externalPhotos.get(request.path[len("/photos/"):]))
        return _notFound(request)

    def shibboleth(self, request):
        if request.path == "/":
            return htmlResponse(200, pages.simplePage(
                "Ashgrove Identity Provider", "Ashgrove Identity Provider",
                "This is the university's Shibboleth identity provider. Sign in through a service."))
        return _notFound(request)

"""Starts a demo tenant for a test and talks to it the way a browser does: through its proxy,
over TLS checked against the tenant's own certificate, with cookies."""

import json
import re
import select
import shutil
import signal
import subprocess
import tempfile
import unittest
import urllib.parse
from pathlib import Path

import requests

REPOSITORY = Path(__file__).resolve().parents[2]
RUN = REPOSITORY / "tools" / "demo-tenant" / "run"


def stopProcess(process):
    """Ends a process politely (SIGTERM), forcefully after 10 s."""
    if process and process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Tenant:
    """One tenant process on free ports in its own state folder."""

    def __init__(self, stateDir=None):
        self._ownsDir = stateDir is None
        self.stateDir = Path(stateDir or tempfile.mkdtemp(prefix="demo-tenant-test-"))
        self.process = None
        self.startLine = None

    def start(self):
        self.process = subprocess.Popen(
            [str(RUN), "--state-dir", str(self.stateDir), "--proxy-port", "0", "--control-port", "0"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # The start line comes in one write, once the tenant serves.
        isReady = select.select([self.process.stdout], [], [], 10)[0]
        line = self.process.stdout.readline() if isReady else b""
        if not line:
            self.process.kill()
            raise AssertionError("the tenant printed no start line; stderr: %s"
                                 % self.process.stderr.read().decode(errors="replace"))
        self.startLine = line.decode()
        info = json.loads(self.startLine)
        self.proxy, self.controlAddress = (_hostPort(info[key]) for key in ("proxy", "control"))
        self.configPath = Path(info["config"])
        self.certPath = self.stateDir / "tls" / "cert.pem"
        return self

    def stop(self):
        stopProcess(self.process)
        if self.process:
            self.process.stdout.close()
            self.process.stderr.close()
        return self.process.returncode if self.process else None

    def cleanUp(self):
        self.stop()
        if self._ownsDir:
            shutil.rmtree(self.stateDir, ignore_errors=True)

    def control(self, path, raw=None, method="POST"):
        """Calls the control API; returns (status, decoded JSON)."""
        response = requests.request(method, "http://%s:%d%s" % (*self.controlAddress, path), data=raw, timeout=10,
                                    proxies={"http": None}, headers={"Content-Type": "application/json"} if raw is not None else {})
        return response.status_code, response.json()

    def set(self, path, body=None):
        status, state = self.control(path, json.dumps(body if body is not None else {}).encode())
        if status != 200:
            raise AssertionError("control %s %s failed: %s %s" % (path, body, status, state))
        return state

    def state(self):
        return self.control("/state", method="GET")[1]

    def log(self):
        return (self.stateDir / "demo-tenant.log").read_text(errors="replace")


def _hostPort(text):
    host, _, port = text.rpartition(":")
    return host, int(port)


class Browser(requests.Session):
    """Every host through the tenant's proxy, TLS checked against the tenant's own certificate,
    cookies kept; a redirect is followed only when asked (`follow`)."""

    def __init__(self, tenant):
        super().__init__()
        self.trust_env = False
        self.proxies = {"https": "http://%s:%d" % tenant.proxy}
        self.verify = str(tenant.certPath)

    def request(self, method, url, **options):
        options.update(allow_redirects=False, timeout=10)
        return super().request(method, url, **options)

    def follow(self, page, limit=10):
        """Follows redirects from `page`; returns every page seen, `page` first."""
        seen = [page]
        while seen[-1].is_redirect and len(seen) <= limit:
            seen.append(self.get(location(seen[-1])))
        return seen


def location(page):
    """Where a redirect goes, as an absolute address."""
    return urllib.parse.urljoin(page.url, page.headers["Location"])


# ------------------------------------------------------------------ the sign-in chain, step by step

def templateForm(casPage):
    """The CAS form, as the page's script would put it in place."""
    match = re.search(r'<template id="fm1-template">(.*?)</template>', casPage.text, re.S)
    assert match, "the CAS page has no form template"
    return match.group(1)


def formFields(formHtml):
    return dict(re.findall(r'<input[^>]*name="([^"]+)"[^>]*value="([^"]*)"', formHtml))


def submitPassword(browser, password, username="demo"):
    """Loads the CAS form and submits it as a user would; returns the answer."""
    casPage = browser.follow(browser.get("https://workday.ashgrove.test/"))[-1]
    form = templateForm(casPage)
    action = re.search(r'<form[^>]*action="([^"]*)"', form).group(1).replace("&amp;", "&")
    return browser.post(urllib.parse.urljoin(casPage.url, action), data=dict(formFields(form), username=username, password=password))


def approveDuo(browser, duoPage):
    """Asks the Duo status the way the Duo page's script does; returns the return URL or None."""
    sid = urllib.parse.parse_qs(urllib.parse.urlsplit(duoPage.url).query)["sid"][0]
    answer = json.loads(browser.get("https://api-d3m0.duosecurity.test/frame/v4/status?sid=" + sid).text)
    return answer.get("redirect")


def rosterRows(browser):
    """The rows of the roster page, as the data its script renders from."""
    page = browser.get("https://wd5.myworkday.test/ashgrove/d/task/1422$2579.htmld")
    return json.loads(re.search(r'id="wd-roster-data">(.*?)</script>', page.text, re.S).group(1))["rows"]


def signIn(browser, tenant):
    """Walks the whole chain with Duo answering at once; returns the last page reached."""
    tenant.set("/duo", {"mode": "approve", "delayMs": 0})
    answer = submitPassword(browser, "ashgrove-demo")
    assert answer.status_code == 302, answer
    duoPage = browser.get(location(answer))
    finish = browser.get(approveDuo(browser, duoPage))
    continueLink = re.search(r'<a id="continue" href="([^"]+)"', finish.text).group(1).replace("&amp;", "&")
    return browser.follow(browser.get(continueLink))[-1]


class TenantTestCase(unittest.TestCase):
    """One tenant for the class; every test starts from a reset tenant and a new browser."""

    tenant = None

    @classmethod
    def setUpClass(cls):
        cls.tenant = Tenant().start()

    @classmethod
    def tearDownClass(cls):
        cls.tenant.cleanUp()

    def setUp(self):
        self.tenant.set("/reset")
        self.browser = self.newBrowser()

    def newBrowser(self):
        browser = Browser(self.tenant)
        self.addCleanup(browser.close)
        return browser

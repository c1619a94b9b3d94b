"""Drives the demo tenant in a real WebKitGTK view and prints what the pages did, as JSON.

Run under a display (xvfb-run) by test_browser.py:
    browser_check.py PROXY-HOST:PORT CONTROL-HOST:PORT CERTIFICATE-FILE OUTPUT-DIR
It signs in through the whole chain as a user would, and reads the rendered pages with the
same kinds of scripts the application uses. Screenshots of the home and roster pages go to
OUTPUT-DIR.
"""

import json
import sys
import time
import urllib.request

import gi

gi.require_version("Gtk", "4.0")
gi.require_version("WebKit", "6.0")
from gi.repository import Gio, GLib, Gtk, WebKit  # noqa: E402

HOSTS = ("workday.ashgrove.test", "webapps.ashgrove.test", "login.ashgrove.test", "shib.ashgrove.test",
         "api-d3m0.duosecurity.test", "wd5.myworkday.test", "wd5.identity.myworkday.test")
TENANT = "https://wd5.myworkday.test"


class Driver:
    def __init__(self, proxy, certFile):
        Gtk.init()
        self.session = WebKit.NetworkSession.new_ephemeral()
        self.session.set_proxy_settings(WebKit.NetworkProxyMode.CUSTOM,
                                        WebKit.NetworkProxySettings.new("http://" + proxy, None))
        certificate = Gio.TlsCertificate.new_from_file(certFile)
        for host in HOSTS:
            self.session.allow_tls_certificate_for_host(certificate, host)
        self.view = WebKit.WebView(network_session=self.session)
        self.window = Gtk.Window(default_width=1100, default_height=900)
        self.window.set_child(self.view)
        self.window.present()
        # Wakes the loop regularly so that waits can check their deadline.
        GLib.timeout_add(25, lambda: True)

    def spinUntil(self, predicate, timeout, what):
        context = GLib.MainContext.default()
        deadline = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() > deadline:
                raise TimeoutError("timed out waiting for " + what)
            context.iteration(True)

    def _await(self, start, finish, timeout, what):
        box = {}

        def done(source, result, *args):
            try:
                box["value"] = finish(result)
            except GLib.Error as error:
                box["error"] = error
        start(done)
        self.spinUntil(lambda: box, timeout, what)
        if "error" in box:
            raise RuntimeError("%s failed: %s" % (what, box["error"].message))
        return box["value"]

    def evaluate(self, script, timeout=10):
        value = self._await(lambda done: self.view.evaluate_javascript(script, -1, None, None, None, done),
                            self.view.evaluate_javascript_finish, timeout, "script")
        return json.loads(value.to_json(0) or "null")

    def callAsync(self, body, timeout=60):
        value = self._await(
            lambda done: self.view.call_async_javascript_function(body, -1, None, None, None, None, done),
            self.view.call_async_javascript_function_finish, timeout, "async script")
        return json.loads(value.to_json(0) or "null")

    def waitFor(self, expression, timeout=15):
        """Waits until the expression, evaluated in the page, gives something truthy."""
        def check():
            try:
                return self.evaluate(expression)
            except RuntimeError:
                return None  # the page is being replaced
        return self.spinUntil(check, timeout, expression)

    def waitForUrl(self, prefix, timeout=15):
        return self.spinUntil(lambda: (self.view.get_uri() or "").startswith(prefix) and self.view.get_uri(),
                              timeout, "URL " + prefix)

    def load(self, url):
        finished = []
        handler = self.view.connect("load-changed", lambda view, event: event == WebKit.LoadEvent.FINISHED
                                    and finished.append(view.get_uri()))
        try:
            self.view.load_uri(url)
            self.spinUntil(lambda: finished, 15, "load of " + url)
        finally:
            self.view.disconnect(handler)
        return finished[-1]

    def screenshot(self, path):
        texture = self._await(
            lambda done: self.view.get_snapshot(WebKit.SnapshotRegion.VISIBLE, WebKit.SnapshotOptions.NONE, None,
                                                done),
            self.view.get_snapshot_finish, 10, "snapshot")
        texture.save_to_png(path)


def control(address, path, body):
    request = urllib.request.Request("http://%s%s" % (address, path), json.dumps(body).encode(), method="POST")
    with urllib.request.urlopen(request, timeout=10) as response:
        return json.loads(response.read())


READ_ROSTER = """
const wrapper = document.querySelector('[data-automation-id="tableWrapper"]');
const table = wrapper.querySelector('table');
const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));
const keys = new Set();
let mostRows = 0;
const collect = () => {
    const rows = table.querySelectorAll('tbody tr');
    mostRows = Math.max(mostRows, rows.length);
    for (const row of rows) {
        const text = [...row.children].slice(1).map(cell => cell.innerText.trim());
        if (text[1] || text[2]) keys.add(text.join('|'));
    }
};
const firstRows = table.querySelectorAll('tbody tr');
const firstRow = firstRows[0];
collect();
let idle = 0;
while (idle < 4) {
    const before = keys.size;
    wrapper.scrollTop = wrapper.scrollHeight;
    wrapper.dispatchEvent(new Event('scroll', { bubbles: true }));
    await sleep(400);
    collect();
    idle = keys.size > before ? 0 : idle + 1;
}
const recycled = table.querySelector('tbody tr') === firstRow;
wrapper.scrollTop = 0;
wrapper.dispatchEvent(new Event('scroll', { bubbles: true }));
await sleep(600);
const label = [...document.querySelectorAll('*')].map(e => e.innerText || '')
    .find(text => /^\\d+ items$/.test(text.trim()));
const images = [...table.querySelectorAll('img')].filter(img => img.src.includes('/attachment/'));
const backgrounds = [...table.querySelectorAll('div')].filter(div => getComputedStyle(div).backgroundImage.includes('/attachment/'));
const loadedImages = images.filter(img => img.complete && img.naturalWidth > 0).length;
const full = new URL(images[0].src); full.search = '';
const response = await fetch(full.href, { credentials: 'include' });
const blob = await response.blob();
return { rows: keys.size, mostRows, recycled, label: label ? label.trim() : null, images: images.length,
         loadedImages, backgrounds: backgrounds.length, photoStatus: response.status, photoType: blob.type };
"""


def run(proxy, controlAddress, certificate, output, facts):
    driver = Driver(proxy, certificate)
    control(controlAddress, "/duo", {"delayMs": 200})
    control(controlAddress, "/counts", {"task": 4, "notification": None, "draft": 2})

    # Sign in as a user would: the form appears by script, the password is typed and submitted.
    driver.load("https://workday.ashgrove.test/")
    driver.waitFor("!!document.querySelector('#fm1 input[type=password]')")
    facts["formSubmitIsShadowed"] = driver.evaluate("typeof document.getElementById('fm1').submit !== 'function'")
    driver.evaluate("(() => { const f = document.getElementById('fm1');"
                    " f.querySelector('[name=username]').value = 'demo';"
                    " f.querySelector('[name=password]').value = 'ashgrove-demo';"
                    " f.querySelector('button[name=submit]').click(); return true; })()")
    driver.waitForUrl(TENANT + "/ashgrove/d/home.htmld", timeout=60)
    facts["homeBadges"] = driver.waitFor(
        "(() => { const i = document.querySelector('[data-automation-id=inbox_preview]');"
        " const n = document.querySelector('[data-automation-id=notification_preview]');"
        " return i && n ? [i.textContent.trim(), n.textContent.trim()] : null; })()")
    driver.waitFor("document.fonts.status === 'loaded'", 5)
    driver.screenshot(output + "/home.png")

    # The report grid renders its rows only in a visible page.
    driver.load(TENANT + "/ashgrove/d/task/2997$728.htmld")
    facts["grid"] = driver.waitFor(
        "(() => { const label = document.querySelector('[data-automation-id=rowCountLabel]');"
        " const rows = document.querySelectorAll('table[data-automation-id=table] [data-automation-id=row]');"
        " return label && rows.length ? { label: label.textContent, rows: rows.length } : null; })()")

    # Roster: read every row by scrolling, as the roster export does, for the demo and a long roster.
    for name, body in (("roster", None), ("generatedRoster", {"generate": 120})):
        if body:
            facts["generatedRows"] = control(controlAddress, "/roster", body)["modes"]["roster"]["rows"]
        driver.load(TENANT + "/ashgrove/d/task/1422$2579.htmld")
        driver.waitFor("document.querySelectorAll('[data-automation-id=tableWrapper] tbody tr').length > 0")
        driver.spinUntil(lambda: driver.evaluate(
            "[...document.querySelectorAll('img')].every(img => img.complete)"), 10, "roster photos")
        if not body:
            facts["rosterTitle"] = driver.view.get_title()
            driver.screenshot(output + "/roster.png")
        facts[name] = driver.callAsync(READ_ROSTER)


if __name__ == "__main__":
    facts = {}
    try:
        run(*sys.argv[1:5], facts)
    except Exception as error:  # reported to the test as data, with what was seen so far
        facts["error"] = "%s: %s" % (type(error).__name__, error)
    print(json.dumps(facts))
    sys.exit(1 if "error" in facts else 0)

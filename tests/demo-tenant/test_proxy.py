"""The proxy: what it tunnels, what it refuses, bad input, and the offline switch."""

import socket
import ssl
import subprocess
import unittest

from support import TenantTestCase

DEMO_HOSTS = ["workday.ashgrove.test", "webapps.ashgrove.test", "login.ashgrove.test", "shib.ashgrove.test",
              "api-d3m0.duosecurity.test", "wd5.myworkday.test", "wd5.identity.myworkday.test"]


def statusOf(response):
    return int(response.split(b" ", 2)[1]) if response.startswith(b"HTTP/1.") else None


class TunnelTests(TenantTestCase):
    def test_everyDemoHostAnswersOverTlsWithTheSharedCertificate(self):
        for host in DEMO_HOSTS:
            with self.subTest(host=host):
                # The browser verifies the certificate against the host name.
                self.assertLess(self.browser.get("https://%s/" % host).status, 500)

    def test_curlWalksTheEntryRedirectWithTheGeneratedCertificate(self):
        result = subprocess.run(
            ["curl", "-sS", "--proxy", "http://%s:%d" % self.tenant.proxy, "--cacert", str(self.tenant.certPath),
             "-o", "/dev/null", "-w", "%{http_code} %{redirect_url}", "https://workday.ashgrove.test/"],
            capture_output=True, text=True, timeout=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout, r"^302 https://login\.ashgrove\.test/cas/login\?service=")

    def test_connectToAForeignHostIsRefused(self):
        answer = self.rawProxyExchange(b"CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n")
        self.assertIn(statusOf(answer), (403, 502))

    def test_connectToADemoHostOnAnotherPortIsRefused(self):
        for port in (8443, 80):
            with self.subTest(port=port):
                request = b"CONNECT login.ashgrove.test:%d HTTP/1.1\r\n\r\n" % port
                self.assertIn(statusOf(self.rawProxyExchange(request)), (403, 502))

    def test_plainHttpToADemoHostMovesToHttps(self):
        answer = self.rawProxyExchange(b"GET http://wd5.myworkday.test/ashgrove/d/home.htmld HTTP/1.1\r\n"
                                       b"Host: wd5.myworkday.test\r\nConnection: close\r\n\r\n")
        self.assertEqual(statusOf(answer), 301)
        self.assertIn(b"Location: https://wd5.myworkday.test/ashgrove/d/home.htmld\r\n", answer)

    def test_malformedProxyTargetIsABadRequest(self):
        self.assertEqual(statusOf(self.rawProxyExchange(b"GET http://[::1/ HTTP/1.1\r\n\r\n")), 400)

    def test_plainHttpToAForeignHostIsRefused(self):
        answer = self.rawProxyExchange(b"GET http://example.com/ HTTP/1.1\r\nHost: example.com\r\n\r\n")
        self.assertEqual(statusOf(answer), 403)

    def test_unknownPathGetsANotFoundPage(self):
        page = self.browser.get("https://login.ashgrove.test/no/such/page")
        self.assertEqual(page.status, 404)
        self.assertTrue(page.header("Content-Type").startswith("text/html"))
        self.assertIn("Page Not Found", page.text)

    def test_keepAliveServesSeveralRequestsOnOneTunnel(self):
        self.browser.get("https://login.ashgrove.test/cas/login")
        connection = self.browser.connections["login.ashgrove.test"]
        socketBefore = connection.sock
        self.browser.get("https://login.ashgrove.test/cas/login")
        self.assertIs(connection.sock, socketBefore)


class BadInputTests(TenantTestCase):
    def tunnel(self, host="login.ashgrove.test"):
        """A raw TLS socket inside a tunnel, for requests no well-behaved client sends."""
        raw = socket.create_connection(self.tenant.proxy, timeout=5)
        raw.sendall(b"CONNECT %s:443 HTTP/1.1\r\n\r\n" % host.encode())
        self.assertEqual(statusOf(raw.recv(4096)), 200)
        context = ssl.create_default_context(cafile=str(self.tenant.certPath))
        tls = context.wrap_socket(raw, server_hostname=host)
        self.addCleanup(tls.close)
        return tls

    def exchange(self, tls, data):
        try:
            tls.sendall(data)
        except (ConnectionResetError, BrokenPipeError, ssl.SSLError):
            pass  # the server may answer before it has read everything; the answer still counts
        received = b""
        while True:
            try:
                chunk = tls.recv(65536)
            except (ConnectionResetError, ssl.SSLError):
                break
            if not chunk:
                break
            received += chunk
        return received

    def assertStillServing(self):
        self.assertEqual(self.newBrowser().get("https://login.ashgrove.test/cas/login").status, 200)

    def test_malformedRequestLinesAreBadRequests(self):
        for line in (b"NONSENSE\r\n\r\n", b"GET\r\n\r\n", b"GET / HTTP/1.1 extra\r\n\r\n", b"GET nowhere HTTP/1.1\r\n\r\n",
                     b"\xff\xfe / HTTP/1.1\r\n\r\n"):
            with self.subTest(line=line):
                self.assertEqual(statusOf(self.exchange(self.tunnel(), line)), 400)
        self.assertStillServing()

    def test_malformedHeaderIsABadRequest(self):
        answer = self.exchange(self.tunnel(), b"GET /cas/login HTTP/1.1\r\nno colon here\r\n\r\n")
        self.assertEqual(statusOf(answer), 400)
        self.assertStillServing()

    def test_bodyOverOneMebibyteIsRefusedWithoutReadingIt(self):
        answer = self.exchange(self.tunnel(), b"POST /cas/login HTTP/1.1\r\nHost: login.ashgrove.test\r\n"
                                              b"Content-Length: 2000000\r\n\r\n")
        self.assertEqual(statusOf(answer), 413)
        self.assertStillServing()

    def test_chunkedBodyIsRefused(self):
        answer = self.exchange(self.tunnel(), b"POST /cas/login HTTP/1.1\r\nHost: login.ashgrove.test\r\n"
                                              b"Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n")
        self.assertIn(statusOf(answer), (400, 411))

    def test_oversizedHeaderIsRefused(self):
        answer = self.exchange(self.tunnel(), b"GET /cas/login HTTP/1.1\r\nX-Big: " + b"a" * 100000 + b"\r\n\r\n")
        self.assertIn(statusOf(answer), (400, 431))
        self.assertStillServing()

    def test_garbageInsteadOfTlsIsLoggedAndSurvived(self):
        with socket.create_connection(self.tenant.proxy, timeout=5) as raw:
            raw.sendall(b"CONNECT login.ashgrove.test:443 HTTP/1.1\r\n\r\n")
            raw.recv(4096)
            raw.sendall(b"GET / HTTP/1.1\r\n\r\n")
            raw.settimeout(5)
            try:
                while raw.recv(4096):
                    pass
            except (ConnectionResetError, socket.timeout):
                pass
        self.assertStillServing()
        self.assertIn("TLS handshake", self.tenant.log())

    def test_clientThatHangsUpMidRequestLeavesTheServerServing(self):
        with socket.create_connection(self.tenant.proxy, timeout=5) as raw:
            raw.sendall(b"CONNECT login.ash")
        tls = self.tunnel()
        tls.sendall(b"POST /cas/login HTTP/1.1\r\nContent-Length: 100\r\n\r\nusername=")
        tls.close()
        self.assertStillServing()


class OfflineTests(TenantTestCase):
    def proxyRefuses(self):
        try:
            with socket.create_connection(self.tenant.proxy, timeout=5) as raw:
                raw.sendall(b"CONNECT login.ashgrove.test:443 HTTP/1.1\r\n\r\n")
                answer = raw.recv(4096)
        except ConnectionRefusedError:
            return True
        return answer == b"" or statusOf(answer) == 502

    def test_offlineRefusesConnectionsUntilTurnedBack(self):
        self.assertEqual(self.browser.get("https://login.ashgrove.test/cas/login").status, 200)
        state = self.tenant.set("/offline", {"offline": True})
        self.assertTrue(state["modes"]["offline"])
        self.assertTrue(self.proxyRefuses())
        # A tunnel opened before going offline is cut as well.
        with self.assertRaises(OSError):
            self.browser.get("https://login.ashgrove.test/cas/login")
        self.tenant.set("/offline", {"offline": False})
        self.assertFalse(self.proxyRefuses())
        self.assertEqual(self.newBrowser().get("https://login.ashgrove.test/cas/login").status, 200)

    def test_resetBringsTheProxyBackOnline(self):
        self.tenant.set("/offline", {"offline": True})
        self.tenant.set("/reset")
        self.assertEqual(self.newBrowser().get("https://login.ashgrove.test/cas/login").status, 200)


if __name__ == "__main__":
    unittest.main()

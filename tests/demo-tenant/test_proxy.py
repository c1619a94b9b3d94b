"""The proxy: what it tunnels, what it refuses, bad input, and the offline switch."""

import socket
import ssl
import unittest

from support import TenantTestCase

DEMO_HOSTS = ["workday.ashgrove.test", "webapps.ashgrove.test", "login.ashgrove.test", "shib.ashgrove.test",
              "api-d3m0.duosecurity.test", "wd5.myworkday.test", "wd5.identity.myworkday.test"]


def statusOf(response):
    return int(response.split(b" ", 2)[1]) if response.startswith(b"HTTP/1.") else None


def exchange(connection, data, untilHeaders=False):
    """Sends bytes; returns what came back before the connection closed (or, if asked, the headers)."""
    try:
        connection.sendall(data)
    except (ConnectionResetError, BrokenPipeError, ssl.SSLError):
        pass  # the server may answer before it has read everything; the answer still counts
    received = b""
    while not (untilHeaders and b"\r\n\r\n" in received):
        try:
            chunk = connection.recv(65536)
        except (ConnectionResetError, ssl.SSLError, socket.timeout):
            break
        if not chunk:
            break
        received += chunk
    return received


class ProxyTests(TenantTestCase):
    def assertStillServing(self):
        self.assertEqual(self.newBrowser().get("https://login.ashgrove.test/cas/login").status_code, 200)

    def tunnel(self, host="login.ashgrove.test"):
        """A raw TLS socket inside a tunnel, for requests no well-behaved client sends."""
        raw = socket.create_connection(self.tenant.proxy, timeout=5)
        raw.sendall(b"CONNECT %s:443 HTTP/1.1\r\n\r\n" % host.encode())
        self.assertEqual(statusOf(raw.recv(4096)), 200)
        tls = ssl.create_default_context(cafile=str(self.tenant.certPath)).wrap_socket(raw, server_hostname=host)
        self.addCleanup(tls.close)
        return tls

    def proxyExchange(self, data, untilHeaders=False):
        with socket.create_connection(self.tenant.proxy, timeout=5) as connection:
            return exchange(connection, data, untilHeaders)

    def test_onlyDemoHostsOnPort443AreTunnelledEachWithTheSharedCertificate(self):
        for host in DEMO_HOSTS:
            with self.subTest(host=host):
                # The browser verifies the certificate against the host name.
                self.assertLess(self.browser.get("https://%s/" % host).status_code, 500)
        cases = (
            (b"CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n", (403, 502)),
            (b"CONNECT login.ashgrove.test:8443 HTTP/1.1\r\n\r\n", (403, 502)),
            (b"CONNECT login.ashgrove.test:80 HTTP/1.1\r\n\r\n", (403, 502)),
            (b"GET http://example.com/ HTTP/1.1\r\nHost: example.com\r\n\r\n", (403,)),
            (b"GET http://[::1/ HTTP/1.1\r\n\r\n", (400,)),
        )
        for request, statuses in cases:
            with self.subTest(request=request):
                self.assertIn(statusOf(self.proxyExchange(request)), statuses)
        answer = self.proxyExchange(b"GET http://wd5.myworkday.test/ashgrove/d/home.htmld HTTP/1.1\r\n"
                                       b"Host: wd5.myworkday.test\r\nConnection: close\r\n\r\n")
        self.assertEqual(statusOf(answer), 301)
        self.assertIn(b"Location: https://wd5.myworkday.test/ashgrove/d/home.htmld\r\n", answer)

    def test_badRequestsAreRefusedAndTheServerKeepsServing(self):
        post = b"POST /cas/login HTTP/1.1\r\nHost: login.ashgrove.test\r\n"
        cases = (
            (b"NONSENSE\r\n\r\n", (400,)),
            (b"GET\r\n\r\n", (400,)),
            (b"GET / HTTP/1.1 extra\r\n\r\n", (400,)),
            (b"GET nowhere HTTP/1.1\r\n\r\n", (400,)),
            (b"\xff\xfe / HTTP/1.1\r\n\r\n", (400,)),
            (b"GET /cas/login HTTP/1.1\r\nno colon here\r\n\r\n", (400,)),
            (b"GET /cas/login HTTP/1.1\r\nX-Big: " + b"a" * 100000 + b"\r\n\r\n", (400, 431)),
            (post + b"Content-Length: 2000000\r\n\r\n", (413,)),
            (post + b"Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", (400, 411)),
        )
        for request, statuses in cases:
            with self.subTest(request=request[:60]):
                self.assertIn(statusOf(exchange(self.tunnel(), request)), statuses)
        self.assertStillServing()

    def test_clientsThatBreakOffOrSkipTlsLeaveTheServerServing(self):
        with socket.create_connection(self.tenant.proxy, timeout=5) as raw:
            raw.sendall(b"CONNECT login.ash")
        tls = self.tunnel()
        tls.sendall(b"POST /cas/login HTTP/1.1\r\nContent-Length: 100\r\n\r\nusername=")
        tls.close()
        with socket.create_connection(self.tenant.proxy, timeout=5) as raw:
            exchange(raw, b"CONNECT login.ashgrove.test:443 HTTP/1.1\r\n\r\n", untilHeaders=True)
            exchange(raw, b"GET / HTTP/1.1\r\n\r\n")
        self.assertStillServing()
        self.assertIn("TLS handshake", self.tenant.log())

    def test_offlineCutsOpenTunnelsAndRefusesNewOnesUntilTurnedBackOrReset(self):
        for path, body in (("/offline", {"offline": False}), ("/reset", {})):
            with self.subTest(turnedBackBy=path):
                browser = self.newBrowser()
                self.assertEqual(browser.get("https://login.ashgrove.test/cas/login").status_code, 200)
                self.assertTrue(self.tenant.set("/offline", {"offline": True})["modes"]["offline"])
                with self.assertRaises(OSError):
                    browser.get("https://login.ashgrove.test/cas/login")
                try:
                    answer = self.proxyExchange(b"CONNECT login.ashgrove.test:443 HTTP/1.1\r\n\r\n", untilHeaders=True)
                except ConnectionRefusedError:
                    answer = b""
                self.assertTrue(answer == b"" or statusOf(answer) == 502, answer)
                self.tenant.set(path, body)
                self.assertStillServing()


if __name__ == "__main__":
    unittest.main()

"""The HTTP proxy through which the application reaches every demo host.

`CONNECT host:443` to a demo host opens a tunnel whose TLS ends here, with the demo
certificate, and the requests inside it are answered by the sites. Anything else is refused.
"""

import asyncio
import logging
import ssl

from . import hosts
from .httpio import (IDLE_TIMEOUT_SECONDS, STREAM_LIMIT, HttpError, closeWriter, errorPage, readRequest,
                     redirect, refuse, serveHttp, sendResponse)

LOOPBACK = "127.0.0.1"
HANDSHAKE_TIMEOUT_SECONDS = 15


class ProxyServer:
    def __init__(self, sites, sslContext, log=None, servedHosts=hosts.DEMO_HOSTS):
        self.sites = sites
        self.sslContext = sslContext
        self.log = log or logging.getLogger("demo-tenant")
        self.servedHosts = frozenset(servedHosts)
        self.port = None
        self.offline = False
        self._server = None
        self._connections = set()

    async def start(self, port=0):
        self._server = await self._listen(port)
        self.port = self._server.sockets[0].getsockname()[1]
        return self.port

    def _listen(self, port):
        return asyncio.start_server(self._accept, LOOPBACK, port, limit=STREAM_LIMIT, reuse_address=True)

    async def setOffline(self, offline):
        """Offline, the proxy stops listening, so that clients see their connections refused as
        when a network is gone, and the tunnels already open are cut."""
        if offline == self.offline:
            return
        if offline:
            self.offline = True
            self._server.close()
            for writer in list(self._connections):
                writer.transport.abort()
            self.log.info("proxy offline")
        else:
            self._server = await self._listen(self.port)
            self.offline = False
            self.log.info("proxy online again on port %d", self.port)

    async def close(self):
        if self._server is not None:
            self._server.close()
        for writer in list(self._connections):
            writer.transport.abort()

    async def _accept(self, reader, writer):
        self._connections.add(writer)
        try:
            await self._serve(reader, writer)
        except Exception:
            self.log.exception("proxy connection failed")
        finally:
            self._connections.discard(writer)
            await closeWriter(writer)

    async def _serve(self, reader, writer):
        try:
            request = await asyncio.wait_for(readRequest(reader), IDLE_TIMEOUT_SECONDS)
        except HttpError as error:
            self.log.info("proxy: bad request: %d %s", error.status, error.message)
            await refuse(reader, writer, error)
            return
        except (asyncio.TimeoutError, ConnectionError, OSError):
            return
        if request is None:
            return
        if self.offline:
            await sendResponse(writer, _closing(errorPage(502, "The network is offline.")))
            return
        if request.method == "CONNECT":
            await self._tunnel(request, reader, writer)
        else:
            await serveHttp(reader, writer, self._plainRequest, self.log, firstRequest=request)

    async def _tunnel(self, request, reader, writer):
        host, colon, port = request.target.rpartition(":")
        host = host.lower()
        if not colon or not host or not port.isdigit():
            await sendResponse(writer, _closing(errorPage(400, "CONNECT needs host:port.")))
            return
        if host not in self.servedHosts or int(port) != 443:
            self.log.info("proxy: refused CONNECT %s", request.target)
            await sendResponse(writer, _closing(errorPage(403, "The demo tenant only serves its own hosts on port 443.")))
            return
        writer.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
        await writer.drain()
        try:
            await writer.start_tls(self.sslContext, ssl_handshake_timeout=HANDSHAKE_TIMEOUT_SECONDS)
        except (ssl.SSLError, ConnectionError, OSError, asyncio.TimeoutError) as error:
            self.log.info("proxy: TLS handshake for %s failed: %s", host, error)
            return
        await serveHttp(reader, writer, lambda inner: self.sites.handle(inner, host), self.log)

    def _plainRequest(self, request):
        # Plain http through the proxy: demo hosts move to https as the real ones do.
        host = request.absoluteHost.lower()
        if not host:
            return _closing(errorPage(400, "This is a proxy: ask for an absolute URL or CONNECT."))
        if host not in self.servedHosts:
            self.log.info("proxy: refused %s %s", request.method, request.target)
            return _closing(errorPage(403, "The demo tenant only serves its own hosts."))
        return redirect("https://%s%s" % (host, request.pathAndQuery), status=301)


def _closing(response):
    response.close = True
    return response

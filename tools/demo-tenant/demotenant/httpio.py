"""HTTP/1.1 message reading and writing, shared by the tunnelled sites and the control API.

Only what browsers and curl send is supported: Content-Length bodies, keep-alive, HEAD.
Anything else is answered with a 4xx status and the connection is closed.
"""

import asyncio
import html
import json
import logging
import ssl
import urllib.parse
from dataclasses import dataclass, field
from email.utils import formatdate
from http import HTTPStatus

MAX_HEADER_BYTES = 64 * 1024
MAX_HEADER_COUNT = 100
MAX_BODY_BYTES = 1024 * 1024
STREAM_LIMIT = MAX_HEADER_BYTES + 1024
IDLE_TIMEOUT_SECONDS = 300
LINGER_SECONDS = 0.5
LINGER_BYTES = 4 * MAX_BODY_BYTES
BODY_TIMEOUT_SECONDS = 30

_TOKEN_CHARS = set("!#$%&'*+-.^_`|~0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")


class HttpError(Exception):
    """A request that cannot be served; answered with `status` and the connection closed."""

    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.message = message


@dataclass
class Request:
    method: str
    target: str
    version: str
    headers: list
    body: bytes = b""
    path: str = "/"
    rawQuery: str = ""
    # Set for proxy requests in absolute form ("GET http://host/path").
    absoluteHost: str = ""

    def header(self, name, default=None):
        name = name.lower()
        for key, value in self.headers:
            if key.lower() == name:
                return value
        return default

    @property
    def query(self):
        return {key: values[0] for key, values in urllib.parse.parse_qs(self.rawQuery, keep_blank_values=True).items()}

    @property
    def pathAndQuery(self):
        return self.path + ("?" + self.rawQuery if self.rawQuery else "")

    def cookies(self):
        """Name -> value of the Cookie headers; the first of a repeated name wins, and pairs
        that are not name=value are skipped rather than spoiling the rest."""
        jar = {}
        for header in (v for k, v in self.headers if k.lower() == "cookie"):
            for pair in header.split(";"):
                name, equals, value = pair.strip().partition("=")
                if equals and name:
                    jar.setdefault(name, value.strip('"'))
        return jar

    def form(self):
        """The fields of an application/x-www-form-urlencoded body (first value of each)."""
        try:
            text = self.body.decode("utf-8")
        except UnicodeDecodeError:
            raise HttpError(400, "The form body is not UTF-8.")
        return {key: values[0] for key, values in urllib.parse.parse_qs(text, keep_blank_values=True).items()}

    def json(self):
        """The JSON body; an empty body reads as an empty object."""
        if not self.body.strip():
            return {}
        try:
            return json.loads(self.body.decode("utf-8"))
        except (UnicodeDecodeError, ValueError) as error:
            raise HttpError(400, "The body is not valid JSON: %s" % error)

    @property
    def wantsClose(self):
        connection = (self.header("connection") or "").lower()
        if self.version == "HTTP/1.0":
            return "keep-alive" not in connection
        return "close" in connection


@dataclass
class Response:
    status: int = 200
    body: bytes = b""
    contentType: str = ""
    headers: list = field(default_factory=list)
    close: bool = False

    def addHeader(self, name, value):
        self.headers.append((name, value))
        return self


def reasonPhrase(status):
    try:
        return HTTPStatus(status).phrase
    except ValueError:
        return "Unknown"


def htmlResponse(status, body, headers=None):
    return Response(status, body.encode("utf-8"), "text/html; charset=utf-8",
                    [("Cache-Control", "no-store")] + list(headers or []))


def jsonResponse(status, value):
    return Response(status, (json.dumps(value, ensure_ascii=False) + "\n").encode("utf-8"),
                    "application/json", [("Cache-Control", "no-store")])


def redirect(location, status=302, headers=None):
    return Response(status, b"", "", [("Location", location), ("Cache-Control", "no-store")] + list(headers or []))


def errorPage(status, message):
    phrase = reasonPhrase(status)
    body = ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>%d %s</title></head>"
            "<body><h1>%s</h1><p>%s</p></body></html>\n") % (status, html.escape(phrase), html.escape(phrase),
                                                          html.escape(message))
    return htmlResponse(status, body)


def encodeResponse(response, headOnly=False):
    lines = ["HTTP/1.1 %d %s" % (response.status, reasonPhrase(response.status))]
    lines.append("Date: " + formatdate(usegmt=True))
    if response.contentType:
        lines.append("Content-Type: " + response.contentType)
    lines.append("Content-Length: %d" % len(response.body))
    for name, value in response.headers:
        lines.append("%s: %s" % (name, value))
    if response.close:
        lines.append("Connection: close")
    head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
    return head if headOnly else head + response.body


async def _readLine(reader, budget):
    try:
        line = await reader.readuntil(b"\n")
    except asyncio.LimitOverrunError:
        raise HttpError(431, "The request header is too large.")
    if len(line) > budget:
        raise HttpError(431, "The request header is too large.")
    return line


async def readRequest(reader, bodyLimit=MAX_BODY_BYTES):
    """Reads one request. Returns None when the peer closed the connection between requests."""
    budget = MAX_HEADER_BYTES
    # Tolerate the empty lines some clients send between requests.
    while True:
        try:
            line = await _readLine(reader, budget)
        except asyncio.IncompleteReadError as error:
            if error.partial.strip():
                raise HttpError(400, "The request ended early.")
            return None
        budget -= len(line)
        if line.strip():
            break
    try:
        requestLine = line.decode("ascii").rstrip("\r\n")
    except UnicodeDecodeError:
        raise HttpError(400, "The request line is not ASCII.")
    parts = requestLine.split(" ")
    if len(parts) != 3 or not parts[0] or not set(parts[0]) <= _TOKEN_CHARS or not parts[1]:
        raise HttpError(400, "Malformed request line.")
    method, target, version = parts
    if version not in ("HTTP/1.1", "HTTP/1.0"):
        raise HttpError(400 if not version.startswith("HTTP/") else 505, "Unsupported protocol version.")

    headers = []
    while True:
        try:
            line = await _readLine(reader, budget)
        except asyncio.IncompleteReadError:
            raise HttpError(400, "The request header ended early.")
        budget -= len(line)
        if line in (b"\r\n", b"\n"):
            break
        if len(headers) >= MAX_HEADER_COUNT:
            raise HttpError(431, "Too many request header fields.")
        text = line.decode("latin-1").rstrip("\r\n")
        name, colon, value = text.partition(":")
        if not colon or not name or not set(name) <= _TOKEN_CHARS:
            raise HttpError(400, "Malformed header field.")
        headers.append((name, value.strip()))

    request = Request(method, target, version, headers)
    _splitTarget(request)

    if request.header("transfer-encoding") is not None:
        raise HttpError(411, "Send the body with a Content-Length.")
    lengths = {v for k, v in headers if k.lower() == "content-length"}
    if len(lengths) > 1:
        raise HttpError(400, "Conflicting Content-Length fields.")
    length = 0
    if lengths:
        text = lengths.pop()
        if not text.isdigit() or len(text) > 15:
            raise HttpError(400, "Malformed Content-Length.")
        length = int(text)
    if length > bodyLimit:
        raise HttpError(413, "The request body is larger than %d bytes." % bodyLimit)
    if length:
        try:
            request.body = await asyncio.wait_for(reader.readexactly(length), BODY_TIMEOUT_SECONDS)
        except asyncio.IncompleteReadError:
            raise HttpError(400, "The request body ended early.")
        except asyncio.TimeoutError:
            raise HttpError(408, "The request body did not arrive.")
    return request


def _splitTarget(request):
    target = request.target
    if request.method == "CONNECT":
        return
    if target.startswith("/"):
        pathPart, _, request.rawQuery = target.partition("?")
    elif target.lower().startswith(("http://", "https://")):
        try:
            parsed = urllib.parse.urlsplit(target)
        except ValueError:
            raise HttpError(400, "Malformed request target.")
        if not parsed.hostname:
            raise HttpError(400, "Malformed request target.")
        request.absoluteHost = parsed.hostname
        pathPart, request.rawQuery = parsed.path or "/", parsed.query
    elif target == "*" and request.method == "OPTIONS":
        pathPart = "*"
    else:
        raise HttpError(400, "Malformed request target.")
    pathPart = pathPart.partition("#")[0]
    try:
        request.path = urllib.parse.unquote(pathPart, errors="strict") if "%" in pathPart else pathPart
    except UnicodeDecodeError:
        raise HttpError(400, "Malformed request target.")


async def serveHttp(reader, writer, handler, log, firstRequest=None):
    """Answers requests on one connection until the peer or a response closes it.

    `handler(request)` returns a Response (it may be a coroutine function). Its exceptions are
    logged and answered with 500; they never reach the caller.
    """
    request = firstRequest
    while True:
        if request is None:
            try:
                request = await asyncio.wait_for(readRequest(reader), IDLE_TIMEOUT_SECONDS)
            except HttpError as error:
                log.info("bad request: %d %s", error.status, error.message)
                await refuse(reader, writer, error)
                return
            except (asyncio.TimeoutError, ConnectionError, ssl.SSLError, OSError):
                return
            if request is None:
                return
        try:
            response = handler(request)
            if asyncio.iscoroutine(response):
                response = await response
        except HttpError as error:
            response = errorPage(error.status, error.message)
            response.close = True
        except Exception:
            log.exception("error answering %s %s", request.method, request.target)
            response = errorPage(500, "The demo tenant failed to answer this request; see its log.")
            response.close = True
        if request.wantsClose:
            response.close = True
        if not await sendResponse(writer, response, headOnly=request.method == "HEAD"):
            return
        if response.close:
            return
        request = None


async def refuse(reader, writer, error):
    """Answers a request that could not be read, then reads and drops what the client is still
    sending for a moment: closing at once with unread data would reset the connection, and the
    client might lose the answer."""
    response = errorPage(error.status, error.message)
    response.close = True
    if not await sendResponse(writer, response):
        return
    deadline = asyncio.get_running_loop().time() + LINGER_SECONDS
    dropped = 0
    try:
        while dropped < LINGER_BYTES:
            remaining = deadline - asyncio.get_running_loop().time()
            if remaining <= 0:
                break
            chunk = await asyncio.wait_for(reader.read(65536), remaining)
            if not chunk:
                break
            dropped += len(chunk)
    except (asyncio.TimeoutError, ConnectionError, ssl.SSLError, OSError):
        pass


async def sendResponse(writer, response, headOnly=False):
    try:
        writer.write(encodeResponse(response, headOnly))
        await writer.drain()
        return True
    except (ConnectionError, ssl.SSLError, OSError):
        return False


async def closeWriter(writer):
    try:
        writer.close()
        await asyncio.wait_for(writer.wait_closed(), 2)
    except (ConnectionError, ssl.SSLError, OSError, asyncio.TimeoutError):
        pass
    except Exception:  # an already aborted TLS transport may complain in several ways
        logging.getLogger("demo-tenant").debug("closing a connection failed", exc_info=True)

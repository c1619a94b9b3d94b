"""The control API: tests and `make demo` change the tenant's behaviour through it.

Every call answers the state as JSON; a call it cannot carry out answers 4xx with
{"error": message} and changes nothing.
"""

import logging

from .httpio import HttpError, jsonResponse
from .roster import RosterError, generateRoster, loadRosterFile
from .state import DUO_MODES, REJECT_MODES

MAX_GENERATED_STUDENTS = 5000
MAX_DUO_DELAY_MS = 10 * 60 * 1000
MAX_DRAFT = 10000


class ControlError(Exception):
    def __init__(self, message, status=400):
        super().__init__(message)
        self.status = status


def _object(body):
    if not isinstance(body, dict):
        raise ControlError("The body must be a JSON object.")
    return body


def _onlyKeys(body, allowed):
    unknown = sorted(set(body) - set(allowed))
    if unknown:
        raise ControlError("Unknown field(s): %s. Allowed: %s." % (", ".join(unknown), ", ".join(allowed)))


def _boolean(body, key):
    if not isinstance(body.get(key), bool):
        raise ControlError('"%s" must be true or false.' % key)
    return body[key]


def _isInteger(value):
    return isinstance(value, int) and not isinstance(value, bool)


class ControlApi:
    def __init__(self, state, proxy, log=None):
        self.state = state
        self.proxy = proxy
        self.log = log or logging.getLogger("demo-tenant")
        self._routes = {
            "/counts": self.setCounts,
            "/expire-sessions": self.expireSessions,
            "/account": self.setAccount,
            "/reject": self.setReject,
            "/duo": self.setDuo,
            "/offline": self.setOffline,
            "/broken-flow": self.setBrokenFlow,
            "/remember-device": self.setRememberDevice,
            "/persistent-sessions": self.setPersistentSessions,
            "/roster": self.setRoster,
            "/reset": self.reset,
        }

    async def handle(self, request):
        path = request.path.rstrip("/") or "/"
        try:
            if path == "/state":
                if request.method not in ("GET", "HEAD"):
                    raise ControlError("Use GET for /state.", 405)
            elif path in self._routes:
                if request.method != "POST":
                    raise ControlError("Use POST for %s." % path, 405)
                try:
                    body = request.json()
                except HttpError as error:
                    raise ControlError(error.message)
                await self._routes[path](body)
                # The account's password stays out of the log.
                shown = "" if path == "/account" else request.body.decode("utf-8", "replace")[:200]
                self.log.info("control %s %s", path, shown)
            else:
                return jsonResponse(404, {"error": "Unknown control call %s." % request.path})
        except ControlError as error:
            self.log.info("control %s refused: %s", path, error)
            return jsonResponse(error.status, {"error": str(error)})
        return jsonResponse(200, self.state.snapshot())

    async def setCounts(self, body):
        body = _object(body)
        _onlyKeys(body, ("task", "notification", "prepaid", "draft"))
        counts = dict(self.state.counts)
        for key, value in body.items():
            if value is None or value == "absent":
                pass
            elif key in ("task", "notification"):
                # Any badge text is allowed, so that "99+" and the like can be shown.
                if not (_isInteger(value) or (isinstance(value, str) and len(value) <= 20)):
                    raise ControlError('"%s" must be a number, a short text, null or "absent".' % key)
            elif not (_isInteger(value) and 0 <= value <= MAX_DRAFT):
                raise ControlError('"%s" must be a number from 0 to %d, null or "absent".' % (key, MAX_DRAFT))
            counts[key] = value
        self.state.counts = counts

    async def expireSessions(self, body):
        self.state.expireSessions()

    async def setAccount(self, body):
        body = _object(body)
        _onlyKeys(body, ("username", "password"))
        for key in ("username", "password"):
            if not isinstance(body.get(key), str) or not body[key]:
                raise ControlError('"%s" must be a non-empty text.' % key)
        self.state.username, self.state.password = body["username"], body["password"]

    async def setReject(self, body):
        body = _object(body)
        _onlyKeys(body, ("mode",))
        if body.get("mode") not in REJECT_MODES:
            raise ControlError('"mode" must be one of: %s.' % ", ".join(REJECT_MODES))
        self.state.rejectMode = body["mode"]

    async def setDuo(self, body):
        body = _object(body)
        _onlyKeys(body, ("mode", "delayMs"))
        if not body:
            raise ControlError('Give "mode" and/or "delayMs".')
        if "mode" in body and body["mode"] not in DUO_MODES:
            raise ControlError('"mode" must be one of: %s.' % ", ".join(DUO_MODES))
        if "delayMs" in body and not (_isInteger(body["delayMs"]) and 0 <= body["delayMs"] <= MAX_DUO_DELAY_MS):
            raise ControlError('"delayMs" must be a whole number of milliseconds from 0 to %d.' % MAX_DUO_DELAY_MS)
        self.state.duoMode = body.get("mode", self.state.duoMode)
        self.state.duoDelayMs = body.get("delayMs", self.state.duoDelayMs)

    async def setOffline(self, body):
        body = _object(body)
        _onlyKeys(body, ("offline",))
        offline = _boolean(body, "offline")
        await self._applyOffline(offline)

    async def _applyOffline(self, offline):
        try:
            await self.proxy.setOffline(offline)
        except OSError as error:
            raise ControlError("The proxy could not listen again: %s" % error, 500)
        self.state.offline = offline

    async def setBrokenFlow(self, body):
        body = _object(body)
        _onlyKeys(body, ("on",))
        self.state.brokenFlow = _boolean(body, "on")

    async def setRememberDevice(self, body):
        body = _object(body)
        _onlyKeys(body, ("on",))
        self.state.rememberDevice = _boolean(body, "on")

    async def setPersistentSessions(self, body):
        body = _object(body)
        _onlyKeys(body, ("on",))
        self.state.persistentSessions = _boolean(body, "on")

    async def setRoster(self, body):
        body = _object(body)
        _onlyKeys(body, ("generate", "file"))
        if len(body) > 1:
            raise ControlError('Give either "generate" or "file", not both.')
        if "generate" in body:
            count = body["generate"]
            if not (_isInteger(count) and 0 <= count <= MAX_GENERATED_STUDENTS):
                raise ControlError('"generate" must be a number of students from 0 to %d.' % MAX_GENERATED_STUDENTS)
            self.state.roster = generateRoster(count, self.state.defaultRoster)
        elif "file" in body:
            if not isinstance(body["file"], str) or not body["file"]:
                raise ControlError('"file" must be the path of a roster file.')
            try:
                self.state.roster = loadRosterFile(body["file"])
            except RosterError as error:
                raise ControlError(str(error))
        else:
            self.state.roster = self.state.defaultRoster

    async def reset(self, body):
        await self._applyOffline(False)
        self.state.reset()

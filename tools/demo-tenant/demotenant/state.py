"""What the demo tenant knows: the account, live sessions, sign-ins in progress, the counts the
pages show and the modes set through the control API."""

import secrets
import time
from dataclasses import dataclass

from . import hosts

DEFAULT_USERNAME = "demo"
DEFAULT_PASSWORD = "ashgrove-demo"
DEFAULT_COUNTS = {"task": 3, "notification": 2, "prepaid": 2, "draft": 1}
DEFAULT_DUO_DELAY_MS = 1500
REJECT_MODES = ("off", "form-error", "401")
DUO_MODES = ("approve", "hold")
# Sign-ins in progress are forgotten after this long, so a client that walks away leaks nothing.
PENDING_LIFETIME_SECONDS = 900
# "Remember me": how long the Workday session cookie lives in the browser when sessions persist.
PERSISTENT_SESSION_SECONDS = 8 * 60 * 60


@dataclass
class DuoTransaction:
    sid: str
    state: str
    created: float
    code: str = ""
    rememberDevice: bool = False


def newToken(prefix=""):
    return prefix + secrets.token_urlsafe(18)


class TenantState:
    def __init__(self, defaultRoster, clock=time.monotonic):
        self.defaultRoster = defaultRoster
        self.clock = clock
        self.reset()

    def reset(self):
        self.username = DEFAULT_USERNAME
        self.password = DEFAULT_PASSWORD
        self.counts = dict(DEFAULT_COUNTS)
        self.sessions = {}
        self.passwordSubmissions = 0
        self.lastUsername = ""
        self.rejectMode = "form-error"
        self.duoMode = "approve"
        self.duoDelayMs = DEFAULT_DUO_DELAY_MS
        self.offline = False
        self.brokenFlow = False
        self.rememberDevice = False
        self.persistentSessions = False
        self.roster = self.defaultRoster
        self.duoTransactions = {}  # sid -> DuoTransaction
        self.tickets = {}  # service ticket -> issue time
        self.rememberPrompts = {"shown": 0, "submitted": 0, "trusted": 0}

    def snapshot(self):
        return {
            "counts": dict(self.counts),
            "sessions": len(self.sessions),
            "passwordSubmissions": self.passwordSubmissions,
            "lastUsername": self.lastUsername,
            "modes": {
                "reject": self.rejectMode,
                "duo": self.duoMode,
                "duoDelayMs": self.duoDelayMs,
                "offline": self.offline,
                "brokenFlow": self.brokenFlow,
                "rememberDevice": self.rememberDevice,
                "persistentSessions": self.persistentSessions,
                "username": self.username,
                "roster": self.roster.summary(),
            },
            "rememberDevicePrompt": dict(self.rememberPrompts),
        }

    # Password form

    def submitPassword(self, username, password):
        """Records one submission of the CAS form; True when it matches the account."""
        self.passwordSubmissions += 1
        self.lastUsername = username
        return username == self.username and password == self.password

    # Duo

    def startDuo(self):
        self._forgetStale()
        transaction = DuoTransaction(newToken(), newToken(), self.clock(),
                                     rememberDevice=self.rememberDevice)
        self.duoTransactions[transaction.sid] = transaction
        return transaction

    def duoResult(self, sid):
        """None while the push waits for approval; otherwise the URL that returns to CAS.
        Raises KeyError for an unknown transaction."""
        transaction = self.duoTransactions[sid]
        if not transaction.code:
            if self.duoMode != "approve":
                return None
            if (self.clock() - transaction.created) * 1000 < self.duoDelayMs:
                return None
            transaction.code = newToken()
        return "https://%s%s?state=%s&duo_code=%s" % (hosts.SSO_HOST, hosts.CAS_LOGIN_PATH,
                                                      transaction.state, transaction.code)

    def finishDuo(self, state, code):
        """Trades an approved Duo return for a service ticket, once. Returns (ticket,
        rememberDevice) or None."""
        for sid, transaction in list(self.duoTransactions.items()):
            if transaction.state == state:
                if not transaction.code or not secrets.compare_digest(transaction.code, code):
                    return None
                del self.duoTransactions[sid]
                ticket = newToken("ST-")
                self.tickets[ticket] = self.clock()
                return ticket, transaction.rememberDevice
        return None

    # Workday

    def redeemTicket(self, ticket):
        """Starts a session for a valid ticket (each works once); returns the session token."""
        self._forgetStale()
        if self.tickets.pop(ticket, None) is None:
            return None
        token = newToken()
        self.sessions[token] = self.clock()
        return token

    def hasSession(self, token):
        return bool(token) and token in self.sessions

    def endSession(self, token):
        self.sessions.pop(token, None)

    def expireSessions(self):
        self.sessions.clear()

    def _forgetStale(self):
        oldest = self.clock() - PENDING_LIFETIME_SECONDS
        for sid in [s for s, t in self.duoTransactions.items() if t.created < oldest]:
            del self.duoTransactions[sid]
        for ticket in [t for t, issued in self.tickets.items() if issued < oldest]:
            del self.tickets[ticket]

"""Starts the demo tenant: `run --state-dir DIR [--proxy-port N] [--control-port N]`."""

import argparse
import asyncio
import json
import logging
import os
import signal
import sys
from pathlib import Path

from . import hosts
from .certificate import CertificateError, ensureCertificate, serverContext
from .control import ControlApi
from .httpio import STREAM_LIMIT, closeWriter, serveHttp
from .proxy import LOOPBACK, ProxyServer
from .roster import RosterError, loadRosterFile
from .sites import Sites
from .state import TenantState

LOG_NAME = "demo-tenant.log"
CONFIG_NAME = "halcyra.conf"


def defaultDataDir():
    """The shared demo data beside the repository; HALCYRA_DEMO_DATA overrides it."""
    override = os.environ.get("HALCYRA_DEMO_DATA")
    if override:
        return Path(override).resolve()
    # tools/demo-tenant/demotenant/ -> the folder that holds the repository -> shared/demo-tenant
    return (Path(__file__).resolve().parent.parent.parent.parent.parent / "shared" / "demo-tenant").resolve()


def _port(text):
    value = int(text)
    if not 0 <= value <= 65535:
        raise argparse.ArgumentTypeError("a port is a number from 0 to 65535")
    return value


def parseArguments(argv):
    parser = argparse.ArgumentParser(prog="demo-tenant", description=(
        "A local stand-in for Ashgrove's sign-in chain and Workday tenant. Prints one JSON line "
        "naming the proxy, the control API and the application configuration once it serves."))
    parser.add_argument("--state-dir", required=True, help="folder for the certificate, configuration and log")
    parser.add_argument("--proxy-port", type=_port, default=0, help="proxy port on 127.0.0.1 (0: any free port)")
    parser.add_argument("--control-port", type=_port, default=0, help="control API port on 127.0.0.1 (0: any)")
    return parser.parse_args(argv)


def applicationConfig(proxyPort, certPath):
    return {
        "endpoints": dict(hosts.ENDPOINTS),
        "proxy": "http://%s:%d" % (LOOPBACK, proxyPort),
        "trustedCertificates": [{"file": str(certPath), "hosts": list(hosts.DEMO_HOSTS)}],
        "sync": {"url": "", "user": ""},
        "updateFeedURL": "",
        "website": "https://www.ashgrove.edu/",
    }


def writeConfig(path, config):
    temporary = path.with_name(path.name + ".tmp")
    temporary.write_text(json.dumps(config, indent=2) + "\n", encoding="utf-8")
    os.replace(temporary, path)


def _setUpLog(stateDir):
    log = logging.getLogger("demo-tenant")
    log.setLevel(logging.INFO)
    handler = logging.FileHandler(stateDir / LOG_NAME, encoding="utf-8")
    handler.setFormatter(logging.Formatter("%(asctime)s %(levelname)s %(message)s"))
    log.addHandler(handler)
    log.propagate = False
    # Errors of the event loop itself (a failed callback, an unretrieved exception) go to the same log.
    asyncioLog = logging.getLogger("asyncio")
    asyncioLog.addHandler(handler)
    asyncioLog.propagate = False
    return log


class _StopRequest:
    """Ctrl-C and SIGTERM end the tenant quietly at any moment: before serving they exit at
    once; while serving they let the server close its connections; once it is stopping,
    further requests are ignored. Installed with signal.signal rather than the event loop's
    handlers, which the loop takes away again (restoring KeyboardInterrupt) when it closes."""

    def __init__(self):
        self.loop = None
        self.event = None
        self.requested = False

    def install(self):
        for signalNumber in (signal.SIGTERM, signal.SIGINT):
            signal.signal(signalNumber, self._handle)

    def serveOn(self, loop):
        self.loop = loop
        self.event = asyncio.Event()
        return self.event

    def _handle(self, signalNumber, frame):
        if self.requested:
            return
        self.requested = True
        # Held back from now on: Python puts the default handlers back while it shuts down, and a
        # second Ctrl-C or stop that arrived then would kill the tenant instead of being ignored.
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM, signal.SIGINT})
        if self.loop is None:
            sys.exit(0)
        try:
            self.loop.call_soon_threadsafe(self.event.set)
        except RuntimeError:
            # The loop has closed: the tenant is on its way out already.
            pass


_stopRequest = _StopRequest()


async def serve(args, stateDir, state, certPath, keyPath, log):
    stop = _stopRequest.serveOn(asyncio.get_running_loop())
    sites = Sites(state, log)
    proxy = ProxyServer(sites, serverContext(certPath, keyPath), log)
    control = ControlApi(state, proxy, log)
    controlConnections = set()

    async def acceptControl(reader, writer):
        controlConnections.add(writer)
        try:
            await serveHttp(reader, writer, control.handle, log)
        except Exception:
            log.exception("control connection failed")
        finally:
            controlConnections.discard(writer)
            await closeWriter(writer)

    proxyPort = await proxy.start(args.proxy_port)
    controlServer = await asyncio.start_server(acceptControl, LOOPBACK, args.control_port, limit=STREAM_LIMIT,
                                               reuse_address=True)
    controlPort = controlServer.sockets[0].getsockname()[1]

    configPath = stateDir / CONFIG_NAME
    writeConfig(configPath, applicationConfig(proxyPort, certPath))
    log.info("serving: proxy %s:%d, control %s:%d", LOOPBACK, proxyPort, LOOPBACK, controlPort)
    print(json.dumps({"proxy": "%s:%d" % (LOOPBACK, proxyPort), "control": "%s:%d" % (LOOPBACK, controlPort),
                      "config": str(configPath)}), flush=True)

    await stop.wait()
    log.info("stopping")
    controlServer.close()
    for writer in list(controlConnections):
        writer.transport.abort()
    await proxy.close()


def main(argv=None):
    _stopRequest.install()
    args = parseArguments(sys.argv[1:] if argv is None else argv)
    stateDir = Path(args.state_dir).resolve()
    try:
        stateDir.mkdir(parents=True, exist_ok=True)
        log = _setUpLog(stateDir)
    except OSError as error:
        print("demo-tenant: cannot use the state folder %s: %s" % (stateDir, error.strerror), file=sys.stderr)
        return 2
    dataDir = defaultDataDir()
    try:
        roster = loadRosterFile(dataDir / "roster.json")
    except RosterError as error:
        print("demo-tenant: %s (set HALCYRA_DEMO_DATA to the demo data folder)" % error, file=sys.stderr)
        return 2
    try:
        certPath, keyPath = ensureCertificate(stateDir / "tls", hosts.DEMO_HOSTS, log)
    except (CertificateError, OSError) as error:
        print("demo-tenant: cannot make the TLS certificate: %s" % error, file=sys.stderr)
        return 2
    state = TenantState(roster)
    try:
        asyncio.run(serve(args, stateDir, state, certPath, keyPath, log))
    except OSError as error:
        log.error("cannot serve: %s", error)
        print("demo-tenant: cannot listen: %s" % error, file=sys.stderr)
        return 1
    except BrokenPipeError:
        return 1
    return 0

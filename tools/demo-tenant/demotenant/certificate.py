"""The demo tenant's TLS certificate: made once per state folder with the openssl command."""

import os
import ssl
import subprocess
import tempfile
from pathlib import Path

# An EC key is made in milliseconds, which keeps the first start well under the 2 s budget.
_OPENSSL_CONFIG = """\
[req]
distinguished_name = subject
x509_extensions = extensions
prompt = no

[subject]
O = Ashgrove Demo Tenant
CN = Ashgrove Demo Tenant

[extensions]
basicConstraints = critical, CA:TRUE
keyUsage = critical, digitalSignature, keyCertSign
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
subjectAltName = {names}
"""


class CertificateError(Exception):
    pass


def ensureCertificate(tlsDir, hosts, log):
    """Returns (certificate path, key path), making them when missing, unreadable or made for
    another host list. A folder that already holds a good pair is left as it is, so that the
    application's trust in the certificate survives restarts of the tenant."""
    tlsDir = Path(tlsDir)
    certPath, keyPath, hostsPath = tlsDir / "cert.pem", tlsDir / "key.pem", tlsDir / "hosts"
    wanted = "\n".join(hosts) + "\n"
    if certPath.is_file() and keyPath.is_file() and hostsPath.is_file():
        try:
            if hostsPath.read_text() == wanted:
                ssl.create_default_context(ssl.Purpose.CLIENT_AUTH).load_cert_chain(certPath, keyPath)
                return certPath, keyPath
            log.info("certificate host list changed; making a new certificate")
        except (OSError, ssl.SSLError) as error:
            log.warning("certificate in %s is unusable (%s); making a new one", tlsDir, error)
    tlsDir.mkdir(parents=True, exist_ok=True)
    _generate(tlsDir, hosts)
    hostsPath.write_text(wanted)
    log.info("made a new certificate for %s", ", ".join(hosts))
    return certPath, keyPath


def _generate(tlsDir, hosts):
    names = ", ".join("DNS:" + host for host in hosts)
    with tempfile.TemporaryDirectory(dir=tlsDir, prefix=".new-") as work:
        work = Path(work)
        (work / "openssl.cnf").write_text(_OPENSSL_CONFIG.format(names=names))
        command = [
            "openssl", "req", "-x509", "-new", "-nodes",
            "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-sha256", "-days", "3650",
            "-config", str(work / "openssl.cnf"),
            "-keyout", str(work / "key.pem"), "-out", str(work / "cert.pem"),
        ]
        try:
            subprocess.run(command, check=True, capture_output=True, timeout=20)
        except FileNotFoundError:
            raise CertificateError("the openssl command is not installed")
        except subprocess.CalledProcessError as error:
            raise CertificateError("openssl failed: " + error.stderr.decode(errors="replace").strip())
        except subprocess.TimeoutExpired:
            raise CertificateError("openssl did not finish")
        os.chmod(work / "key.pem", 0o600)
        # A start interrupted between these two leaves a pair that does not load, and the
        # next start makes a new one.
        os.replace(work / "key.pem", tlsDir / "key.pem")
        os.replace(work / "cert.pem", tlsDir / "cert.pem")


def serverContext(certPath, keyPath):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(certPath, keyPath)
    context.set_alpn_protocols(["http/1.1"])
    return context

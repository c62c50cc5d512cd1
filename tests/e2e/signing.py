"""Authenticode-signed test files, made with openssl and osslsigncode in a
temporary folder: a test root, code-signing leaves signed by it, and the
files they sign. No key is ever committed; every private key is deleted as
soon as the files are signed.

A signature is trusted only when its root is. Wine builds its trusted roots
from the host's certificates (/etc/ssl/certs): `trust_root` copies a root to
/usr/local/share/ca-certificates/ and runs update-ca-certificates, and
`untrust_roots` removes every root this module put there and runs
`update-ca-certificates --fresh`. A root added this way is only ever one
whose keys are gone, so the host gains no root that anybody could still sign
with, also when a run is killed before it removes it; the next session
removes such leftovers first (conftest.py).
"""

from __future__ import annotations

import hashlib
import os
import shutil
import subprocess
import uuid
from dataclasses import dataclass
from pathlib import Path

HOST_ROOTS = Path("/usr/local/share/ca-certificates")
ROOT_PREFIX = "prereq-e2e-signing-root-"

EXTENSIONS = """
[req]
distinguished_name = dn
prompt = no
[dn]
CN = placeholder
[root]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def tools_missing() -> str | None:
    """Why files cannot be signed here, if they cannot."""
    missing = [t for t in ("openssl", "osslsigncode") if shutil.which(t) is None]
    return "not installed: " + ", ".join(missing) if missing else None


def can_trust_roots() -> str | None:
    """Why a test root cannot be made trusted here, if it cannot."""
    if os.geteuid() != 0:
        return "adding a trusted root to the host needs root"
    if shutil.which("update-ca-certificates") is None or not HOST_ROOTS.is_dir():
        return "no update-ca-certificates"
    return None


def _run(*args: str, cwd: Path | None = None):
    subprocess.run(list(args), check=True, cwd=cwd, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


@dataclass
class Certificate:
    name: str        # the subject common name
    cert: Path       # PEM
    key: Path | None  # PEM; None once deleted

    @property
    def thumbprint(self) -> str:
        """SHA-256 of the certificate's encoded (DER) bytes, lower case."""
        der = subprocess.run(["openssl", "x509", "-in", str(self.cert), "-outform", "DER"],
                             check=True, capture_output=True, stdin=subprocess.DEVNULL).stdout
        return hashlib.sha256(der).hexdigest()


class Signing:
    """Roots and leaves in `folder`; sign() with a leaf and its chain."""

    def __init__(self, folder: Path):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        (self.folder / "ext.cnf").write_text(EXTENSIONS)
        self._chains: dict[str, Path] = {}
        self.certificates: list[Certificate] = []

    def root(self, name: str) -> Certificate:
        stem = self.folder / f"root-{uuid.uuid4().hex[:8]}"
        cert, key = stem.with_suffix(".pem"), stem.with_suffix(".key")
        _run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
             "-out", str(cert), "-days", "3", "-subj", f"/CN={name}",
             "-config", str(self.folder / "ext.cnf"), "-extensions", "root")
        made = Certificate(name, cert, key)
        self.certificates.append(made)
        return made

    def leaf(self, name: str, issuer: Certificate) -> Certificate:
        assert issuer.key is not None, "the issuer's key is already deleted"
        stem = self.folder / f"leaf-{uuid.uuid4().hex[:8]}"
        cert, key, request = stem.with_suffix(".pem"), stem.with_suffix(".key"), stem.with_suffix(".csr")
        _run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out",
             str(request), "-subj", f"/CN={name}")
        _run("openssl", "x509", "-req", "-in", str(request), "-CA", str(issuer.cert), "-CAkey",
             str(issuer.key), "-set_serial", str(int(uuid.uuid4().hex[:12], 16)), "-out", str(cert),
             "-days", "2", "-extfile", str(self.folder / "ext.cnf"), "-extensions", "leaf")
        made = Certificate(name, cert, key)
        chain = stem.with_suffix(".chain.pem")
        chain.write_text(cert.read_text() + issuer.cert.read_text())
        self._chains[str(cert)] = chain
        self.certificates.append(made)
        return made

    def sign(self, source: Path, target: Path, leaf: Certificate) -> Path:
        assert leaf.key is not None, "the leaf's key is already deleted"
        target.unlink(missing_ok=True)
        _run("osslsigncode", "sign", "-certs", str(self._chains[str(leaf.cert)]), "-key", str(leaf.key),
             "-h", "sha256", "-in", str(source), "-out", str(target))
        return target

    def forget_keys(self):
        """Deletes every private key: nothing more can be signed."""
        for c in self.certificates:
            if c.key is not None:
                c.key.unlink(missing_ok=True)
                c.key = None


def tamper(signed: Path, target: Path, inside: bytes | None = None) -> Path:
    """A copy with one byte changed inside what the signature covers: in the
    first occurrence of `inside` (for a package whose structure must stay
    readable, such as an MSI's streams), else a third into the file, well
    before the signature at its end."""
    data = bytearray(signed.read_bytes())
    at = data.index(inside) + len(inside) - 1 if inside else len(data) // 3
    data[at] ^= 0x01
    target.write_bytes(bytes(data))
    return target


def trust_root(root: Certificate):
    assert root.key is None, "only a root whose key is gone may become trusted"
    shutil.copyfile(root.cert, HOST_ROOTS / f"{ROOT_PREFIX}{uuid.uuid4().hex[:8]}.crt")
    _run("update-ca-certificates")


def untrust_roots() -> int:
    """Removes every root this module added to the host (also those a killed
    run left behind); returns how many."""
    left = sorted(HOST_ROOTS.glob(f"{ROOT_PREFIX}*.crt")) if HOST_ROOTS.is_dir() else []
    for path in left:
        path.unlink()
    if left:
        _run("update-ca-certificates", "--fresh")
    return len(left)

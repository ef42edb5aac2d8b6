#!/usr/bin/env python3
"""Writes a signed statement for one file of an update server, with the openssl command-line tool
and independently of Orvanta's own code, so that the end-to-end tests check the launcher against
the format as written down rather than against the publisher's code:

  sign_statement.py --key KEY.pem --kind catalogue|installer --game CODE --name NAME \
      --version N --file COVERED [--expires 2099-01-01T00:00:00Z] [--pin VERSION:CHECKLIST ...] OUT

COVERED is the file the statement vouches for (the catalogue as served, the installer unpacked).
sign_build.py signs whole builds with `signed` below.
"""
import argparse
import hashlib
import subprocess
import sys


def public_key_raw(key):
    der = subprocess.run(["openssl", "ec", "-in", key, "-pubout", "-outform", "DER"], check=True,
                         capture_output=True).stdout
    return der[-64:]  # X||Y after the uncompressed point's 0x04


def sign_raw(key, body):
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=body, check=True,
                         capture_output=True).stdout
    # SEQUENCE { INTEGER r, INTEGER s }
    pos, parts = 2, []
    for _ in range(2):
        assert der[pos] == 0x02
        n = der[pos + 1]
        parts.append(int.from_bytes(der[pos + 2:pos + 2 + n], "big"))
        pos += 2 + n
    return b"".join(p.to_bytes(32, "big") for p in parts)


def signed(key, body):
    """The statement `body` (text ending in LF) followed by its signature line under `key`."""
    key_id = hashlib.sha256(public_key_raw(key)).digest()[:8]
    return body + "signature %s %s\n" % (key_id.hex(), sign_raw(key, body.encode()).hex())


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--key", required=True)
    p.add_argument("--kind", required=True, choices=["catalogue", "installer"])
    p.add_argument("--game", required=True)
    p.add_argument("--name", required=True)
    p.add_argument("--version", required=True, type=int)
    p.add_argument("--file", required=True)
    p.add_argument("--expires", default="2099-01-01T00:00:00Z")
    p.add_argument("--pin", action="append", default=[])
    p.add_argument("out")
    a = p.parse_args()
    covered = open(a.file, "rb").read()
    lines = [
        "orvanta-statement 1",
        "kind " + a.kind,
        "game " + a.game,
        "name " + a.name,
        "version %d" % a.version,
        "expires " + a.expires,
        "sha256 " + hashlib.sha256(covered).hexdigest(),
        "size %d" % len(covered),
    ]
    for pin in a.pin:
        version, checklist = pin.split(":", 1)
        lines.append("pin %s %s" % (version, checklist))
    open(a.out, "wb").write(signed(a.key, "\n".join(lines) + "\n").encode())


if __name__ == "__main__":
    sys.exit(main())

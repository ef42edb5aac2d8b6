#!/usr/bin/env python3
"""Signs a build published under a server root, independently of Orvanta's own signing code, so
that the end-to-end tests can also serve statements no honest publisher makes (expired, of another
game, old versions, signed and then changed).

Usage:
    sign_build.py --root ROOT --game CODE --checklist NAME --build-dir DIR --key KEY.pem
                  [--catalogue-version N] [--checklist-version N] [--pin N] [--expires UTC]
                  [--statement-game CODE] [--statement-name NAME] [--only catalogue|checklist]
                  [--keep-hash-list]

Writes ROOT/CODE/NAME.dim.sha256 (one line per checklist entry, hashed from the build folder's
files), ROOT/CODE/NAME.dim.sig (covering ROOT/CODE/NAME.dim.lzma as it lies) and
ROOT/CODE/inf.ini.sig (covering ROOT/CODE/inf.ini, pinning NAME at --pin, by default the
checklist's version). Signs with the openssl command-line tool (sign_statement.py).
"""

import argparse
import hashlib
import lzma
import os

from sign_statement import signed


def digest_of(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            h.update(block)
    return h.hexdigest(), os.path.getsize(path)


def checklist_entries(packed):
    """(size, path) of every entry of a packed checklist, in order."""
    lines = lzma.decompress(open(packed, "rb").read(), format=lzma.FORMAT_ALONE).decode("cp1251").split("\r\n")
    return [(int(lines[i]), lines[i + 1]) for i in range(0, len(lines) - 2, 3)]


def statement(kind, game, name, version, expires, sha256, size, extra=()):
    lines = ["orvanta-statement 1", "kind " + kind, "game " + game, "name " + name, "version %d" % version,
             "expires " + expires, "sha256 " + sha256, "size %d" % size, *extra]
    return "".join(line + "\n" for line in lines)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--game", required=True)
    p.add_argument("--checklist", required=True)
    p.add_argument("--build-dir", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--catalogue-version", type=int, default=1)
    p.add_argument("--checklist-version", type=int, default=1)
    p.add_argument("--pin", type=int)
    p.add_argument("--expires", default="2099-01-01T00:00:00Z")
    p.add_argument("--statement-game")
    p.add_argument("--statement-name")
    p.add_argument("--only", choices=["catalogue", "checklist"])
    p.add_argument("--keep-hash-list", action="store_true", help="sign the hash list as it lies")
    a = p.parse_args()
    key = a.key
    folder = os.path.join(a.root, a.game)
    game = a.statement_game or a.game
    base = os.path.join(folder, a.checklist + ".dim")

    if a.only != "catalogue":
        packed = base + ".lzma"
        entries = checklist_entries(packed)
        with open(base + ".sha256", "a" if a.keep_hash_list else "w", newline="\n") as out:
            for size, path in [] if a.keep_hash_list else entries:
                local = os.path.join(a.build_dir, *[n for n in path.split("\\") if n and n != "."])
                sha = digest_of(local)[0] if size else hashlib.sha256(b"").hexdigest()
                out.write("%s %d\n" % (sha, size))
        list_sha, list_size = digest_of(base + ".sha256")
        sha, size = digest_of(packed)
        body = statement("checklist", game, a.statement_name or a.checklist, a.checklist_version, a.expires, sha,
                         size, ["hashes-sha256 " + list_sha, "hashes-size %d" % list_size, "entries %d" % len(entries)])
        open(base + ".sig", "w", newline="\n").write(signed(key, body))
    if a.only != "checklist":
        sha, size = digest_of(os.path.join(folder, "inf.ini"))
        pin = a.pin if a.pin is not None else a.checklist_version
        body = statement("catalogue", game, "inf.ini", a.catalogue_version, a.expires, sha, size,
                         ["pin %d %s" % (pin, a.checklist)])
        open(os.path.join(folder, "inf.ini.sig"), "w", newline="\n").write(signed(key, body))


if __name__ == "__main__":
    main()

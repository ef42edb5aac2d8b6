#!/usr/bin/env bash
# Makes statement.txt: a catalogue statement over statement-subject.ini signed with key.pem by the
# openssl command-line tool, independently of Orvanta's own signing code, so that the verifier is
# tested against a signature it did not make. Its expiry lies far ahead, so it never runs out.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
printf '[osn]\r\nver=1.2\r\nkolnaz=1\r\n' > statement-subject.ini
sha=$(sha256sum statement-subject.ini | cut -d' ' -f1)
size=$(stat -c %s statement-subject.ini)
keyid=$(python3 -c 'import hashlib,sys; print(hashlib.sha256(bytes.fromhex(open("public.hex").read().strip())).hexdigest()[:16])')
body=$(mktemp)
trap 'rm -f "$body"' EXIT
printf 'orvanta-statement 1\nkind catalogue\ngame cstrike\nname inf.ini\nversion 7\nexpires 2099-12-31T23:59:59Z\nsha256 %s\nsize %s\npin 3 css34\npin 1 Русский лист\n' \
  "$sha" "$size" > "$body"
sig=$(openssl dgst -sha256 -sign key.pem "$body" | python3 -c '
import sys
der = sys.stdin.buffer.read()
assert der[0] == 0x30 and der[1] == len(der) - 2
pos, parts = 2, []
for _ in range(2):
    assert der[pos] == 0x02
    n = der[pos + 1]
    parts.append(int.from_bytes(der[pos + 2:pos + 2 + n], "big"))
    pos += 2 + n
sys.stdout.write("".join(p.to_bytes(32, "big").hex() for p in parts))
')
{ cat "$body"; printf 'signature %s %s\n' "$keyid" "$sig"; } > statement.txt

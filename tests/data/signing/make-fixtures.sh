#!/usr/bin/env bash
# Regenerates the signing fixtures in this folder with the openssl command-line tool, independently
# of Orvanta's own signing code:
#   key.pem           a test-only EC P-256 private key (PEM); never use it for a release
#   second-key.pem    another test-only P-256 private key, for signing with two keys at once
#   public.hex        its public key as X||Y, 128 lower-case hex digits
#   other-public.hex  the public key of another, discarded key pair
#   signed.bin        deterministic bytes, several of the verifier's read blocks long
#   signed.bin.sig    ECDSA P-256 / SHA-256 signature of signed.bin under key.pem as raw r||s hex
# Needs openssl and python3. Signatures are randomised, so every run gives a different .sig.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
rm -f key.pem second-key.pem public.hex other-public.hex signed.bin signed.bin.sig
other=$(mktemp)
trap 'rm -f "$other"' EXIT

public_hex() {  # key.pem -> the 64 bytes after the uncompressed point's 0x04, as hex
  openssl ec -in "$1" -pubout -outform DER 2>/dev/null | tail -c 64 | od -An -v -tx1 | tr -d ' \n'
}

openssl ecparam -name prime256v1 -genkey -noout -out key.pem
openssl ecparam -name prime256v1 -genkey -noout -out second-key.pem
openssl ecparam -name prime256v1 -genkey -noout -out "$other"
public_hex key.pem > public.hex
public_hex "$other" > other-public.hex

python3 - <<'PY'
import random
rng = random.Random(8264)
open("signed.bin", "wb").write(b"MZ" + bytes(rng.getrandbits(8) for _ in range(300000)))
PY

openssl dgst -sha256 -sign key.pem signed.bin | python3 -c '
import sys
der = sys.stdin.buffer.read()
# SEQUENCE { INTEGER r, INTEGER s }, each a positive integer of at most 33 bytes
assert der[0] == 0x30 and der[1] == len(der) - 2
pos, parts = 2, []
for _ in range(2):
    assert der[pos] == 0x02
    n = der[pos + 1]
    parts.append(int.from_bytes(der[pos + 2:pos + 2 + n], "big"))
    pos += 2 + n
sys.stdout.write("".join(p.to_bytes(32, "big").hex() for p in parts))
' > signed.bin.sig
openssl dgst -sha256 -verify <(openssl ec -in key.pem -pubout 2>/dev/null) \
  -signature <(openssl dgst -sha256 -sign key.pem signed.bin) signed.bin >/dev/null
wc -c public.hex other-public.hex signed.bin.sig
./make-statement.sh

#!/usr/bin/env bash
# orvanta-tool publish from the operator's side: a build published into a folder that a plain
# static HTTP server serves, then fetched back over HTTP the way the launcher finds it (catalogue,
# checklist, every file by its address) and checked against the build with zlib's CRC-32; then
# re-publishing, refusals and the command line; last a signed launcher release, checked with the
# openssl tool. One line per check.
# Usage: native_publish.sh BUILD_DIR [SOURCE_DIR]
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
tool=$build/tools/orvanta-tool
[ -x "$tool" ] || { echo "no $tool"; exit 1; }
keys=$(cd "${2:-$(dirname "${BASH_SOURCE[0]}")/../..}" && pwd)/tests/data/signing
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# shellcheck source=../rig/check.sh
source "${keys%/tests/data/signing}/tests/rig/check.sh"

python3 - <<'PY'
import os, random
rng = random.Random(740)
def put(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    open(path, "wb").write(data)
put("game/hl2.exe", rng.randbytes(65521))
put("game/cstrike/cfg/autoexec.cfg", b"bind w +forward\r\n")
put("game/cstrike/cfg/empty.cfg", b"")
put("game/cstrike/Игрок/ник.txt", "Игрок".encode())
put("game/cstrike/maps/de_dust2.bsp", bytes(2_500_000) + rng.randbytes(1000))
os.makedirs("game/cstrike/download", exist_ok=True)
PY

publish() {  # extra options...
  "$tool" publish --build-dir game --server-root www --server-base "$base" --game-code cstrike \
    --checklist css34 --game-name "Контр-Страйк" --build-name v34 --download-path cstrike/v34 "$@"
}

# The server: python's http.server on a free port, serving www at the base.
mkdir -p www
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base=http://127.0.0.1:$port/
python3 -m http.server "$port" --bind 127.0.0.1 --directory www >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT

check "first publish: exit 0, every file compressed" \
  bash -c "$(declare -f publish); tool='$tool' base='$base' publish > first.txt && grep -q '^compressed: 4 files' first.txt && grep -q '^checklist:  css34 (written)' first.txt"

check "over HTTP: catalogue, checklist and every file match the build (zlib CRC-32)" python3 - "$tool" "$base" <<'PY'
import sys, subprocess, time, urllib.request, urllib.parse, zlib, os, configparser
tool, base = sys.argv[1], sys.argv[2]
def get(url):
    # The launcher's client sends names outside ASCII percent-encoded as UTF-8.
    parts = urllib.parse.urlsplit(url)
    url = urllib.parse.urlunsplit(parts._replace(path=urllib.parse.quote(parts.path)))
    for _ in range(50):
        try:
            with urllib.request.urlopen(url) as r:
                return r.read()
        except urllib.error.URLError as e:
            if getattr(e, "code", None): raise
            time.sleep(0.1)
    raise SystemExit("server did not answer")
def unpack(data):
    open("x.lzma", "wb").write(data)
    subprocess.run([tool, "lzma", "d", "x.lzma", "x.out"], check=True)
    return open("x.out", "rb").read()
ini = configparser.ConfigParser(interpolation=None)
ini.read_string(get(base + "cstrike/inf.ini").decode("cp1251"))
game = ini["naz1"]
assert ini["osn"]["kolnaz"] == "1" and game["naz"] == "Контр-Страйк" and game["kolver"] == "1", dict(game)
address = game["adrskach1"]
assert address == base + "cstrike/v34", address
lines = unpack(get(base + "cstrike/" + game["nazcek1"] + ".dim.lzma")).decode("cp1251").split("\r\n")
assert lines[-1] == "" and len(lines) % 3 == 1, "entries of three CR LF lines, nothing after the last"
files = 0
for size, path, crc in zip(lines[0::3], lines[1::3], lines[2::3]):
    local = "game" + path.replace("\\", "/")
    if size == "0" and path.endswith("\\."):
        assert os.path.isdir(local[:-2]), path
        continue
    files += 1
    data = open(local, "rb").read()
    assert int(size) == len(data), path
    if size == "0":
        continue
    assert int(crc) == zlib.crc32(data), path
    assert unpack(get(address + path.replace("\\", "/") + ".lzma")) == data, path
assert str(files) == game["kolf1"] == "5", (files, game["kolf1"])
keep = get(base + "cstrike/cstrikeclean.json")
assert keep.startswith(b"\xef\xbb\xbf") and "cstrike\\\\Игрок\\\\ник.txt" in keep.decode("utf-8-sig")
PY

check "re-publish unchanged: nothing compressed, nothing rewritten" \
  bash -c "$(declare -f publish); tool='$tool' base='$base' publish > again.txt && grep -q '^compressed: 0 files' again.txt && grep -q '^unchanged:  4 files' again.txt && grep -q 'catalogue:  game 1, build 1 (unchanged)' again.txt"

check "a name outside code page 1251: exit 1, the name in the message, catalogue untouched" bash -c "
  cp www/cstrike/inf.ini inf.before && touch 'game/日本.txt' &&
  { $(declare -f publish); tool='$tool' base='$base' publish 2> bad.txt; [ \$? -eq 1 ]; } &&
  grep -q '日本.txt' bad.txt && grep -q 'code page 1251' bad.txt && cmp -s inf.before www/cstrike/inf.ini &&
  rm 'game/日本.txt'"

check "--help: the options, exit 0" bash -c "'$tool' publish --help | grep -q -- '--download-path'"
check "missing option: named, usage, exit 2" \
  bash -c "'$tool' publish --build-dir game 2> usage.txt; [ \$? -eq 2 ] && grep -q 'missing --server-root' usage.txt && grep -q 'usage:' usage.txt"

# Signed launcher releases: the public key as a launcher build takes it, and a signature that the
# openssl tool itself accepts for the executable and refuses for a changed one.
openssl_verifies() {  # version.txt file
  python3 -c '
import json, sys
raw = bytes.fromhex(json.load(open(sys.argv[1]))["Signature"])
def integer(b):
    b = b.lstrip(b"\0") or b"\0"
    if b[0] & 0x80: b = b"\0" + b
    return bytes([2, len(b)]) + b
body = integer(raw[:32]) + integer(raw[32:])
sys.stdout.buffer.write(bytes([0x30, len(body)]) + body)' "$2" > sig.der &&
    openssl ec -in "$keys/key.pem" -pubout -out public.pem 2>/dev/null &&
    openssl dgst -sha256 -verify public.pem -signature sig.der "$1" >/dev/null
}
check "signing-key --public: the key's X||Y as openssl derives it" \
  bash -c "[ \"\$('$tool' signing-key --public '$keys/key.pem')\" = \"\$(cat '$keys/public.hex')\" ]"
head -c 150000 /dev/urandom > Orvanta.exe
check "publish-launcher --signing-key: signed, exit 0" \
  "$tool" publish-launcher --executable Orvanta.exe --server-root signed --version 9 --signing-key "$keys/key.pem"
check "the Signature verifies with openssl" openssl_verifies Orvanta.exe signed/cstrike/version.txt
printf 'x' >> Orvanta.exe
check "... and not for a changed executable" bash -c "$(declare -f openssl_verifies); keys='$keys'; ! openssl_verifies Orvanta.exe signed/cstrike/version.txt"
check "a file that is no key: exit 1, named, nothing published" bash -c "
  '$tool' publish-launcher --executable Orvanta.exe --server-root unsigned --version 9 --signing-key Orvanta.exe 2> nokey.txt
  [ \$? -eq 1 ] && grep -q 'Orvanta.exe: not an unencrypted PEM private key' nokey.txt && [ ! -e unsigned ]"

# Signed content: statements whose first signature the openssl tool accepts over the lines before
# the signatures, and versions that grow with every signing.
statement_verifies() {  # statement file
  python3 -c '
import sys
text = open(sys.argv[1], "rb").read()
cut = text.index(b"\nsignature ") + 1
open("body.bin", "wb").write(text[:cut])
raw = bytes.fromhex(text[cut:].split(b"\n")[0].split(b" ")[2].decode())
def integer(b):
    b = b.lstrip(b"\0") or b"\0"
    if b[0] & 0x80: b = b"\0" + b
    return bytes([2, len(b)]) + b
body = integer(raw[:32]) + integer(raw[32:])
open("statement.der", "wb").write(bytes([0x30, len(body)]) + body)' "$1" &&
    openssl ec -in "$keys/key.pem" -pubout -out public.pem 2>/dev/null &&
    openssl dgst -sha256 -verify public.pem -signature statement.der body.bin >/dev/null
}
check "publish --signing-key: hash list and statements, exit 0" \
  bash -c "$(declare -f publish); tool='$tool' base='$base' publish --signing-key '$keys/key.pem' > signed.txt &&
    grep -q '^signed:     css34.dim.sig version 1, inf.ini.sig version 1' signed.txt && [ -s www/cstrike/css34.dim.sha256 ]"
check "the statements verify with openssl" \
  bash -c "$(declare -f statement_verifies); keys='$keys'; statement_verifies www/cstrike/inf.ini.sig && statement_verifies www/cstrike/css34.dim.sig"
check "sign: every statement again, one version up, exit 0" bash -c "
  '$tool' sign --server-root www --server-base '$base' --signing-key '$keys/key.pem' > sign.txt &&
  grep -q '^signed cstrike/css34.dim.sig version 2' sign.txt && grep -q '^version 2' www/cstrike/inf.ini.sig &&
  grep -q '^pin 2 css34' www/cstrike/inf.ini.sig && $(declare -f statement_verifies) && keys='$keys' && statement_verifies www/cstrike/inf.ini.sig"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

#!/usr/bin/env bash
# orvanta-tool check with a publisher key against a hostile update server: a build signed with the
# test key (tests/rig/sign_build.py) is served by nginx, by a LAN caching proxy in front of it and
# by the fault server, each case from a folder of its own below the one root. Every statement that
# fails ends the run with exit 2 and a message, nothing written in the game folder; a file forged
# to the same size and CRC-32 is never installed by a keyed check, and still is by an unkeyed one.
# Usage: native_signed_check.sh BUILD_DIR [SOURCE_DIR]
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
src=$(cd "${2:-$(dirname "${BASH_SOURCE[0]}")/../..}" && pwd)
if [ -z "${ORVANTA_SIGNED_ROOT:-}" ]; then
  ORVANTA_SIGNED_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-signed-root.XXXXXX")
  export ORVANTA_SIGNED_ROOT
  bash "$src/tests/rig/with-servers.sh" --root "$ORVANTA_SIGNED_ROOT" --lifetime 600 bash "$0" "$build" "$src"
  status=$?
  rm -rf "$ORVANTA_SIGNED_ROOT"
  exit $status
fi
tool=$build/tools/orvanta-tool
[ -x "$tool" ] || { echo "no $tool"; exit 1; }
root=$ORVANTA_SIGNED_ROOT
base=$ORVANTA_NGINX_URL
keys=$src/tests/data/signing
work=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-signed-e2e.XXXXXX")
# shellcheck source=../rig/nginx.sh
source "$src/tests/rig/nginx.sh"
trap 'nginx_rig_stop; rm -rf "$work"' EXIT
cd "$work" || exit 1
# shellcheck source=../rig/check.sh
source "$src/tests/rig/check.sh"

python3 - <<'PY'
import os, random
rng = random.Random(9131)
def put(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    open(path, "wb").write(data)
put("build/hl2.exe", rng.randbytes(65521))
put("build/cstrike/cfg/autoexec.cfg", b"bind w +forward\r\n")
put("build/cstrike/cfg/empty.cfg", b"")
for i in range(12):
    put(f"build/cstrike/materials/m{i:02d}.vmt", rng.randbytes(rng.randrange(1, 20000)))
os.makedirs("build/cstrike/download", exist_ok=True)
PY
"$tool" publish --build-dir build --server-root "$root/good" --server-base "$base" --checklist css34 \
  --game-name G --build-name v34 --download-path cstrike/v34 >/dev/null || { echo "publish failed"; exit 1; }
sign() {  # folder [sign_build options]
  local folder=$1; shift
  python3 "$src/tests/rig/sign_build.py" --root "$folder" --game cstrike --checklist css34 --build-dir build \
    --key "$keys/key.pem" "$@" || { echo "signing failed"; exit 1; }
}
# Version 1 of both statements, kept for the rollbacks, then version 2, the build's.
sign "$root/good"
cp "$root/good/cstrike/inf.ini.sig" catalogue-v1.sig
cp "$root/good/cstrike/css34.dim.sig" checklist-v1.sig
sign "$root/good" --catalogue-version 2 --checklist-version 2

keyed=(--public-key "$keys/public.hex")
# A game folder that a run must leave as it is: a file that differs from the build's.
victim() {
  rm -rf "$1" && mkdir -p "$1" && printf 'old' >"$1/hl2.exe"
}
snapshot() { (cd "$1" && find . -printf '%p %s %T@\n' | sort); }
# A case: its own copy of the good build below the root, changed by the commands that follow.
case_of() {
  rm -rf "${root:?}/$1" && cp -R "$root/good" "$root/$1"
}
# A keyed repair from SERVER (an address) that must end with exit 2, a message matching PATTERN and
# nothing written in the game folder.
key=$keys/public.hex
refused_under() {  # key pattern server [options...]
  key=$1; shift
  refused "$@"; local status=$?
  key=$keys/public.hex
  return $status
}
refused() {  # pattern server [options...]
  local pattern=$1 server=$2; shift 2
  victim refused-game
  local before; before=$(snapshot refused-game)
  "$tool" check --server "$server" --server-base "$base" --game-dir refused-game --repair --public-key "$key" "$@" \
    2>refused.err >refused.out
  local status=$?
  [ $status -eq 2 ] || { echo "exit $status"; cat refused.err; return 1; }
  grep -q -- "$pattern" refused.err || { echo "no \"$pattern\" in:"; cat refused.err; return 1; }
  [ "$before" = "$(snapshot refused-game)" ] || { echo "the game folder changed"; return 1; }
}

# ---- A correctly signed build.
check "signed build, keyed repair: exit 0, byte-identical" bash -c '
  mkdir -p game1 && "'"$tool"'" check --server "'"$base"'good/" --server-base "'"$base"'" --game-dir game1 --repair \
    --public-key "'"$keys"'/public.hex" && diff -r build game1'
check "signed build through the caching proxy: exit 0, byte-identical, files served from the cache" bash -c '
  mkdir -p game2 && "'"$tool"'" check --server "'"$ORVANTA_CACHE_URL"'good/" --server-base "'"$base"'" \
    --game-dir game2 --repair --public-key "'"$keys"'/public.hex" && diff -r build game2 &&
  curl -s -D - -o /dev/null "'"$ORVANTA_CACHE_URL"'good/cstrike/v34/hl2.exe.lzma" | grep -qi "X-Cache-Status: HIT"'
check "--verify-server, keyed: every statement and SHA-256 holds, exit 0" \
  "$tool" check --server-root "$root/good" --server-base "$base" --verify-server "${keyed[@]}"
check "a key given as its hex digits: exit 0" \
  "$tool" check --server "${base}good/" --server-base "$base" --game-dir game1 --public-key "$(cat "$keys/public.hex")"

check "a build the tool itself signed (publish --signing-key): keyed repair exit 0, --verify-server exit 0" bash -c '
  "'"$tool"'" publish --build-dir build --server-root "'"$root"'/published" --server-base "'"$base"'" \
    --checklist css34 --game-name G --build-name v34 --download-path cstrike/v34 \
    --signing-key "'"$keys"'/key.pem" >/dev/null || exit 1
  mkdir -p game3 && "'"$tool"'" check --server "'"$base"'published/" --server-base "'"$base"'" --game-dir game3 \
    --repair --public-key "'"$keys"'/public.hex" && diff -r build game3 &&
  "'"$tool"'" check --server-root "'"$root"'/published" --server-base "'"$base"'" --verify-server \
    --public-key "'"$keys"'/public.hex"'

case_of unsigned
rm "$root/unsigned/cstrike/"*.sig
check "a server without statements, keyed: refused as not signed" \
  refused "inf.ini.sig is missing, so the server is not signed by the publisher" "${base}unsigned/"

# ---- A game file forged to the same size and CRC-32.
case_of forged
python3 "$src/tests/rig/forge_crc.py" build/hl2.exe forged-hl2.exe
"$tool" lzma e forged-hl2.exe "$root/forged/cstrike/v34/hl2.exe.lzma" >/dev/null
forged_refused() {  # server game-folder
  victim "$2"
  "$tool" check --server "$1" --server-base "$base" --game-dir "$2" --repair --json "${keyed[@]}" >forged.jsonl
  local status=$?
  [ $status -eq 1 ] || { echo "exit $status"; cat forged.jsonl; return 1; }
  [ "$(cat "$2/hl2.exe")" = old ] || { echo "the forged file was installed"; return 1; }
  [ -z "$(find "$2" -name '*.lzma' -o -name '*.orvanta-unpack')" ] || { echo "leftovers"; return 1; }
  python3 - <<'PY'
import json
lines = [json.loads(l) for l in open("forged.jsonl")]
failed = {l["path"]: l["reason"] for l in lines if l["event"] == "repair-failed"}
assert failed == {"\\hl2.exe": "sha256"}, failed
PY
}
check "forged file, keyed: not installed, repair-failed sha256, exit 1" forged_refused "${base}forged/" forged-game
check "forged file, --verify-server keyed: named, exit 1" bash -c '
  "'"$tool"'" check --server-root "'"$root"'/forged" --server-base "'"$base"'" --verify-server \
    --public-key "'"$keys"'/public.hex" > verify.txt; [ $? -eq 1 ] && grep -q "hl2.exe.*another SHA-256" verify.txt'
check "forged file, unkeyed: installed as before (CRC-32 is all it checks), exit 0" bash -c '
  rm -rf unkeyed && mkdir unkeyed && printf old > unkeyed/hl2.exe
  "'"$tool"'" check --server "'"$base"'forged/" --server-base "'"$base"'" --game-dir unkeyed --repair >/dev/null &&
  cmp -s unkeyed/hl2.exe forged-hl2.exe'
# A LAN cache filled with the forged file while the origin had it, then the origin put right.
nginx_rig_start_cache "$base" 300 || exit 1
case_of cached
cp "$root/forged/cstrike/v34/hl2.exe.lzma" "$root/cached/cstrike/v34/hl2.exe.lzma"
curl -s -o /dev/null "${ORVANTA_CACHE_URL}cached/cstrike/v34/hl2.exe.lzma"
cp "$root/good/cstrike/v34/hl2.exe.lzma" "$root/cached/cstrike/v34/hl2.exe.lzma"
check "the cache serves the forged file after the origin was put right" bash -c '
  curl -s "'"$ORVANTA_CACHE_URL"'cached/cstrike/v34/hl2.exe.lzma" | cmp -s - "'"$root"'/forged/cstrike/v34/hl2.exe.lzma"'
check "forged file from the caching proxy, keyed: not installed, exit 1" \
  forged_refused "${ORVANTA_CACHE_URL}cached/" cached-game

# ---- Statements that do not hold: exit 2, nothing written.
case_of rollback-checklist
cp checklist-v1.sig "$root/rollback-checklist/cstrike/css34.dim.sig"
check "old checklist statement served again (not the pinned version): refused" \
  refused "css34.dim.sig is refused (an old version)" "${base}rollback-checklist/"
case_of rollback-catalogue
cp catalogue-v1.sig "$root/rollback-catalogue/cstrike/inf.ini.sig"
check "old catalogue statement below --min-catalogue-version: refused" \
  refused "inf.ini.sig is refused (an old version)" "${base}rollback-catalogue/" --min-catalogue-version 2
case_of expired-catalogue
sign "$root/expired-catalogue" --only catalogue --catalogue-version 2 --pin 2 --expires 2020-01-01T00:00:00Z
check "expired catalogue statement: refused" refused "inf.ini.sig is refused (expired)" "${base}expired-catalogue/"
case_of expired-checklist
sign "$root/expired-checklist" --only checklist --checklist-version 2 --expires 2020-01-01T00:00:00Z
check "expired checklist statement: refused" refused "css34.dim.sig is refused (expired)" "${base}expired-checklist/"
case_of other-game
sign "$root/other-game" --only catalogue --catalogue-version 2 --pin 2 --statement-game dod
check "catalogue statement of another game code: refused" \
  refused "inf.ini.sig is refused (of another game" "${base}other-game/"
case_of other-name
sign "$root/other-name" --only checklist --checklist-version 2 --statement-name css35
check "checklist statement of another checklist name: refused" \
  refused "css34.dim.sig is refused (of another game" "${base}other-name/"
case_of changed-catalogue
sed -i 's/v34/v35/' "$root/changed-catalogue/cstrike/inf.ini"
check "catalogue changed after signing: refused" \
  refused "cstrike/inf.ini is not what its signed statement names" "${base}changed-catalogue/"
check "another key: refused" refused_under "$keys/other-public.hex" "refused (not signed" "${base}good/"
case_of cut-statement
head -c 150 "$root/good/cstrike/css34.dim.sig" >"$root/cut-statement/cstrike/css34.dim.sig"
check "checklist statement cut short: refused" refused "css34.dim.sig is refused (malformed)" "${base}cut-statement/"
case_of bad-statement
sed -i 's/^size /size x/' "$root/bad-statement/cstrike/inf.ini.sig"
check "malformed catalogue statement: refused" refused "inf.ini.sig is refused (malformed)" "${base}bad-statement/"
case_of cut-list
truncate -s -10 "$root/cut-list/cstrike/css34.dim.sha256"
check "hash list cut short: refused" refused "css34.dim.sha256 is not what its signed statement names" "${base}cut-list/"
case_of bad-list
python3 - "$root/bad-list/cstrike/css34.dim.sha256" <<'PY'
import sys
lines = open(sys.argv[1]).read().splitlines(True)
lines[3] = "not a hash line\n"
open(sys.argv[1], "w", newline="\n").write("".join(lines))
PY
sign "$root/bad-list" --only checklist --checklist-version 2 --keep-hash-list
check "malformed hash list, even signed: refused" refused "hash list of css34 does not hold: the hash list has no valid line for entry 4" "${base}bad-list/"
check "endless catalogue statement from the fault server: refused" \
  refused "larger than 262144 bytes: refused" "${ORVANTA_FAULT_URL}mirror/inf.ini.sig/8000000/good/"
check "endless hash list from the fault server: refused" \
  refused "css34.dim.sha256 is larger than" "${ORVANTA_FAULT_URL}mirror/css34.dim.sha256/50000000/good/"
check "the fault server's mirror serves the good build: exit 0" \
  "$tool" check --server "${ORVANTA_FAULT_URL}mirror/none/1/good/" --server-base "$base" --game-dir game1 "${keyed[@]}"
check "--json: a refused statement is one error object" bash -c '
  rm -rf j && mkdir j
  "'"$tool"'" check --server "'"$base"'expired-catalogue/" --server-base "'"$base"'" --game-dir j --json \
    --public-key "'"$keys"'/public.hex" > err.jsonl 2>/dev/null; [ $? -eq 2 ] || exit 1
  python3 -c "import json; l = json.loads(open(\"err.jsonl\").read()); assert l[\"event\"] == \"error\" and \"expired\" in l[\"message\"], l"'
check "server folder with a forged catalogue, --server-root: refused" bash -c '
  mkdir -p r && "'"$tool"'" check --server-root "'"$root"'/changed-catalogue" --server-base "'"$base"'" --game-dir r \
    --public-key "'"$keys"'/public.hex" 2> root.err; [ $? -eq 2 ] && grep -q "not what its signed statement names" root.err'

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

#!/usr/bin/env bash
# Chunked repairs against nginx with its access log (the native tool). A build A with a large file
# is published, then B (a change in the middle of that file, a small insertion near its start):
# a repair of a folder holding A fetches the index and chunks only, a small part of the file, and
# the folder matches B. A chunk withheld (404) or replaced on the server by other bytes sends that
# file the whole-file way, and the folder still matches; a kill -9 during the repair leaves the old
# file as it was and the next run finishes and leaves nothing behind; a build published without
# an index is repaired the whole-file way. Prints the bytes it measured.
# Usage: native_chunks.sh BUILD_DIR [SOURCE_DIR]
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
src=$(cd "${2:-$(dirname "${BASH_SOURCE[0]}")/../..}" && pwd)
tool=$build/tools/orvanta-tool
[ -x "$tool" ] || { echo "no $tool"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-chunks-e2e.XXXXXX")
repair_pid=
export NGINX_RIG_ACCESS_LOG=1
# shellcheck source=../rig/nginx.sh
source "$src/tests/rig/nginx.sh"
cleanup() {
  if [ -n "$repair_pid" ]; then kill -9 "$repair_pid" 2>/dev/null; wait "$repair_pid" 2>/dev/null; fi
  nginx_rig_stop
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
# shellcheck source=../rig/check.sh
source "$src/tests/rig/check.sh"

# A: an 8 MiB map and two small files, bytes LZMA cannot shrink. B: 256 KiB of the map changed in
# the middle and 10 KB inserted near its start.
python3 - <<'PY'
import os, random
rng = random.Random(28)
def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)
big = rng.randbytes(8 << 20)
for name in ("A", "B"):
    put(f"{name}/cstrike/readme.txt", b"same in both\n")
    put(f"{name}/cstrike/cfg/a.cfg", rng.randbytes(3000))
put("A/cstrike/maps/big.bsp", big)
middle = len(big) // 2
b = bytearray(big)
b[middle:middle + (256 << 10)] = rng.randbytes(256 << 10)
b[100_000:100_000] = rng.randbytes(10_000)
put("B/cstrike/maps/big.bsp", bytes(b))
import shutil
shutil.copy("A/cstrike/cfg/a.cfg", "B/cstrike/cfg/a.cfg")
PY
mkdir -p www
nginx_rig_start www 600 || exit 1
base=$ORVANTA_NGINX_URL
log=$ORVANTA_NGINX_ACCESS_LOG
publish() {  # build folder, more options
  local from=$1; shift
  "$tool" publish --build-dir "$from" --server-root www --server-base "$base" --checklist ck \
    --game-name Game --build-name v1 --download-path cstrike/v1 "$@" >"publish-$from.out"
}
publish A || { echo "publish A failed"; cat publish-A.out; exit 1; }
[ -f www/cstrike/ck.dim.chunks ] || { echo "A was published without a chunk index"; exit 1; }
cp www/cstrike/ck.dim.chunks index-A
publish B || { echo "publish B failed"; cat publish-B.out; exit 1; }
cp www/cstrike/ck.dim.chunks index-B
size=$(stat -c %s B/cstrike/maps/big.bsp)

# The chunks B's map needs that A's lacks: what a repair of A must fetch.
python3 - <<'PY'
def chunks(path):
    names = []
    for line in open(path):
        f = line.split()
        if len(f) == 3: names.append(f[0])
    return names
a = set(chunks("index-A"))
new = [c for c in chunks("index-B") if c not in a]
open("new-chunks", "w").write("".join(f"chunks/{c[:2]}/{c}.lzma\n" for c in dict.fromkeys(new)))
PY
[ -s new-chunks ] || { echo "B needs no chunk A lacks"; exit 1; }

rm -rf g1 && cp -a A g1
: >"$log"
check "A -> B: chunks and the index only, a small part of the file; the folder matches B" bash -c '
  repair() { "'"$tool"'" check --repair --server "'"$base"'" --game-dir "$1" --json >"$2"; }
  repair g1 r1.jsonl || { tail -3 r1.jsonl; exit 1; }
  diff -r B g1 || exit 1
  log="'"$log"'"
  ! grep -q "GET /cstrike/v1/cstrike/maps/big.bsp.lzma " "$log" || { echo "the whole file was fetched"; exit 1; }
  grep -q "GET /cstrike/ck.dim.chunks " "$log" || { echo "no index fetched"; exit 1; }
  bytes=$(grep -E "\| GET /(chunks/|cstrike/ck\.dim\.chunks)" "$log" | awk -F" \\\\| " "{ s += \$NF } END { print s + 0 }")
  echo "$bytes" >update-bytes
  [ "$bytes" -gt 0 ] && [ "$bytes" -lt $(('"$size"' / 8)) ] || { echo "fetched $bytes of '"$size"'"; exit 1; }
  [ "$(grep -c "GET /chunks/" "$log")" -eq "$(wc -l <new-chunks)" ] || { echo "not exactly the new chunks"; exit 1; }'
echo "     A -> B fetched $(cat update-bytes 2>/dev/null) bytes of chunks and index for a file of $size bytes"

# One chunk B needs withheld: the map goes the whole-file way.
withheld=$(sed -n 1p new-chunks)
mv "www/$withheld" withheld.lzma
rm -rf g2 && cp -a A g2
: >"$log"
check "a chunk withheld (404): the whole-file .lzma, the folder matches B" bash -c '
  "'"$tool"'" check --repair --server "'"$base"'" --game-dir g2 --json >r2.jsonl || { tail -3 r2.jsonl; exit 1; }
  diff -r B g2 || exit 1
  grep -q "GET /'"$withheld"' HTTP/1.1 | 404" "'"$log"'" || { echo "the withheld chunk was not asked for"; exit 1; }
  grep -q "GET /cstrike/v1/cstrike/maps/big.bsp.lzma HTTP/1.1 | 200" "'"$log"'"'
mv withheld.lzma "www/$withheld"

# One chunk B needs replaced by other bytes that unpack to the same size (packed by the tool, as
# the publisher packs): only its SHA-256 tells.
forged=$(sed -n 2p new-chunks)
[ -n "$forged" ] || forged=$withheld
cp "www/$forged" forged.keep
"$tool" lzma d "www/$forged" chunk.raw >/dev/null || { echo "a chunk does not unpack"; exit 1; }
python3 - <<'PY'
data = bytearray(open("chunk.raw", "rb").read())
data[len(data) // 2] ^= 0x55
open("chunk.raw", "wb").write(data)
PY
"$tool" lzma e chunk.raw "www/$forged" >/dev/null || { echo "cannot pack the forged chunk"; exit 1; }
rm -rf g3 && cp -a A g3
: >"$log"
check "a chunk of other bytes: refused by its SHA-256, the whole file instead, JSON says why" bash -c '
  "'"$tool"'" check --repair --server "'"$base"'" --game-dir g3 --json >r3.jsonl || { tail -3 r3.jsonl; exit 1; }
  diff -r B g3 || exit 1
  grep -q "GET /cstrike/v1/cstrike/maps/big.bsp.lzma HTTP/1.1 | 200" "'"$log"'" || exit 1
  python3 - "'"$(basename "$forged" .lzma)"'" <<PY
import json, sys
done = [e for e in map(json.loads, open("r3.jsonl")) if e["event"] == "repaired" and "big.bsp" in e["path"]]
assert len(done) == 1 and "chunks" not in done[0], done
why = done[0].get("chunks_fallback", "")
assert "other bytes" in why and sys.argv[1] in why, why
PY'
cp forged.keep "www/$forged"

# Killed with -9 while the chunks come in (slowly, with a rate cap): the old file stays as it was.
rm -rf g4 && cp -a A g4
: >"$log"
"$tool" check --repair --server "$base" --game-dir g4 --limit-rate 100K --json >r4.jsonl 2>&1 &
repair_pid=$!
for _ in $(seq 1 600); do
  [ "$(grep -c "GET /chunks/" "$log")" -ge 2 ] && break
  kill -0 "$repair_pid" 2>/dev/null || break
  sleep 0.05
done
killed=no
kill -9 "$repair_pid" 2>/dev/null && killed=yes
wait "$repair_pid" 2>/dev/null
repair_pid=
left=$(diff <(cd A && find . | sort) <(cd g4 && find . | sort) | grep -c '^>' || true)
check "a kill -9 while chunks come in leaves the old file byte for byte" bash -c '
  [ '"$killed"' = yes ] || { echo "the repair was over before the kill"; exit 1; }
  ! grep -q "\"repaired\"" r4.jsonl || { echo "the file was repaired before the kill"; exit 1; }
  [ '"$left"' -gt 0 ] || { echo "the killed run left nothing: it was not building the file"; exit 1; }
  cmp A/cstrike/maps/big.bsp g4/cstrike/maps/big.bsp'
check "the next run finishes and removes what the killed one left" bash -c '
  "'"$tool"'" check --repair --server "'"$base"'" --game-dir g4 --json >r5.jsonl || { tail -3 r5.jsonl; exit 1; }
  diff -r B g4'

# B again, without an index: the whole-file way.
publish B --no-chunks || { echo "publish --no-chunks failed"; cat publish-B.out; exit 1; }
rm -rf g6 && cp -a A g6
: >"$log"
check "a build without an index: the whole file, no chunk asked for" bash -c '
  [ ! -e www/cstrike/ck.dim.chunks ] || { echo "the index stayed"; exit 1; }
  "'"$tool"'" check --repair --server "'"$base"'" --game-dir g6 --json >r6.jsonl || { tail -3 r6.jsonl; exit 1; }
  diff -r B g6 || exit 1
  grep -q "GET /cstrike/v1/cstrike/maps/big.bsp.lzma HTTP/1.1 | 200" "'"$log"'" || exit 1
  ! grep -q "GET /chunks/" "'"$log"'"'

[ "$failures" -eq 0 ] && echo "native_chunks: all passed" || echo "native_chunks: $failures failed"
exit "$failures"

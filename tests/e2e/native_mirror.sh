#!/usr/bin/env bash
# orvanta-tool mirror against nginx on the loopback address: a build published with the tool is
# mirrored, the mirror is served with tools/nginx/mirror-site.conf and a game folder repaired from
# it matches the build; a second run fetches no game file (the origin's access log); a republish
# with files changed and removed fetches only those and removes the others; a damaged origin file
# fails the run and keeps the old catalogue; a run killed with -9 is finished by the next without
# fetching again; a dry run writes nothing; JSON lines parse. Prints the times it measured.
# Usage: native_mirror.sh BUILD_DIR [SOURCE_DIR]
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
src=$(cd "${2:-$(dirname "${BASH_SOURCE[0]}")/../..}" && pwd)
tool=$build/tools/orvanta-tool
[ -x "$tool" ] || { echo "no $tool"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-mirror-e2e.XXXXXX")
site_pid=
export NGINX_RIG_ACCESS_LOG=1
# shellcheck source=../rig/nginx.sh
source "$src/tests/rig/nginx.sh"
cleanup() {
  nginx_rig_stop
  if [ -n "$site_pid" ]; then kill "$site_pid" 2>/dev/null; wait "$site_pid" 2>/dev/null; fi
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
# shellcheck source=../rig/check.sh
source "$src/tests/rig/check.sh"

# A build of 200 files, most small, a few large and incompressible.
python3 - <<'PY'
import os, random
rng = random.Random(26)
for i in range(200):
    size = 2_000_000 if i % 50 == 0 else rng.randrange(1, 40000)
    path = f"build/d{i % 7}/f{i:03d}.bin"
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(rng.randbytes(size))
PY
mkdir -p www
nginx_rig_start www 600 || exit 1
origin=$ORVANTA_NGINX_URL
log=$ORVANTA_NGINX_ACCESS_LOG
publish() {
  "$tool" publish --build-dir build --server-root www --server-base "$origin" --checklist ck1 \
    --game-name Game --build-name v1 --download-path cstrike/v1 >/dev/null
}
publish || { echo "publish failed"; exit 1; }

check "dry run on an empty folder: counts every file, writes nothing" bash -c '
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror --dry-run --json >dry.jsonl; [ $? -eq 1 ] || exit 1
  [ ! -e mirror ] || { echo "the mirror folder was made"; exit 1; }
  python3 - <<PY
import json, os
lines = [json.loads(l) for l in open("dry.jsonl")]
packed = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk("www/cstrike/v1") for f in fs if f.endswith(".lzma"))
summary = [l for l in lines if l["event"] == "summary"][0]
assert summary["would_fetch"] == 200 and summary["bytes_to_fetch"] == packed, (summary, packed)
assert lines[-1] == {"event": "exit", "status": 1}, lines[-1]
PY'

: >"$log"
check "first run: exit 0, every file once" bash -c '
  start=$(date +%s.%N)
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror >first.out || exit 1
  echo "first $(echo "$(date +%s.%N) - $start" | bc)" >>times
  [ "$(grep -c "GET /cstrike/v1/.*\.lzma " "'"$log"'")" -eq 200 ] || exit 1
  cmp www/cstrike/inf.ini mirror/cstrike/inf.ini && cmp www/cstrike/ck1.dim.lzma mirror/cstrike/ck1.dim.lzma'

# The mirror served by the operators' own site file, on a port of its own.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
mkdir -p site/tmp
sed -e "s|listen 80;|listen 127.0.0.1:$port;|" -e "s|root /srv/orvanta-mirror;|root $work/mirror;|" \
  "$src/tools/nginx/mirror-site.conf" >site/mirror-site.conf
cat >site/nginx.conf <<EOF
daemon off;
worker_processes 1;
pid $work/site/nginx.pid;
error_log $work/site/error.log warn;
$([ "$(id -u)" -eq 0 ] && echo "user $(id -un) $(id -gn);")
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $work/site/tmp/body;
    proxy_temp_path $work/site/tmp/proxy;
    fastcgi_temp_path $work/site/tmp/fastcgi;
    uwsgi_temp_path $work/site/tmp/uwsgi;
    scgi_temp_path $work/site/tmp/scgi;
    default_type application/octet-stream;
    include $work/site/mirror-site.conf;
}
EOF
timeout -k 5 600 "$NGINX_RIG_BIN" -p "$work/site" -c "$work/site/nginx.conf" </dev/null >site/out.log 2>&1 &
site_pid=$!
for _ in $(seq 1 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done
site="http://127.0.0.1:$port/"

mkdir game
check "a game folder repaired from the mirror matches the build" bash -c '
  "'"$tool"'" check --repair --server "'"$site"'" --server-base "'"$origin"'" --game-dir game >/dev/null || exit 1
  diff -r build game'
check "the site: state file hidden, catalogue no-cache, game files cacheable" bash -c '
  [ "$(curl -s -o /dev/null -w "%{http_code}" "'"$site"'.orvanta-mirror")" = 404 ] || exit 1
  curl -sI "'"$site"'cstrike/inf.ini" | grep -qi "^cache-control: no-cache" || exit 1
  curl -sI "'"$site"'cstrike/v1/d0/f000.bin.lzma" | grep -qi "^cache-control: public"'

: >"$log"
check "second run: nothing fetched but the small files" bash -c '
  start=$(date +%s.%N)
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror --json >second.jsonl || exit 1
  echo "second $(echo "$(date +%s.%N) - $start" | bc)" >>times
  [ "$(grep -c "\.lzma " "'"$log"'")" -eq 1 ] || { cat "'"$log"'"; exit 1; }  # the checklist
  python3 -c "
import json
lines = [json.loads(l) for l in open(\"second.jsonl\")]
s = [l for l in lines if l[\"event\"] == \"summary\"][0]
assert s[\"kept\"] == 200 and s[\"fetched\"] == 0, s"'

# A republish with 20 files changed (10%) and 10 removed.
python3 - <<'PY'
import os, random
rng = random.Random(27)
for i in range(0, 200, 10):
    open(f"build/d{i % 7}/f{i:03d}.bin", "wb").write(rng.randbytes(rng.randrange(1, 40000)))
for i in range(5, 200, 20):
    os.remove(f"build/d{i % 7}/f{i:03d}.bin")
PY
publish || { echo "publish failed"; exit 1; }
: >"$log"
check "after a republish: only the changed files fetched, the removed ones gone" bash -c '
  start=$(date +%s.%N)
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror >third.out || exit 1
  echo "changed $(echo "$(date +%s.%N) - $start" | bc)" >>times
  [ "$(grep -c "GET /cstrike/v1/.*\.lzma " "'"$log"'")" -eq 20 ] || { grep -c lzma "'"$log"'"; exit 1; }
  [ "$(grep -c "^removed  " third.out)" -eq 10 ] || { cat third.out; exit 1; }
  [ ! -e mirror/cstrike/v1/d5/f005.bin.lzma ] || { echo "a removed file stayed"; exit 1; }
  rm -rf game2; mkdir game2
  "'"$tool"'" check --repair --server "'"$site"'" --server-base "'"$origin"'" --game-dir game2 >repair2.out ||
    { tail -5 repair2.out; exit 1; }
  diff -r build game2'

cp mirror/cstrike/inf.ini inf.before
python3 - <<'PY'
import random
open("build/d1/f001.bin", "wb").write(random.Random(28).randbytes(5000))
PY
publish || { echo "publish failed"; exit 1; }
# The origin's file replaced by other bytes after the publish: it no longer unpacks to the list.
cp www/cstrike/v1/d2/f002.bin.lzma www/cstrike/v1/d1/f001.bin.lzma
check "a damaged origin file: exit 1, reported, the old catalogue kept" bash -c '
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror >bad.out; [ $? -eq 1 ] || exit 1
  grep -q "^failed.*f001.bin.lzma" bad.out && cmp inf.before mirror/cstrike/inf.ini &&
  [ ! -e mirror/cstrike/v1/d1/f001.bin.lzma.orvanta-part ]'
publish || { echo "publish failed"; exit 1; }

rm -rf mirror
: >"$log"
check "killed with -9 mid-run, then run again: completes without fetching again" bash -c '
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror --limit-rate 2M --jobs 2 >/dev/null &
  pid=$!
  for _ in $(seq 1 200); do [ "$(find mirror -name "*.bin.lzma" 2>/dev/null | wc -l)" -ge 30 ] && break; sleep 0.05; done
  kill -9 $pid; wait $pid 2>/dev/null
  [ ! -e mirror/cstrike/inf.ini ] || { echo "the catalogue came before the files"; exit 1; }
  placed=$(find mirror -name "*.bin.lzma" | wc -l)
  before=$(grep -c "GET /cstrike/v1/.*\.lzma " "'"$log"'")
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror >again.out || exit 1
  after=$(grep -c "GET /cstrike/v1/.*\.lzma " "'"$log"'")
  [ $((after - before)) -le $((190 - placed + 2)) ] || { echo "placed $placed, fetched $((after - before))"; exit 1; }
  [ -z "$(find mirror -name "*.orvanta-part")" ] && cmp www/cstrike/inf.ini mirror/cstrike/inf.ini'

head -c 300000 /dev/urandom >launcher.exe
head -c 1000 /dev/urandom >installer.exe
"$tool" publish-launcher --executable launcher.exe --installer installer.exe --server-root www \
  --server-base "$origin" --version 2.0 >/dev/null || { echo "publish-launcher failed"; exit 1; }
: >"$log"
check "a launcher release: mirrored once, fetched again only when version.txt changed" bash -c '
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror >release.out || { cat release.out; exit 1; }
  for f in version.txt upt.exe.lzma; do cmp "www/cstrike/$f" "mirror/cstrike/$f" || exit 1; done
  exe=$(python3 -c "import json; print(json.load(open(\"www/cstrike/version.txt\"))[\"DownloadURL\"])")
  exe=${exe#'"$origin"'}
  cmp "www/$exe" "mirror/$exe" || exit 1
  [ "$(grep -c "GET /$exe " "'"$log"'")" -eq 1 ] || exit 1
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror >/dev/null || exit 1
  [ "$(grep -c "GET /$exe " "'"$log"'")" -eq 1 ] && [ "$(grep -c "GET /cstrike/upt.exe.lzma " "'"$log"'")" -eq 1 ]'

check "dry run on a complete mirror: nothing to fetch, exit 0, nothing written" bash -c '
  before=$(cd mirror && find . -printf "%p %s %T@\n" | sort)
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror --dry-run >dry2.out || exit 1
  ! grep -q "^would-" dry2.out && [ "$before" = "$(cd mirror && find . -printf "%p %s %T@\n" | sort)" ]'

check "Ctrl-C mid-run: exit 130, no catalogue, the state saved, nothing half in place" bash -c '
  "'"$tool"'" mirror --server "'"$origin"'" --to stopped --limit-rate 2M --jobs 2 >/dev/null &
  pid=$!
  for _ in $(seq 1 200); do [ "$(find stopped -name "*.bin.lzma" 2>/dev/null | wc -l)" -ge 20 ] && break; sleep 0.05; done
  kill -INT $pid; wait $pid; status=$?
  [ $status -eq 130 ] || { echo "exit $status"; exit 1; }
  [ ! -e stopped/cstrike/inf.ini ] && [ -s stopped/.orvanta-mirror ] && [ ! -e stopped/.orvanta-mirror.staging ] || exit 1
  python3 - <<PY
import os, subprocess
for d, _, fs in os.walk("stopped/cstrike"):
    for f in fs:
        assert f.endswith(".lzma") or ".orvanta-part" in f, f
        if f.endswith(".bin.lzma"):
            subprocess.run(["'"$tool"'", "lzma", "d", os.path.join(d, f), "/dev/null"], check=True)
PY'

# A large file: published in chunks too, and the mirror copies the chunk store and the index.
python3 - <<'PY'
import random
open("build/d3/big.bsp", "wb").write(random.Random(29).randbytes(6 << 20))
PY
publish || { echo "publish failed"; exit 1; }
: >"$log"
check "a chunked build: every chunk and the index mirrored, chunks served as immutable" bash -c '
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror --json >chunked.jsonl || { tail -3 chunked.jsonl; exit 1; }
  cmp www/cstrike/ck1.dim.chunks mirror/cstrike/ck1.dim.chunks || exit 1
  diff -r www/chunks mirror/chunks || exit 1
  [ "$(grep -c "GET /chunks/" "'"$log"'")" -eq "$(find www/chunks -type f | wc -l)" ] || exit 1
  one=$(cd mirror && find chunks -type f | head -1)
  curl -sI "'"$site"'$one" | grep -qi "^cache-control: public, max-age=31536000, immutable" || exit 1
  curl -sI "'"$site"'cstrike/ck1.dim.chunks" | grep -qi "^cache-control: no-cache"'
# The repair's own fetches go to the mirror: the origin sees none of them.
cp -a build game3
python3 - <<'PY'
with open("game3/d3/big.bsp", "r+b") as f:
    f.seek(3 << 20); b = f.read(1); f.seek(3 << 20); f.write(bytes([b[0] ^ 1]))
PY
: >"$log"
check "the mirror serves a chunked repair of the large file" bash -c '
  "'"$tool"'" check --repair --server "'"$site"'" --server-base "'"$origin"'" --game-dir game3 --json >chunk-repair.jsonl ||
    { tail -3 chunk-repair.jsonl; exit 1; }
  diff -r build game3 && [ ! -s "'"$log"'" ] || exit 1
  python3 -c "
import json
done = [e for e in map(json.loads, open(\"chunk-repair.jsonl\")) if e[\"event\"] == \"repaired\"]
# One chunk, or two where the damaged byte moved a boundary of the local cut.
assert len(done) == 1 and 1 <= done[0][\"chunks\"][\"chunks_fetched\"] <= 2, done"'
check "a second run fetches no chunk" bash -c '
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror --json >chunked2.jsonl || exit 1
  ! grep -q "GET /chunks/" "'"$log"'" || exit 1
  python3 -c "
import json
s = [json.loads(l) for l in open(\"chunked2.jsonl\") if \"summary\" in l][0]
assert s[\"chunks_fetched\"] == 0 and s[\"chunks_kept\"] == s[\"chunks\"] > 0, s"'
check "dry run after a chunk is lost: counted from the index, no request for it" bash -c '
  lost=$(cd mirror && find chunks -type f | head -1)
  rm "mirror/$lost"
  : >"'"$log"'"
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror --dry-run --json >chunk-dry.jsonl; [ $? -eq 1 ] || exit 1
  ! grep -q "/chunks/" "'"$log"'" || exit 1
  python3 -c "
import json, os
s = [json.loads(l) for l in open(\"chunk-dry.jsonl\") if \"summary\" in l][0]
assert s[\"chunks_to_fetch\"] == 1 and s[\"chunk_bytes_to_fetch\"] == os.path.getsize(\"www/$lost\"), s"
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror >/dev/null && cmp "www/$lost" "mirror/$lost"'

# A build signed by the publisher, under a game code of its own on the same origin.
"$tool" publish --build-dir build --server-root www --server-base "$origin" --checklist sk1 --game-code signed \
  --game-name Signed --build-name v1 --download-path signed/v1 --signing-key "$src/tests/data/signing/key.pem" \
  >/dev/null || { echo "signed publish failed"; exit 1; }
check "a signed build mirrored with the key: the mirror verifies as a signed server" bash -c '
  "'"$tool"'" mirror --server "'"$origin"'" --to signed --game-code signed \
    --public-key "'"$src"'/tests/data/signing/public.hex" || exit 1
  cmp www/signed/sk1.dim.chunks signed/signed/sk1.dim.chunks || exit 1
  "'"$tool"'" check --server-root signed --server-base "'"$origin"'" --game-code signed --verify-server \
    --public-key "'"$src"'/tests/data/signing/public.hex" >verify.out || { tail -5 verify.out; exit 1; }
  "'"$tool"'" mirror --server "'"$origin"'" --to signed-other --game-code signed \
    --public-key "'"$src"'/tests/data/signing/other-public.hex"; [ $? -eq 2 ] && [ ! -e signed-other/signed ]'

# A hostile server: the catalogue of the real build, with a checklist holding an endless line.
mkdir -p www/hostile
cp www/cstrike/inf.ini www/hostile/inf.ini
{ printf '10\r\n\\'; head -c 300000 /dev/zero | tr '\0' a; printf '\r\n1\r\n'; } >hostile.dim
"$tool" lzma e hostile.dim www/hostile/ck1.dim.lzma
check "a checklist line beyond the bound: refused with a clear error, nothing placed" bash -c '
  "'"$tool"'" mirror --server "'"$origin"'" --to hostile --game-code hostile >hostile.out; [ $? -eq 1 ] || { cat hostile.out; exit 1; }
  grep -q "a line longer than" hostile.out && [ ! -e hostile/hostile/inf.ini ]'

# A second build whose download address lies on another host: not the mirror's to copy.
"$tool" publish --build-dir build --server-root www --server-base "$origin" --checklist ck2 --game-name Game \
  --build-name v2 --download-path cstrike/v2 --download-url http://elsewhere.invalid/v2 >/dev/null ||
  { echo "publish failed"; exit 1; }
check "a build outside the server base: skipped and reported, exit 1, the rest mirrored" bash -c '
  "'"$tool"'" mirror --server "'"$origin"'" --to mirror --json >skip.jsonl; [ $? -eq 1 ] || exit 1
  python3 - <<PY
import json
lines = [json.loads(l) for l in open("skip.jsonl")]
failed = [l for l in lines if l["event"] == "failed"]
assert len(failed) == 1 and "skipped" in failed[0]["reason"], failed
s = [l for l in lines if l["event"] == "summary"][0]
assert s["skipped"] == 1 and s["failed"] == 0 and s["catalogue_written"], s
PY
  cmp www/cstrike/inf.ini mirror/cstrike/inf.ini && [ ! -e mirror/cstrike/v2 ]'

check "usage errors: exit 2" bash -c '
  "'"$tool"'" mirror --to x; [ $? -eq 2 ] || exit 1
  "'"$tool"'" mirror --server ftp://x/ --to x; [ $? -eq 2 ]'

sed 's/^/time /' "$work/times"
[ "$failures" -eq 0 ] && echo "native mirror: all passed" || echo "native mirror: $failures failed"
exit $((failures > 0))

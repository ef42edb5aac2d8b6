#!/usr/bin/env bash
# orvanta-tool check --repair --source-dir against nginx with its access log: ten damaged files, six
# of them good in the source folder and four not (missing there, another size, another CRC-32, a
# folder in the file's place). The log must show exactly those four fetched, the folder must match
# the build, and a dry run must tell the same split with the bytes still to download and write
# nothing. One line per check.
# Usage: native_source_dir.sh BUILD_DIR [SOURCE_DIR]
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
src=$(cd "${2:-$(dirname "${BASH_SOURCE[0]}")/../..}" && pwd)
tool=$build/tools/orvanta-tool
[ -x "$tool" ] || { echo "no $tool"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-source-dir-e2e.XXXXXX")
# shellcheck source=../rig/nginx.sh
source "$src/tests/rig/nginx.sh"
cleanup() {
  nginx_rig_stop
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
# shellcheck source=../rig/check.sh
source "$src/tests/rig/check.sh"

python3 - <<'PY'
import os, random
rng = random.Random(2026)
def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)
for i in range(30):
    put(f"build/cstrike/models/m{i:02d}.mdl", rng.randbytes(rng.randrange(2000, 60000)))
put("build/hl2.exe", rng.randbytes(70000))
PY
mkdir -p www
NGINX_RIG_ACCESS_LOG=1 nginx_rig_start www 300 || exit 1
base=$ORVANTA_NGINX_URL
log=$ORVANTA_NGINX_ACCESS_LOG
"$tool" publish --build-dir build --server-root www --server-base "$base" --checklist css34 \
  --game-name "Counter-Strike" --build-name v34 --download-path cstrike/v34 >/dev/null || { echo "publish failed"; exit 1; }
cp -a build game
cp -a build share

# Ten damaged files in the game folder; in the share the first six are good and the last four not.
python3 - <<'PY'
import os, shutil
names = [f"cstrike/models/m{i:02d}.mdl" for i in range(10)]
for n, name in enumerate(names):
    path = "game/" + name
    if n % 3 == 0: os.remove(path)
    elif n % 3 == 1: os.truncate(path, 100)
    else:
        with open(path, "r+b") as f: f.seek(50); b = f.read(1); f.seek(50); f.write(bytes([b[0] ^ 1]))
os.remove("share/" + names[6])
os.truncate("share/" + names[7], 10)
with open("share/" + names[8], "r+b") as f: f.seek(7); b = f.read(1); f.seek(7); f.write(bytes([b[0] ^ 0x80]))
os.remove("share/" + names[9]); os.mkdir("share/" + names[9])
open("fetched.txt", "w").write("".join(f"/cstrike/v34/{n}.lzma\n" for n in names[6:]))
PY

snapshot() { (cd "$1" && find . -printf '%p %s %T@ %m\n' | sort); }
# The game files the server was asked for since the log was emptied, with the request's method.
asked() { grep -o '[A-Z]* /cstrike/v34/[^ ]*' "$log" | sort; }
export log
export -f snapshot asked

check "--source-dir without --repair or --dry-run, missing, or with --verify-server: exit 2" bash -c '
  "'"$tool"'" check --server "'"$base"'" --game-dir game --source-dir share 2>/dev/null; [ $? -eq 2 ] || exit 1
  "'"$tool"'" check --server "'"$base"'" --game-dir game --repair --source-dir nowhere 2>/dev/null; [ $? -eq 2 ] || exit 1
  "'"$tool"'" check --server-root www --verify-server --source-dir share 2>/dev/null; [ $? -eq 2 ]'

: >"$log"
check "dry run: six to copy, four to fetch with their compressed bytes, nothing written, four asked" bash -c '
  before=$(snapshot game; snapshot share)
  "'"$tool"'" check --server "'"$base"'" --game-dir game --dry-run --source-dir share --json > dry.jsonl
  [ $? -eq 1 ] || exit 1
  [ "$before" = "$(snapshot game; snapshot share)" ] || { echo "a folder changed"; exit 1; }
  python3 - <<PY
import json, os
lines = [json.loads(l) for l in open("dry.jsonl")]
copy = sorted(l["path"] for l in lines if l["event"] == "would-copy")
fetch = [l for l in lines if l["event"] == "would-fetch"]
assert copy == [f"\\\\cstrike\\\\models\\\\m{i:02d}.mdl" for i in range(6)], copy
packed = sum(os.path.getsize("www" + p.strip()) for p in open("fetched.txt"))
s = lines[-1]
assert len(fetch) == 4 and s["copied"] == 6 and s["files_to_fetch"] == 4, s
assert s["bytes_to_fetch"] == packed == sum(l["bytes"] for l in fetch), (s, packed)
PY
'
check "the dry run asked the server for the four only" bash -c '
  [ "$(asked | sed "s/^[A-Z]* //")" = "$(sort fetched.txt)" ] || { asked; exit 1; }'
check "the dry run in words: the copy and fetch counts" bash -c '
  "'"$tool"'" check --server "'"$base"'" --game-dir game --dry-run --source-dir share > dry.txt
  grep -q "^to copy:   6 files, .* bytes from share; 4 files to fetch$" dry.txt && grep -c "^would-copy" dry.txt | grep -qx 6'

: >"$log"
check "repair: exit 0, six copied from the share, the folder matches the build" bash -c '
  "'"$tool"'" check --server "'"$base"'" --game-dir game --repair --source-dir share/ > repair.txt || { cat repair.txt; exit 1; }
  [ "$(grep -c "^repaired .*(copied from share)$" repair.txt)" -eq 6 ] || { cat repair.txt; exit 1; }
  grep -q "^copied:    6 files" repair.txt && diff -r build game &&
    [ -z "$(find game share -name "*.lzma" -o -name "*.orvanta-unpack")" ]'
check "the access log shows exactly the four fetched, once each" bash -c '
  [ "$(asked)" = "$(sed "s/^/GET /" fetched.txt | sort)" ] || { asked; exit 1; }'
check "the repaired folder checks clean: exit 0" "$tool" check --server "$base" --game-dir game

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

#!/usr/bin/env bash
# orvanta-tool check from a script's side: a build published with orvanta-tool publish, served by
# nginx on the loopback address, and game folders checked and repaired against it: exit statuses
# 0/1/2, a repair that leaves the folder byte-identical to the build, a dry run that writes
# nothing, JSON lines read by python's json, hostile checklist entries refused, an interrupt during
# a repair leaving no half-written file, and the server-folder verification. One line per check.
# Usage: native_check.sh BUILD_DIR [SOURCE_DIR]
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
src=$(cd "${2:-$(dirname "${BASH_SOURCE[0]}")/../..}" && pwd)
tool=$build/tools/orvanta-tool
[ -x "$tool" ] || { echo "no $tool"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-check-e2e.XXXXXX")
slow_pid=
# shellcheck source=../rig/nginx.sh
source "$src/tests/rig/nginx.sh"
cleanup() {
  nginx_rig_stop
  [ -n "$slow_pid" ] && kill "$slow_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

# shellcheck source=../rig/check.sh
source "$src/tests/rig/check.sh"
# Exit status of the tool as the test's outcome: expect STATUS command...
expect() {
  local want=$1; shift
  "$@"
  local got=$?
  [ "$got" -eq "$want" ] || { echo "exit status $got, expected $want"; return 1; }
}

python3 - <<'PY'
import os, random
rng = random.Random(740)
def put(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    open(path, "wb").write(data)
put("build/hl2.exe", rng.randbytes(65521))
put("build/cstrike/cfg/autoexec.cfg", b"bind w +forward\r\n")
put("build/cstrike/cfg/empty.cfg", b"")
put("build/cstrike/Игрок/ник с пробелом.txt", "Игрок".encode())
put("build/cstrike/maps/de_dust2.bsp", bytes(2_500_000) + rng.randbytes(1000))
# Incompressible, so that its download takes a while from the slow server below.
put("build/cstrike/sound/big.wav", rng.randbytes(3_000_000))
for i in range(40):
    put(f"build/cstrike/materials/m{i:02d}.vmt", rng.randbytes(rng.randrange(1, 20000)))
os.makedirs("build/cstrike/download", exist_ok=True)
PY
mkdir -p www
nginx_rig_start www 300 || exit 1
base=$ORVANTA_NGINX_URL
"$tool" publish --build-dir build --server-root www --server-base "$base" --checklist css34 \
  --game-name "Контр-Страйк" --build-name v34 --download-path cstrike/v34 >/dev/null || { echo "publish failed"; exit 1; }

# What is in a folder, with sizes and times: a dry run must leave it exactly so.
snapshot() { (cd "$1" && find . -printf '%p %s %T@ %m\n' | sort); }
# No download target or unpack leftover anywhere in the folder.
no_leftovers() { [ -z "$(find "$1" -name '*.lzma' -o -name '*.orvanta-unpack')" ]; }

mkdir game
check "empty folder: differences, exit 1" expect 1 "$tool" check --server "$base" --game-dir game
check "dry run: exit 1, nothing written, the compressed bytes a repair would fetch" bash -c '
  before=$(cd game && find . -printf "%p %s %T@\n" | sort)
  "'"$tool"'" check --server "'"$base"'" --game-dir game --dry-run --json > dry.jsonl; [ $? -eq 1 ] || exit 1
  after=$(cd game && find . -printf "%p %s %T@\n" | sort)
  [ "$before" = "$after" ] || { echo "the game folder changed"; exit 1; }
  python3 - <<PY
import json, os
lines = [json.loads(l) for l in open("dry.jsonl")]
fetch = [l for l in lines if l["event"] == "would-fetch"]
packed = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk("www/cstrike/v34") for f in fs if f.endswith(".lzma"))
assert len(fetch) == 45, len(fetch)
summary = lines[-1]
assert summary["event"] == "summary" and summary["bytes_to_fetch"] == packed == sum(l["bytes"] for l in fetch), (summary, packed)
assert summary["exit"] == 1 and summary["repaired"] == 0
PY'
check "repair: exit 0, folder byte-identical to the build, nothing left over" bash -c '
  "'"$tool"'" check --server "'"$base"'" --game-dir game --repair --jobs 2 --connections 3 >/dev/null || exit 1
  diff -r build game && [ -d game/cstrike/download ] && [ -z "$(find game -name "*.lzma" -o -name "*.orvanta-unpack")" ]'
check "intact folder: exit 0" expect 0 "$tool" check --server "$base" --game-dir game
check "served without its final slash and by the game's name: exit 0" \
  expect 0 "$tool" check --server "${base%/}" --game-dir game --game-name "Контр-Страйк" --build-name v34

python3 - <<'PY'
import os
os.remove("game/hl2.exe")
with open("game/cstrike/maps/de_dust2.bsp", "r+b") as f:
    f.seek(1000); f.write(b"\x01")
os.truncate("game/cstrike/materials/m07.vmt", 10)
os.rmdir("game/cstrike/download")
PY
check "damaged folder, --json: one parseable object per line, exactly the damage reported" bash -c '
  "'"$tool"'" check --server "'"$base"'" --game-dir game --json > damaged.jsonl; status=$?
  python3 - "$status" <<PY
import json, sys
lines = [json.loads(l) for l in open("damaged.jsonl")]
assert lines[0]["event"] == "start" and lines[0]["game"] == "Контр-Страйк" and lines[0]["listed"] == 46, lines[0]
bad = {l["path"]: l["reason"] for l in lines if l["event"] == "bad"}
assert bad == {"\\\\hl2.exe": "missing", "\\\\cstrike\\\\maps\\\\de_dust2.bsp": "crc",
               "\\\\cstrike\\\\materials\\\\m07.vmt": "size", "\\\\cstrike\\\\download\\\\.": "missing folder"}, bad
checked = [l for l in lines if l["event"] == "checked"]
assert len(checked) == 43, len(checked)
s = lines[-1]
assert s["event"] == "summary" and s["differing"] == 4 and s["exit"] == int(sys.argv[1]) == 1, (s, sys.argv[1])
PY'
check "repair of the damage: exit 0, byte-identical" bash -c '
  "'"$tool"'" check --server "'"$base"'" --game-dir game --repair --json > repair.jsonl || exit 1
  grep -c "\"event\":\"repaired\"" repair.jsonl | grep -qx 4 && diff -r build game'

# ---- Errors: exit 2.
check "bad arguments: exit 2, the problem named" bash -c '
  "'"$tool"'" check --server "'"$base"'" 2> usage.txt; [ $? -eq 2 ] && grep -q "missing --game-dir" usage.txt'
check "both sources: exit 2" expect 2 "$tool" check --server "$base" --server-root www --game-dir game
check "--jobs 0: exit 2" expect 2 "$tool" check --server "$base" --game-dir game --jobs 0
closed=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
check "server unreachable: exit 2" expect 2 "$tool" check --server "http://127.0.0.1:$closed/" --game-dir game
check "no such build in the catalogue: exit 2" expect 2 "$tool" check --server "$base" --game-dir game --build-name v99
cp -R www broken
printf 'not an lzma file' > broken/cstrike/css34.dim.lzma
check "checklist does not unpack: exit 2" \
  expect 2 "$tool" check --server-root broken --server-base "$base" --game-dir game
check "--json error: one object naming it" bash -c '
  "'"$tool"'" check --server-root broken --server-base "'"$base"'" --game-dir game --json > err.jsonl 2>/dev/null
  python3 -c "import json; l = json.loads(open(\"err.jsonl\").read()); assert l[\"event\"] == \"error\" and l[\"exit\"] == 2, l"'

# ---- The server folder.
check "server folder: intact game folder, exit 0" expect 0 "$tool" check --server-root www --server-base "$base" --game-dir game
check "--verify-server: every file unpacks to its size and CRC-32, exit 0" \
  expect 0 "$tool" check --server-root www --server-base "$base" --verify-server
cp -R www mirror
cp www/cstrike/v34/hl2.exe.lzma mirror/cstrike/v34/cstrike/cfg/autoexec.cfg.lzma
rm mirror/cstrike/v34/cstrike/materials/m03.vmt.lzma
check "--verify-server on a damaged mirror: both files named, exit 1" bash -c '
  "'"$tool"'" check --server-root mirror --server-base "'"$base"'" --verify-server > verify.txt; [ $? -eq 1 ] &&
  grep -q "autoexec.cfg.*another size" verify.txt && grep -q "m03.vmt.*missing on the server" verify.txt'
check "repair from a mirror whose file unpacks to other content: the file is left as it was, exit 1" bash -c '
  printf "mine" > game/cstrike/cfg/autoexec.cfg
  "'"$tool"'" check --server-root mirror --server-base "'"$base"'" --game-dir game --repair > mirror.txt; [ $? -eq 1 ] &&
  [ "$(cat game/cstrike/cfg/autoexec.cfg)" = mine ] && grep -q "repair-failed.*autoexec.cfg" mirror.txt &&
  [ -z "$(find game -name "*.lzma" -o -name "*.orvanta-unpack")" ]
  cp build/cstrike/cfg/autoexec.cfg game/cstrike/cfg/autoexec.cfg'

# ---- Hostile entries: a checklist whose paths leave the game folder, with the files they name
#      published where a careless client would find them.
cp -R www hostile
mkdir -p hostile-run/game
python3 - "$tool" <<'PY'
import subprocess, sys, zlib
tool = sys.argv[1]
payload = b"owned\r\n"
crc = str(zlib.crc32(payload))
entries = [("0", "\\cstrike\\."), (str(len(payload)), "\\..\\evil.txt"), (str(len(payload)), "\\cstrike\\..\\..\\evil2.txt"),
           (str(len(payload)), "\\C:\\evil3.txt"), ("0", "\\..\\evil-folder\\."), (str(len(payload)), "\\\\evil4.txt"),
           (str(len(payload)), "\\cstrike\\ok.txt")]
text = "".join(f"{size}\r\n{path}\r\n{crc if size != '0' else '0'}\r\n" for size, path in entries)
open("hostile.dim", "wb").write(text.encode("cp1251"))
subprocess.run([tool, "lzma", "e", "hostile.dim", "hostile/cstrike/css34.dim.lzma"], check=True)
open("payload", "wb").write(payload)
for target in ["hostile/cstrike/evil.txt.lzma", "hostile/evil2.txt.lzma", "hostile/cstrike/v34/cstrike/ok.txt.lzma"]:
    subprocess.run([tool, "lzma", "e", "payload", target], check=True)
PY
check "hostile entries: refused, nothing written outside the game folder, exit 1" bash -c '
  "'"$tool"'" check --server-root hostile --server-base "'"$base"'" --game-dir hostile-run/game --repair --json > hostile.jsonl
  [ $? -eq 1 ] || exit 1
  [ "$(ls -A hostile-run)" = game ] && [ ! -e evil2.txt ] && [ ! -e "$(dirname "$PWD")/evil2.txt" ] || { echo "written outside"; exit 1; }
  [ "$(cat hostile-run/game/cstrike/ok.txt)" = "$(printf "owned\r\n")" ] || { echo "the safe entry was not repaired"; exit 1; }
  python3 -c "
import json
lines = [json.loads(l) for l in open(\"hostile.jsonl\")]
refused = sorted(l[\"path\"] for l in lines if l[\"event\"] == \"refused\")
assert len(refused) == 5, refused
assert lines[-1][\"refused\"] == 5 and lines[-1][\"exit\"] == 1
"'

# ---- An interrupt during a repair: the server sends slowly, the tool gets SIGINT once a download
#      has begun, and every file is then either the old one or the build's, with no temporary file.
slow_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 - "$slow_port" www >slow.log 2>&1 <<'PY' &
import http.server, os, sys, time
port, root = int(sys.argv[1]), sys.argv[2]
class Slow(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def __init__(self, *a, **k): super().__init__(*a, directory=root, **k)
    def log_message(self, *a): pass
    def copyfile(self, source, target):
        while chunk := source.read(16384):
            target.write(chunk)
            time.sleep(0.01)
http.server.ThreadingHTTPServer(("127.0.0.1", port), Slow).serve_forever()
PY
slow_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$slow_port") 2>/dev/null && break; sleep 0.05; done
cp -R game interrupted
rm interrupted/cstrike/sound/big.wav
printf 'old' > interrupted/hl2.exe
check "SIGINT during a repair: exit 130, no half-written or temporary file, each file old or new" bash -c '
  "'"$tool"'" check --server "http://127.0.0.1:'"$slow_port"'/" --server-base "'"$base"'" --game-dir interrupted \
    --repair --connections 1 > interrupted.txt 2>&1 &
  pid=$!
  for _ in $(seq 400); do [ -e interrupted/cstrike/sound/big.wav.lzma ] && break; sleep 0.025; done
  [ -e interrupted/cstrike/sound/big.wav.lzma ] || { echo "the download never began"; kill $pid; exit 1; }
  kill -INT $pid
  wait $pid; status=$?
  [ $status -eq 130 ] || { echo "exit $status"; cat interrupted.txt; exit 1; }
  [ -z "$(find interrupted -name "*.lzma" -o -name "*.orvanta-unpack")" ] || { echo "leftovers"; exit 1; }
  [ ! -e interrupted/cstrike/sound/big.wav ] || cmp -s build/cstrike/sound/big.wav interrupted/cstrike/sound/big.wav || exit 1
  [ "$(cat interrupted/hl2.exe)" = old ] || cmp -s build/hl2.exe interrupted/hl2.exe'

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

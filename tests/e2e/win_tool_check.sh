#!/usr/bin/env bash
# orvanta-tool.exe check under Wine against nginx: a small build published by the same
# orvanta-tool.exe, an empty game folder found different (exit 1), a dry run that asks the server
# for the files' lengths, the folder repaired over WinInet (exit 0) to a byte-identical folder, then
# found intact, with its JSON lines read by python; then the same build signed with the test key
# (tests/rig/sign_build.py) checked with that key, where Windows' own crypto verifies the
# statements and a file forged to the same size and CRC-32 is not installed. One line per check.
# Usage: win_tool_check.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
src=$(cd "${2:?source folder}" && pwd)
tool=$build/tools/orvanta-tool.exe
[ -f "$tool" ] || { echo "no $tool: build the Windows preset"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-tool-check.XXXXXX")
# shellcheck source=../rig/nginx.sh
source "$src/tests/rig/nginx.sh"
trap 'nginx_rig_stop; rm -rf "$work"' EXIT
cd "$work" || exit 1
run() { "$src/scripts/wine-exec" "$tool" "$@"; }

# shellcheck source=../rig/check.sh
source "$src/tests/rig/check.sh"

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
put("build/cstrike/maps/de_dust2.bsp", bytes(500_000) + rng.randbytes(1000))
PY
mkdir -p www game
nginx_rig_start www 300 || exit 1
base=$ORVANTA_NGINX_URL
run publish --build-dir build --server-root www --server-base "$base" --checklist css34 \
  --game-name "Контр-Страйк" --build-name v34 --download-path cstrike/v34 >/dev/null || { echo "publish failed"; exit 1; }

status_is() {  # status command...
  local want=$1; shift
  "$@"; local got=$?
  [ "$got" -eq "$want" ] || { echo "exit status $got, expected $want"; return 1; }
}
check "empty folder: exit 1" status_is 1 run check --server "$base" --game-dir game
check "dry run over WinInet: exit 1, the lengths of the files a repair would fetch" bash -c '
  "'"$src"'/scripts/wine-exec" "'"$tool"'" check --server "'"$base"'" --game-dir game --dry-run --json | tr -d "\r" > dry.jsonl
  [ "${PIPESTATUS[0]}" -eq 1 ] || exit 1
  python3 -c "
import json, os
lines = [json.loads(l) for l in open(\"dry.jsonl\")]
packed = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(\"www/cstrike/v34\") for f in fs if f.endswith(\".lzma\"))
fetch = [l for l in lines if l[\"event\"] == \"would-fetch\"]
assert fetch and lines[-1][\"bytes_to_fetch\"] == packed == sum(l[\"bytes\"] for l in fetch), (lines[-1], packed)
"'
check "repair over WinInet: exit 0, byte-identical, nothing left over" bash -c '
  "'"$src"'/scripts/wine-exec" "'"$tool"'" check --server "'"$base"'" --game-dir game --repair --json | tr -d "\r" > repair.jsonl
  [ "${PIPESTATUS[0]}" -eq 0 ] || exit 1
  diff -r build game && [ -z "$(find game -name "*.lzma" -o -name "*.orvanta-unpack")" ] &&
  python3 -c "
import json
lines = [json.loads(l) for l in open(\"repair.jsonl\")]
assert lines[-1][\"event\"] == \"summary\" and lines[-1][\"exit\"] == 0 and lines[-1][\"repaired\"] == 9, lines[-1]
"'
check "intact folder: exit 0" status_is 0 run check --server "$base" --game-dir game
check "server unreachable: exit 2" status_is 2 run check --server "http://127.0.0.1:9/" --game-dir game

python3 "$src/tests/rig/sign_build.py" --root www --game cstrike --checklist css34 --build-dir build \
  --key "$src/tests/data/signing/key.pem" || { echo "signing failed"; exit 1; }
key=$(cat "$src/tests/data/signing/public.hex")
check "signed build, keyed repair over WinInet: exit 0, byte-identical" bash -c '
  mkdir keyed && "'"$src"'/scripts/wine-exec" "'"$tool"'" check --server "'"$base"'" --game-dir keyed --repair \
    --public-key "'"$key"'" >/dev/null && diff -r build keyed'
check "another key: exit 2, the statement refused" bash -c '
  "'"$src"'/scripts/wine-exec" "'"$tool"'" check --server "'"$base"'" --game-dir keyed \
    --public-key "$(cat "'"$src"'/tests/data/signing/other-public.hex")" 2> other.err; [ $? -eq 2 ] &&
  grep -q "inf.ini.sig is refused (not signed)" other.err'
python3 "$src/tests/rig/forge_crc.py" build/hl2.exe forged.exe
run lzma e 'forged.exe' 'www\cstrike\v34\hl2.exe.lzma' >/dev/null
check "forged file, keyed: the old file stays, repair-failed sha256, exit 1" bash -c '
  printf old > keyed/hl2.exe
  "'"$src"'/scripts/wine-exec" "'"$tool"'" check --server "'"$base"'" --game-dir keyed --repair --json \
    --public-key "'"$key"'" | tr -d "\r" > forged.jsonl; [ "${PIPESTATUS[0]}" -eq 1 ] || exit 1
  [ "$(cat keyed/hl2.exe)" = old ] && grep -q "\"repair-failed\".*\"reason\":\"sha256\"" forged.jsonl'

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

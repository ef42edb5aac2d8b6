#!/usr/bin/env bash
# orvanta-tool check --repair over a bad network: a build with one large incompressible file,
# published once and served by the fault server's /root/ route as it misbehaves (cut at several
# points, ranges ignored, the file's validators changing, a stall in the body, a run killed in the
# middle), and by nginx for the speed cap. Every repair must end with the build's bytes, sending
# not much more than the file once where ranges work; the cap's average speed is printed.
# Usage: native_resume.sh BUILD_DIR [SOURCE_DIR]
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
src=$(cd "${2:-$(dirname "${BASH_SOURCE[0]}")/../..}" && pwd)
if [ -z "${ORVANTA_RESUME_ROOT:-}" ]; then
  ORVANTA_RESUME_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-resume-root.XXXXXX")
  export ORVANTA_RESUME_ROOT
  bash "$src/tests/rig/with-servers.sh" --root "$ORVANTA_RESUME_ROOT" --lifetime 600 bash "$0" "$build" "$src"
  status=$?
  rm -rf "$ORVANTA_RESUME_ROOT"
  exit $status
fi
tool=$build/tools/orvanta-tool
[ -x "$tool" ] || { echo "no $tool"; exit 1; }
root=$ORVANTA_RESUME_ROOT
base=$ORVANTA_NGINX_URL
fault=$ORVANTA_FAULT_URL
work=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-resume-e2e.XXXXXX")
killed_pid=
cleanup() {
  [ -n "$killed_pid" ] && kill -KILL "$killed_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
# shellcheck source=../rig/check.sh
source "$src/tests/rig/check.sh"

# 30 MB that LZMA cannot shrink, so that the download is as large as the file, and a few small ones.
python3 - <<'PY'
import os, random
rng = random.Random(2591)
def put(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    open(path, "wb").write(data)
put("build/cstrike/maps/big.bsp", rng.randbytes(30_000_000))
put("build/hl2.exe", rng.randbytes(65521))
put("build/cstrike/cfg/autoexec.cfg", b"bind w +forward\r\n")
PY
"$tool" publish --build-dir build --server-root "$root" --server-base "$base" --checklist css34 \
  --game-name G --build-name v34 --download-path cstrike/v34 --no-chunks >/dev/null || { echo "publish failed"; exit 1; }
packed=$(stat -c %s "$root/cstrike/v34/cstrike/maps/big.bsp.lzma")
partial=game/cstrike/maps/big.bsp.lzma

# The fault server's account of one id: stats ID FIELD (requests, bytes, offsets as a line).
stats() {
  python3 - "$fault" "$1" "$2" <<'PY'
import json, sys, urllib.request
s = json.load(urllib.request.urlopen(sys.argv[1] + "stats/" + sys.argv[2]))
v = s[sys.argv[3]]
print(" ".join(map(str, v)) if isinstance(v, list) else v)
PY
}
# A repair of an empty game folder through /root/ID/OPTS/ that must end with the build's bytes.
repair() {  # id opts [tool options...]
  local id=$1 opts=$2; shift 2
  rm -rf game && mkdir game
  "$tool" check --server "${fault}root/$id/$opts/" --server-base "$base" --game-dir game --repair \
    --connections 1 "$@" >"$id.txt" 2>&1 || { echo "exit $?"; cat "$id.txt"; return 1; }
  diff -r build game || return 1
  [ -z "$(find game -name '*.lzma' -o -name '*.orvanta-partial*')" ] || { echo "leftovers"; find game; return 1; }
}
at_most() {  # what value limit (python expressions)
  python3 -c "import sys; sys.exit(0 if $2 <= $3 else 1)" || { echo "$1: $2, more than $3"; return 1; }
}

cuts() {
  repair cuts cut=6000000+14000000+22000000 || return 1
  at_most "the bytes sent" "$(stats cuts bytes)" "$packed*1.1" || return 1
  local offsets; offsets=$(stats cuts offsets)
  [[ "$offsets" == *" 6000000 14000000 22000000"* ]] || { echo "offsets $offsets"; return 1; }
}
check "cut at three points: repaired, the file sent about once" cuts

no_ranges() {
  repair norange cut=9000000,norange || return 1
  at_most "the bytes sent again" "9000000 + $packed" "$(stats norange bytes)"
}
check "ranges ignored: the repair starts again and is right" no_ranges

changing() {
  repair changes cut=9000000,changes=100 || return 1
  at_most "the bytes sent again" "9000000 + $packed" "$(stats changes bytes)"
}
check "the file changes under the download: If-Range starts it again from zero, right" changing

stalled() {
  local start; start=$(date +%s)
  repair stall stall=12000000 --receive-timeout 2 || return 1
  at_most "the seconds taken" "$(($(date +%s) - start))" 40 || return 1
  at_most "the bytes sent" "$(stats stall bytes)" "$packed*1.1"
}
check "a stall in the body with --receive-timeout 2: given up, resumed, right" stalled

# Killed mid-download (at 5 MB/s the file takes six seconds): the partial and its record stay, and
# the next run asks for the rest of the same address.
paced="${fault}root/killed/rate=5000000/"
kept=0
asked_before=0
killed() {
  rm -rf game && mkdir game
  "$tool" check --server "$paced" --server-base "$base" --game-dir game --repair --connections 1 >killed.txt 2>&1 &
  killed_pid=$!
  for _ in $(seq 400); do
    [ -e "$partial" ] && [ "$(stat -c %s "$partial")" -gt 9000000 ] && break
    sleep 0.05
  done
  kill -KILL "$killed_pid"; wait "$killed_pid" 2>/dev/null; killed_pid=
  kept=$(stat -c %s "$partial" 2>/dev/null || echo 0)
  [ "$kept" -gt 9000000 ] && [ "$kept" -lt "$packed" ] || { echo "a partial of $kept bytes"; return 1; }
  [ -n "$(find game -name 'big.bsp.lzma?*')" ] || { echo "no record beside the partial"; find game; return 1; }
  asked_before=$(stats killed requests)
}
check "kill -9 mid-download: the partial and its record stay" killed

resumed() {
  "$tool" check --server "$paced" --server-base "$base" --game-dir game --repair --connections 1 || return 1
  diff -r build game || return 1
  local offsets later from=0 o
  read -ra offsets <<<"$(stats killed offsets)"
  later=("${offsets[@]:$asked_before}")
  echo "the second run asked from: ${later[*]}"
  for o in "${later[@]}"; do [ "$o" -gt 0 ] && from=$o; done
  [ "$from" -gt 0 ] && [ "$from" -le "$kept" ] || { echo "not resumed"; return 1; }
  at_most "the bytes sent" "$(stats killed bytes)" "$packed*1.1"
}
check "the next run resumes the killed download and is right" resumed

# The rate is read off the download's growth, so that the run's own work before and after it
# (the checklist, the unpacking) does not count.
capped() {
  rm -rf game && mkdir game
  "$tool" check --server "$base" --game-dir game --repair --limit-rate 2M >capped.txt 2>&1 &
  local pid=$! status
  while kill -0 "$pid" 2>/dev/null; do
    printf '%s %s\n' "$(date +%s.%N)" "$(stat -c %s "$partial" 2>/dev/null || echo -)"
    sleep 0.25
  done >rate.samples
  wait "$pid"; status=$?
  [ "$status" -eq 0 ] || { echo "exit $status"; cat capped.txt; return 1; }
  diff -r build game || return 1
  python3 - "$packed" <<'PY'
import sys
packed = int(sys.argv[1])
rows = [(float(t), int(n)) for t, n in (l.split() for l in open("rate.samples")) if n != "-"]
inside = [r for r in rows if 1_000_000 <= r[1] <= packed - 1_000_000]
(t0, n0), (t1, n1) = inside[0], inside[-1]
rate = (n1 - n0) / (t1 - t0)
print("--limit-rate 2M: %d bytes in %.2f s, %.0f bytes/s (%.1f%% of 2 MiB/s)" % (n1 - n0, t1 - t0, rate, rate * 100 / 2097152))
assert t1 - t0 >= 10, "too short to measure"
assert abs(rate - 2097152) <= 0.1 * 2097152
PY
}
check "--limit-rate 2M against nginx: the average within 10 per cent" capped
grep -- "--limit-rate 2M:" "$work/stdout"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

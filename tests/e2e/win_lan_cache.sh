#!/usr/bin/env bash
# A club's LAN cache (tools/nginx/lan-cache-site.conf as README shows it) at the launcher's
# built-in update server address, in front of the demo server on another port, so that the
# catalogue and every download go through it. The real Orvanta.exe repairs a damaged game folder
# (tests/win_e2e's update-question case), then orvanta-tool repairs a second copy with the same
# damage: the origin's log shows each damaged file's body fetched once. Then one of those files is
# published anew at the same path, and one more repair through the cache gets it, the catalogue and
# checklist coming from the origin each time. One line per check.
# Usage: win_lan_cache.sh BUILD_DIR SOURCE_DIR   (run by ctest inside Xvfb)
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
src=$(cd "${2:?source folder}" && pwd)
port=8740
# Short, so that the test need not wait out the site file's minute; what it shows (a kept file
# asked about again once it is older than this, a new one fetched) does not depend on the length.
valid=3

wintool=$build/tools/orvanta-tool.exe
[ -f "$wintool" ] || { echo "no $wintool: build the Windows preset"; exit 1; }
wine=$src/scripts/wine-exec
# The second folder is repaired by the native tool when it is built (another HTTP client than the
# launcher's), else by the Windows one.
if [ -x "$src/build/native/tools/orvanta-tool" ]; then
  tool=("$src/build/native/tools/orvanta-tool")
else
  tool=("$wine" "$wintool")
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-lan-cache.XXXXXX")
# shellcheck source=../rig/nginx.sh
source "$src/tests/rig/nginx.sh"
trap 'nginx_rig_stop; rm -rf "$work"' EXIT
# shellcheck source=../rig/check.sh
source "$src/tests/rig/check.sh"
# The figures a check measured go to the terminal whether it passes or not.
exec 3>&1

bash "$src/tests/rig/demo-build.sh" --wrapper "$wine" "$wintool" "$build/tests" "$work/www" "$work/game" || exit 1
NGINX_RIG_ACCESS_LOG=1 nginx_rig_start "$work/www" 600 || exit 1
origin_log=$ORVANTA_NGINX_ACCESS_LOG
NGINX_RIG_LAN_CACHE_VALID=${valid}s nginx_rig_start_lan_cache "$ORVANTA_NGINX_URL" 600 "$port" || exit 1
cache_log=$ORVANTA_LAN_CACHE_LOG
cache=$ORVANTA_LAN_CACHE_URL

damaged=(cstrike/maps/de_demo.bsp cstrike/materials/demo/crate.vtf cstrike/cfg/autoexec.cfg)
changed=cstrike/materials/demo/crate.vtf
served=cstrike/demo

# The damage the launcher case does to its copy: the map gone, one byte of the texture changed,
# the config folder gone.
damage() {  # folder
  rm -f "$1/cstrike/maps/de_demo.bsp" && rm -rf "$1/cstrike/cfg" &&
    python3 -c '
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
data[len(data) // 2] ^= 0x5A
open(path, "wb").write(data)' "$1/cstrike/materials/demo/crate.vtf"
}

# How often the origin sent FILE's body (200 or 206), and how often it was asked for it at all.
origin_bodies() { grep -cE "\| GET /$1 HTTP/1\.1 \| 20[06] \|" "$origin_log"; }
origin_asked() { grep -c " /$1 HTTP/1\.1 |" "$origin_log"; }
cache_asked() { grep -c "\"GET /$1 HTTP/1\.1\"" "$cache_log"; }

# Each damaged file's body came from the origin once ($1 of them, more than once: $2).
bodies_once_except() {  # changed-file expected-count-for-it
  local file want got ok=0
  for file in "${damaged[@]}"; do
    want=1
    [ "$file" = "$1" ] && want=$2
    got=$(origin_bodies "$served/$file.lzma")
    echo "    $file.lzma: $got bod(y/ies) from the origin, expected $want" >&3
    [ "$got" -eq "$want" ] || ok=1
  done
  return $ok
}

# The catalogue and the checklist: every request the cache took reached the origin.
passed_through() {
  local file
  for file in cstrike/inf.ini cstrike/css-demo.dim.lzma; do
    echo "    $file: asked $(cache_asked "$file") time(s) at the cache, $(origin_asked "$file") at the origin" >&3
    [ "$(cache_asked "$file")" -ge 1 ] && [ "$(cache_asked "$file")" -eq "$(origin_asked "$file")" ] || return 1
    grep "\"GET /$file HTTP/1\.1\"" "$cache_log" | grep -qv 'cache=- ' && return 1
  done
  return 0
}

# The cache's last answer for each damaged file was its kept copy.
last_answers_from_cache() {
  local file last ok=0
  for file in "${damaged[@]}"; do
    last=$(grep "\"GET /$served/$file.lzma HTTP/1\.1\"" "$cache_log" | tail -1)
    echo "    $file.lzma: cache=$(sed -E 's/.*cache=([A-Z-]+).*/\1/' <<<"$last")" >&3
    case $last in *cache=HIT*|*cache=REVALIDATED*) ;; *) ok=1 ;; esac
  done
  return $ok
}

export ORVANTA_EXE=$build/Orvanta.exe ORVANTA_DEMO_GAME=$work/game
check "the launcher repairs its damaged copy through the cache" \
  "$wine" "$build/tests/win_e2e_tests.exe" --gtest_brief=1 \
  --gtest_filter='LauncherEndToEnd.TheUpdateQuestionRepairsADamagedFolderToThePublishedBuild'
echo "  what WinInet sent with the launcher's game files:"
grep -E '"GET /cstrike/demo/.*\.lzma ' "$cache_log" |
  sed -E 's/.*"GET ([^ ]*) .*(cache=[^ ]*) .*(cc="[^"]*") (pragma="[^"]*") (agent="[^"]*").*/    \1 \2 \3 \4 \5/'

cp -R "$work/game" "$work/second"
damage "$work/second" || exit 1
check "the tool repairs a second copy with the same damage through the cache" bash -c '
  "$@" check --server "'"$cache"'" --game-dir "'"$work/second"'" --repair >/dev/null &&
    diff -r "'"$work/game"'" "'"$work/second"'"' _ "${tool[@]}"
check "each damaged file's body came from the origin once" bodies_once_except "" 1
check "the second pass was served by the cache (HIT, or REVALIDATED with a 304 from the origin)" \
  last_answers_from_cache

# A new publish with the texture changed at the same path. Its validators are the file's time and
# size: the new file is written in a later second than the one the cache holds, so they differ.
etag() { curl -fsS -I "$ORVANTA_NGINX_URL$served/$changed.lzma" | tr -d '\r' | sed -n 's/^ETag: //Ip'; }
old_etag=$(etag)
old_mtime=$(stat -c %Y "$work/www/$served/$changed.lzma")
mkdir -p "$work/next"
cp -R "$work/game/." "$work/next/"
python3 -c '
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
data[:8] = b"RELEASE2"
open(path, "wb").write(data)' "$work/next/$changed" || exit 1
while [ "$(date +%s)" -le "$old_mtime" ]; do sleep 0.1; done
"$wine" "$wintool" publish --build-dir "$work/next" --server-root "$work/www" --server-base "http://127.0.0.1:$port/" \
  --game-code cstrike --checklist css-demo --game-name "Counter-Strike: Source" --build-name "Demo build" \
  --download-path "$served" --base-version 34 --build-version 7545 >/dev/null || { echo "the new publish failed"; exit 1; }
new_etag=$(etag)
echo "  $changed.lzma: ETag $old_etag before the publish, $new_etag after"
[ -n "$new_etag" ] && [ "$new_etag" != "$old_etag" ] || { echo "the new file's ETag did not change"; exit 1; }
# The cache's copy was last stored or confirmed by the second pass: once it is older than its
# validity the next request asks the origin about it.
confirmed=$(date +%s)
while [ "$(date +%s)" -le $((confirmed + valid)) ]; do sleep 0.1; done

check "before the repair, the second copy differs from the new build" bash -c '
  "$@" check --server "'"$cache"'" --game-dir "'"$work/second"'" >/dev/null; [ $? -eq 1 ]' _ "${tool[@]}"
check "one more repair through the cache takes the new file" bash -c '
  "$@" check --server "'"$cache"'" --game-dir "'"$work/second"'" --repair >/dev/null &&
    "$@" check --server "'"$cache"'" --game-dir "'"$work/second"'" >/dev/null &&
    diff -r "'"$work/next"'" "'"$work/second"'"' _ "${tool[@]}"
check "the new file's body came from the origin once more, the others' not again" \
  bodies_once_except "$changed" 2
check "the catalogue and the checklist always came from the origin" passed_through

echo "  origin requests for the game files (status: count):"
grep -E "\| GET /$served/.*\.lzma HTTP" "$origin_log" | awk -F' \\| ' '{ split($2, r, " "); print "    " r[2] " " $3 }' |
  sort | uniq -c | sed 's/^ */    /'
echo "  the cache's answers for them, in order:"
for file in "${damaged[@]}"; do
  echo "    $file.lzma: $(grep "\"GET /$served/$file.lzma HTTP/1\.1\"" "$cache_log" | sed -E 's/.*cache=([A-Z-]+).*/\1/' | tr '\n' ' ')"
done
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

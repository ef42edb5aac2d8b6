#!/usr/bin/env bash
# The real Orvanta.exe end to end: a demo build published with orvanta-tool, served by nginx at the
# launcher's built-in update server address (127.0.0.1:8740), a game folder laid out with it, and
# tests/win_e2e driving the launcher from outside under Wine. The offline case runs before the
# server is started; the self-update cases run last, against a copy of the server onto which the
# next launcher release (tests' Orvanta-next.exe, version 1.3) and the fake installer are published;
# the signed repairs run after them, against a signed copy of the server behind a LAN cache.
# Screenshots of the main window land in BUILD_DIR/artefacts as PNG files.
# Usage: win_launcher.sh BUILD_DIR SOURCE_DIR   (run by ctest inside Xvfb)
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
src=$(cd "${2:?source folder}" && pwd)
port=8740

# The publisher is this build's own orvanta-tool.exe under Wine: a Windows test builds nothing else.
tool=$build/tools/orvanta-tool.exe
[ -f "$tool" ] || { echo "no $tool: build the Windows preset"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-e2e.XXXXXX")
# shellcheck source=../rig/nginx.sh
source "$src/tests/rig/nginx.sh"
trap 'nginx_rig_stop; rm -rf "$work"' EXIT

bash "$src/tests/rig/demo-build.sh" --wrapper "$src/scripts/wine-exec" "$tool" "$build/tests" \
  "$work/www" "$work/game" || exit 1
artefacts=$build/artefacts
mkdir -p "$artefacts"
rm -f "$artefacts"/main-window-*.bmp "$artefacts"/main-window-*.png "$artefacts"/about-box-*.png "$artefacts"/server-browser.png "$artefacts"/tray-menu.png

export ORVANTA_EXE=$build/Orvanta.exe ORVANTA_DEMO_GAME=$work/game ORVANTA_ARTEFACTS=$artefacts
driver=$build/tests/win_e2e_tests.exe
status=0

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "port $port is in use: the offline case needs the update server's address to be closed"
  exit 1
fi
"$src/scripts/wine-exec" "$driver" --gtest_brief=1 --gtest_filter='*Offline*' || status=1

nginx_rig_start "$work/www" 600 "$port" || exit 1
"$src/scripts/wine-exec" "$driver" --gtest_brief=1 --gtest_filter='-*Offline*:SelfUpdate*:SignedRepair*' || status=1
nginx_rig_stop

# The release is published under the launcher's own name, as an operator publishes the next build.
cp -R "$work/www" "$work/www-next"
mkdir -p "$work/next"
cp "$build/tests/Orvanta-next.exe" "$work/next/Orvanta.exe"
"$src/scripts/wine-exec" "$tool" publish-launcher --executable "$work/next/Orvanta.exe" \
  --installer "$build/tests/upt.exe" --server-root "$work/www-next" --version 1.3 --type 2 >/dev/null || exit 1
# Its signature under the tests' key, for the launcher built with that key (openssl gives DER; the
# description carries r||s).
ORVANTA_NEXT_SIGNATURE=$(openssl dgst -sha256 -sign "$src/tests/data/signing/key.pem" "$work/next/Orvanta.exe" |
  python3 -c '
import sys
der = sys.stdin.buffer.read()
pos, parts = 2, []
for _ in range(2):
    n = der[pos + 1]
    parts.append(int.from_bytes(der[pos + 2:pos + 2 + n], "big"))
    pos += 2 + n
sys.stdout.write("".join(p.to_bytes(32, "big").hex() for p in parts))') || exit 1
export ORVANTA_NEXT_SIGNATURE ORVANTA_KEYED_EXE=$build/tests/Orvanta-keyed.exe
# Statements under the tests' key for the launcher built with it: the catalogue as served, the same
# catalogue asking for the installer (a later signing, so a higher version), and the installer.
sign=(python3 "$src/tests/rig/sign_statement.py" --key "$src/tests/data/signing/key.pem" --game cstrike)
served=$work/www-next/cstrike
sed 's/^typeofselfupdate=2/typeofselfupdate=1/' "$served/inf.ini" >"$served/inf-installer.ini"
cmp -s "$served/inf.ini" "$served/inf-installer.ini" && { echo "the catalogue asks for no direct update"; exit 1; }
"${sign[@]}" --kind catalogue --name inf.ini --version 1 --file "$served/inf.ini" "$served/inf.ini.sig" || exit 1
"${sign[@]}" --kind catalogue --name inf.ini --version 2 --file "$served/inf-installer.ini" \
  "$served/inf-installer.ini.sig" || exit 1
"${sign[@]}" --kind installer --name upt.exe --version 1 --file "$build/tests/upt.exe" "$served/upt.exe.sig" || exit 1
NGINX_RIG_ACCESS_LOG=1 nginx_rig_start "$work/www-next" 600 "$port" || exit 1
export ORVANTA_NEXT_EXE=$work/next/Orvanta.exe ORVANTA_UPDATE_WWW=$work/www-next
export ORVANTA_ACCESS_LOG=$ORVANTA_NGINX_ACCESS_LOG
"$src/scripts/wine-exec" "$driver" --gtest_brief=1 --gtest_filter='SelfUpdate*' || status=1
nginx_rig_stop

# Signed repairs through a LAN cache: a signed copy of the demo server whose catalogue sends the game
# files through the caching proxy, first as published, then with the map forged on the origin (same
# size and CRC-32) and a new cache already holding the forgery when the launchers ask.
signed=$work/www-signed
cp -R "$work/www" "$signed"
cp "$signed/cstrike/inf.ini" "$work/inf.ini.published"
nginx_rig_start "$signed" 600 "$port" || exit 1
serve_through_cache() {
  NGINX_RIG_ACCESS_LOG=1 nginx_rig_start_cache "$ORVANTA_NGINX_URL" 600 || return 1
  export ORVANTA_CACHE_LOG=$NGINX_RIG_CACHE_STATE/access.log
  sed "s|^adrskach1=$ORVANTA_NGINX_URL|adrskach1=$ORVANTA_CACHE_URL|" "$work/inf.ini.published" >"$signed/cstrike/inf.ini"
  cmp -s "$work/inf.ini.published" "$signed/cstrike/inf.ini" && { echo "the catalogue has no download address to move"; return 1; }
  python3 "$src/tests/rig/sign_build.py" --root "$signed" --game cstrike --checklist css-demo \
    --build-dir "$work/game" --key "$src/tests/data/signing/key.pem"
}
serve_through_cache || exit 1
"$src/scripts/wine-exec" "$driver" --gtest_brief=1 --gtest_filter='SignedRepair*LanCache*' || status=1
map=cstrike/demo/cstrike/maps/de_demo.bsp.lzma
python3 "$src/tests/rig/forge_crc.py" "$work/game/cstrike/maps/de_demo.bsp" "$work/forged.bsp" || exit 1
"$src/scripts/wine-exec" "$tool" lzma e "$work/forged.bsp" "$signed/$map" >/dev/null || exit 1
serve_through_cache || exit 1
curl -fsS -o /dev/null "$ORVANTA_CACHE_URL$map" &&
  curl -fsS -o /dev/null -D - "$ORVANTA_CACHE_URL$map" | grep -i '^X-Cache-Status: HIT' >/dev/null ||
  { echo "the cache does not hold the forged map"; exit 1; }
export ORVANTA_FORGED_MAP=$work/forged.bsp
"$src/scripts/wine-exec" "$driver" --gtest_brief=1 --gtest_filter='SignedRepair*Forgery*' || status=1
nginx_rig_stop

for bmp in "$artefacts"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
ls "$artefacts"/*.png 2>/dev/null
exit $status

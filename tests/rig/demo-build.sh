#!/usr/bin/env bash
# Publishes a small demo game build onto an update-server folder, as the server's operator would
# with orvanta-tool, for the demo run and the end-to-end tests:
#
#   tests/rig/demo-build.sh [--wrapper PROGRAM] TOOL FAKES_DIR WWW [GAME_DIR]
#
# PROGRAM    runs TOOL, which is its first argument: scripts/wine-exec for the Windows build's tool
# TOOL       orvanta-tool, the native build's or the Windows build's orvanta-tool.exe
# FAKES_DIR  where the fake outside programs lie (hl2.exe, revLoader.exe), from the Windows build
# WWW        the folder nginx serves at the launcher's update server address; filled with
#            cstrike/inf.ini, the checklist and the build's ".lzma" files
# GAME_DIR   optional: also lays out a player's game folder with the build in it (no launcher)
#
# The build is the fake game and loader, a few config files and a generated map, under the names
# a real build has, published as game version 34 / 7545. The address in the catalogue is the
# launcher's built-in server address.
set -euo pipefail
tool=()
if [ "${1:-}" = --wrapper ]; then
  tool=("${2:?program that runs the tool}")
  shift 2
fi
tool+=("${1:?orvanta-tool}")
fakes=${2:?folder of the fake programs}
www=${3:?server folder}
game=${4:-}
base=${ORVANTA_DEMO_SERVER_BASE:-http://127.0.0.1:8740/}

for fake in hl2.exe revLoader.exe; do
  [ -f "$fakes/$fake" ] || { echo "demo-build: no $fakes/$fake (build the Windows preset)" >&2; exit 1; }
done

build=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-demo-build.XXXXXX")
trap 'rm -rf "$build"' EXIT
cp "$fakes/hl2.exe" "$fakes/revLoader.exe" "$build/"
mkdir -p "$build/cstrike/cfg" "$build/cstrike/maps" "$build/cstrike/materials/demo" "$build/cstrike/download"
printf 'bind w "+forward"\r\nbind s "+back"\r\nsensitivity "2.5"\r\n' >"$build/cstrike/cfg/autoexec.cfg"
printf '"GameInfo"\r\n{\r\n\tgame "Counter-Strike: Source (demo)"\r\n}\r\n' >"$build/cstrike/gameinfo.txt"
: >"$build/cstrike/cfg/listenserver.cfg"
# A map and a texture: compressible and not, a few hundred kilobytes each, the same every time.
python3 - "$build" <<'PY'
import random, sys
root = sys.argv[1]
rng = random.Random(8740)
open(f"{root}/cstrike/maps/de_demo.bsp", "wb").write(b"VBSP" + bytes(300_000) + rng.randbytes(200_000))
open(f"{root}/cstrike/materials/demo/crate.vtf", "wb").write(rng.randbytes(65_536 * 3 + 17))
PY

mkdir -p "$www"
"${tool[@]}" publish --build-dir "$build" --server-root "$www" --server-base "$base" --game-code cstrike \
  --checklist css-demo --game-name "Counter-Strike: Source" --build-name "Demo build" \
  --download-path cstrike/demo --base-version 34 --build-version 7545 >/dev/null

if [ -n "$game" ]; then
  mkdir -p "$game"
  cp -R "$build/." "$game/"
fi

#!/usr/bin/env bash
# Regenerates the LZMA interop fixtures in this folder: three originals and their ".lzma" forms made
# by other tools, listed in MANIFEST as "compressed original kind", where kind is "size" (the header
# gives the uncompressed size) or "eos" (size field all 0xFF, the stream ends with the end marker).
#   xz --format=lzma   always writes an end marker and no size (presets, -9e, custom lc/lp/pb)
#   lzma (Debian's LZMA SDK tool) writes the size when it compresses a file, and the end marker
#                      when it compresses standard input
# Needs xz-utils, lzma and python3. The originals are deterministic; the tools' output may change
# with their versions, which is why the fixtures are committed rather than made at test time.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
rm -f -- *.lzma MANIFEST empty.bin text.txt mixed.bin

python3 - <<'PY'
import random
rng = random.Random(20240611)
open("empty.bin", "wb").close()
words = ["cstrike", "maps", "de_dust2.bsp", "materials", "models", "player", "sound", "hl2.exe", "bin", "cfg"]
lines = []
while sum(len(l) for l in lines) < 24000:
    path = "/".join(rng.choice(words) for _ in range(rng.randint(1, 4)))
    lines.append("%s\r\n%d\r\n%d\r\n" % (path, rng.randint(0, 9999999), rng.getrandbits(32)))
open("text.txt", "w", newline="").write("".join(lines))
noise = bytes(rng.getrandbits(8) for _ in range(8192))
pattern = bytes(range(256)) * 32
open("mixed.bin", "wb").write(noise + pattern + noise[:1000])
PY

manifest=()
xz_lzma() {  # original name-suffix xz-options...
  local original=$1 suffix=$2; shift 2
  xz --format=lzma "$@" -c -- "$original" > "$original.$suffix.lzma"
  manifest+=("$original.$suffix.lzma $original eos")
}
lzma_file() {  # original name-suffix lzma-options...
  local original=$1 suffix=$2; shift 2
  lzma -z "$@" -c -- "$original" > "$original.$suffix.lzma"
  manifest+=("$original.$suffix.lzma $original size")
}
lzma_stdin() {
  local original=$1 suffix=$2; shift 2
  lzma -z "$@" -c < "$original" > "$original.$suffix.lzma"
  manifest+=("$original.$suffix.lzma $original eos")
}

xz_lzma text.txt xz-0 -0
xz_lzma text.txt xz-6 -6
xz_lzma text.txt xz-9 -9
xz_lzma text.txt xz-9e -9e
xz_lzma text.txt xz-lc0lp2pb0 --lzma1=preset=6,lc=0,lp=2,pb=0
lzma_file text.txt lzma-1 -1
lzma_file text.txt lzma-7 -7
lzma_file text.txt lzma-9 -9
lzma_stdin text.txt lzma-stdin -7
xz_lzma mixed.bin xz-6 -6
lzma_file mixed.bin lzma-7 -7
lzma_stdin mixed.bin lzma-stdin -7
xz_lzma empty.bin xz-6 -6
lzma_file empty.bin lzma-7 -7
lzma_stdin empty.bin lzma-stdin -7

printf '%s\n' "${manifest[@]}" > MANIFEST

#!/usr/bin/env bash
# The native orvanta-tool against the outside tools: ".lzma" files it packs unpack with xz and
# Debian's lzma, files they pack unpack with it, and its CRC-32 equals zlib's. One line per check.
# Usage: native_lzma_interop.sh BUILD_DIR [SOURCE_DIR]
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
tool=$build/tools/orvanta-tool
[ -x "$tool" ] || { echo "no $tool"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
check() {  # description command...
  local what=$1; shift
  if "$@" >/dev/null 2>"$work/stderr"; then
    echo "ok   $what"
  else
    echo "FAIL $what"; sed 's/^/     /' "$work/stderr"; failures=$((failures + 1))
  fi
}
same() { cmp -s "$1" "$2"; }

# Inputs: empty, one byte, one CRC block, random data and several MB of text.
python3 - <<'PY'
import random
rng = random.Random(740)
open("empty", "wb").close()
open("one", "wb").write(b"\xff")
open("block", "wb").write(bytes(rng.getrandbits(8) for _ in range(65521)))
open("random", "wb").write(rng.randbytes(400000))
block = "".join("cstrike/models/player/ct_%03d.mdl\r\n%d\r\n" % (i, rng.randint(0, 99999)) for i in range(200))
with open("text", "w", newline="") as f:  # 3.3 MB
    for i in range(400):
        f.write("== part %d ==\r\n" % i + block)
PY
files=(empty one block random text)

for f in "${files[@]}"; do
  check "ours e -> xz -d: $f" bash -c "'$tool' lzma e $f $f.ours.lzma && xz --format=lzma -dc $f.ours.lzma > $f.ours.xz && cmp -s $f $f.ours.xz"
  check "ours e -> lzma -d: $f" bash -c "lzma -dc < $f.ours.lzma > $f.ours.lz && cmp -s $f $f.ours.lz"
  for preset in -0 -6 -9e; do
    check "xz $preset -> ours d: $f" bash -c "xz --format=lzma $preset -c $f > $f.xz.lzma && '$tool' lzma d $f.xz.lzma $f.xz.out && cmp -s $f $f.xz.out"
  done
  check "lzma FILE (size field) -> ours d: $f" \
    bash -c "lzma -z -c $f > $f.lz.lzma && '$tool' lzma d $f.lz.lzma $f.lz.out && cmp -s $f $f.lz.out"
  check "lzma < FILE (end marker) -> ours d: $f" \
    bash -c "lzma -z -c < $f > $f.eos.lzma && '$tool' lzma d $f.eos.lzma $f.eos.out && cmp -s $f $f.eos.out"
done

# CRC-32: the tool's decimal text against zlib's.
"$tool" crc32 "${files[@]}" > crc.ours 2>&1
python3 -c 'import sys, zlib; [print(zlib.crc32(open(f, "rb").read())) for f in sys.argv[1:]]' "${files[@]}" > crc.zlib
check "crc32 of ${#files[@]} files equals zlib.crc32" same crc.ours crc.zlib
check "crc32 of \"abc\" is 891568578" bash -c "printf abc > abc && [ \"\$('$tool' crc32 abc)\" = 891568578 ]"

# Failures: damaged data, a missing input, bad arguments.
head -c 1000 random.ours.lzma > cut.lzma
check "truncated .lzma: exit 1" bash -c "'$tool' lzma d cut.lzma cut.out; [ \$? -eq 1 ]"
check "missing input: exit 1, no output" bash -c "'$tool' lzma d missing.lzma missing.out; [ \$? -eq 1 ] && [ ! -e missing.out ]"
check "missing file for crc32: exit 1" bash -c "'$tool' crc32 missing; [ \$? -eq 1 ]"
check "bad arguments: usage, exit 2" bash -c "'$tool' lzma x a b 2> usage.txt; [ \$? -eq 2 ] && grep -q usage usage.txt"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

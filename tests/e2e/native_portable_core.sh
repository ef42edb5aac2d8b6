#!/usr/bin/env bash
# The portable core must build without Windows headers: only *_win.cpp / *_win.h files and the
# entry may include <windows.h> (or other Win32 headers).
set -euo pipefail
src=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$src"
bad=$(grep -rlE '#include[[:space:]]*<(windows|winbase|wininet|shellapi|shlobj|objbase|commctrl|tlhelp32|process)\.h>' \
        launcher tools \
      | grep -vE '_win\.(cpp|h)$' || true)
if [ -n "$bad" ]; then
  echo "Win32 headers in portable files:"; echo "$bad"; exit 1
fi
upper=$(grep -rnE '#include[[:space:]]*<[^>]*[A-Z][^>]*\.h>' launcher tools | grep -vE '<(LzmaDec|LzmaEnc|LzFind|Types|Alloc)\.h>' || true)
if [ -n "$upper" ]; then
  echo "Upper-case system includes break case-sensitive mingw builds:"; echo "$upper"; exit 1
fi
echo "portable core: no Windows headers outside *_win files"

// The keep list of the folder cleaner: {"Files": [...], "Dirs": [...]}, the paths of the files and
// folders of a game that the cleaner leaves in place, relative to the game folder with "\" between
// names and no leading "\". The launcher reads a file without a byte-order mark in its ANSI code
// page, so the writer marks UTF-8 whenever a name leaves ASCII.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "launcher/base/codepage.h"

namespace orv {

struct KeepList {
    std::vector<std::string> Files;  // UTF-8
    std::vector<std::string> Dirs;   // UTF-8
};

// The document's bytes: both arrays in the given order, UTF-8 with a byte-order mark when any name
// is outside ASCII, plain ASCII otherwise. Raises Error naming a path that has a leading "\", is
// empty, or would leave the game folder.
std::string WriteKeepList(const KeepList& list);

// Reads a document. A byte-order mark decides the text encoding (UTF-8, UTF-16 LE or BE); without
// one the bytes are in `ansiPage`. Strings are taken as they are; numbers, true, false and null by
// their written form; nested arrays and objects are skipped; other members are ignored. Raises
// Error "File does not contains JSON-data." when the text is not JSON, not an object, or lacks
// either array.
KeepList ReadKeepList(std::string_view bytes, CodePage ansiPage);
// The same with a document without a mark decoded by `ansiToUtf8` (the running system's code page).
KeepList ReadKeepList(std::string_view bytes, const AnsiDecoder& ansiToUtf8);

}  // namespace orv

// The INI engine under hostile bytes: parsing, reading, setting and writing back.
#include <string>

#include "fuzz_support.h"
#include "launcher/config/ini_file.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    IniDocument document(bytes);
    // Lines nobody changed keep their bytes.
    fuzz::Require(document.Bytes() == bytes, "an unchanged document writes other bytes");

    // Reads of the names the launcher looks for, and of a name the input itself gives.
    for (const char* section : {"GameSettings", "LauncherSettings", "Emulator", "Loader", "osn", "game1", ""})
        for (const char* key : {"PlayerName", "Language", "ProcName", "ver", "naz1", "kolv", ""}) {
            const auto value = document.Find(section, key);
            if (value) fuzz::Require(value->size() <= IniMaxValueBytes, "a value longer than a profile buffer");
        }
    const size_t cut = bytes.find('\0');
    const std::string_view section = bytes.substr(0, cut == std::string_view::npos ? 0 : cut);
    const std::string_view key = cut == std::string_view::npos ? bytes : bytes.substr(cut + 1);
    (void)document.Find(section, key);

    // A value the launcher sets is the one read back, whatever lines were there.
    document.Set("GameSettings", "PlayerName", "fuzz value");
    const auto written = document.Find("GameSettings", "PlayerName");
    fuzz::Require(written && *written == "fuzz value", "a value set is not read back");
    IniDocument reread(document.Bytes());
    const auto reloaded = reread.Find("GameSettings", "PlayerName");
    fuzz::Require(reloaded && *reloaded == "fuzz value", "a value set is not read back from the written file");

    // The same for the lines before the first header, which a new key may have to lead; a
    // byte-order mark stays the file's first bytes.
    document.Set("", "Orphan", "top value");
    const IniDocument topReread(document.Bytes());
    const auto top = topReread.Find("", "Orphan");
    fuzz::Require(top && *top == "top value", "a value set before the first header is not read back");
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        fuzz::Require(document.Bytes().substr(0, 3) == "\xEF\xBB\xBF", "a set moved the byte-order mark");

    // Names and values from the input: nothing they hold may add a line.
    document.Set(section, key, bytes);
    (void)IniDocument(document.Bytes()).Find(section, key);
    (void)NormalizeIniLines(bytes);
    return 0;
}

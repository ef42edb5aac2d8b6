// The launcher's INI files (settings file, emulator profile) handled as bytes, by the rules of the
// Windows profile-file services but without their detour through the ANSI code page, which would
// lose every Cyrillic nickname. Whatever UTF-8 goes in comes out as the same bytes, and every line
// the launcher does not change keeps its bytes, including its LF or CR LF end, so files that other
// tools (the emulator loader, a player's editor) wrote stay as they were.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// The most bytes a value read returns, as a 2048-character profile buffer allows.
inline constexpr size_t IniMaxValueBytes = 2047;

// One INI file in memory.
//
// Reading rules: a section starts at a line whose first non-blank character is "[" and that holds
// a "]", and runs to the next such line; its name is the text between the "[" and the last "]",
// without surrounding blanks. An entry is a line with an "=" whose first non-blank character is
// neither ";" (a comment) nor "["; its key is the text before the first "=", its value the text
// after it without surrounding blanks and without one pair of matching surrounding quotes (' or ").
// Names compare without regard to ASCII letter case. Only the first section of a name counts (later
// ones are ignored and never written to), and within it the first entry of a key. Entries before
// the first section belong to no section and are never found.
//
// Lines end at CR LF, LF or a lone CR; a UTF-8 byte-order mark at the start is skipped on reading
// and kept on writing.
class IniDocument {
public:
    IniDocument() = default;
    explicit IniDocument(std::string_view bytes);

    // The value, or nothing when the section or the key is missing. At most IniMaxValueBytes.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    // The value, or `fallback` when the section or the key is missing.
    std::string Get(std::string_view section, std::string_view key, std::string_view fallback) const;

    // Replaces the key's line in place (keeping the key as spelt there and the line's end), or adds
    // the key after the last non-blank line of its section, or adds the section at the end. New
    // lines end with CR LF. A CR or LF in any of the texts becomes a blank: nothing a caller passes
    // on can start a line of its own and so add a key or a section.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The whole file as bytes.
    std::string Bytes() const;

private:
    struct Line {
        std::string text;  // without its end
        std::string end;   // "\r\n", "\n", "\r" or "" for a last line without one
    };

    // Index of the first header line of `section`, or npos.
    size_t FindSection(std::string_view section) const;
    // The text of a line as the parser sees it (the first without a byte-order mark).
    std::string_view Content(size_t index) const;

    std::vector<Line> lines_;
};

// The same lines without a UTF-8 byte-order mark, each ended by CR LF (a last line without an end
// gets one; a file that is only a mark becomes empty).
std::string NormalizeIniLines(std::string_view bytes);

// The file as a document; a missing file is an empty one. Raises EOSError when it cannot be read.
IniDocument LoadIniFile(const std::string& path);
// Writes the document so that the file is never left half-written. Raises EOSError; the old file is
// then unchanged.
void SaveIniFile(const std::string& path, const IniDocument& document);

// One value from a file: `fallback` when the file, the section or the key is missing, as the profile
// services give. Raises EOSError when an existing file cannot be read.
std::string ReadIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback);
// Sets one value in a file, creating the file when it is missing. Raises EOSError.
void WriteIniString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value);
// Rewrites an existing file with NormalizeIniLines. Raises EOSError.
void RewriteIniFileNormalized(const std::string& path);

}  // namespace orv

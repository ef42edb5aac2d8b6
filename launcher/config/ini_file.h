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

// One INI file in memory, read as the Windows profile services read it.
//
// Blanks are space, tab, vertical tab, form feed and 0x1A; blank lines count for nothing. A section
// starts at a line whose first non-blank character is "[" and that holds a "]", and runs to the next
// such line; its name is the text between the "[" and the last "]", without surrounding blanks.
// Every other line is a key's line: the key is the text before the first "=" and the value the text
// after it, both without surrounding blanks, the value also without one pair of matching surrounding
// quotes (' or "); a line without "=" is a key without a value. A NUL byte ends a name or a value.
// ";" and "[" mark nothing else: ";x=1" is key ";x". Names compare without regard to ASCII letter
// case. Only the first section of a name counts (later ones are never read or written), and within
// it the first line of a key, also when that line has no value (a read then gives the default).
// Lines before the first header form the section of the empty name; a header "[]" opens a section
// that no name finds.
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
    // lines end with CR LF. Each text ends at its first NUL, as a C string passed to the profile
    // services would; a CR or LF in it becomes a blank: nothing a caller passes on can start a line
    // of its own and so add a key or a section.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The whole file as bytes.
    std::string Bytes() const;

private:
    struct Line {
        std::string text;  // without its end
        std::string end;   // "\r\n", "\n", "\r" or "" for a last line without one
    };

    // The lines of a section, without its header.
    struct Range {
        size_t begin;
        size_t end;
    };

    // The lines of the first section named `section`, or nothing.
    std::optional<Range> FindSection(std::string_view section) const;
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

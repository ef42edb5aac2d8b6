// INI reads and writes as pairs of file bytes and results, one table per rule. The results are the
// Windows profile services' (GetPrivateProfileStringA, WritePrivateProfileStringA): the core tests
// hold the INI engine to these tables, and the Win32 tests run the same tables against the profile
// services themselves, so that a row that is not the platform's behaviour fails there.
#pragma once

#include <string_view>

namespace orv::test {

using namespace std::string_view_literals;

// What a read gives when the section or the key is missing (or the key has no value).
inline constexpr std::string_view kIniDefault = "<default>";

struct IniReadCase {
    std::string_view file;
    std::string_view section;
    std::string_view key;
    std::string_view expected;
};

// How far the platform's own write agrees with a row. The profile services may write the whole
// file again in their own form (Wine's do), so a written file is compared by what the platform
// reads from it, not by its bytes.
enum class IniPlatformWrite {
    // Every section reads the same from the expected bytes as from the platform's own result.
    SameSections,
    // The written key reads the same. Other keys may not: Wine writes the whole file again and
    // drops the header "[]", which moves its keys into the section before it; the launcher keeps
    // every line it does not change.
    SameValue,
};

struct IniWriteCase {
    std::string_view file;  // empty: no file yet
    std::string_view section;
    std::string_view key;
    std::string_view value;
    std::string_view expected;
    IniPlatformWrite platform = IniPlatformWrite::SameSections;
};

struct IniReadTable {
    const char* rule;
    const IniReadCase* rows;
    size_t count;
};

struct IniWriteTable {
    const char* rule;
    const IniWriteCase* rows;
    size_t count;
};

// ---- Files as everyday tools write them.

inline constexpr IniReadCase kEverydayReads[] = {
    {"[GameSettings]\r\nGamePlayerName=Player\r\n", "gamesettings", "GAMEPLAYERNAME", "Player"},
    {"[GameSettings]\r\nGamePlayerName=Player\r\n", " GameSettings ", " GamePlayerName ", "Player"},
    {"[GameSettings]\r\nGamePlayerName=Player\r\n", "GameSettings", "GameClanTag", kIniDefault},
    {"[GameSettings]\r\nGamePlayerName=Player\r\n", "LauncherSettings", "GamePlayerName", kIniDefault},
    {"  [ launcher settings ]  \r\n\t Key One \t=  v  \r\n", "Launcher Settings", "key one", "v"},
    {"[s]\r\nplain=  a = b  \r\n", "s", "plain", "a = b"},
    {"[s]\r\ndq=\" spaced \"\r\n", "s", "dq", " spaced "},
    {"[s]\r\nsq='single'\r\n", "s", "sq", "single"},
    {"[s]\r\nmixed=\"abc'\r\n", "s", "mixed", "\"abc'"},
    {"[s]\r\nlone=\"\r\n", "s", "lone", "\""},
    {"[s]\r\nemptyquotes=\"\"\r\n", "s", "emptyquotes", ""},
    {"[s]\r\ninner=a\"b\"c\r\n", "s", "inner", "a\"b\"c"},
    {"[s]\r\ntwice=\"\"x\"\"\r\n", "s", "twice", "\"x\""},
    {"[s]\r\nempty=\r\n", "s", "empty", ""},
    {"[s]\r\nk=first\r\nK=second\r\n[S]\r\nk=third\r\nonly=later\r\n", "s", "k", "first"},
    {"[s]\r\nk=first\r\nK=second\r\n[S]\r\nk=third\r\nonly=later\r\n", "s", "only", kIniDefault},
    {"[s]\nk=lf\n", "s", "k", "lf"},
    {"[s]\rk=cr\r", "s", "k", "cr"},
    {"[s]\r\nk=no end", "s", "k", "no end"},
    {"\xEF\xBB\xBF[s]\r\nk=bom\r\n", "s", "k", "bom"},
    {"[a]b\r\nk=v\r\n", "a", "k", "v"},
    {"[a]]\r\nk=v\r\n", "a]", "k", "v"},
    {"[s]\r\n[broken\r\nk=2\r\n", "s", "k", "2"},
    {"[s]\r\nk=\xA0v\xA0\r\n", "s", "k", "\xA0v\xA0"},
};

inline constexpr IniWriteCase kEverydayWrites[] = {
    {"", "GameSettings", "GameLanguage", "Russian", "[GameSettings]\r\nGameLanguage=Russian\r\n"},
    {"[GameSettings]\r\n  gameplayername = Old \r\nGameClanTag=vtl\r\n", "GAMESETTINGS", "GamePlayerName", "New",
     "[GameSettings]\r\ngameplayername=New\r\nGameClanTag=vtl\r\n"},
    {"[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", "A", "new", "v", "[a]\r\nx=1\r\nnew=v\r\n\r\n[b]\r\ny=2\r\n"},
    {"[a]\r\nx=1\r\n", "b", "k", "v", "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
    {"[a]\r\nx=1", "a", "k", "v", "[a]\r\nx=1\r\nk=v\r\n"},
    {"[s]\r\nk=1\r\nK=2\r\n", "s", "k", "3", "[s]\r\nk=3\r\nK=2\r\n"},
    {"[s]\r\nk=1\r\n[S]\r\nj=1\r\n", "s", "j", "2", "[s]\r\nk=1\r\nj=2\r\n[S]\r\nj=1\r\n"},
    {"[s]\r\n[broken\r\n", "s", "k", "v", "[s]\r\n[broken\r\nk=v\r\n"},
};

// ---- A line without "=" is its key's line.

inline constexpr IniReadCase kKeyWithoutEqualsReads[] = {
    {"[s]\r\nkey\r\nkey=second\r\n", "s", "key", kIniDefault},
    {"[Loader]\r\nProcName\r\nx=1\r\n", "Loader", "ProcName", kIniDefault},
    {"[Loader]\r\nProcName\r\nx=1\r\n", "Loader", "x", "1"},
    {"[s]\r\nkey=first\r\nkey\r\n", "s", "key", "first"},
    {"[s]\r\n  KEY  \r\n", "s", "key", kIniDefault},
};

inline constexpr IniWriteCase kKeyWithoutEqualsWrites[] = {
    {"[Loader]\r\nProcName\r\nx=1\r\n", "Loader", "ProcName", "hl2.exe -game cstrike",
     "[Loader]\r\nProcName=hl2.exe -game cstrike\r\nx=1\r\n"},
    {"[s]\r\nkey\r\nkey=second\r\n", "s", "key", "new", "[s]\r\nkey=new\r\nkey=second\r\n"},
    {"[s]\n  ProcName  \n", "s", "procname", "v", "[s]\nProcName=v\n"},
    {"[s]\r\nnote\r\n\r\n[t]\r\n", "s", "k", "v", "[s]\r\nnote\r\nk=v\r\n\r\n[t]\r\n"},
};

// ---- Blanks are space, tab, vertical tab, form feed and 0x1A.

inline constexpr IniReadCase kBlankReads[] = {
    {"\v[sec]\r\nk=v\r\n", "sec", "k", "v"},
    {"\f[sec]\f\r\nk=v\r\n", "sec", "k", "v"},
    {"\x1A[sec]\r\nk=v\r\n", "sec", "k", "v"},
    {"[\tsec\v]\r\nk=v\r\n", "sec", "k", "v"},
    {"[s]\r\n\vk\f=\x1A" "v\x1A\r\n", "s", "k", "v"},
    {"[s]\r\nk=\v'v'\f\r\n", "s", "k", "v"},
    {"[s]\r\nk=a\vb\r\n", "s", "k", "a\vb"},
    {"[sec]\r\nk=v\r\n", "\vsec\f", "\x1Ak\t", "v"},
    {"[s]\r\n\v\f\x1A\r\nk=v\r\n", "s", "k", "v"},
};

inline constexpr IniWriteCase kBlankWrites[] = {
    {"\v[sec]\r\nk=1\r\n", "sec", "k", "2", "\v[sec]\r\nk=2\r\n"},
    {"\v[sec]\r\nk=1\r\n", "sec", "j", "2", "\v[sec]\r\nk=1\r\nj=2\r\n"},
    {"[s]\r\n\fk\x1A=1\r\n", "s", "k", "2", "[s]\r\nk=2\r\n"},
    {"[s]\r\nk=1\r\n\v\f\x1A\r\n[t]\r\n", "s", "j", "2", "[s]\r\nk=1\r\nj=2\r\n\v\f\x1A\r\n[t]\r\n"},
    {"[sec]\r\n", "\fsec\v", "\x1Ak\t", "v", "[sec]\r\nk=v\r\n"},
};

// ---- Lines before the first header are the section of the empty name; "[]" is no section's header.

inline constexpr IniReadCase kNoSectionReads[] = {
    {"k=top\r\n[s]\r\nk=in s\r\n", "", "k", "top"},
    {"k=top\r\n[s]\r\nk=in s\r\n", "s", "k", "in s"},
    {"k=top\r\n[s]\r\n", "s", "k", kIniDefault},
    {"\r\n\r\nk=top\r\n", " ", "k", "top"},
    {"[]\r\nj=2\r\n", "", "j", kIniDefault},
    {"[ ]\r\nj=2\r\n", "", "j", kIniDefault},
    {"j=1\r\n[]\r\nj=2\r\n", "", "j", "1"},
    {"[s]\r\nk=1\r\n[]\r\nj=2\r\n", "s", "j", kIniDefault},
    {"[s]\r\nk=1\r\n[]\r\nj=2\r\n", "", "j", kIniDefault},
};

inline constexpr IniWriteCase kNoSectionWrites[] = {
    {"k=top\r\n[s]\r\nk=1\r\n", "", "k", "2", "k=2\r\n[s]\r\nk=1\r\n"},
    {"k=top\r\n\r\n[s]\r\nk=1\r\n", "", "j", "2", "k=top\r\nj=2\r\n\r\n[s]\r\nk=1\r\n"},
    {"[s]\r\nk=1\r\n", "", "j", "2", "j=2\r\n[s]\r\nk=1\r\n"},
    {"\xEF\xBB\xBF[s]\r\nk=1\r\n", "", "j", "2", "\xEF\xBB\xBFj=2\r\n[s]\r\nk=1\r\n"},
    {"\xEF\xBB\xBFk=top\r\n[s]\r\n", "", "k", "2", "\xEF\xBB\xBFk=2\r\n[s]\r\n"},
    {"[]\r\nj=1\r\n", "", "j", "2", "j=2\r\n[]\r\nj=1\r\n", IniPlatformWrite::SameValue},
    {"[s]\r\nk=1\r\n[]\r\nj=1\r\n", "s", "j", "2", "[s]\r\nk=1\r\nj=2\r\n[]\r\nj=1\r\n", IniPlatformWrite::SameValue},
};

// ---- ";" and "[" start keys like any other character.

inline constexpr IniReadCase kMarkReads[] = {
    {"[s]\r\n;key=val\r\n", "s", ";key", "val"},
    {"[s]\r\n; key = val\r\n", "s", "; key", "val"},
    {"[s]\r\n;k=v\r\n", "s", "k", kIniDefault},
    {"[s]\r\n[key=val\r\n", "s", "[key", "val"},
    {"[s]\r\n[k\r\nk=2\r\n", "s", "k", "2"},
    {"[s]\r\n[a=b]\r\nk=1\r\n", "a=b", "k", "1"},
    {";c=1\r\n[s]\r\n", "", ";c", "1"},
};

inline constexpr IniWriteCase kMarkWrites[] = {
    {"[s]\r\n;k=1\r\n", "s", ";k", "2", "[s]\r\n;k=2\r\n"},
    {"[s]\r\n;comment\r\n", "s", ";comment", "c", "[s]\r\n;comment=c\r\n"},
    {"[s]\r\n;k=1\r\n", "s", "k", "2", "[s]\r\n;k=1\r\nk=2\r\n"},
    {"[s]\r\n[k=1\r\n", "s", "[k", "2", "[s]\r\n[k=2\r\n"},
};

// ---- A NUL byte ends a name or a value.

inline constexpr IniReadCase kNulReads[] = {
    {"[s]\r\nkey=a\0b\r\n"sv, "s", "key", "a"},
    {"[s]\r\nk=\0\r\n"sv, "s", "k", ""},
    {"[s]\r\nk=\"a\0b\"\r\n"sv, "s", "k", "\"a"},
    {"[s]\r\nk\0x=v\r\n"sv, "s", "k", "v"},
    {"[s]\r\n\0k=v\r\nk=w\r\n"sv, "s", "k", "w"},
    {"[s\0x]\r\nk=v\r\n"sv, "s", "k", "v"},
    {"[s]\0junk\r\nk=v\r\n"sv, "s", "k", "v"},
    {"[s]\r\nk \0x=v\r\n"sv, "s", "k", kIniDefault},
    {"[s \0x]\r\nk=v\r\n"sv, "s", "k", kIniDefault},
    {"[s]\r\nk=a \0b\r\n"sv, "s", "k", "a "},
};

inline constexpr IniWriteCase kNulWrites[] = {
    {"[s]\r\nk=a\0b\r\n"sv, "s", "k", "c", "[s]\r\nk=c\r\n"},
    {"[s]\r\nk\0x=v\r\n"sv, "s", "k", "c", "[s]\r\nk=c\r\n"},
    {"[s\0x]\r\nk=1\r\n"sv, "s", "k", "2", "[s\0x]\r\nk=2\r\n"sv},
    {"[s]\r\n"sv, "s", "k", "a\0b"sv, "[s]\r\nk=a\r\n"},
};

#define ORV_INI_TABLE(rule, rows) {rule, rows, sizeof(rows) / sizeof(rows[0])}

inline constexpr IniReadTable kIniReadTables[] = {
    ORV_INI_TABLE("everyday files", kEverydayReads),
    ORV_INI_TABLE("a line without = is its key's line", kKeyWithoutEqualsReads),
    ORV_INI_TABLE("blanks", kBlankReads),
    ORV_INI_TABLE("lines before the first header", kNoSectionReads),
    ORV_INI_TABLE("; and [ start keys", kMarkReads),
    ORV_INI_TABLE("NUL ends names and values", kNulReads),
};

inline constexpr IniWriteTable kIniWriteTables[] = {
    ORV_INI_TABLE("everyday files", kEverydayWrites),
    ORV_INI_TABLE("a line without = is its key's line", kKeyWithoutEqualsWrites),
    ORV_INI_TABLE("blanks", kBlankWrites),
    ORV_INI_TABLE("lines before the first header", kNoSectionWrites),
    ORV_INI_TABLE("; and [ start keys", kMarkWrites),
    ORV_INI_TABLE("NUL ends names and values", kNulWrites),
};

#undef ORV_INI_TABLE

}  // namespace orv::test

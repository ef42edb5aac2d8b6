#include "launcher/integrity/keep_list.h"

#include <gtest/gtest.h>

#include "launcher/base/errors.h"
#include "launcher/platform/utf8.h"

namespace orv {
namespace {

std::string ReadError(const std::string& bytes) {
    try {
        ReadKeepList(bytes, CodePage::Windows1251);
    } catch (const Error& e) {
        return e.what();
    }
    return "<no error>";
}

TEST(KeepList, AsciiNamesGiveAPlainDocumentThatReadsBack) {
    const KeepList list{{"hl2.exe", "cstrike\\cfg\\autoexec.cfg"}, {"cstrike", "cstrike\\cfg"}};
    const std::string bytes = WriteKeepList(list);
    EXPECT_EQ(bytes,
              "{\r\n\t\"Files\": [\r\n\t\t\"hl2.exe\",\r\n\t\t\"cstrike\\\\cfg\\\\autoexec.cfg\"\r\n\t],\r\n"
              "\t\"Dirs\": [\r\n\t\t\"cstrike\",\r\n\t\t\"cstrike\\\\cfg\"\r\n\t]\r\n}\r\n");
    const KeepList back = ReadKeepList(bytes, CodePage::Windows1251);
    EXPECT_EQ(back.Files, list.Files);
    EXPECT_EQ(back.Dirs, list.Dirs);
    const KeepList empty = ReadKeepList(WriteKeepList({}), CodePage::Windows1251);
    EXPECT_TRUE(empty.Files.empty());
    EXPECT_TRUE(empty.Dirs.empty());
}

TEST(KeepList, NamesOutsideAsciiAreMarkedUtf8) {
    const KeepList list{{"cstrike\\Игрок.cfg", "日本.txt"}, {"cstrike"}};
    const std::string bytes = WriteKeepList(list);
    ASSERT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(bytes.find("Игрок"), std::string::npos) << "written as UTF-8, not escaped";
    const KeepList back = ReadKeepList(bytes, CodePage::Windows1252);
    EXPECT_EQ(back.Files, list.Files) << "the mark decides, whatever the ANSI code page";
}

TEST(KeepList, ReadingFollowsTheByteOrderMarkOrTheAnsiCodePage) {
    EXPECT_EQ(ReadKeepList("{\"Files\":[\"\xC8\xE3\xF0\xEE\xEA\"],\"Dirs\":[]}", CodePage::Windows1251).Files[0],
              "Игрок");
    const std::u16string text = Utf8ToUtf16("{\"Files\":[\"Игрок\"],\"Dirs\":[]}");
    std::string le = "\xFF\xFE", be = "\xFE\xFF";
    for (const char16_t unit : text) {
        le += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        be += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
    }
    EXPECT_EQ(ReadKeepList(le, CodePage::Windows1251).Files[0], "Игрок");
    EXPECT_EQ(ReadKeepList(be, CodePage::Windows1251).Files[0], "Игрок");
}

TEST(KeepList, ElementsAreTakenByTheirWrittenFormAndOtherMembersIgnored) {
    const KeepList list = ReadKeepList(
        "{\"Version\":3,\"Files\":[\"a\",12,1e2,1.50,-0,true,null,[\"x\"],{\"y\":1}],\"Dirs\":[\"CSTRIKE\",2E1]}",
        CodePage::Windows1251);
    EXPECT_EQ(list.Files, (std::vector<std::string>{"a", "12", "1e2", "1.50", "-0", "true", "null"}));
    EXPECT_EQ(list.Dirs, (std::vector<std::string>{"CSTRIKE", "2E1"}));
}

TEST(KeepList, DocumentsWithoutTheTwoArraysAreRefusedAsOne) {
    for (const std::string& bad :
         {std::string(""), std::string("plain text"), std::string("[1,2]"), std::string("{\"Files\":[]}"),
          std::string("{\"Files\":[],\"Dirs\":\"x\"}"), std::string("{\"Files\":[],\"Dirs\":[]"),
          std::string("\xEF\xBB\xBF{\"Files\":[\"\xFF\"],\"Dirs\":[]}")}) {
        EXPECT_EQ(ReadError(bad), "File does not contains JSON-data.") << bad;
    }
}

TEST(KeepList, WriterRefusesPathsThatAreNotPlainRelativeNames) {
    // Malformed UTF-8 too: a stray byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF.
    for (const char* bad : {"\\cstrike", "", "..\\x", "c:\\x", "a\\\\b", "a\nb", "\xFF.txt", "cstrike\\\xD0",
                            "\xC0\xAF", "\xED\xA0\x80.txt", "\xF4\x90\x80\x80"}) {
        EXPECT_THROW(WriteKeepList({{bad}, {}}), Error) << bad;
        EXPECT_THROW(WriteKeepList({{}, {bad}}), Error) << bad;
    }
}

}  // namespace
}  // namespace orv

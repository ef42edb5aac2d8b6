// The INI rule tables of the core tests against the Windows profile services themselves: every read
// row is what GetPrivateProfileStringA gives for the file's bytes, and every write row's expected
// file reads, through the profile services, as the file that WritePrivateProfileStringA makes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ini_file_cases.h"
#include "support/test_files.h"

namespace orv {
namespace {

// Larger than any value of the tables, and than the 2047-character reads of the launcher.
constexpr DWORD kBufferChars = 1 << 16;

std::string Printable(std::string_view bytes) {
    std::string out;
    for (const unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            static const char digits[] = "0123456789ABCDEF";
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

class IniProfileServicesTest : public ::testing::Test {
protected:
    // A fresh file per row: the profile services keep the file they read last in a cache of their
    // own, which a rewrite within the same timestamp tick could leave stale.
    std::string NewPath() { return dir_.File("row" + std::to_string(next_++) + ".ini"); }

    static std::string Read(const std::string& path, std::string_view section, std::string_view key) {
        std::vector<char> buffer(kBufferChars);
        const std::string defaultText(test::kIniDefault);
        const DWORD length = ::GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                                        defaultText.c_str(), buffer.data(), kBufferChars, path.c_str());
        return std::string(buffer.data(), length);
    }

    // Everything the profile services read from a file: each section name with its lines, the lines
    // before the first header included.
    static std::string Sections(const std::string& path) {
        std::vector<char> names(kBufferChars);
        const DWORD namesLength = ::GetPrivateProfileSectionNamesA(names.data(), kBufferChars, path.c_str());
        std::vector<std::string> sections{""};
        for (size_t i = 0; i < namesLength;) {
            const std::string name(names.data() + i);
            sections.push_back(name);
            i += name.size() + 1;
        }
        std::string all;
        for (const std::string& name : sections) {
            std::vector<char> lines(kBufferChars);
            const DWORD length = ::GetPrivateProfileSectionA(name.c_str(), lines.data(), kBufferChars, path.c_str());
            all += "[" + name + "]\n";
            for (size_t i = 0; i < length;) {
                const std::string line(lines.data() + i);
                all += line + "\n";
                i += line.size() + 1;
            }
        }
        return all;
    }

    test::TempDir dir_;

private:
    int next_ = 0;
};

TEST_F(IniProfileServicesTest, ReadRowsAreWhatGetPrivateProfileStringGives) {
    for (const test::IniReadTable& table : test::kIniReadTables) {
        for (size_t i = 0; i < table.count; ++i) {
            const test::IniReadCase& row = table.rows[i];
            SCOPED_TRACE(std::string(table.rule) + ", row " + std::to_string(i + 1) + ": " + Printable(row.file));
            const std::string path = NewPath();
            test::WriteFile(path, std::string(row.file));
            EXPECT_EQ(Printable(Read(path, row.section, row.key)), Printable(row.expected));
        }
    }
}

TEST_F(IniProfileServicesTest, WriteRowsReadAsTheFileWritePrivateProfileStringMakes) {
    for (const test::IniWriteTable& table : test::kIniWriteTables) {
        for (size_t i = 0; i < table.count; ++i) {
            const test::IniWriteCase& row = table.rows[i];
            SCOPED_TRACE(std::string(table.rule) + ", row " + std::to_string(i + 1) + ": " + Printable(row.file));
            // The platform's own write; an empty row file stands for a missing one.
            const std::string platformPath = NewPath();
            if (!row.file.empty()) test::WriteFile(platformPath, std::string(row.file));
            ASSERT_TRUE(::WritePrivateProfileStringA(std::string(row.section).c_str(), std::string(row.key).c_str(),
                                                     std::string(row.value).c_str(), platformPath.c_str()));
            // Flushes the cached file to disk.
            ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, platformPath.c_str());
            const std::string expectedPath = NewPath();
            test::WriteFile(expectedPath, std::string(row.expected));

            EXPECT_EQ(Printable(Read(expectedPath, row.section, row.key)),
                      Printable(Read(platformPath, row.section, row.key)));
            if (row.platform == test::IniPlatformWrite::SameSections) {
                EXPECT_EQ(Printable(Sections(expectedPath)), Printable(Sections(platformPath)));
            }
        }
    }
}

}  // namespace
}  // namespace orv

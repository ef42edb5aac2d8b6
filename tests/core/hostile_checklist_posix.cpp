// Checklists from a server that lies: a million entries, and an entry with a 100 MB line. The
// reader walks them to the end with memory bounded by the file itself plus a few copies of its
// longest line (it holds the file, and an entry holds its lines and the decoded path). Measured in
// a child process of its own, so that the figure is the reading's alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "launcher/integrity/checklist.h"
#include "support/child_memory_posix.h"
#include "support/test_files.h"

namespace orv {
namespace {

struct Reading {
    long long entries = -1;
    long long safePaths = 0;
};

// Reads the checklist as the check run walks it, in a child; what it counted and the memory it took.
test::ChildRun<Reading> ReadInChild(const std::string& path) {
    return test::RunInChild<Reading>([&] {
        Reading reading;
        try {
            ChecklistReader reader = ChecklistReader::Open(path, CodePage::Windows1251);
            reading.entries = 0;
            while (!reader.AtEnd()) {
                const ChecklistEntry entry = reader.Next();
                ++reading.entries;
                reading.safePaths += IsSafeRelativeEntryPath(entry.path);
            }
        } catch (...) {
            reading.entries = -2;
        }
        return reading;
    });
}

TEST(HostileChecklist, AMillionEntriesAndAHundredMegabyteLineAreReadWithBoundedMemory) {
#ifdef ORVANTA_UNDER_ASAN
    GTEST_SKIP() << "the memory figure needs a build without AddressSanitizer (its quarantine keeps freed memory)";
#endif
    test::TempDir dir;
    struct Case {
        const char* what;
        long long entries;
        size_t longestLine;
        void (*write)(std::ofstream&);
    } cases[] = {
        {"a million entries", 1000000, 40,
         [](std::ofstream& out) {
             for (int i = 0; i < 1000000; ++i)
                 out << (i % 1000) + 1 << "\r\n\\cstrike\\materials\\file" << i << ".vtf\r\n" << 305419896u + i << "\r\n";
         }},
        {"a 100 MB path line", 1, 100u << 20,
         [](std::ofstream& out) {
             out << "12\r\n\\";
             const std::string block(1 << 20, 'a');
             for (int i = 0; i < 100; ++i) out << block;
             out << "\r\n0\r\n";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.File("list.dim");
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            c.write(out);
        }
        const size_t fileSize = std::filesystem::file_size(path);
        const auto reading = ReadInChild(path);
        ASSERT_TRUE(reading.ended) << "the child ended with status " << reading.status;
        EXPECT_EQ(reading.result.entries, c.entries);
        std::printf("[ memory   ] checklist of %s (%zu MB): %lld entries, peak %zu MB above the start\n", c.what,
                    fileSize >> 20, reading.result.entries, reading.peakGrowth >> 20);
        // The file, four copies of its longest line, and room for the allocator.
        EXPECT_LE(reading.peakGrowth, fileSize + 4 * c.longestLine + (32u << 20));
    }
}

}  // namespace
}  // namespace orv

#include "fake_records.h"

#include <windows.h>

#include <stdexcept>
#include <string_view>
#include <thread>

#include "launcher/base/errors.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"

namespace orv::test {
namespace {

constexpr std::string_view kEndLine = "=== end ===";
constexpr std::string_view kBytesSuffix = " bytes";

bool ReadShared(const std::string& path, std::string& bytes) {
    // The fake may still have the log open for appending.
    ScopedFileHandle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    bytes.clear();
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
    return true;
}

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    std::vector<FakeRecord> All() {
        std::vector<FakeRecord> records;
        while (pos_ < text_.size()) records.push_back(One());
        return records;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error("fake log at byte " + std::to_string(pos_) + ": " + what);
    }

    std::string_view Line() {
        const size_t end = text_.find("\r\n", pos_);
        if (end == std::string::npos) Fail("a line without CR LF");
        std::string_view line(text_.data() + pos_, end - pos_);
        pos_ = end + 2;
        return line;
    }

    FakeRecord One() {
        FakeRecord record;
        const std::string_view head = Line();
        if (head.size() < 8 || head.substr(0, 4) != "=== " || head.substr(head.size() - 4) != " ===" ||
            head == kEndLine)
            Fail("expected a record header, found \"" + std::string(head) + "\"");
        record.program = std::string(head.substr(4, head.size() - 8));
        for (;;) {
            const std::string_view line = Line();
            if (line == kEndLine) return record;
            const size_t colon = line.find(": ");
            if (colon == std::string_view::npos) Fail("a field without \": \"");
            std::string key(line.substr(0, colon));
            std::string value(line.substr(colon + 2));
            if (key.size() > kBytesSuffix.size() && key.ends_with(kBytesSuffix)) {
                key.resize(key.size() - kBytesSuffix.size());
                size_t count = 0;
                try {
                    count = std::stoul(value);
                } catch (const std::exception&) {
                    Fail("a byte count that is not a number");
                }
                if (text_.size() - pos_ < count + 2 || text_.compare(pos_ + count, 2, "\r\n") != 0)
                    Fail("a byte field that does not end where its count says");
                value = text_.substr(pos_, count);
                pos_ += count + 2;
            }
            record.fields[key] = value;
        }
    }

    const std::string& text_;
    size_t pos_ = 0;
};

}  // namespace

std::string FakeRecord::Get(const std::string& key) const {
    const auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

std::vector<FakeRecord> ReadFakeRecords(const std::string& logPath) {
    std::string text;
    if (!ReadShared(logPath, text)) return {};
    return Parser(text).All();
}

std::vector<FakeRecord> WaitForFakeRecords(const std::string& logPath, size_t count,
                                           std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const bool last = std::chrono::steady_clock::now() >= end;
        try {
            std::vector<FakeRecord> records = ReadFakeRecords(logPath);
            if (records.size() >= count || last) return records;
        } catch (const std::runtime_error&) {
            // A record still being written reads as a broken one; only the last look counts.
            if (last) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string TestProgramFolder() {
    wchar_t self[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string path = Narrow(std::wstring(self, n));
    return path.substr(0, path.find_last_of('\\'));
}

std::string CopyFakeTo(const std::string& name, const std::string& target) {
    const std::string source = TestProgramFolder() + "\\" + name;
    if (!::CopyFileW(Wide(source).c_str(), Wide(target).c_str(), FALSE))
        throw std::runtime_error("cannot copy " + source + ": " + PlatformErrorMessage(::GetLastError()));
    return target;
}

}  // namespace orv::test

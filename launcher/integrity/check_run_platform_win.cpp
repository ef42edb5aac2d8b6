#include "launcher/integrity/check_run_platform_win.h"

#include <windows.h>

#include <memory>
#include <utility>

#include "launcher/integrity/unpack_workers_win.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/net/download_win.h"
#include "launcher/net/progress.h"
#include "launcher/platform/system_codepage_win.h"
#include "launcher/platform/wide_win.h"

namespace orv {

TThread* CheckThread = nullptr;

namespace {

class TargetBar final : public ProgressBarView {
public:
    explicit TargetBar(const FileProgressTarget& target) : target_(target) {}
    void SetMax(int value) override { target_.setBarMax(value); }
    int Max() const override { return target_.barMax(); }
    void SetPosition(int value) override { target_.setBarPosition(value); }
    int Position() const override { return target_.barPosition(); }
    // A game file always has a size to show against.
    void SetMarquee(bool) override {}
    bool IsMarquee() const override { return false; }

private:
    const FileProgressTarget& target_;
};

class TargetImage final : public ProgressImage {
public:
    explicit TargetImage(const FileProgressTarget& target) : target_(target) {}
    void SetWidth(int pixels) override { target_.setImageWidth(pixels); }
    int Width() const override { return target_.imageWidth(); }

private:
    const FileProgressTarget& target_;
};

// The run asks three things of each listed file in a row: whether it is there, whether anything
// stands in the way of replacing it, and its size. One query answers all three; the answer is kept
// for that file until its size has been asked, and any other file's question drops it.
class FileFacts {
public:
    bool Exists(const std::string& path) {
        path_ = Wide(path);
        known_ = ::GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data_) != 0;
        if (!known_) path_.clear();
        return known_ && !(data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    DWORD Attributes(const std::wstring& path) {
        if (known_ && path == path_) return data_.dwFileAttributes;
        Drop();
        return ::GetFileAttributesW(path.c_str());
    }
    void AttributesChanged(const std::wstring& path, DWORD attributes) {
        if (known_ && path == path_) data_.dwFileAttributes = attributes;
    }
    int64_t Size(const std::string& path) {
        const std::wstring wide = Wide(path);
        const bool known = known_ && wide == path_;
        Drop();
        if (!known) return FileSize64(path);
        return static_cast<int64_t>((static_cast<uint64_t>(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow);
    }

private:
    void Drop() {
        known_ = false;
        path_.clear();
    }

    std::wstring path_;
    WIN32_FILE_ATTRIBUTE_DATA data_{};
    bool known_ = false;
};

std::string LowerCase(const std::string& text) {
    std::wstring wide = Wide(text);
    if (!wide.empty()) ::CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return Narrow(wide);
}

}  // namespace

CheckRunPlatform SystemCheckRunPlatform(FileProgressTarget progress) {
    CheckRunPlatform platform = PortableCheckRunPlatform();
    platform.catalogueCodec = SystemAnsiCodec();
    platform.checklistPage = SystemAnsiTextDecoder();
    platform.setCurrentFolder = [](const std::string& folder) { ::SetCurrentDirectoryW(Wide(folder).c_str()); };
    platform.downloadFile = &DownloadFile;
    auto target = std::make_shared<FileProgressTarget>(std::move(progress));
    // One for the run: its files come over one kept-alive connection.
    auto downloads = std::make_shared<GameFileDownloads>();
    platform.downloadGameFile = [target, downloads](const std::string& url, const std::string& path, int32_t size,
                                                    int32_t& stop) {
        TargetBar bar(*target);
        TargetImage image(*target);
        struct Flush {
            const FileProgressTarget& target;
            ~Flush() {
                if (target.flush) target.flush();
            }
        } flush{*target};
        return downloads->Download(url, path, size, bar, image, CheckProgressFullWidth, stop);
    };
    auto unpacker = std::make_shared<ReusedUnpackWorker>();
    platform.unpackGameFile = [unpacker](const std::string& input, const std::string& output) {
        return !unpacker->Run(input, output, &CheckThread).Failed;
    };
    platform.replaceFile = [unpacker](const std::string& from, const std::string& to) {
        return !unpacker->Replace(from, to, &CheckThread).Failed;
    };
    auto facts = std::make_shared<FileFacts>();
    platform.fileExists = [facts](const std::string& path) { return facts->Exists(path); };
    platform.fileSize = [facts](const std::string& path) { return facts->Size(path); };
    platform.makeNormal = [facts](const std::string& path) {
        // Every attribute goes, not only what stands in the way of replacing the file; a file that
        // already has none is left alone, which spares a round of opening and closing it.
        const std::wstring wide = Wide(path);
        if (!HasAttributesToClear(facts->Attributes(wide))) return;
        // A file that stays read-only is refused by the step that writes it, with its own report.
        if (::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL)) facts->AttributesChanged(wide, FILE_ATTRIBUTE_NORMAL);
    };
    platform.createFolder = [](const std::string& path) { ::CreateDirectoryW(Wide(path).c_str(), nullptr); };
    platform.lowerCase = &LowerCase;
    return platform;
}

}  // namespace orv

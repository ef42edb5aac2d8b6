#include "launcher/selfupdate/self_update_platform_win.h"

#include <windows.h>

#include <chrono>
#include <memory>

#include "launcher/base/errors.h"
#include "launcher/base/texts.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/unpack_workers_win.h"
#include "launcher/net/download_win.h"
#include "launcher/net/progress.h"
#include "launcher/net/shell_win.h"
#include "launcher/platform/files.h"
#include "launcher/platform/system_codepage_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/controls_win.h"

namespace orv {
namespace {

// The window's bar as a download drives it; without a bar the transfer shows nowhere.
class BarView final : public ProgressBarView {
public:
    explicit BarView(ProgressBar* bar) : bar_(bar) {}
    void SetMax(int value) override {
        if (bar_) bar_->SetMax(value);
    }
    int Max() const override { return bar_ ? bar_->Max() : 0; }
    void SetPosition(int value) override {
        if (bar_) bar_->SetPosition(value);
    }
    int Position() const override { return bar_ ? bar_->Position() : 0; }
    void SetMarquee(bool on) override {
        if (bar_) bar_->SetMarquee(on);
    }
    bool IsMarquee() const override { return bar_ && bar_->IsMarquee(); }

private:
    ProgressBar* bar_;
};

TextId TextOf(SelfUpdateStep step) {
    switch (step) {
        case SelfUpdateStep::InstallerDownload: return TextId::SelfUpdateInstallerDownloading;
        case SelfUpdateStep::InstallerUnpack: return TextId::SelfUpdateInstallerUnpacking;
        case SelfUpdateStep::DirectDownload: return TextId::SelfUpdateDownloading;
        case SelfUpdateStep::DirectUnpack: break;
    }
    return TextId::SelfUpdateUnpacking;
}

// The check run's status text for the same wait, with the file's name only: the label is narrow.
std::string RetryText(const RetryNotice& notice) {
    const size_t slash = notice.url.find_last_of('/');
    const std::string name = slash == std::string::npos ? notice.url : notice.url.substr(slash + 1);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(notice.wait).count();
    // The name goes in last: a "%s" inside it stays as it is.
    std::string text = FormatText(Tr(TextId::DownloadRetrying), std::to_string(notice.nextTry));
    text = FormatText(text.c_str(), std::to_string(notice.tries));
    text = FormatText(text.c_str(), std::to_string(seconds));
    return FormatText(text.c_str(), name);
}

}  // namespace

Win32SelfUpdatePlatform::Win32SelfUpdatePlatform(ProgressBar* bar, LabelControl* label, SignatureCheck signatureCheck)
    : bar_(bar), label_(label), signatureCheck_(std::move(signatureCheck)) {}

void Win32SelfUpdatePlatform::ShowStep(SelfUpdateStep step) {
    if (label_) label_->SetText(Tr(TextOf(step)));
}

bool Win32SelfUpdatePlatform::DownloadFile(const std::string& url, const std::string& path) {
    return orv::DownloadFile(url, path);
}

bool Win32SelfUpdatePlatform::DownloadUpdateFile(const std::string& url, const std::string& path, int64_t size) {
    BarView bar(bar_);
    int32_t stop = 0;  // the window has no Stop
    // The label tells of a wait for another try, and goes back to the step once the transfer does.
    const std::string stepText = label_ ? label_->Text() : std::string();
    const UpdateRetryShown retryShown = [this, &stepText](const RetryNotice* waiting) {
        if (!label_) return;
        label_->SetText(waiting ? RetryText(*waiting) : stepText);
    };
    return orv::DownloadUpdateFile(url, path, bar, size, stop, retryShown);
}

bool Win32SelfUpdatePlatform::DownloadStatement(const std::string& url, const std::string& path, size_t maxBytes) {
    return DownloadBoundedFile(url, path, maxBytes);
}

bool Win32SelfUpdatePlatform::Unpack(const std::string& input, const std::string& output) {
    const WorkerFactory worker = [&]() -> std::unique_ptr<TThread> {
        if (output.empty()) return MakeThread<TCheckFiles>(input);
        return MakeThread<TUnpackFile>(input, output);
    };
    return !RunWorker(worker, input).Failed;
}

std::string Win32SelfUpdatePlatform::ReadFile(const std::string& path) { return ReadFileBytes(path); }

std::string Win32SelfUpdatePlatform::DecodeAnsi(std::string_view bytes) { return SystemAnsiCodec().toUtf8(bytes); }

uint32_t Win32SelfUpdatePlatform::FileCrc32(const std::string& path) { return orv::FileCrc32(path); }

FileDigest Win32SelfUpdatePlatform::Digest(const std::string& path) { return Sha256OfFile(path); }

int64_t Win32SelfUpdatePlatform::Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool Win32SelfUpdatePlatform::SignatureValid(const std::string& path, const std::string& signatureHex,
                                             const std::string& publicKeyHex) {
    return signatureCheck_ && signatureCheck_(path, signatureHex, publicKeyHex);
}

bool Win32SelfUpdatePlatform::Exists(const std::string& path) { return FileExists(path); }

void Win32SelfUpdatePlatform::SetNormal(const std::string& path) {
    ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}

bool Win32SelfUpdatePlatform::Delete(const std::string& path) { return RemoveFile(path); }

bool Win32SelfUpdatePlatform::Move(const std::string& from, const std::string& to) {
    // The running launcher's file may be renamed but neither opened for writing nor deleted
    // ("Executable Images" in the file system driver docs), so it is moved aside rather than
    // replaced.
    try {
        RenameFile(from, to, ExistingTarget::Refuse);
        return true;
    } catch (const EOSError&) {
        return false;
    }
}

bool Win32SelfUpdatePlatform::Hold(const std::string& path) {
    held_.reset();
    try {
        auto held = std::make_unique<HeldFile>(path);
        held->Flush();
        held_ = std::move(held);
        return true;
    } catch (const EOSError&) {
        return false;
    }
}

bool Win32SelfUpdatePlatform::MoveHeld(const std::string& to) {
    if (!held_) return false;
    try {
        held_->MoveTo(to);
    } catch (const EOSError&) {
        return false;
    }
    held_.reset();
    return true;
}

void Win32SelfUpdatePlatform::StartInstaller(const std::string& path) {
    ShellOpen(nullptr, "open", path, "", "", SW_SHOWNORMAL);
}

}  // namespace orv

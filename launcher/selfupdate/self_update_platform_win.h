// The self-update procedures' platform on Windows: WinInet downloads with the window's progress
// bar, the unpack workers driven on the GUI thread, the file calls the swap needs, and the shell
// for the installer.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "launcher/platform/files.h"
#include "launcher/selfupdate/update_procedures.h"

namespace orv {

class LabelControl;
class ProgressBar;

class Win32SelfUpdatePlatform final : public SelfUpdatePlatform {
public:
    // Checks a release's signature: (file, signature hex, public key hex).
    using SignatureCheck = std::function<bool(const std::string&, const std::string&, const std::string&)>;

    // `bar` and `label` may be null where nothing is shown (the check at start); without a
    // signature check every signature is refused.
    Win32SelfUpdatePlatform(ProgressBar* bar, LabelControl* label, SignatureCheck signatureCheck = {});

    void ShowStep(SelfUpdateStep step) override;
    bool DownloadFile(const std::string& url, const std::string& path) override;
    bool DownloadUpdateFile(const std::string& url, const std::string& path, int64_t size) override;
    bool DownloadStatement(const std::string& url, const std::string& path, size_t maxBytes) override;
    bool Unpack(const std::string& input, const std::string& output) override;
    std::string ReadFile(const std::string& path) override;
    std::string DecodeAnsi(std::string_view bytes) override;
    uint32_t FileCrc32(const std::string& path) override;
    FileDigest Digest(const std::string& path) override;
    int64_t Now() override;
    bool SignatureValid(const std::string& path, const std::string& signatureHex,
                        const std::string& publicKeyHex) override;
    bool Exists(const std::string& path) override;
    void SetNormal(const std::string& path) override;
    bool Delete(const std::string& path) override;
    bool Move(const std::string& from, const std::string& to) override;
    bool Hold(const std::string& path) override;
    bool MoveHeld(const std::string& to) override;
    void StartInstaller(const std::string& path) override;

private:
    ProgressBar* bar_;
    LabelControl* label_;
    SignatureCheck signatureCheck_;
    std::unique_ptr<HeldFile> held_;
};

}  // namespace orv

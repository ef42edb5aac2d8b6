// The two ways the self-update window brings a new launcher onto the machine, as steps over the
// platform: the installer path (download, unpack and start the update installer) and the direct
// path (read the update description, download and unpack the new executable, check it, and put it
// in the place of the running one, keeping the old one beside it). The window runs them inside its
// modal loop; the tests run them over a file system of their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/base/codepage.h"
#include "launcher/platform/sha256.h"

namespace orv {

// What the window's label says.
enum class SelfUpdateStep { InstallerDownload, InstallerUnpack, DirectDownload, DirectUnpack };

// The platform under the procedures. Each call may raise; the procedures treat a raised error as a
// failed update.
class SelfUpdatePlatform {
public:
    virtual ~SelfUpdatePlatform() = default;

    virtual void ShowStep(SelfUpdateStep step) = 0;
    // The update description, without progress; false when nothing or only part of it came.
    virtual bool DownloadFile(const std::string& url, const std::string& path) = 0;
    // A compressed update with the window's progress bar; `size` 0 when not known.
    virtual bool DownloadUpdateFile(const std::string& url, const std::string& path, int64_t size) = 0;
    // A signed statement, without progress; false when it did not come whole or is longer than
    // `maxBytes`.
    virtual bool DownloadStatement(const std::string& url, const std::string& path, size_t maxBytes) = 0;
    // Unpacks on a worker while the window keeps running; `input` is deleted in every case. An empty
    // `output` writes next to the input, under its name without ".lzma".
    virtual bool Unpack(const std::string& input, const std::string& output) = 0;
    virtual std::string ReadFile(const std::string& path) = 0;
    // A description without a byte-order mark is text in the system's ANSI code page.
    virtual std::string DecodeAnsi(std::string_view bytes) = 0;
    virtual uint32_t FileCrc32(const std::string& path) = 0;
    // The SHA-256 and length of the file's bytes.
    virtual FileDigest Digest(const std::string& path) = 0;
    // Seconds since 1970 UTC, against which statements expire.
    virtual int64_t Now() = 0;
    // Whether `signatureHex` signs the file under `publicKeyHex`.
    virtual bool SignatureValid(const std::string& path, const std::string& signatureHex,
                                const std::string& publicKeyHex) = 0;
    virtual bool Exists(const std::string& path) = 0;
    // Clears read-only, hidden and system, so that the file can be replaced or deleted; a missing
    // file is no error.
    virtual void SetNormal(const std::string& path) = 0;
    // Waits briefly while another program holds the file.
    virtual bool Delete(const std::string& path) = 0;
    // Fails when `to` exists; waits briefly while another program holds either file.
    virtual bool Move(const std::string& from, const std::string& to) = 0;
    // Readies a file for a move that must not wait: its data forced to the disk, and the file held
    // so that no other program can open it in a way that would refuse the move (one that holds it
    // already is waited for briefly). False when that cannot be done. Let go by MoveHeld, by the
    // next Hold, or when the platform goes.
    virtual bool Hold(const std::string& path) = 0;
    // Moves the held file to `to`, which must not exist, and lets it go; false when refused.
    virtual bool MoveHeld(const std::string& to) = 0;
    // Hands the installer to the shell.
    virtual void StartInstaller(const std::string& path) = 0;
};

struct SelfUpdateSetup {
    std::string gameFolder;  // the launcher's folder, without trailing separator
    std::string exePath;     // the running launcher executable
    std::string serverBase;  // UpdateServerBase
    std::string gameCode;
    std::string publicKey;  // hex (UpdatePublicKey); empty: updates are not signed
};

struct SelfUpdateOutcome {
    bool succeeded = false;  // the installer was started, or the new executable is in place
    std::string failure;     // what went wrong, for diagnostics: the player sees only the failure dialog
};

// The installer: GameFolder\upt.exe.lzma downloaded, unpacked to upt.exe and started. With a
// public key the unpacked installer is started only when the server's statement "upt.exe.sig"
// under that key names its SHA-256 and size; an installer without one is deleted unstarted.
SelfUpdateOutcome RunInstallerUpdate(SelfUpdatePlatform& platform, const SelfUpdateSetup& setup);

// The direct update. On success the new executable is under the running one's name, the previous
// one is ExePath.old, and the compressed file, the unpacked copy and the description are gone.
// The swap is two renames back to back, the new executable held beforehand so that the second
// cannot be kept waiting; a failure once the running executable has been moved aside puts it back,
// so the launcher under its name always starts.
SelfUpdateOutcome RunDirectUpdate(SelfUpdatePlatform& platform, const SelfUpdateSetup& setup);

}  // namespace orv

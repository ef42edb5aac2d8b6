#include "launcher/integrity/file_check.h"

#include <exception>

#include "launcher/base/errors.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

// Raised from the decoder's sink to leave the decoding.
struct StopDecoding {};

}  // namespace

const char* FileStateReason(FileState state) {
    switch (state) {
    case FileState::Good: return "good";
    case FileState::Missing: return "missing";
    case FileState::OtherSize: return "size";
    case FileState::OtherCrc: return "crc";
    case FileState::Unreadable: return "unreadable";
    case FileState::Stopped: return "interrupted";
    }
    return "unknown";
}

std::optional<uint32_t> ReadFileCrc32(const std::string& path, const std::atomic<bool>& stop,
                                      std::vector<char>& buffer, uint64_t& bytes) {
    if (buffer.empty()) buffer.resize(FileCheckBlock);
    std::optional<File> file;
    try {
        file.emplace(File::OpenRead(path));
        uint32_t reg = 0xFFFFFFFFu;
        for (;;) {
            if (stop) return std::nullopt;
            const size_t got = file->Read(buffer.data(), buffer.size());
            if (got == 0) break;
            reg = Crc32Update(reg, buffer.data(), got);
            bytes += got;
        }
        return reg ^ 0xFFFFFFFFu;
    } catch (const Error&) {
        return std::nullopt;
    }
}

FileCheck CheckListedFile(const std::string& place, int64_t size, const std::string& crcText,
                          const std::atomic<bool>& stop, std::vector<char>& buffer) {
    FileCheck check;
    const FileProbe probe = ProbeFile(place);
    check.attributes = probe.attributes;
    if (!probe.exists) {
        check.state = FileState::Missing;
    } else if (probe.size != size) {
        check.state = FileState::OtherSize;
    } else {
        const std::optional<uint32_t> crc = ReadFileCrc32(place, stop, buffer, check.bytesRead);
        if (stop) check.state = FileState::Stopped;
        else if (!crc) check.state = FileState::Unreadable;
        else check.state = Crc32Text(*crc) == crcText ? FileState::Good : FileState::OtherCrc;
    }
    return check;
}

UnpackOutcome UnpackChecked(const std::string& input, const std::string& output, int64_t size,
                            const std::string& crcText, const std::atomic<bool>& stop,
                            const std::optional<Sha256Digest>& sha256) {
    UnpackOutcome outcome;
    try {
        PendingFile file(output);
        uint32_t reg = 0xFFFFFFFFu;
        std::optional<Sha256> hash;
        if (sha256) hash.emplace();
        const bool decoded = DecodeLzmaFile(input, [&](const void* data, size_t n) {
            if (stop) throw StopDecoding{};
            file.Write(data, n);
            reg = Crc32Update(reg, data, n);
            if (hash) hash->Update(data, n);
            outcome.bytes += n;
        });
        if (!decoded) {
            outcome.state = UnpackState::NotUnpacked;
        } else if (outcome.bytes != static_cast<uint64_t>(size) || Crc32Text(reg ^ 0xFFFFFFFFu) != crcText) {
            outcome.state = UnpackState::OtherContent;
        } else if (hash && hash->Finish() != *sha256) {
            // Size and CRC-32 are forged in a few bytes; only the signed hash speaks for the publisher.
            outcome.state = UnpackState::OtherHash;
        } else {
            file.Keep();
            outcome.state = UnpackState::Unpacked;
        }
    } catch (const StopDecoding&) {
        outcome.state = UnpackState::Stopped;
    } catch (const std::exception& e) {
        outcome.state = UnpackState::FileError;
        outcome.error = e.what();
    }
    return outcome;
}

PackedContent ReadPackedContent(const std::string& input, const std::function<bool()>& stopped, bool withSha256) {
    PackedContent content;
    uint32_t reg = 0xFFFFFFFFu;
    std::optional<Sha256> hash;
    if (withSha256) hash.emplace();
    try {
        content.decoded = DecodeLzmaFile(input, [&](const void* data, size_t n) {
            if (stopped()) throw StopDecoding{};
            reg = Crc32Update(reg, data, n);
            if (hash) hash->Update(data, n);
            content.size += n;
        });
    } catch (const StopDecoding&) {
        content.decoded = false;
        content.stopped = true;
        return content;
    }
    content.crc32 = reg ^ 0xFFFFFFFFu;
    if (content.decoded && hash) content.sha256 = hash->Finish();
    return content;
}

UnpackOutcome CopyChecked(const std::string& source, const std::string& output, int64_t size,
                          const std::string& crcText, const std::atomic<bool>& stop,
                          const std::optional<Sha256Digest>& sha256, std::vector<char>& buffer) {
    UnpackOutcome outcome;
    const FileProbe probe = ProbeFile(source);
    if (!probe.exists || probe.size != size) return outcome;  // NotUnpacked: nothing was written
    if (buffer.empty()) buffer.resize(FileCheckBlock);
    try {
        File in = File::OpenRead(source);
        std::optional<PendingFile> out;
        if (!output.empty()) out.emplace(output);
        uint32_t reg = 0xFFFFFFFFu;
        std::optional<Sha256> hash;
        if (sha256) hash.emplace();
        for (;;) {
            if (stop) {
                outcome.state = UnpackState::Stopped;
                return outcome;
            }
            const size_t got = in.ReadOrRaise(buffer.data(), buffer.size());
            if (got == 0) break;
            outcome.bytes += got;
            // A source that grows while it is read is not the file that was probed.
            if (outcome.bytes > static_cast<uint64_t>(size)) break;
            if (out) out->Write(buffer.data(), got);
            reg = Crc32Update(reg, buffer.data(), got);
            if (hash) hash->Update(buffer.data(), got);
        }
        if (outcome.bytes != static_cast<uint64_t>(size) || Crc32Text(reg ^ 0xFFFFFFFFu) != crcText) {
            outcome.state = UnpackState::OtherContent;
        } else if (hash && hash->Finish() != *sha256) {
            outcome.state = UnpackState::OtherHash;
        } else {
            if (out) out->Keep();
            outcome.state = UnpackState::Unpacked;
        }
    } catch (const std::exception& e) {
        outcome.state = UnpackState::FileError;
        outcome.error = e.what();
    }
    return outcome;
}

}  // namespace orv

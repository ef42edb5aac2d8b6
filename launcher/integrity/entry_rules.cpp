#include "launcher/integrity/entry_rules.h"

#include <exception>

namespace orv {
namespace {

// Beside the file, under a name no build ships, so that an unpack that breaks off never touches
// the file it is meant to replace.
constexpr const char* kUnpackSuffix = ".orvanta-unpack";

}  // namespace

std::string EntryPlace(const std::string& gameFolder, const std::string& entryPath) { return gameFolder + entryPath; }

std::string DownloadTargetPath(const std::string& place) { return place + ".lzma"; }

std::string UnpackTemporaryPath(const std::string& place) { return place + kUnpackSuffix; }

bool IsUnpackTemporaryPath(const std::string& path) { return path.ends_with(kUnpackSuffix); }

bool UnpackIntoPlace(const std::string& target, const std::string& place,
                     const std::function<bool(const std::string& input, const std::string& output)>& unpack,
                     const std::function<bool(const std::string& from, const std::string& to)>& replace,
                     const std::function<bool(const std::string& path)>& remove) {
    const std::string temporary = UnpackTemporaryPath(place);
    bool done = false;
    try {
        done = unpack(target, temporary) && replace(temporary, place);
    } catch (const std::exception&) {
        done = false;
    }
    if (!done) remove(temporary);
    return done;
}

}  // namespace orv

// Publishing a game build onto a static HTTP server: the build's files compressed as ".lzma" below
// its download address, its checklist, its entry in the catalogue and the game's keep list, all in
// the places and formats the launcher fetches. The server root is a folder that a web server serves
// as the update server's base address.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/base/codepage.h"
#include "launcher/catalogue.h"
#include "tools/statement_signing.h"

namespace orv::publish {

enum class KeepListMode {
    Replace,  // the keep list lists this build's files and folders
    Merge,    // ... added to the names it listed already (several builds of one game)
    Leave,    // the keep list is not touched
};

struct PublishOptions {
    std::string buildDir;    // the build as it lies in a game folder
    std::string serverRoot;  // the folder served at `serverBase`
    std::string serverBase = UpdateServerBase;
    std::string gameCode = GameCode;
    std::string gameName;       // UTF-8; may be empty when gameNumber names an existing game
    std::string buildName;      // UTF-8; may be empty when buildNumber names an existing build
    std::string checklistName;  // without extension
    // Where the build's files go: a folder below the server root ("/"-separated) and the address
    // the catalogue gives for it. One is derived from the other when the address lies below the
    // server base; at least one must be given.
    std::string downloadPath;
    std::string downloadUrl;
    CodePage codePage = CodePage::Windows1251;  // of the checklist and the catalogue's texts
    int gameNumber = 0;                         // 0: by name
    int buildNumber = 0;                        // 0: by name
    std::optional<std::string> appName;
    std::optional<std::string> baseVersion;
    std::optional<std::string> buildVersion;
    KeepListMode keepList = KeepListMode::Replace;
    unsigned jobs = 0;  // compressing threads; 0 chooses
    // Files of at least kChunkedFileMinSize also go into the server's chunk store, and the build
    // gets a chunk index naming them.
    bool chunks = true;
    // With keys: the hash list and the statements of the checklist and the catalogue too.
    StatementSigning signing;
};

struct PublishSummary {
    size_t files = 0;
    size_t folders = 0;
    uint64_t bytes = 0;            // of all files
    size_t compressed = 0;         // files packed by this run
    uint64_t compressedBytes = 0;  // their size
    uint64_t packedBytes = 0;      // the size of what they became
    size_t unchanged = 0;          // files whose earlier ".lzma" was kept
    size_t removed = 0;            // ".lzma" files of an earlier publish whose file has gone
    // The chunk store (nothing of it with chunks off).
    size_t chunkedFiles = 0;        // files the index lists
    size_t chunks = 0;              // chunks it names, repeats included
    size_t chunksWritten = 0;       // distinct chunks this run added to the store
    size_t chunksPresent = 0;       // distinct chunks it found there already
    uint64_t chunkStoreGrewBy = 0;  // the packed bytes it added
    bool chunkIndexWritten = false;
    bool chunkIndexRemoved = false;  // an earlier index of the checklist, now without large files
    bool checklistWritten = false;
    bool catalogueWritten = false;
    bool keepListWritten = false;
    uint64_t checklistStatement = 0;  // the versions signed; 0 when not signed
    uint64_t catalogueStatement = 0;
    uint64_t keepListStatement = 0;
    CataloguePlace place;
    std::string downloadUrl;
    double seconds = 0;
};

// Receives one line of progress at a time (without its line end), from the calling thread.
using ProgressSink = std::function<void(const std::string& line)>;

// The tool speaks UTF-8, the file system its own encoding.
std::filesystem::path ToFsPath(const std::string& utf8);
std::string FromFsPath(const std::filesystem::path& path);
// A "/"-separated relative path below `dir`, each part in the file system's encoding.
std::filesystem::path BelowFolder(const std::filesystem::path& dir, std::string_view relative);

// Compresses `source` into the ".lzma" container at `target`, through a part file beside it, so
// a failure never leaves a half-written target; creates the target's folder. Raises Error.
void CompressFile(const std::filesystem::path& source, const std::filesystem::path& target);

// Publishes the build. Raises Error (std::filesystem's errors for a folder that cannot be listed)
// with a message naming the file or value at fault; the checklist, catalogue and keep list have
// not changed by then, though some ".lzma" files and chunks may have been written already (the
// next run keeps them), and the chunk index too when only those last steps failed (a launcher
// proves what it assembles against the checklist, so an index ahead of it only costs a fallback).
PublishSummary Publish(const PublishOptions& options, const ProgressSink& progress);

// The file of the manifest kept in the build's download folder: what each ".lzma" there was made
// from, so that a file that has not changed is not compressed again.
inline constexpr const char* ManifestFileName = ".orvanta-publish.json";

// Fills `options` from the command-line words after "publish"; the text of the first problem, or
// nothing when they are complete.
std::optional<std::string> ParsePublishArguments(const std::vector<std::string>& args, PublishOptions& options);

// The usage text of the options, one per line, indented by two blanks.
extern const char* const PublishUsage;

// The summary as the tool prints it.
std::vector<std::string> SummaryLines(const PublishSummary& summary, const PublishOptions& options);

}  // namespace orv::publish

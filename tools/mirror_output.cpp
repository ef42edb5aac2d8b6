// What "orvanta-tool mirror" prints: a line per file fetched, removed or failed (a JSON object per
// event with --json, kept files included), the summary, and a bar on stderr while it is a terminal.
#include <cstdio>

#include "tools/console_lines.h"
#include "tools/mirror.h"

namespace orv::mirror {
namespace {

class ConsoleSink final : public MirrorSink {
public:
    ConsoleSink(bool json, bool bar) : json_(json), bar_(bar) {}

    void Started(const MirrorSummary& s) override {
        if (json_)
            Print(JsonLine({{"event", "start"}, {"source", s.source}, {"builds", s.builds}}));
        else
            Print("mirroring " + std::to_string(s.builds) + " builds from " + s.source);
    }

    void Event(const MirrorEvent& e, const MirrorSummary& s) override {
        if (json_) {
            Print(MirrorEventJson(e));
        } else if (e.kind != MirrorEventKind::Kept) {
            std::string line = MirrorEventName(e.kind);
            line.resize(14, ' ');
            line += e.path;
            if (!e.reason.empty()) line += "  (" + e.reason + ")";
            if (e.kind == MirrorEventKind::WouldFetch)
                line += e.bytes >= 0 ? "  " + std::to_string(e.bytes) + " bytes" : "  size unknown";
            Print(line);
        }
        if (!bar_ || !lines_.BarDue()) return;
        char text[160];
        std::snprintf(text, sizeof text, "%llu files: %llu fetched, %llu kept, %llu failed, %.1f MB",
                      static_cast<unsigned long long>(s.files), static_cast<unsigned long long>(s.fetched),
                      static_cast<unsigned long long>(s.kept), static_cast<unsigned long long>(s.failed),
                      static_cast<double>(s.bytesFetched) / 1e6);
        lines_.Bar(text);
    }

    void Finished(const MirrorSummary& s, int exitStatus) override {
        lines_.EndBar(false);
        if (json_) {
            Print(MirrorSummaryJson(s, exitStatus));
        } else {
            char line[256];
            std::snprintf(line, sizeof line,
                          "files:     %llu in %llu builds; fetched %llu (%.1f MB), kept %llu (%llu after unpacking)",
                          static_cast<unsigned long long>(s.files), static_cast<unsigned long long>(s.builds),
                          static_cast<unsigned long long>(s.fetched), static_cast<double>(s.bytesFetched) / 1e6,
                          static_cast<unsigned long long>(s.kept), static_cast<unsigned long long>(s.verified));
            Print(line);
            if (s.chunkIndexes || s.chunksRemoved) {
                std::snprintf(line, sizeof line,
                              "chunks:    %llu in %llu indexes; fetched %llu (%.1f MB), kept %llu, removed %llu",
                              static_cast<unsigned long long>(s.chunks),
                              static_cast<unsigned long long>(s.chunkIndexes),
                              static_cast<unsigned long long>(s.chunksFetched),
                              static_cast<double>(s.chunkBytesFetched) / 1e6,
                              static_cast<unsigned long long>(s.chunksKept),
                              static_cast<unsigned long long>(s.chunksRemoved));
                Print(line);
            }
            Print("removed:   " + std::to_string(s.removed) + ", failed " + std::to_string(s.failed) +
                  (s.skipped ? ", builds skipped " + std::to_string(s.skipped) : ""));
            if (s.toFetch || s.unknownSizes)
                Print("to fetch:  " + std::to_string(s.toFetch) + " files, " + std::to_string(s.bytesToFetch) +
                      " bytes" + (s.unknownSizes ? " (" + std::to_string(s.unknownSizes) + " of unknown size)" : ""));
            if (s.chunksToFetch)
                Print("to fetch:  " + std::to_string(s.chunksToFetch) + " chunks, " +
                      std::to_string(s.chunkBytesToFetch) + " bytes");
            if (s.interrupted) Print("interrupted: the mirror is as it was, with what was fetched kept for the next run");
            else if (!s.catalogueWritten && !s.toFetch && !s.chunksToFetch && exitStatus != 0)
                Print("the catalogue was not replaced: the mirror still serves the previous publish");
            std::snprintf(line, sizeof line, "time:      %.1f s", s.seconds);
            Print(line);
        }
        std::fflush(stdout);
    }

private:
    void Print(const std::string& line) { lines_.Print(line); }

    const bool json_;
    const bool bar_;
    ConsoleLines lines_;
};

}  // namespace

std::string MirrorEventJson(const MirrorEvent& e) {
    nlohmann::ordered_json line = {{"event", MirrorEventName(e.kind)}, {"path", e.path}};
    if (!e.reason.empty()) line["reason"] = e.reason;
    if (e.bytes >= 0) line["bytes"] = e.bytes;
    return JsonLine(line);
}

std::string MirrorSummaryJson(const MirrorSummary& s, int exitStatus) {
    const nlohmann::ordered_json line = {
        {"event", "summary"},          {"source", s.source},
        {"builds", s.builds},          {"files", s.files},
        {"fetched", s.fetched},        {"kept", s.kept},
        {"verified", s.verified},      {"failed", s.failed},
        {"skipped", s.skipped},        {"removed", s.removed},
        {"bytes_fetched", s.bytesFetched}, {"would_fetch", s.toFetch},
        {"bytes_to_fetch", s.bytesToFetch}, {"unknown_sizes", s.unknownSizes},
        {"chunk_indexes", s.chunkIndexes},  {"chunks", s.chunks},
        {"chunks_fetched", s.chunksFetched}, {"chunk_bytes_fetched", s.chunkBytesFetched},
        {"chunks_kept", s.chunksKept},      {"chunks_removed", s.chunksRemoved},
        {"chunks_to_fetch", s.chunksToFetch}, {"chunk_bytes_to_fetch", s.chunkBytesToFetch},
        {"catalogue_written", s.catalogueWritten}, {"interrupted", s.interrupted},
        {"seconds", s.seconds},        {"exit", exitStatus}};
    return JsonLine(line);
}

std::unique_ptr<MirrorSink> NewMirrorConsoleSink(bool json, bool progressBar) {
    return std::make_unique<ConsoleSink>(json, progressBar);
}

}  // namespace orv::mirror

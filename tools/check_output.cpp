// What "orvanta-tool check" prints: a line per file that differs (or a JSON object per event with
// --json) on stdout, the summary at the end, and a progress bar on stderr while it is a terminal.
#include <algorithm>
#include <cstdio>

#include "tools/check.h"
#include "tools/console_lines.h"

namespace orv::check {
namespace {

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

class ConsoleSink final : public CheckSink {
public:
    ConsoleSink(bool json, bool progressBar) : json_(json), bar_(progressBar) {}

    void Started(const CheckSummary& s) override {
        sourceDir_ = s.sourceDir;
        if (json_) {
            nlohmann::ordered_json line = {{"event", "start"},         {"source", s.source},
                                           {"game", s.game},           {"game_number", s.gameNumber},
                                           {"build", s.build},         {"build_number", s.buildNumber},
                                           {"checklist", s.checklist}, {"listed", s.listed}};
            Print(JsonLine(line));
        } else {
            Print("checking " + s.game + " / " + s.build + " (checklist " + s.checklist + ", " +
                  std::to_string(s.listed) + " files) from " + s.source +
                  (s.sourceDir.empty() ? "" : ", copying from " + s.sourceDir + " where it matches"));
        }
    }

    void Event(const CheckEvent& event, const CheckSummary&) override {
        if (json_) {
            Print(EventJson(event));
            return;
        }
        if (event.kind == EventKind::Checked) return;
        std::string line = EventName(event.kind);
        line.resize(14, ' ');
        line += event.path;
        if (!event.reason.empty()) line += "  (" + event.reason + ")";
        if (event.kind == EventKind::WouldFetch)
            line += event.bytes >= 0 ? "  " + std::to_string(event.bytes) + " bytes" : "  size unknown";
        if (event.copied)
            line += (event.kind == EventKind::WouldCopy ? "  (from " : "  (copied from ") + sourceDir_ + ")";
        if (event.fromChunks)
            line += "  (from chunks: " + std::to_string(event.chunkBytesReused) + " bytes reused, " +
                    std::to_string(event.chunkBytesFetched) + " fetched in " + std::to_string(event.chunksFetched) +
                    " chunks)";
        else if (event.chunkTried && event.kind == EventKind::Repaired)
            line += "  (whole file: " + event.chunkFallback + ")";
        Print(line);
    }

    void Progress(const CheckSummary& s) override {
        if (bar_ && lines_.BarDue()) lines_.Bar(BarText(s));
    }

    void Finished(const CheckSummary& s, int exitStatus) override {
        if (lines_.BarShown()) {
            lines_.Bar(BarText(s));
            lines_.EndBar(true);
        }
        if (json_) {
            Print(SummaryJson(s, exitStatus));
            std::fflush(stdout);
            return;
        }
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", s.seconds);
        Print("files:     " + std::to_string(s.files) + " in " + std::to_string(s.folders) + " folders, " +
              Megabytes(s.bytesChecked) + " read");
        Print("matching:  " + std::to_string(s.checked));
        Print("differing: " + std::to_string(s.bad) + ", repaired " + std::to_string(s.repaired) + ", failed " +
              std::to_string(s.failed) + " (" + Megabytes(s.bytesFetched) + " fetched)");
        if (!s.sourceDir.empty())
            Print(std::string(s.dryRun ? "to copy:   " : "copied:    ") + std::to_string(s.copied) + " files, " +
                  std::to_string(s.bytesCopied) + " bytes from " + s.sourceDir +
                  (s.dryRun ? "; " + std::to_string(s.toFetch) + " files to fetch" : ""));
        if (s.fromChunks || s.chunkFallbacks)
            Print("chunks:    " + std::to_string(s.fromChunks) + " files from chunks, " +
                  std::to_string(s.chunkBytesReused) + " bytes reused, " + std::to_string(s.chunkBytesFetched) +
                  " fetched in " + std::to_string(s.chunksFetched) + " chunks; " + std::to_string(s.chunkFallbacks) +
                  " fetched whole instead");
        if (s.refused) Print("refused:   " + std::to_string(s.refused) + " entries outside the game folder");
        if (s.bytesToFetch || s.unknownSizes)
            Print("to fetch:  " + std::to_string(s.bytesToFetch) + " bytes" +
                  (s.unknownSizes ? " and " + std::to_string(s.unknownSizes) + " files of unknown size" : ""));
        if (s.interrupted) Print("interrupted");
        Print(std::string("time:      ") + seconds);
        std::fflush(stdout);
    }

private:
    void Print(const std::string& line) { lines_.Print(line); }

    static std::string BarText(const CheckSummary& s) {
        const uint64_t done = s.filesDone;
        const uint64_t total = s.listed > 0 ? static_cast<uint64_t>(s.listed) : 0;
        constexpr int kWidth = 30;
        const int filled = total ? static_cast<int>(std::min<uint64_t>(done, total) * kWidth / total) : 0;
        char text[160];
        std::snprintf(text, sizeof text, "[%.*s%.*s] %llu/%llu files, %llu differ, %llu repaired", filled,
                      "##############################", kWidth - filled, "..............................",
                      static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                      static_cast<unsigned long long>(s.bad), static_cast<unsigned long long>(s.repaired));
        return text;
    }

    const bool json_;
    const bool bar_;
    ConsoleLines lines_;
    std::string sourceDir_;
};

}  // namespace

std::string EventJson(const CheckEvent& e) {
    nlohmann::ordered_json line = {{"event", EventName(e.kind)}, {"path", e.path}};
    if (!e.reason.empty()) line["reason"] = e.reason;
    if (e.size >= 0) line["size"] = e.size;
    if (!e.url.empty()) line["source"] = e.url;
    if (e.bytes >= 0) line["bytes"] = e.bytes;
    if (e.copied) line["copied"] = true;
    if (e.fromChunks) {
        line["chunks"] = {{"reused", e.chunkBytesReused}, {"fetched", e.chunkBytesFetched}, {"chunks_fetched", e.chunksFetched}};
    } else if (e.chunkTried) {
        line["chunks_fallback"] = e.chunkFallback;
    }
    return JsonLine(line);
}

std::string SummaryJson(const CheckSummary& s, int exitStatus) {
    nlohmann::ordered_json line = {
        {"event", "summary"},      {"game", s.game},
        {"build", s.build},        {"checklist", s.checklist},
        {"entries", s.entries},    {"folders", s.folders},
        {"files", s.files},        {"matching", s.checked},
        {"differing", s.bad},      {"repaired", s.repaired},
        {"failed", s.failed},      {"refused", s.refused},
        {"bytes_read", s.bytesChecked}, {"bytes_fetched", s.bytesFetched},
        {"bytes_to_fetch", s.bytesToFetch}, {"unknown_sizes", s.unknownSizes},
        {"copied", s.copied},      {"bytes_copied", s.bytesCopied},
        {"files_to_fetch", s.toFetch},
        {"from_chunks", s.fromChunks}, {"chunk_fallbacks", s.chunkFallbacks},
        {"chunk_bytes_reused", s.chunkBytesReused}, {"chunk_bytes_fetched", s.chunkBytesFetched},
        {"chunks_fetched", s.chunksFetched},
        {"interrupted", s.interrupted}, {"seconds", s.seconds},
        {"exit", exitStatus}};
    return JsonLine(line);
}

std::string JsonString(const std::string& text) { return JsonLine(nlohmann::ordered_json(text)); }

std::unique_ptr<CheckSink> NewConsoleSink(bool json, bool progressBar) {
    return std::make_unique<ConsoleSink>(json, progressBar);
}

}  // namespace orv::check

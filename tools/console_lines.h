// The tool's console: result lines on stdout and a one-line bar on stderr, kept apart on one
// terminal (a line printed while the bar shows erases it and draws it again below the line).
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace orv {

// One JSON object as one line; a path the code page gave back with U+FFFD stays valid UTF-8 and
// anything else that is not UTF-8 is replaced.
inline std::string JsonLine(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

class ConsoleLines {
public:
    void Print(const std::string& line) {
        if (shown_) std::fputs("\r\033[K", stderr);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        // A script reading the lines as they come sees them within a tenth of a second; flushing
        // every line would cost a write per file.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastFlush_ >= kEvery) {
            std::fflush(stdout);
            lastFlush_ = now;
        }
        if (shown_) Redraw();
    }

    // Whether the bar may be drawn again: ten times a second is as much as an eye reads.
    bool BarDue() {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastDraw_ < kEvery) return false;
        lastDraw_ = now;
        return true;
    }

    void Bar(std::string text) {
        bar_ = std::move(text);
        shown_ = true;
        Redraw();
    }

    bool BarShown() const { return shown_; }

    // The bar stays as the last line of stderr (`keep`) or is erased.
    void EndBar(bool keep) {
        if (!shown_) return;
        std::fputs(keep ? "\n" : "\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

private:
    static constexpr std::chrono::milliseconds kEvery{100};

    void Redraw() {
        std::fprintf(stderr, "\r\033[K%s", bar_.c_str());
        std::fflush(stderr);
    }

    std::string bar_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::chrono::steady_clock::time_point lastFlush_{};
};

}  // namespace orv

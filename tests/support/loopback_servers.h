// The loopback servers of tests/rig that tests/rig/with-servers.sh starts around the network tests,
// the fault server's body pattern, and what every Fetcher must make of its whole bodies, for the
// tests that fetch from them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "launcher/net/fetcher.h"

namespace orv::net_test {

inline std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}
inline std::string Fault(const std::string& route) { return Env("ORVANTA_FAULT_URL") + route; }
// An address where nothing listens.
inline std::string Closed() { return Env("ORVANTA_CLOSED_URL") + "data/100"; }

// The fault server's body pattern (see fault_server.py).
inline std::string Pattern(size_t size, unsigned seed = 0) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + (i / 4096) * 17 + seed) & 0xFF);
    return bytes;
}

// Compares file contents without dumping binary bodies into the test log.
inline ::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                         << " were expected; first difference at byte " << at;
}

// Bodies of the fault server that every Fetcher saves whole (seed 0), with the length it reports.
struct WholeBody {
    const char* route;
    size_t saved;
    const char* lengthText;
    int64_t length;
};
inline constexpr WholeBody kWholeBodies[] = {
    {"data/300000", 300000, "300000", 300000},
    {"noclen/9000", 9000, "", -1},
    {"tendigit/4096", 4096, "0000004096", 4096},  // zero-padded, still the number
    {"long/5000/9000", 5000, "5000", 5000},       // what follows the length is not the body
    {"empty", 0, "0", 0},
};

// What a Get told its progress callback.
struct ProgressLog {
    std::vector<int64_t> written;
    std::vector<std::string> lengthTexts;
    std::function<void()> onBlock;  // after each record

    void Clear() {
        written.clear();
        lengthTexts.clear();
    }
    FetchProgress Callback() {
        return [this](int64_t bytes, const std::string& lengthText) {
            written.push_back(bytes);
            lengthTexts.push_back(lengthText);
            if (onBlock) onBlock();
        };
    }
};

// `r` and `progress` of a Get of `body`, whose file holds `saved`.
inline void ExpectWholeBody(const WholeBody& body, const FetchResult& r, const std::string& saved,
                            const ProgressLog& progress) {
    SCOPED_TRACE(body.route);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.failed, FetchStep::None);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.lengthText, body.lengthText);
    EXPECT_EQ(r.length, body.length);
    EXPECT_TRUE(SameBytes(saved, Pattern(body.saved)));
    EXPECT_TRUE(std::is_sorted(progress.written.begin(), progress.written.end()));
    EXPECT_EQ(progress.written.empty() ? 0 : progress.written.back(), static_cast<int64_t>(body.saved));
    EXPECT_EQ(std::count(progress.lengthTexts.begin(), progress.lengthTexts.end(), body.lengthText),
              static_cast<std::ptrdiff_t>(progress.lengthTexts.size()))
        << "every block is told the length as it came";
}

}  // namespace orv::net_test

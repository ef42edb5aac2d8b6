// The loopback servers of tests/rig that tests/rig/with-servers.sh starts around the network tests,
// and the fault server's body pattern, for the tests that fetch from them.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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

}  // namespace orv::net_test

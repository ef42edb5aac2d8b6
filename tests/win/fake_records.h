// Reading the records that the fake outside programs (tests/fakes) append to their logs, in the
// format described in tests/fakes/fake_support.h.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace orv::test {

struct FakeRecord {
    std::string program;                        // "hl2", "revLoader", ...
    std::map<std::string, std::string> fields;  // "pid", "command line", "folder", ...

    // The field's value; empty when the record has no such field.
    std::string Get(const std::string& key) const;
};

// Every record of the log, oldest first; none when the log does not exist. Raises
// std::runtime_error when the log does not follow the format, so a broken fake fails the test.
std::vector<FakeRecord> ReadFakeRecords(const std::string& logPath);

// Reads the log until it holds at least `count` records or `timeout` passes; returns what it holds
// then (fewer records on a time-out).
std::vector<FakeRecord> WaitForFakeRecords(const std::string& logPath, size_t count,
                                           std::chrono::milliseconds timeout);

// The folder of the running test program, where the build puts the fakes beside it.
std::string TestProgramFolder();

// Copies the fake `name` ("steamcmd.exe", ...) from beside the test program to `target` (a whole
// path), so that it records and reads its script there; returns `target`. Raises
// std::runtime_error with the platform's message when the copy fails.
std::string CopyFakeTo(const std::string& name, const std::string& target);

}  // namespace orv::test

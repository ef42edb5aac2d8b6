// Which running processes "end every process called hl2.exe" means. Kept free of platform calls so
// that the rule can be tested on any build; the Toolhelp walk lives in processes_win.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// One process as the platform's process list reports it.
struct ProcessEntry {
    uint32_t id = 0;
    std::u16string exeName;  // as reported: usually the bare file name, sometimes a whole path
};

// The part of a path after its last folder or drive separator ("\", "/" or ":").
std::u16string_view FileNamePart(std::u16string_view path);

// True when `name` equals the entry's file-name part or its whole executable name. Only the letters
// a-z/A-Z are compared without regard to case: Windows file systems fold more than that, but the
// launcher promises no more, and folding just these is the same on every system.
bool ProcessNameMatches(std::u16string_view exeName, std::u16string_view name);

// The processes to end, in list order, except that `ownId` (the caller) comes last when it matches:
// a caller that ends itself can end nothing afterwards, so every other match is ended first.
std::vector<uint32_t> ProcessesToEnd(const std::vector<ProcessEntry>& entries, std::u16string_view name,
                                     uint32_t ownId);

}  // namespace orv

#include "launcher/net/process_name.h"

namespace orv {
namespace {

char16_t FoldAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c; }

bool EqualFoldingAsciiLetters(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAsciiLetter(a[i]) != FoldAsciiLetter(b[i])) return false;
    return true;
}

}  // namespace

std::u16string_view FileNamePart(std::u16string_view path) {
    const size_t cut = path.find_last_of(u"\\/:");
    return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

bool ProcessNameMatches(std::u16string_view exeName, std::u16string_view name) {
    return EqualFoldingAsciiLetters(FileNamePart(exeName), name) || EqualFoldingAsciiLetters(exeName, name);
}

std::vector<uint32_t> ProcessesToEnd(const std::vector<ProcessEntry>& entries, std::u16string_view name,
                                     uint32_t ownId) {
    std::vector<uint32_t> ids;
    bool self = false;
    for (const ProcessEntry& entry : entries) {
        if (!ProcessNameMatches(entry.exeName, name)) continue;
        if (entry.id == ownId)
            self = true;
        else
            ids.push_back(entry.id);
    }
    if (self) ids.push_back(ownId);
    return ids;
}

}  // namespace orv

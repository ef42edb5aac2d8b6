#include "launcher/platform/long_path.h"

#include <vector>

#include "launcher/platform/utf8.h"

namespace orv {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The names after the root, normalized as Windows normalizes a plain path.
std::string NormalizedNames(std::string_view rest) {
    std::vector<std::string_view> names;
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && !IsSeparator(rest[i])) continue;
        const std::string_view name = rest.substr(start, i - start);
        start = i + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (!names.empty()) names.pop_back();
            continue;
        }
        names.push_back(name);
    }
    const bool trailingSeparator = !rest.empty() && IsSeparator(rest.back());
    std::string joined;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string_view name = names[i];
        if (i + 1 == names.size() && !trailingSeparator) {
            while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
        } else if (name.size() > 1 && name.back() == '.' && name[name.size() - 2] != '.') {
            name.remove_suffix(1);
        }
        if (name.empty()) continue;
        if (!joined.empty()) joined += '\\';
        joined.append(name);
    }
    if (trailingSeparator && !joined.empty()) joined += '\\';
    return joined;
}

}  // namespace

std::string ExtendedLengthPath(std::string_view path) {
    if (Utf16Length(path) < PlainPathLimit) return std::string(path);
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == '?' || path[2] == '.') &&
        IsSeparator(path[3]))
        return std::string(path);
    if (path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) {
        std::string extended = "\\\\?\\";
        extended.append(path.substr(0, 2)).append("\\");
        return extended.append(NormalizedNames(path.substr(3)));
    }
    if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2])) {
        // The server and the share are the root: ".." never climbs above them.
        const std::string_view rest = path.substr(2);
        size_t end = 0;
        for (int names = 0; names < 2 && end < rest.size(); ++names) {
            while (end < rest.size() && !IsSeparator(rest[end])) ++end;
            if (names == 0 && end < rest.size()) ++end;
        }
        std::string root(rest.substr(0, end));
        for (char& c : root)
            if (c == '/') c = '\\';
        std::string extended = "\\\\?\\UNC\\" + root;
        if (end >= rest.size()) return extended;
        const std::string names = NormalizedNames(rest.substr(end + 1));
        return names.empty() ? extended + "\\" : extended.append("\\").append(names);
    }
    return std::string(path);
}

}  // namespace orv

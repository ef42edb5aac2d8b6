// The checklist (".dim") as the server sends it: every entry read, its size converted and its path
// judged, and what it names in the game folder. The first byte picks the code page.
#include "fuzz_support.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/entry_rules.h"

using namespace orv;

namespace {

// A path passed as safe names nothing outside the folder: no "..", no drive, no second root.
void StaysInside(std::string_view path) {
    fuzz::Require(path.size() > 1 && path[0] == '\\' && path[1] != '\\' && path[1] != '/', "a safe path without one root");
    fuzz::Require(path.find(':') == std::string_view::npos, "a safe path with a drive or stream");
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view name = path.substr(start, end - start);
        const bool last = end == path.size();
        fuzz::Require(name != ".." && (name != "." || last), "a safe path with a dot name");
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static constexpr CodePage kPages[] = {CodePage::Windows1251, CodePage::Windows1252, CodePage::Dos866};
    const CodePage page = kPages[data[0] % 3];
    ChecklistReader reader(std::string(fuzz::AsText(data + 1, size - 1)), page);
    size_t entries = 0;
    while (!reader.AtEnd()) {
        const ChecklistEntry entry = reader.Next();
        fuzz::Require(++entries <= size, "more entries than bytes");
        if (entry.IsFolder()) (void)entry.FolderPath();
        (void)entry.IsEmptyFile();
        if (IsSafeRelativeEntryPath(entry.path)) StaysInside(entry.path);
        const EntryTarget target = ResolveEntry(entry);
        if (target.kind == TargetKind::Folder || target.kind == TargetKind::File) {
            StaysInside(target.path);
            fuzz::Require(IsSafeRelativeEntryPath(target.path), "a resolved path that is not safe");
            fuzz::Require(target.path.size() <= entry.path.size(), "a resolved path longer than the listed one");
        } else {
            fuzz::Require(target.path.empty(), "a refused entry or the game folder with a path");
        }
        if (!entry.size) (void)ConversionErrorText(entry.sizeText);
    }
    (void)ParseInt32Decimal(fuzz::AsText(data, size));
    return 0;
}

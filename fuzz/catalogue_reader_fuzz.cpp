// The catalogue reading of the main window (chtenie's portable half) over a local "inf.ini" and a
// settings file the input gives, at remembered positions the input gives too.
#include <cstring>

#include "fuzz_support.h"
#include "game_profile.h"
#include "launcher/catalogue_reader.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int gamePosition = static_cast<int8_t>(data[0]);
    const int buildPosition = static_cast<int8_t>(data[1]);
    const bool offline = (data[2] & 1) != 0;
    const int uiLanguage = (data[2] >> 1) & 1;
    std::string_view rest = fuzz::AsText(data + 3, size - 3);
    // Catalogue, then (after a NUL) the settings file.
    const size_t cut = rest.find('\0');
    fuzz::PutScratchFile("inf.ini", rest.substr(0, cut));
    fuzz::PutScratchFile(SettingsFileName, cut == std::string_view::npos ? "" : rest.substr(cut + 1));
    const CatalogueReading reading =
        ReadCatalogue(gamePosition, buildPosition, offline, uiLanguage, CodePageCodec(CodePage::Windows1251));
    fuzz::Require(reading.gameNames.size() <= MaxCatalogueListEntries + 1u, "more games listed than the cap");
    fuzz::Require(reading.buildNames.size() <= MaxCatalogueListEntries + 1u, "more builds listed than the cap");
    if (reading.selectedGame >= 0)
        fuzz::Require(static_cast<size_t>(reading.selectedGame) < reading.gameNames.size(), "a game selected past the list");
    if (reading.selectedBuild >= 0)
        fuzz::Require(static_cast<size_t>(reading.selectedBuild) < reading.buildNames.size(), "a build selected past the list");
    return 0;
}

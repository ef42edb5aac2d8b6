// The catalogue model over a server's "inf.ini": every value the main window reads, and the
// publisher's update of a catalogue that is already on the server.
#include <algorithm>

#include "fuzz_support.h"
#include "launcher/base/errors.h"
#include "launcher/catalogue.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    Catalogue catalogue(bytes);
    (void)catalogue.OfferedLauncherVersion();
    // A catalogue may claim any count; the window lists at most 1000, the fuzzer reads a few.
    const int games = std::min(catalogue.GameCount(), 8);
    for (int game = 0; game <= games + 1; ++game) {
        (void)catalogue.GameName(game).Decoded(CodePage::Windows1251);
        (void)catalogue.NewsAddress(game);
        (void)catalogue.LoaderPath(game);
        const CatalogueText app = catalogue.AppName(game);
        (void)catalogue.ServerBaseVersion(app.bytes);
        (void)catalogue.ServerBuildVersion(app.bytes);
        (void)catalogue.UseSteamCmd(app.bytes);
        const int builds = std::min(catalogue.BuildCount(game), 8);
        for (int build = 0; build <= builds + 1; ++build) {
            (void)catalogue.BuildName(game, build).Decoded(CodePage::Dos866);
            (void)catalogue.ChecklistName(game, build);
            (void)catalogue.FileCountText(game, build);
            (void)catalogue.DownloadAddress(game, build);
        }
    }

    // The publisher adds a build to whatever the server holds; every other line keeps its bytes.
    CatalogueBuild build;
    build.gameName = "Fuzz game";
    build.buildName = "v1";
    build.checklistName = "fuzz1";
    build.fileCount = "3";
    build.downloadAddress = "http://127.0.0.1/fuzz/";
    try {
        const CataloguePlace place = catalogue.PutBuild(build);
        fuzz::Require(place.game >= 1 && place.build >= 1, "PutBuild placed a build at no position");
        fuzz::Require(catalogue.ChecklistName(place.game, place.build).bytes == "fuzz1", "the build put is not read back");
        catalogue.SetAppName(place.game, "fuzzapp");
        catalogue.SetServerVersion("fuzzapp", std::string("1"), std::string("2"));
    } catch (const Error&) {
        // A catalogue the publisher cannot update is refused with a message; that is all it may do.
    }
    (void)Catalogue(catalogue.Bytes()).GameCount();
    return 0;
}

// The publisher's command lines ("publish" and "publish-launcher"): words separated by NUL bytes.
#include "fuzz_support.h"
#include "tools/publish.h"
#include "tools/publish_launcher.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    std::string_view rest = fuzz::AsText(data, size);
    while (!rest.empty()) {
        const size_t cut = rest.find('\0');
        args.emplace_back(rest.substr(0, cut));
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    }
    publish::PublishOptions options;
    (void)publish::ParsePublishArguments(args, options);
    publish::LauncherReleaseOptions release;
    (void)publish::ParseLauncherReleaseArguments(args, release);
    return 0;
}

// The program's command line: split into arguments, argument 2 giving the start mode.
#include "fuzz_support.h"
#include "launcher/start_mode.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> args = SplitCommandLine(std::string(fuzz::AsText(data, size)));
    size_t total = 0;
    for (const std::string& arg : args) {
        total += arg.size();
        fuzz::Require(arg.find('"') == std::string::npos, "an argument kept a quote");
    }
    fuzz::Require(total <= size, "arguments longer than the command line");
    (void)StartModeOf(args);
    (void)ArgumentAt(args, 2);
    return 0;
}

// A connect link as a web page hands it over: argument 2 of the command line.
#include "fuzz_support.h"
#include "launcher/connect_link.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view argument = fuzz::AsText(data, size);
    const auto address = ConnectAddress(argument);
    if (address) {
        fuzz::Require(IsServerAddress(*address), "a connect address that is no server address");
        const std::string line = ConnectCommandLine(*address, "-console -novid");
        for (const char c : *address)
            fuzz::Require(c > ' ' && c != '"' && c != '+' && c != ';', "a connect address that adds options");
        fuzz::Require(line.find_first_of("\r\n") == std::string::npos, "a connect line that adds lines");
        (void)ConnectCommandLine(*address, "", "other");
    }
    (void)IsServerAddress(argument);
    return 0;
}

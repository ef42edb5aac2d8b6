// The emulator loader's profile "rev.ini": taken over on a first run, then written back.
#include "fuzz_support.h"
#include "launcher/config/emulator_profile.h"
#include "launcher/config/ini_file.h"
#include "launcher/config/launcher_settings.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::PutScratchFile("rev.ini", fuzz::AsText(data, size));
    LauncherConfig = {};
    LoadEmulatorProfile();
    fuzz::Require(LauncherConfig.GamePlayerName.size() <= IniTextMaxBytes, "a nickname longer than 255 bytes");
    SaveEmulatorProfile();
    // What was written is read back as written.
    const IniDocument saved = LoadIniFile(path);
    fuzz::Require(saved.Get(emulator_keys::LoaderSection, emulator_keys::ProcName, "") == EmulatorProcNameLine(),
                  "the written command line is not read back");
    WriteEmulatorProcName(std::string(fuzz::AsText(data, size)));
    ResetEmulatorProcName();
    return 0;
}

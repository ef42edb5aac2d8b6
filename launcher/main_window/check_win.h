// The main window's check action, its check-and-repair run and the stop procedure: what
// TForm1::Image_Button_CheckClick, CheckAllFiles and stops need beyond the window itself.
#pragma once

#include <functional>

#include "launcher/integrity/check_run.h"

namespace orv {

// Adjusts the run's platform services before each run (tests point the server base at a local
// server); unset: the system's services as they are.
using CheckRunPlatformSetup = std::function<void(CheckRunPlatform&)>;
void SetCheckRunPlatformSetup(CheckRunPlatformSetup setup);

// Whether a check run is in progress (it pumps events, so window handlers run inside it).
bool CheckRunActive();

}  // namespace orv

// Long work runs on the GUI thread and keeps the window alive by processing pending GUI events at
// fixed points. The GUI installs the pump; the portable core only calls it (a no-op without a GUI).
#pragma once

namespace orv {

using EventPump = void (*)();

// Processes the pending GUI events once, like Application.ProcessMessages.
void PumpEvents();
// Installs the pump; nullptr restores the no-op. Returns the previous one.
EventPump SetEventPump(EventPump pump);

// Keeps the window alive while the GUI thread waits for another thread to finish a step of its
// work. Unlike PumpEvents this is no fixed point of the work: it runs as often as the wait lasts,
// so work that counts or replaces its fixed points is not disturbed by it.
void PumpWhileWaiting();
// Installs that pump; nullptr restores the no-op. Returns the previous one.
EventPump SetWaitPump(EventPump pump);

}  // namespace orv

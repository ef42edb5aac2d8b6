// The single-instance guard: a named mutex in the machine-wide namespace, created owned by the
// starting launcher and held until the process ends, so that a second launcher (of any logged-on
// user) finds it and gives way.
#pragma once

#include <string>

#include "launcher/platform/scoped_win.h"

namespace orv {

enum class InstanceLock {
    Acquired,        // this process created the mutex and holds it
    AlreadyRunning,  // the mutex existed: another launcher holds it
    Unavailable,     // CreateMutexW failed for another reason; nothing is held
};

// CreateMutexW(no security attributes, initially owned, `name`). Acquired: `mutex` receives the
// handle. AlreadyRunning: the handle just obtained has been closed again. `error` (optional)
// receives the platform's code for Unavailable.
InstanceLock CreateSingleInstanceMutex(const std::string& name, ScopedHandle& mutex, DWORD* error = nullptr);

// The guard of the program entry. Keeps the mutex in the process-wide SingleInstanceMutex. False
// only when another launcher runs; a failure of another kind lets the launcher start unguarded.
bool AcquireSingleInstance(const std::string& name);
// True while the process-wide mutex handle is held.
bool HoldsSingleInstance() noexcept;
// Closes the process-wide mutex handle; only the restart after a self-update does this, just
// before it starts the new launcher, so that the new one can take the name.
void ReleaseSingleInstance() noexcept;

}  // namespace orv

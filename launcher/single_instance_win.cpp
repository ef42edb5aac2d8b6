#include "launcher/single_instance_win.h"

#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

// Lives for the whole run: closing it would let a second launcher in.
ScopedHandle& SingleInstanceMutex() {
    static ScopedHandle mutex;
    return mutex;
}

}  // namespace

InstanceLock CreateSingleInstanceMutex(const std::string& name, ScopedHandle& mutex, DWORD* error) {
    ScopedHandle handle(::CreateMutexW(nullptr, TRUE, Wide(name).c_str()));
    const DWORD code = ::GetLastError();
    if (error) *error = code;
    if (!handle) return InstanceLock::Unavailable;
    // The handle is closed on return: the mutex stays with the launcher that created it.
    if (code == ERROR_ALREADY_EXISTS) return InstanceLock::AlreadyRunning;
    mutex = std::move(handle);
    return InstanceLock::Acquired;
}

bool AcquireSingleInstance(const std::string& name) {
    return CreateSingleInstanceMutex(name, SingleInstanceMutex()) != InstanceLock::AlreadyRunning;
}

bool HoldsSingleInstance() noexcept { return SingleInstanceMutex().Valid(); }

void ReleaseSingleInstance() noexcept { SingleInstanceMutex().Reset(); }

}  // namespace orv

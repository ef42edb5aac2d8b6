#include "launcher/console/process_timer_win.h"

#include <utility>
#include <vector>

#include "launcher/base/errors.h"
#include "launcher/console/runner_rules.h"

namespace orv {

namespace {

struct Registry {
    std::mutex lock;
    std::vector<std::pair<UINT_PTR, TProcessTimer*>> pairs;
};
// Made on first use and kept until the process ends, so a late tick never finds it gone.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

}  // namespace

namespace TimerRegistry {

void Add(UINT_PTR id, TProcessTimer* timer) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.pairs.emplace_back(id, timer);
}

void Remove(UINT_PTR id) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (auto it = r.pairs.begin(); it != r.pairs.end(); ++it) {
        if (it->first == id) {
            r.pairs.erase(it);
            return;
        }
    }
}

TProcessTimer* Find(UINT_PTR id) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (const auto& pair : r.pairs)
        if (pair.first == id) return pair.second;
    return nullptr;
}

}  // namespace TimerRegistry

TProcessTimer::TProcessTimer() : event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!event_) RaiseLastPlatformError();
}

TProcessTimer::~TProcessTimer() {
    if (!enabled_) return;
    enabled_ = false;
    if (::KillTimer(nullptr, id_)) TimerRegistry::Remove(id_);
}

void TProcessTimer::Beginning() {
    {
        std::lock_guard<std::mutex> guard(criticalSection_);
        sinceBeginning_ = 0;
        sinceLastOutput_ = 0;
    }
    SetEnabled(true);
}

void TProcessTimer::Ending() { SetEnabled(false); }

void TProcessTimer::NewOutput() {
    std::lock_guard<std::mutex> guard(criticalSection_);
    sinceLastOutput_ = 0;
}

void TProcessTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    if (value) {
        const UINT_PTR id = ::SetTimer(nullptr, 0, 1000, &TProcessTimer::TimerCallback);
        if (id == 0) {
            enabled_ = false;
            throw EProcessTimer("could not start timer");
        }
        id_ = id;
        TimerRegistry::Add(id, this);
    } else {
        if (!::KillTimer(nullptr, id_)) throw EProcessTimer("could not kill timer");
        TimerRegistry::Remove(id_);
    }
}

int32_t TProcessTimer::SinceBeginning() const {
    std::lock_guard<std::mutex> guard(criticalSection_);
    return sinceBeginning_;
}

int32_t TProcessTimer::SinceLastOutput() const {
    std::lock_guard<std::mutex> guard(criticalSection_);
    return sinceLastOutput_;
}

void TProcessTimer::Tick() noexcept {
    ++sinceBeginning_;
    ++sinceLastOutput_;
    ::SetEvent(event_.Get());
}

void CALLBACK TProcessTimer::TimerCallback(HWND, UINT, UINT_PTR id, DWORD) noexcept {
    // The registry's lock is released before the tick runs.
    if (TProcessTimer* timer = TimerRegistry::Find(id)) timer->Tick();
}

}  // namespace orv

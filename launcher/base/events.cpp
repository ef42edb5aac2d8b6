#include "launcher/base/events.h"

#include <atomic>

namespace orv {
namespace {
std::atomic<EventPump> g_pump{nullptr};
std::atomic<EventPump> g_waitPump{nullptr};
}  // namespace

void PumpEvents() {
    if (EventPump pump = g_pump.load(std::memory_order_relaxed)) pump();
}

EventPump SetEventPump(EventPump pump) { return g_pump.exchange(pump); }

void PumpWhileWaiting() {
    if (EventPump pump = g_waitPump.load(std::memory_order_relaxed)) pump();
}

EventPump SetWaitPump(EventPump pump) { return g_waitPump.exchange(pump); }

}  // namespace orv

#include "launcher/base/events.h"

#include <atomic>

namespace orv {
namespace {
std::atomic<EventPump> g_pump{nullptr};
}

void PumpEvents() {
    if (EventPump pump = g_pump.load(std::memory_order_relaxed)) pump();
}

EventPump SetEventPump(EventPump pump) { return g_pump.exchange(pump); }

}  // namespace orv

#include "error_control.h"

namespace {

constexpr std::uint32_t kErrorControlBase = 0x700;
constexpr std::uint8_t kToggleBit = 0x80;

std::uint8_t KnownState(std::uint8_t value)
{
    switch (value) {
    case NmtBootUp:
    case NmtStopped:
    case NmtOperational:
    case NmtPreOperational:
        return value;
    default:
        return NmtUnknown;
    }
}

void Start(ErrorControl& watch, std::uint32_t node, Supervision supervision, std::uint32_t timeMs)
{
    watch = ErrorControl{};
    watch.node = static_cast<std::uint8_t>(node & 0x7Fu);
    watch.supervision = watch.node != 0 && timeMs != 0 ? supervision : Supervision::None;
    watch.timeMs = timeMs;
    watch.state = NmtUnknown;
}

// A message of the slave arrived (or a valid guarding answer): its state, and the end of
// a loss.
void Seen(ErrorControl& watch, std::uint8_t state, std::uint32_t now)
{
    if (watch.seen == 0 && watch.supervision != Supervision::None)
        watch.events |= EventSupervised;
    if (watch.lost != 0) {
        watch.lost = 0;
        watch.events |= EventBack;
    }
    if (watch.seen == 0 || state != watch.state)
        watch.events |= EventStateChanged;
    watch.state = state;
    watch.seen = 1;
    watch.seenTick = now;
}

}  // namespace

void WatchHeartbeat(ErrorControl& watch, std::uint32_t node, std::uint32_t consumerTimeMs, std::uint32_t)
{
    Start(watch, node, Supervision::Heartbeat, consumerTimeMs);
}

void GuardNode(ErrorControl& watch, std::uint32_t node, std::uint32_t guardTimeMs, std::uint8_t lifeFactor,
               std::uint32_t now)
{
    Start(watch, node, Supervision::Guarding, guardTimeMs);
    watch.lifeFactor = lifeFactor != 0 ? lifeFactor : 1;
    // The first request goes out on the next step.
    watch.guardTick = now - guardTimeMs;
}

void StopErrorControl(ErrorControl& watch)
{
    watch = ErrorControl{};
    watch.state = NmtUnknown;
}

int ReceiveErrorControl(ErrorControl& watch, const CanFrame& frame, std::uint32_t now)
{
    // Our own guarding requests are remote frames on the same COB-ID; an answer has its
    // one data byte.
    if (watch.node == 0 || frame.id != kErrorControlBase + watch.node || frame.remote != 0 || frame.length < 1)
        return 0;
    const std::uint8_t value = frame.data[0];
    if (value == NmtBootUp) {
        // A boot-up restarts the slave's toggle as well as its state.
        watch.expectedToggle = 0;
        watch.awaiting = 0;
        watch.missed = 0;
        watch.events |= EventBootUp;
        Seen(watch, NmtBootUp, now);
        return 1;
    }
    if (watch.supervision == Supervision::Guarding) {
        if (watch.awaiting == 0)
            return 1;  // an answer nobody asked for counts for nothing
        const std::uint8_t toggle = (value & kToggleBit) != 0 ? 1 : 0;
        if (toggle != watch.expectedToggle) {
            // The slave missed a request or repeated an answer: not an answer to this one.
            watch.events |= EventToggleMismatch;
            return 1;
        }
        watch.expectedToggle ^= 1u;
        watch.awaiting = 0;
        watch.missed = 0;
        Seen(watch, KnownState(static_cast<std::uint8_t>(value & ~kToggleBit)), now);
        return 1;
    }
    Seen(watch, KnownState(value), now);
    return 1;
}

const CanFrame* StepErrorControl(ErrorControl& watch, std::uint32_t now)
{
    switch (watch.supervision) {
    case Supervision::Heartbeat:
        // Lost at the consumer time after the last heartbeat; once, until the next.
        if (watch.seen != 0 && watch.lost == 0 && now - watch.seenTick >= watch.timeMs) {
            watch.lost = 1;
            watch.events |= EventLost;
        }
        return nullptr;
    case Supervision::Guarding:
        if (now - watch.guardTick < watch.timeMs)
            return nullptr;
        if (watch.awaiting != 0 && watch.lost == 0 && ++watch.missed >= watch.lifeFactor) {
            watch.lost = 1;
            watch.events |= EventLost;
        }
        watch.guardTick = now;
        watch.awaiting = 1;
        watch.request = CanFrame{};
        watch.request.remote = 1;
        watch.request.id = kErrorControlBase + watch.node;
        watch.request.length = 1;
        return &watch.request;
    case Supervision::None:
    default:
        return nullptr;
    }
}

std::uint8_t TakeErrorControlEvents(ErrorControl& watch)
{
    const std::uint8_t events = watch.events;
    watch.events = 0;
    return events;
}

ErrorControl& MasterErrorControl()
{
    static ErrorControl watch{};
    return watch;
}

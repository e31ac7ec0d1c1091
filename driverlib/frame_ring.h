// A ring of driver messages in fixed storage: a driver library's receive queue (and the
// simulated bus's log of the frames sent). Plain data: a zero-filled ring is an empty
// one, which the simulated bus relies on for the state it keeps across reloads.
#pragma once

#include <cstdint>

#include "driver_api.h"

namespace driverlib {

template <std::uint32_t N>
struct FrameRing {
    std::uint32_t head;  // oldest
    std::uint32_t count;
    DriverMsg items[N];
};

template <std::uint32_t N>
bool RingFull(const FrameRing<N>& ring)
{
    return ring.count == N;
}

// Appends `msg`; false, and the ring as it was, when it is full.
template <std::uint32_t N>
bool RingPush(FrameRing<N>& ring, const DriverMsg& msg)
{
    if (ring.count == N)
        return false;
    ring.items[(ring.head + ring.count) % N] = msg;
    ++ring.count;
    return true;
}

// Takes the oldest message into `msg`; false when the ring is empty.
template <std::uint32_t N>
bool RingPop(FrameRing<N>& ring, DriverMsg& msg)
{
    if (ring.count == 0)
        return false;
    msg = ring.items[ring.head];
    ring.head = (ring.head + 1) % N;
    --ring.count;
    return true;
}

template <std::uint32_t N>
void RingClear(FrameRing<N>& ring)
{
    ring.head = 0;
    ring.count = 0;
}

}  // namespace driverlib

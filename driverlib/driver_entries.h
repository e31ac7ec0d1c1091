// The parts of the eight entry points that every driver library of ours answers alike.
//
//     CAN_Read:         return driverlib::ReadEntry(link.queue, msg, Pump, ReadTrouble);
//     CAN_VersionInfo:  return driverlib::VersionInfoEntry(text, kVersionText, "");
//     CAN_ResetClient:  return driverlib::ResetClientEntry(link.queue);
#pragma once

#include <cstdint>

#include "driver_api.h"
#include "frame_ring.h"

namespace driverlib {

// Result words the libraries share; each library's results header names them again
// among its own words (and its driver source checks that they agree).
constexpr std::uint32_t kOk = 0;
constexpr std::uint32_t kReceiveEmpty = 0x0020;      // CAN_Read: no message waiting
constexpr std::uint32_t kIllegalParameter = 0x4000;  // a null pointer, a word out of range

// Bytes CAN_VersionInfo writes at most, its terminating zero included: no caller's buffer
// is known to hold more.
constexpr std::uint32_t kVersionTextSize = 64;

// CAN_Read of a library that takes in its link's input during its calls: a null record
// is refused before anything moves; `takeIn` moves what the link has into `ring`; then
// the oldest message, or kReceiveEmpty with the bits `trouble` adds (for a link that is
// not open, say, so the caller learns why nothing comes).
template <std::uint32_t N>
std::uint32_t ReadEntry(FrameRing<N>& ring, DriverMsg* msg, void (*takeIn)(), std::uint32_t (*trouble)())
{
    if (msg == nullptr)
        return kIllegalParameter;
    takeIn();
    return RingPop(ring, *msg) ? kOk : (kReceiveEmpty | trouble());
}

// CAN_VersionInfo: `library`'s own text, then "; device " and `device` unless that is
// empty, cut to kVersionTextSize bytes.
std::uint32_t VersionInfoEntry(char* text, const char* library, const char* device);

// CAN_ResetClient of a library whose link stays as it is: the messages received so far
// are forgotten.
template <std::uint32_t N>
std::uint32_t ResetClientEntry(FrameRing<N>& ring)
{
    RingClear(ring);
    return kOk;
}

}  // namespace driverlib

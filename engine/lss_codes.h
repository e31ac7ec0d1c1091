// The layer setting services' command specifiers (byte 0 of every request and answer on
// 0x7E5 and 0x7E4) and the bit-timing table, the same for the master and for the
// simulated devices that answer it.
#pragma once

#include <cstdint>

namespace lss {

constexpr std::uint8_t kSwitchGlobal = 0x04;
constexpr std::uint8_t kConfigureNodeId = 0x11;
constexpr std::uint8_t kConfigureBitTiming = 0x13;
constexpr std::uint8_t kActivateBitTiming = 0x15;
constexpr std::uint8_t kStoreConfiguration = 0x17;
constexpr std::uint8_t kSwitchSelective = 0x40;  // + 0 vendor, 1 product, 2 revision, 3 serial
constexpr std::uint8_t kSwitchSelectiveAnswer = 0x44;
constexpr std::uint8_t kIdentifyRemote = 0x46;  // + 0 vendor, 1 product, 2/3 revision low/high, 4/5 serial low/high
constexpr std::uint8_t kIdentifyNonConfigured = 0x4C;
constexpr std::uint8_t kIdentifyAnswer = 0x4F;  // identify remote slave and Fastscan
constexpr std::uint8_t kNonConfiguredAnswer = 0x50;
constexpr std::uint8_t kFastscan = 0x51;
constexpr std::uint8_t kInquireVendor = 0x5A;  // + 0 vendor, 1 product, 2 revision, 3 serial, 4 node-ID
constexpr std::uint8_t kInquireNodeId = 0x5E;
constexpr std::uint8_t kFastscanReset = 0x80;  // bit checked of Fastscan's reset step

// Table 0 of the bit timings, by index: kbit/s, 0 where the index is reserved (5).
constexpr std::uint32_t kBitTimingKbit[] = {1000, 800, 500, 250, 125, 0, 50, 20, 10};

}  // namespace lss

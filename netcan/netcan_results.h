// Results of the network driver's eight entry points.
//
// The library takes the place of the adapter's pcan_usb library: it exports CAN_Init,
// CAN_Close, CAN_Status, CAN_Write, CAN_Read, CAN_VersionInfo, CAN_SpecialFunktion and
// CAN_ResetClient with the driver record and calling convention of driver_api.h, and
// reaches the bus through a socketcand server over TCP (see socketcand_codec.h and
// netcan_config.h). Every result is a 32-bit status word: 0 for success, otherwise the
// bits below, so that the callers' rules hold: CAN_Read's "nothing taken" is non-zero,
// only a full transmit queue sets bit 0x80, and a lost connection makes CAN_Status
// non-zero.
#pragma once

#include <cstdint>

namespace netcan {

constexpr std::uint32_t kNetOk = 0;
constexpr std::uint32_t kNetWriteRefused = 0x0004;      // CAN_Write: the record cannot be sent as a frame
constexpr std::uint32_t kNetBusOff = 0x0010;            // CAN_Status: the server reported bus-off
constexpr std::uint32_t kNetReceiveEmpty = 0x0020;      // CAN_Read: no message waiting
constexpr std::uint32_t kNetTransmitFull = 0x0080;      // CAN_Write: output buffer full, retry
constexpr std::uint32_t kNetHandshakeRefused = 0x0800;  // CAN_Init: the server did not greet, or refused the bus
constexpr std::uint32_t kNetNotInitialised = 0x1000;    // no CAN_Init since loading or CAN_Close
constexpr std::uint32_t kNetNoConnection = 0x2000;      // server unreachable, or the connection was lost
constexpr std::uint32_t kNetIllegalParameter = 0x4000;  // null record, unknown bit rate, bad netcan.ini

// The text CAN_VersionInfo writes; it never writes more than kVersionTextSize bytes.
constexpr const char* kVersionText = "Velomar netcan 1.0: CAN through a socketcand server";
constexpr std::uint32_t kVersionTextSize = 64;

// Messages CAN_Read can hold before it stops taking bytes from the connection (the
// server's own buffers and TCP then hold the rest; nothing is dropped).
constexpr std::uint32_t kReceiveQueueSize = 1024;

// Bytes of commands CAN_Write can hold while the connection cannot take them.
constexpr std::uint32_t kTransmitBufferSize = 8192;

// How long CAN_Close waits for unsent commands to leave before it closes.
constexpr std::uint32_t kCloseDrainMs = 200;

}  // namespace netcan

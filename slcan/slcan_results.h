// Results of the serial driver's eight entry points.
//
// The library takes the place of the adapter vendor's pcan_usb library: it exports
// CAN_Init, CAN_Close, CAN_Status, CAN_Write, CAN_Read, CAN_VersionInfo,
// CAN_SpecialFunktion and CAN_ResetClient with the driver record and calling convention of
// driver_api.h, and reaches the bus through a serial-line CAN adapter (see slcan_codec.h
// and slcan_config.h). Every result is a 32-bit status word: 0 for success, otherwise the
// bits below, so that the callers' rules hold: CAN_Read's "nothing taken" is non-zero,
// only a full transmit queue sets bit 0x80, and every trouble on the bus or the line makes
// CAN_Status non-zero. No result uses 0x200, the program's own "no driver loaded".
#pragma once

#include <cstdint>

namespace slcan {

constexpr std::uint32_t kSlOk = 0;
constexpr std::uint32_t kSlWriteRefused = 0x0004;      // CAN_Write: the record is no frame
constexpr std::uint32_t kSlBusError = 0x0010;          // CAN_Status: the device reports a bus error
constexpr std::uint32_t kSlReceiveEmpty = 0x0020;      // CAN_Read: no message waiting
constexpr std::uint32_t kSlReceiveOverrun = 0x0040;    // CAN_Status: frames were lost (here or in the device)
constexpr std::uint32_t kSlTransmitFull = 0x0080;      // CAN_Write: no room for the frame now, retry
constexpr std::uint32_t kSlDeviceQueueFull = 0x0100;   // CAN_Status: the device's transmit queue was full
constexpr std::uint32_t kSlCommandRefused = 0x0400;    // the device answered BEL (a frame, S or O)
constexpr std::uint32_t kSlNoAnswer = 0x0800;          // the device does not answer
constexpr std::uint32_t kSlNotInitialised = 0x1000;    // no CAN_Init since loading or CAN_Close
constexpr std::uint32_t kSlNoPort = 0x2000;            // the port cannot be opened, or was lost
constexpr std::uint32_t kSlIllegalParameter = 0x4000;  // null record, unknown bit rate, bad slcan.ini

// The library's part of the text CAN_VersionInfo writes; the device's version and serial
// number follow once CAN_Init has read them. Never more than kVersionTextSize bytes.
constexpr const char* kVersionText = "Velomar slcan 1.0";
constexpr std::uint32_t kVersionTextSize = 64;

// Messages CAN_Read can hold. A frame that finds the queue full is dropped and
// CAN_Status reports kSlReceiveOverrun once.
constexpr std::uint32_t kReceiveQueueSize = 1024;

// Bytes of commands waiting for the port.
constexpr std::uint32_t kTransmitBufferSize = 4096;

// Commands sent whose answers have not come yet; CAN_Write reports a full queue beyond.
constexpr std::uint32_t kMaxPendingAnswers = 64;

// How often CAN_Status asks the device for its status flags.
constexpr std::uint32_t kFlagsPollMs = 100;

}  // namespace slcan

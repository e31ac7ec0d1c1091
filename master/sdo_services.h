// Blocking SDO transfers and the one-frame NMT and remote-request services.
#pragma once

#include <cstdint>

// Outcome of one blocking SDO transfer; both flags 0 means success.
struct SdoResult {
    std::uint32_t failed;     // 1: failed on the master's side (time-out, bad response, refused)
    std::uint32_t aborted;    // 1: the slave aborted the transfer
    std::uint32_t abortCode;  // the master's or the slave's abort code, else 0
};

constexpr std::uint32_t kDefaultSdoTimeoutMs = 500;
constexpr std::uint8_t kNmtStartRemoteNode = 0x01;
constexpr std::uint8_t kNmtEnterPreOperational = 0x80;

// Runs one idle cycle, drains the receive queue, then uploads the object; on success
// `length` is the number of bytes delivered (at most `capacity`).
SdoResult ReadObject(std::uint32_t node, std::uint32_t timeoutMs, std::uint16_t index, std::uint8_t subIndex,
                     std::uint8_t* destination, std::uint32_t capacity, std::uint32_t& length);

// Drains the receive queue, then downloads `length` bytes (0 to kMaxObjectBytes).
SdoResult WriteObject(std::uint32_t node, std::uint32_t timeoutMs, std::uint16_t index, std::uint8_t subIndex,
                      const std::uint8_t* data, std::uint32_t length);

// ReadObject with 500 ms and a destination of kMaxObjectBytes; WriteObject with 500 ms.
SdoResult ReadObjectDefault(std::uint32_t node, std::uint16_t index, std::uint8_t subIndex, std::uint8_t* destination,
                            std::uint32_t& length);
SdoResult WriteObjectDefault(std::uint32_t node, std::uint16_t index, std::uint8_t subIndex, const std::uint8_t* data,
                             std::uint32_t length);

// Sends one NMT frame (COB-ID 0: command, node). 1 when it went out.
int SendNmtCommand(std::uint32_t node, std::uint8_t command);

// Pumps the bus once, then sends a remote frame for `cobId` with the requested length.
void SendRemoteRequest(std::uint32_t cobId, std::uint8_t length);

// SDO client: reads (upload) or writes (download) one object of a node's dictionary,
// expedited or segmented, one step per engine cycle.
//
// Requests go out on 0x600 + node, responses come back on 0x580 + node. A transfer is
// started by RequestUpload/RequestDownload, advanced by the engine cycle, and its result
// taken with FetchSdoResult.
#pragma once

#include <cstdint>

#include "node_table.h"

// Abort codes the master itself sends.
constexpr std::uint32_t kAbortTimeout = 0x05040000;         // no response in time
constexpr std::uint32_t kAbortBadCommand = 0x05040001;      // unexpected command specifier
constexpr std::uint32_t kAbortToggle = 0x05030000;          // toggle bit not alternated
constexpr std::uint32_t kAbortOutOfMemory = 0x05040005;     // more than kMaxObjectBytes
constexpr std::uint32_t kAbortLengthMismatch = 0x06040043;  // received != announced size
constexpr std::uint32_t kAbortGeneral = 0x08000000;         // bad length, index or subindex

// Starts an upload from (node AND 0x7F), replacing any transfer in progress on that node
// without an abort frame. Always returns 1.
int RequestUpload(std::uint32_t node, std::uint32_t timeoutMs, NodeTable& table, std::uint16_t index,
                  std::uint8_t subIndex);

// Starts a download of `length` bytes to (node AND 0x7F), replacing any transfer in
// progress. Returns 0 and changes nothing when length exceeds kMaxObjectBytes.
[[nodiscard]] int RequestDownload(std::uint32_t node, std::uint32_t timeoutMs, NodeTable& table, std::uint16_t index,
                                  std::uint8_t subIndex, const std::uint8_t* data, std::uint32_t length);

// One step of the node's client with a received frame or none. Returns the frame to
// send, or nullptr. Called only by the engine cycle.
const CanFrame* StepSdo(std::uint32_t node, NodeTable& table, const CanFrame* frame);

// Takes the result of an ended transfer: returns 0 while the client is not Done.
// Otherwise copies min(uploadLength, capacity) bytes of the data read, reports the
// count, status and abort code, returns the client to Idle and returns 1.
int FetchSdoResult(std::uint32_t node, NodeTable& table, std::uint8_t* destination, std::uint32_t capacity,
                   std::uint32_t& length, std::uint8_t& status, std::uint32_t& abortCode);

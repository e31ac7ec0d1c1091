// The slave's PDOs and the process data byte by byte, and the one pending object request.
#pragma once

#include <array>
#include <cstdint>

#include "node_table.h"

constexpr std::uint32_t kMaxPdoRows = 100;
constexpr std::uint32_t kEntryCount = 8 * kMaxPdoRows + 1;  // eight bytes a row, plus an end

// One input PDO and one output PDO side by side; the halves are filled independently.
struct PdoRow {
    std::uint32_t inputCobId;       // 11-bit COB-ID of the input PDO
    std::uint32_t outputCobId;      // 11-bit COB-ID of the output PDO
    std::uint32_t inputPdoNumber;   // n + 1 for the input PDO read from 0x1800 + n
    std::uint32_t outputPdoNumber;  // n + 1 for the output PDO read from 0x1400 + n
    std::uint8_t inputLength;       // input PDO length in bytes, 0 to 8
    std::uint8_t outputLength;      // output PDO length in bytes, 0 to 8
};

struct PdoTable {
    std::array<PdoRow, kMaxPdoRows> rows;
    std::uint32_t inputPdoCount;   // input halves valid below this row
    std::uint32_t outputPdoCount;  // output halves valid below this row
};

enum EntryKind : std::uint32_t {
    EntryEnd = 0,     // end of the list
    EntryAbsent = 1,  // no PDO byte here; skipped by every reader
    EntryNoData = 2,  // an input byte for which nothing has been received yet
    EntryData = 3,    // a received input byte, or an output byte
};

// One data byte of one PDO.
struct PdoEntry {
    std::uint32_t value;  // the data byte; upper bits always 0
    EntryKind kind;
    std::uint32_t pdoNumber;  // n + 1 of the PDO the byte belongs to
    std::uint8_t byteIndex;   // position in the PDO, 0 to 7
    std::uint32_t rxTime;     // seconds since 1970 of the last receipt (inputs only); 0 never
};

// Byte j of row i lives at index 8 * i + j; readers stop at the first End entry.
using EntryList = std::array<PdoEntry, kEntryCount>;

// One object read or write that the object dialogs hand to the exchange cycle.
struct ObjectRequest {
    std::array<std::uint8_t, kMaxObjectBytes> data;  // bytes to write, or the bytes read
    std::uint32_t index;                             // object index
    std::uint32_t subindex;                          // object subindex (8 bits)
    std::uint32_t length;                            // bytes to write; for a read, the bytes read
    std::uint32_t direction;                         // 1 write, 0 read
    std::uint32_t pending;                           // 1: waiting for the exchange cycle
};
// The exchange cycle reads into `data` with ReadObjectDefault, which fills up to
// kMaxObjectBytes, and the dialogs copy whole values of that size into it.
static_assert(sizeof ObjectRequest::data == kMaxObjectBytes);

struct ProcessImage {
    EntryList inputs;       // input bytes, filled by the exchange cycle
    EntryList sentOutputs;  // output bytes exactly as the exchange cycle sends them
    ObjectRequest request;
};

extern PdoTable pdoTable;

// Allocated once at start-up, released at program end; nullptr before and after.
extern ProcessImage* processImage;

// The operator's copy of the outputs: edited by the main window, shown by the output list.
extern EntryList OutputTable;

enum ConfigOutcome : std::uint32_t {
    ConfigOk = 0,
    ConfigCommFailure = 1,
    ConfigBadPdo = 3,
};

// Reads the PDO configuration of the slave CurrAdr, starts it and lays out the image.
ConfigOutcome ReadSlaveConfiguration();

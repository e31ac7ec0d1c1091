#include <cstring>

#include "bus_pump.h"
#include "byte_order.h"
#include "process_image.h"
#include "sdo_services.h"
#include "settings.h"

namespace {

constexpr std::uint32_t kPdoNumbers = 512;          // n = 0 to 511 for each direction
constexpr std::uint32_t kCobIdInvalid = 1u << 31;   // PDO does not exist / not valid
constexpr std::uint32_t kCobIdExtended = 1u << 29;  // 29-bit identifier

constexpr std::uint16_t kTpdoCommunication = 0x1800;
constexpr std::uint16_t kTpdoMapping = 0x1A00;
constexpr std::uint16_t kRpdoCommunication = 0x1400;
constexpr std::uint16_t kRpdoMapping = 0x1600;

// Reads a 32-bit entry. A value that arrives shorter than 4 bytes is completed with zeros.
SdoResult ReadU32(std::uint32_t node, std::uint32_t timeoutMs, std::uint16_t index,
                  std::uint8_t subIndex, std::uint32_t& value)
{
    std::uint8_t bytes[4] = {};
    std::uint32_t length = 0;
    const SdoResult result = ReadObject(node, timeoutMs, index, subIndex, bytes, sizeof bytes, length);
    value = LoadLe32(bytes);
    return result;
}

// A COB-ID this master can exchange: 11 bits, a PDO function code (3 to 10), a node.
bool UsableCobId(std::uint32_t cobId)
{
    if ((cobId & kCobIdExtended) != 0)
        return false;
    const std::uint32_t function = (cobId >> 7) & 0x0F;
    return function >= 3 && function <= 10 && (cobId & 0x7F) != 0;
}

enum class PdoRead { Found, Missing, Invalid, Failed, Bad };

// Steps 1 to 7 for one PDO: its COB-ID from the communication object and its length
// from the mapping object.
PdoRead ReadPdo(std::uint32_t node, std::uint16_t communication, std::uint16_t mapping,
                std::uint32_t cobIdTimeoutMs, std::uint32_t entryTimeoutMs, std::uint32_t& cobId,
                std::uint8_t& length)
{
    SdoResult result = ReadU32(node, cobIdTimeoutMs, communication, 1, cobId);
    if (result.failed != 0)
        return PdoRead::Failed;
    if (result.aborted != 0)
        return PdoRead::Missing;
    if ((cobId & kCobIdInvalid) != 0)
        return PdoRead::Invalid;
    if (!UsableCobId(cobId))
        return PdoRead::Bad;

    std::uint8_t count = 0;
    std::uint32_t got = 0;
    result = ReadObject(node, 1000, mapping, 0, &count, 1, got);
    if (result.failed != 0)
        return PdoRead::Failed;
    if (result.aborted != 0)
        return PdoRead::Bad;

    std::uint32_t bits = 0;
    for (std::uint32_t k = 1; k <= count; ++k) {
        std::uint32_t entry = 0;
        result = ReadU32(node, entryTimeoutMs, mapping, static_cast<std::uint8_t>(k), entry);
        if (result.failed != 0)
            return PdoRead::Failed;
        if (result.aborted != 0)
            break;  // the mapping ends with the bits counted so far
        bits += entry & 0xFF;
    }
    const std::uint32_t bytes = (bits + 7) / 8;
    if (bytes > 8)
        return PdoRead::Bad;
    length = static_cast<std::uint8_t>(bytes);
    return PdoRead::Found;
}

void LayOut(EntryList& list, std::uint32_t rowCount, bool inputs)
{
    for (std::uint32_t i = 0; i < rowCount; ++i) {
        const PdoRow& row = pdoTable.rows[i];
        const std::uint32_t length = inputs ? row.inputLength : row.outputLength;
        for (std::uint32_t j = 0; j < length; ++j) {
            PdoEntry& entry = list[8 * i + j];
            entry.kind = inputs ? EntryNoData : EntryData;
            entry.pdoNumber = inputs ? row.inputPdoNumber : row.outputPdoNumber;
            entry.byteIndex = static_cast<std::uint8_t>(j);
            if (inputs)
                entry.rxTime = 0;
        }
    }
    std::uint32_t end = 0;
    if (rowCount != 0) {
        const PdoRow& last = pdoTable.rows[rowCount - 1];
        end = 8 * (rowCount - 1) + (inputs ? last.inputLength : last.outputLength);
    }
    list[end].kind = EntryEnd;
}

}  // namespace

ConfigOutcome ReadSlaveConfiguration()
{
    const std::uint32_t node = static_cast<std::uint32_t>(appSettings.CurrAdr);

    // Step A: input PDOs, the slave's transmit PDOs.
    pdoTable.inputPdoCount = 0;
    for (std::uint32_t n = 0; n < kPdoNumbers; ++n) {
        std::uint32_t cobId = 0;
        std::uint8_t length = 0;
        switch (ReadPdo(node, static_cast<std::uint16_t>(kTpdoCommunication + n),
                        static_cast<std::uint16_t>(kTpdoMapping + n), 1000, 1000, cobId, length)) {
        case PdoRead::Failed:
            return ConfigCommFailure;
        case PdoRead::Bad:
            return ConfigBadPdo;
        case PdoRead::Missing:
        case PdoRead::Invalid:
            continue;
        case PdoRead::Found:
            break;
        }
        PdoRow& row = pdoTable.rows[pdoTable.inputPdoCount];
        row.inputCobId = cobId & 0x7FF;
        row.inputPdoNumber = n + 1;
        row.inputLength = length;
        // Transmission type 255 (event-driven); the slave may refuse, which changes nothing.
        const std::uint8_t transmissionType[4] = {0xFF, 0x00, 0x00, 0x00};
        WriteObject(node, 500, static_cast<std::uint16_t>(kRpdoCommunication + n), 2, transmissionType, 4);
        if (++pdoTable.inputPdoCount == kMaxPdoRows)
            break;
    }

    // Step B: output PDOs, the slave's receive PDOs.
    pdoTable.outputPdoCount = 0;
    for (std::uint32_t n = 0; n < kPdoNumbers; ++n) {
        std::uint32_t cobId = 0;
        std::uint8_t length = 0;
        switch (ReadPdo(node, static_cast<std::uint16_t>(kRpdoCommunication + n),
                        static_cast<std::uint16_t>(kRpdoMapping + n), 500, 500, cobId, length)) {
        case PdoRead::Failed:
            return ConfigCommFailure;
        case PdoRead::Bad:
            return ConfigBadPdo;
        case PdoRead::Missing:
        case PdoRead::Invalid:
            continue;
        case PdoRead::Found:
            break;
        }
        PdoRow& row = pdoTable.rows[pdoTable.outputPdoCount];
        row.outputCobId = cobId & 0x7FF;
        row.outputPdoNumber = n + 1;
        row.outputLength = length;
        if (++pdoTable.outputPdoCount == kMaxPdoRows)
            break;
    }

    // Step C: start the slave.
    CanFrame start{};
    start.id = 0;
    start.length = 2;
    start.data[0] = kNmtStartRemoteNode;
    start.data[1] = static_cast<std::uint8_t>(node);
    if (SendFrame(start) == 0)
        return ConfigCommFailure;

    // Step D: lay out the process image.
    for (std::uint32_t k = 0; k < kEntryCount; ++k) {
        processImage->inputs[k].kind = EntryAbsent;
        processImage->sentOutputs[k].kind = EntryAbsent;
    }
    LayOut(processImage->inputs, pdoTable.inputPdoCount, true);
    LayOut(processImage->sentOutputs, pdoTable.outputPdoCount, false);
    OutputTable = processImage->sentOutputs;
    return ConfigOk;
}

#include <cstring>

#include "bus_pump.h"
#include "byte_order.h"
#include "node_table.h"
#include "process_image.h"
#include "sdo_services.h"
#include "settings_values.h"

namespace {

constexpr std::uint32_t kPdoNumbers = 512;          // n = 0 to 511 for each direction
constexpr std::uint32_t kCobIdInvalid = 1u << 31;   // PDO does not exist / not valid
constexpr std::uint32_t kCobIdExtended = 1u << 29;  // 29-bit identifier

constexpr std::uint16_t kTpdoCommunication = 0x1800;
constexpr std::uint16_t kTpdoMapping = 0x1A00;
constexpr std::uint16_t kRpdoCommunication = 0x1400;
constexpr std::uint16_t kRpdoMapping = 0x1600;

// Time-outs of the reading: the input PDOs get a second, the output PDOs the default.
constexpr std::uint32_t kInputPdoTimeoutMs = 1000;
constexpr std::uint32_t kMappingCountTimeoutMs = 1000;
constexpr std::uint32_t kOutputPdoTimeoutMs = kDefaultSdoTimeoutMs;
constexpr std::uint32_t kTransmissionTypeTimeoutMs = kDefaultSdoTimeoutMs;

// Reads a 32-bit entry. A value that arrives shorter than 4 bytes is completed with zeros.
SdoResult ReadU32(std::uint32_t node, std::uint32_t timeoutMs, std::uint16_t index, std::uint8_t subIndex,
                  std::uint32_t& value)
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
    const std::uint32_t function = FunctionCode(cobId);
    return function >= 3 && function <= 10 && NodeNumber(cobId) != 0;
}

enum class PdoRead { Found, Missing, Invalid, Failed, Bad };

// Reads one PDO: its COB-ID from the communication object and its length
// from the mapping object.
PdoRead ReadPdo(std::uint32_t node, std::uint16_t communication, std::uint16_t mapping, std::uint32_t cobIdTimeoutMs,
                std::uint32_t entryTimeoutMs, std::uint32_t& cobId, std::uint8_t& length)
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
    result = ReadObject(node, kMappingCountTimeoutMs, mapping, 0, &count, 1, got);
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

// One direction of the reading: the valid PDOs n = 0 to 511 into the table's rows, in
// order, at most kMaxPdoRows. Both directions run the same loop; only the objects, the
// time-out and the half of the rows differ.
struct Direction {
    std::uint16_t communication;  // 0x1800 (inputs) or 0x1400 (outputs)
    std::uint16_t mapping;        // 0x1A00 or 0x1600
    std::uint32_t timeoutMs;      // for the COB-ID and the mapping entries
    bool inputs;
};

ConfigOutcome ReadDirection(std::uint32_t node, const Direction& direction)
{
    std::uint32_t& count = direction.inputs ? pdoTable.inputPdoCount : pdoTable.outputPdoCount;
    count = 0;
    for (std::uint32_t n = 0; n < kPdoNumbers; ++n) {
        std::uint32_t cobId = 0;
        std::uint8_t length = 0;
        switch (ReadPdo(node, static_cast<std::uint16_t>(direction.communication + n),
                        static_cast<std::uint16_t>(direction.mapping + n), direction.timeoutMs, direction.timeoutMs,
                        cobId, length)) {
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
        PdoRow& row = pdoTable.rows[count];
        if (direction.inputs) {
            row.inputCobId = cobId & 0x7FF;
            row.inputPdoNumber = n + 1;
            row.inputLength = length;
            // Transmission type 255 (event-driven); the slave may refuse, which changes
            // nothing. It goes to 0x1400 + n although this is the input loop: kept on
            // purpose, slaves already commissioned with this master rely on it.
            const std::uint8_t transmissionType[4] = {0xFF, 0x00, 0x00, 0x00};
            WriteObject(node, kTransmissionTypeTimeoutMs, static_cast<std::uint16_t>(kRpdoCommunication + n), 2,
                        transmissionType, 4);
        } else {
            row.outputCobId = cobId & 0x7FF;
            row.outputPdoNumber = n + 1;
            row.outputLength = length;
        }
        if (++count == kMaxPdoRows)
            break;
    }
    return ConfigOk;
}

}  // namespace

ConfigOutcome ReadSlaveConfiguration()
{
    const std::uint32_t node = static_cast<std::uint32_t>(appSettings.CurrAdr);

    // Input PDOs, the slave's transmit PDOs.
    ConfigOutcome outcome = ReadDirection(node, {kTpdoCommunication, kTpdoMapping, kInputPdoTimeoutMs, true});
    if (outcome != ConfigOk)
        return outcome;

    // Output PDOs, the slave's receive PDOs.
    outcome = ReadDirection(node, {kRpdoCommunication, kRpdoMapping, kOutputPdoTimeoutMs, false});
    if (outcome != ConfigOk)
        return outcome;

    // Start the slave: only from here on does it exchange PDOs.
    if (SendNmtCommand(node, kNmtStartRemoteNode) == 0)
        return ConfigCommFailure;

    // Lay out the process image from the rows just read: every entry absent, then one
    // entry per PDO byte; the operator's outputs start from the laid-out outputs.
    for (std::uint32_t k = 0; k < kEntryCount; ++k) {
        processImage->inputs[k].kind = EntryAbsent;
        processImage->sentOutputs[k].kind = EntryAbsent;
    }
    LayOut(processImage->inputs, pdoTable.inputPdoCount, true);
    LayOut(processImage->sentOutputs, pdoTable.outputPdoCount, false);
    OutputTable = processImage->sentOutputs;
    return ConfigOk;
}

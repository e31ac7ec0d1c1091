// Reads arbitrary text as an EDS or DCF file and checks what must always hold: a refused
// text gives one short error line and no entries; a read one gives sorted entries whose
// values have their data type's size, at most kMaxEntries of them.
//
// The first byte is the node ID for $NODEID; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "eds_reader.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool FitsType(const std::vector<std::uint8_t>& value, std::uint16_t dataType)
{
    const std::uint32_t size = eds::DataTypeSize(dataType);
    return size == eds::kVariableSize || value.size() == size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t nodeId = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    eds::Device device;
    std::string error;
    if (!eds::ReadDevice(text, nodeId, device, error)) {
        Check(!error.empty() && error.size() < 256 && error.find('\n') == std::string::npos);
        Check(device.entries.empty());
        return 0;
    }
    Check(error.empty());
    Check(device.entries.size() <= eds::kMaxEntries);
    for (std::size_t i = 0; i < device.entries.size(); ++i) {
        const eds::Entry& entry = device.entries[i];
        if (i > 0) {
            const eds::Entry& before = device.entries[i - 1];
            Check(before.index < entry.index || (before.index == entry.index && before.subIndex < entry.subIndex));
        }
        const std::uint32_t typeSize = eds::DataTypeSize(entry.dataType);
        Check(!entry.hasDefault || (typeSize != 0 && FitsType(entry.defaultValue, entry.dataType)));
        Check(entry.hasDefault || entry.defaultValue.empty());
        Check(entry.lowLimit.empty() || (typeSize != eds::kVariableSize && entry.lowLimit.size() == typeSize));
        Check(entry.highLimit.empty() || (typeSize != eds::kVariableSize && entry.highLimit.size() == typeSize));
        const int where = eds::CompareWithLimits(entry, entry.defaultValue.data(), entry.defaultValue.size());
        Check(where >= -1 && where <= 1);
        Check(eds::AccessName(entry.access)[0] != '\0');
    }
    return 0;
}

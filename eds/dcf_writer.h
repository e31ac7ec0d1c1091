// Device configuration files (CiA 306, DCF): an EDS or DCF text as it was read, with the
// values of one commissioned device.
//
// The source's sections, keys, comments and line ends stay as they are. Each entry with a
// value gets ParameterValue in its section (a ParameterValue there before is replaced);
// the entries of a CompactSubObj object get theirs in the object's [XXXXValue] section,
// which is written anew (or added). [FileInfo] takes FileName and LastEDS, and
// [DeviceComissioning] is written anew at the end. DefaultValue stays as written,
// $NODEID included; a value that is the $NODEID expression's value for the node keeps the
// expression, so the file serves another node of the series as well.
//
// Not every value can be written in a file: a DOMAIN, a string with a line end, control
// characters or blanks at its ends, a real number that is no finite number. Such an entry
// keeps what its section had, with a comment that says why, and the report counts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "eds_reader.h"

namespace eds {

// What [DeviceComissioning] and [FileInfo] say.
struct Commissioning {
    std::uint8_t nodeId = 0;
    std::uint32_t baudrateKbit = 0;  // 0: the key is left out
    std::string nodeName;            // NodeName; empty: left out
    std::string fileName;            // FileName of [FileInfo]: the DCF's own name
    std::string edsName;             // LastEDS: the file the values were read against
};

struct DcfReport {
    std::size_t values = 0;                     // entries written with a value
    std::vector<std::size_t> notRepresentable;  // positions in device.entries
};

// The ParameterValue text of `data` for `entry`; false when the value cannot be written
// in a file (see above). Unsigned numbers in hex with the type's digits, signed ones in
// decimal, reals with the digits that read back to the same bits, strings as they are,
// octet strings as hex digits.
bool ValueText(const Entry& entry, const std::uint8_t* data, std::size_t length, std::string& text);

// The DCF text: `source` is the text `device` was read from (for `commissioning.nodeId`),
// `values[i]` the value of device.entries[i] (nullptr: none). False, with a reason in
// `error`, when `values` does not match the entries.
bool WriteDcf(std::string_view source, const Device& device, std::span<const std::vector<std::uint8_t>* const> values,
              const Commissioning& commissioning, std::string& out, DcfReport& report, std::string& error);

}  // namespace eds

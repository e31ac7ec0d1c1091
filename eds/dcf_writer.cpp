#include "dcf_writer.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "ascii_text.h"
#include "byte_order.h"
#include "ini_file.h"

namespace eds {
namespace {

constexpr std::string_view kCommentMarks = ";";

bool ContainsNodeId(std::string_view text)
{
    constexpr std::string_view kNodeId = "$NODEID";
    for (std::size_t i = 0; i + kNodeId.size() <= text.size(); ++i) {
        if (ascii::EqualsNoCase(text.substr(i, kNodeId.size()), kNodeId))
            return true;
    }
    return false;
}

// A string the INI line keeps byte for byte: no line end or other control character, and
// no blank at either end (the reader trims values).
bool FitsOnALine(const std::uint8_t* data, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (data[i] < 0x20 || data[i] == 0x7F)
            return false;
    }
    return length == 0 || (data[0] != ' ' && data[length - 1] != ' ');
}

std::string HexDigits(const std::uint8_t* data, std::size_t length)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(2 * length);
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(kDigits[data[i] >> 4]);
        text.push_back(kDigits[data[i] & 0xF]);
    }
    return text;
}

// Position of the entry (index, subIndex) among the sorted entries, or npos.
std::size_t FindEntry(const Device& device, std::uint16_t index, std::uint8_t subIndex)
{
    const auto at =
        std::lower_bound(device.entries.begin(), device.entries.end(), std::pair{index, subIndex},
                         [](const Entry& entry, const std::pair<std::uint16_t, std::uint8_t>& key) {
                             return entry.index != key.first ? entry.index < key.first : entry.subIndex < key.second;
                         });
    if (at == device.entries.end() || at->index != index || at->subIndex != subIndex)
        return std::string_view::npos;
    return static_cast<std::size_t>(at - device.entries.begin());
}

// The objects written with CompactSubObj: their values go to [XXXXValue].
std::unordered_set<std::uint16_t> CompactObjects(std::string_view text)
{
    std::unordered_set<std::uint16_t> compact;
    SectionName section;
    bool inObject = false;
    while (!text.empty()) {
        const ini::Line line = ini::TakeLine(text, kCommentMarks);
        if (line.kind == ini::LineKind::Section) {
            inObject = ClassifySectionName(line.name, section) && section.part == SectionPart::Object;
        } else if (line.kind == ini::LineKind::KeyValue && inObject && ascii::EqualsNoCase(line.key, "CompactSubObj")) {
            bool negative = false;
            std::uint64_t count = 0;
            if (ParseNumber(line.value, 0, negative, count) && !negative && count != 0)
                compact.insert(section.index);
        }
    }
    return compact;
}

// What the writer does with the section it is in.
enum class Role : std::uint8_t {
    Copy,           // every line as it is
    Entry,          // an entry's section: ParameterValue replaced when there is a value
    CompactValues,  // [XXXXValue] of a CompactSubObj object: written anew
    FileInfo,       // FileName and LastEDS replaced
    Commissioning,  // left out: written anew at the end
};

class Writer {
public:
    Writer(const Device& device, std::span<const std::vector<std::uint8_t>* const> values,
           const Commissioning& commissioning, std::string& out, DcfReport& report)
        : device_(device), values_(values), commissioning_(commissioning), out_(out), report_(report)
    {}

    void Write(std::string_view source)
    {
        compact_ = CompactObjects(source);
        const std::size_t firstEnd = source.find('\n');
        newline_ = firstEnd != std::string_view::npos && firstEnd > 0 && source[firstEnd - 1] == '\r' ? "\r\n" : "\n";
        std::string_view rest = source;
        while (!rest.empty()) {
            const std::size_t before = rest.size();
            const ini::Line line = ini::TakeLine(rest, kCommentMarks);
            std::string_view raw = source.substr(source.size() - before, before - rest.size());
            if (line.kind == ini::LineKind::Section) {
                EndSection();
                BeginSection(line.name);
            }
            if (role_ == Role::Commissioning || role_ == Role::CompactValues)
                continue;
            if (line.kind == ini::LineKind::KeyValue && Replaced(line.key))
                continue;
            // The last line of a file without a line end gets one, as lines follow it.
            std::string terminated;
            if (raw.empty() || raw.back() != '\n') {
                terminated.assign(raw).append(newline_);
                raw = terminated;
            }
            // Blank and comment lines at a section's end stay after what is added to it.
            if (line.kind == ini::LineKind::Blank || line.kind == ini::LineKind::Comment) {
                tail_.append(raw);
            } else {
                out_.append(tail_).append(raw);
                tail_.clear();
            }
        }
        EndSection();
        // A CompactSubObj object without its [XXXXValue] section gets one at the end.
        std::vector<std::uint16_t> missing;
        for (const std::uint16_t index : compact_) {
            if (compactWritten_.count(index) == 0 && HasValues(index))
                missing.push_back(index);
        }
        std::sort(missing.begin(), missing.end());
        for (const std::uint16_t index : missing) {
            out_.append(newline_);
            WriteCompactValues(index);
        }
        WriteCommissioning();
    }

private:
    void BeginSection(std::string_view name)
    {
        role_ = Role::Copy;
        entry_ = std::string_view::npos;
        SectionName section;
        if (ascii::EqualsNoCase(name, kCommissioningSection)) {
            role_ = Role::Commissioning;
        } else if (ascii::EqualsNoCase(name, "FileInfo")) {
            role_ = Role::FileInfo;
        } else if (ClassifySectionName(name, section)) {
            if (section.part == SectionPart::Values && compact_.count(section.index) != 0) {
                role_ = Role::CompactValues;
                compactIndex_ = section.index;
                compactWritten_.insert(section.index);
            } else if (section.part == SectionPart::Sub && section.subIndex >= 0 &&
                       compact_.count(section.index) == 0) {
                entry_ = FindEntry(device_, section.index, static_cast<std::uint8_t>(section.subIndex));
            } else if (section.part == SectionPart::Object && compact_.count(section.index) == 0) {
                // A VAR or DOMAIN object is its own entry; an array's [XXXX] holds none.
                const std::size_t found = FindEntry(device_, section.index, 0);
                if (found != std::string_view::npos &&
                    (device_.entries[found].objectType == 0x7 || device_.entries[found].objectType == 0x2))
                    entry_ = found;
            }
            if (entry_ != std::string_view::npos) {
                role_ = Role::Entry;
                hasText_ = EntryText(entry_, text_);
            }
        }
    }

    void EndSection()
    {
        switch (role_) {
        case Role::Entry:
            if (hasText_) {
                Key("ParameterValue", text_);
                ++report_.values;
            } else if (values_[entry_] != nullptr) {
                out_.append("; ParameterValue not saved: ")
                    .append(device_.entries[entry_].dataType == kTypeDomain ? "DOMAIN"
                                                                            : "the value cannot be written here")
                    .append(newline_);
                report_.notRepresentable.push_back(entry_);
            }
            break;
        case Role::FileInfo:
            if (!commissioning_.fileName.empty())
                Key("FileName", commissioning_.fileName);
            if (!commissioning_.edsName.empty())
                Key("LastEDS", commissioning_.edsName);
            break;
        case Role::CompactValues:
            WriteCompactValues(compactIndex_);
            break;
        case Role::Copy:
        case Role::Commissioning:
            break;
        }
        out_.append(tail_);
        tail_.clear();
        role_ = Role::Copy;
    }

    // Keys the writer itself sets in the section it is in.
    bool Replaced(std::string_view key) const
    {
        switch (role_) {
        case Role::Entry:
            return hasText_ && ascii::EqualsNoCase(key, "ParameterValue");
        case Role::FileInfo:
            return (!commissioning_.fileName.empty() && ascii::EqualsNoCase(key, "FileName")) ||
                   (!commissioning_.edsName.empty() && ascii::EqualsNoCase(key, "LastEDS"));
        default:
            return false;
        }
    }

    // The ParameterValue of entry `i`: the $NODEID expression when it gives the value read.
    bool EntryText(std::size_t i, std::string& text) const
    {
        const std::vector<std::uint8_t>* value = values_[i];
        if (value == nullptr)
            return false;
        const Entry& entry = device_.entries[i];
        if (entry.hasDefault && entry.defaultValue == *value && ContainsNodeId(entry.defaultText)) {
            text = entry.defaultText;
            return true;
        }
        return ValueText(entry, value->data(), value->size(), text);
    }

    bool HasValues(std::uint16_t index) const
    {
        for (std::size_t i = FindEntry(device_, index, 0); i < device_.entries.size(); ++i) {
            if (device_.entries[i].index != index)
                break;
            if (device_.entries[i].subIndex != 0 && values_[i] != nullptr)
                return true;
        }
        return false;
    }

    void WriteCompactValues(std::uint16_t index)
    {
        const std::size_t first = FindEntry(device_, index, 0);
        if (first == std::string_view::npos)
            return;
        out_.append("[").append(HexIndex(index)).append("Value]").append(newline_);
        std::size_t count = 0;
        std::string lines;
        for (std::size_t i = first + 1; i < device_.entries.size() && device_.entries[i].index == index; ++i) {
            const Entry& entry = device_.entries[i];
            std::string text;
            if (EntryText(i, text)) {
                ++report_.values;
            } else if (entry.hasDefault) {
                if (values_[i] != nullptr)
                    report_.notRepresentable.push_back(i);
                text = entry.defaultText;
            } else {
                if (values_[i] != nullptr)
                    report_.notRepresentable.push_back(i);
                continue;
            }
            ++count;
            lines.append(std::to_string(entry.subIndex)).append("=").append(text).append(newline_);
        }
        Key("NrOfEntries", std::to_string(count));
        out_.append(lines);
    }

    void WriteCommissioning()
    {
        out_.append(newline_).append("[").append(kCommissioningSection).append("]").append(newline_);
        Key("NodeID", std::to_string(commissioning_.nodeId));
        if (!commissioning_.nodeName.empty())
            Key("NodeName", commissioning_.nodeName);
        if (commissioning_.baudrateKbit != 0)
            Key("Baudrate", std::to_string(commissioning_.baudrateKbit));
    }

    void Key(std::string_view key, std::string_view value)
    {
        out_.append(key).append("=").append(value).append(newline_);
    }

    static std::string HexIndex(std::uint16_t index)
    {
        char text[8];
        std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(index));
        return text;
    }

    const Device& device_;
    std::span<const std::vector<std::uint8_t>* const> values_;
    const Commissioning& commissioning_;
    std::string& out_;
    DcfReport& report_;
    std::unordered_set<std::uint16_t> compact_;
    std::unordered_set<std::uint16_t> compactWritten_;
    std::string_view newline_ = "\n";
    std::string tail_;
    Role role_ = Role::Copy;
    std::size_t entry_ = std::string_view::npos;
    std::uint16_t compactIndex_ = 0;
    bool hasText_ = false;
    std::string text_;
};

}  // namespace

bool ValueText(const Entry& entry, const std::uint8_t* data, std::size_t length, std::string& text)
{
    const std::uint16_t type = entry.dataType;
    const std::uint32_t size = DataTypeSize(type);
    if (size == 0 || type == kTypeDomain)
        return false;
    if (IsStringType(type)) {
        if (!FitsOnALine(data, length))
            return false;
        text.assign(reinterpret_cast<const char*>(data), length);
        return true;
    }
    if (size == kVariableSize) {
        text = HexDigits(data, length);
        return true;
    }
    if (length != size || size > 8)
        return false;
    char buffer[40];
    if (IsRealType(type)) {
        double number = 0;
        if (size == 4) {
            float single = 0;
            std::memcpy(&single, data, 4);
            number = single;
        } else {
            std::memcpy(&number, data, 8);
        }
        if (!std::isfinite(number))
            return false;
        std::snprintf(buffer, sizeof buffer, size == 4 ? "%.9g" : "%.17g", number);
    } else {
        std::uint64_t raw = 0;
        for (std::uint32_t i = 0; i < size; ++i)
            raw |= std::uint64_t{data[i]} << (8 * i);
        if (type == kTypeBoolean) {
            std::snprintf(buffer, sizeof buffer, "%" PRIu64, raw);
        } else if (IsSignedType(type)) {
            const unsigned shift = 64 - 8 * size;
            const auto value = static_cast<std::int64_t>(raw << shift) >> shift;
            std::snprintf(buffer, sizeof buffer, "%" PRId64, value);
        } else {
            std::snprintf(buffer, sizeof buffer, "0x%0*" PRIX64, static_cast<int>(2 * size), raw);
        }
    }
    text = buffer;
    return true;
}

bool WriteDcf(std::string_view source, const Device& device, std::span<const std::vector<std::uint8_t>* const> values,
              const Commissioning& commissioning, std::string& out, DcfReport& report, std::string& error)
{
    out.clear();
    report = DcfReport{};
    if (values.size() != device.entries.size()) {
        error = "the values do not match the file's entries";
        return false;
    }
    out.reserve(source.size() + source.size() / 4 + 256);
    Writer(device, values, commissioning, out, report).Write(source);
    return true;
}

}  // namespace eds

#include "slave_dictionary.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "ascii_text.h"
#include "bus_open.h"
#include "byte_order.h"
#include "comm_state.h"
#include "communication.h"
#include "files.h"
#include "node_table.h"
#include "resource.h"
#include "sdo_services.h"
#include "settings_values.h"
#include "node_monitor.h"
#include "slave_search.h"

ObjectDictionary objectDictionary;
int dictionaryBusy = 0;
int dictionaryAbort = 0;

namespace {

constexpr std::uint16_t kIdentityObject = 0x1018;
constexpr std::uint8_t kVendorSub = 1;
constexpr std::uint8_t kProductSub = 2;
constexpr std::uint16_t kDeviceTypeObject = 0x1000;
constexpr std::uint32_t kPathBytes = 4 * 260 + 1;  // a Windows path of 260 characters in UTF-8
constexpr std::size_t kErrorChars =
    150;  // of an error line shown in a message (its box fills in 198 characters at most)

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part)
{
    if (part.empty())
        return true;
    if (part.size() > text.size())
        return false;
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < part.size() && LowerAscii(text[at + i]) == LowerAscii(part[i]))
            ++i;
        if (i == part.size())
            return true;
    }
    return false;
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && ContainsIgnoringCase(text.substr(text.size() - end.size()), end);
}

// Up to `maxDigits` hex digits, after an optional 0x; at least one.
bool TakeHex(std::string_view& text, std::size_t maxDigits, std::uint32_t& value, std::size_t& digits)
{
    if (text.size() > 2 && text[0] == '0' && LowerAscii(text[1]) == 'x')
        text.remove_prefix(2);
    value = 0;
    digits = 0;
    while (!text.empty() && ascii::HexDigit(text.front()) >= 0) {
        if (++digits > maxDigits)
            return false;
        value = value << 4 | static_cast<std::uint32_t>(ascii::HexDigit(text.front()));
        text.remove_prefix(1);
    }
    return digits > 0;
}

void SkipBlanks(std::string_view& text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
}

std::string_view Trimmed(std::string_view text)
{
    SkipBlanks(text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A code point as UTF-8.
void AppendUtf8(std::string& text, std::uint32_t code)
{
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | code >> 6);
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | code >> 12);
        text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | code >> 18);
        text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void ShowUnreadable(OwnerHandle owner, const std::string& error)
{
    const std::wstring line = WideFromUtf8(error.substr(0, kErrorChars));
    Operator().askQuestion(owner, FormOkWarning, IDS_EDS_UNREADABLE, line.c_str());
}

void Install(std::uint8_t node, EdsSource source, const std::string& path, eds::Device& device)
{
    objectDictionary.node = node;
    objectDictionary.source = source;
    objectDictionary.path = path;
    objectDictionary.device = std::move(device);
    objectDictionary.values.assign(objectDictionary.device.entries.size(), EntryValue{});
}

std::uint8_t CurrentNode()
{
    return static_cast<std::uint8_t>(appSettings.CurrAdr & 0x7F);
}

// The operator's choice for `node`: read, remembered and shown. 0 when cancelled or
// unreadable.
int PickFor(OwnerHandle owner, std::uint8_t node)
{
    char chosen[kPathBytes] = "";
    if (Operator().askForEdsFile(owner, chosen, sizeof chosen) == 0)
        return 0;
    eds::Device device;
    std::string error;
    if (ReadEdsFile(chosen, node, device, error) == 0) {
        ShowUnreadable(owner, error);
        return 0;
    }
    Operator().keepEdsChoice(node, chosen);
    Install(node, EdsSource::Picked, chosen, device);
    return 1;
}

}  // namespace

std::wstring WideFromUtf8(std::string_view text)
{
    std::wstring wide;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i++]);
        std::uint32_t code = lead;
        if (lead >= 0x80) {
            const std::size_t extra = lead >= 0xF0 && lead < 0xF5   ? 3
                                      : lead >= 0xE0 && lead < 0xF0 ? 2
                                      : lead >= 0xC2 && lead < 0xE0 ? 1
                                                                    : 0;
            std::uint32_t value = lead & (0x3Fu >> extra);
            std::size_t k = 0;
            while (k < extra && i + k < text.size() && (static_cast<std::uint8_t>(text[i + k]) & 0xC0) == 0x80) {
                value = value << 6 | (static_cast<std::uint8_t>(text[i + k]) & 0x3Fu);
                ++k;
            }
            if (extra == 0 || k < extra) {
                code = 0xFFFD;
            } else {
                code = value;
                i += extra;
            }
        }
        if (code >= 0x10000 && sizeof(wchar_t) == 2) {
            code -= 0x10000;
            wide += static_cast<wchar_t>(0xD800 + (code >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(code);
        }
    }
    return wide;
}

int ReadSlaveIdentity(OwnerHandle owner, std::uint32_t node, SlaveIdentity& identity)
{
    identity = SlaveIdentity{};
    // Not while a slave search or the node monitor holds the bus (see ReadAllEntries).
    if (scanRunning != 0 || monitorBusy != 0)
        return 0;
    const bool ownBus = commState.active == 0;
    if (ownBus && OpenBus(owner, appSettings.Baud) == 0)
        return 0;
    struct Item {
        std::uint16_t index;
        std::uint8_t subIndex;
        std::uint32_t* value;
        bool* known;
    };
    const Item items[] = {
        {kIdentityObject, kVendorSub, &identity.vendorNumber, &identity.hasVendorNumber},
        {kIdentityObject, kProductSub, &identity.productNumber, &identity.hasProductNumber},
        {kDeviceTypeObject, 0, &identity.deviceType, &identity.hasDeviceType},
    };
    dictionaryBusy = 1;
    SdoResult failure{};
    for (const Item& item : items) {
        std::uint8_t data[4] = {};
        std::uint32_t length = 0;
        const SdoResult result =
            ReadObject(node, kDefaultSdoTimeoutMs, item.index, item.subIndex, data, sizeof data, length);
        if (result.failed != 0) {
            failure = result;
            break;
        }
        if (result.aborted == 0 && length > 0) {
            *item.value = static_cast<std::uint32_t>(LoadLeUnsigned(data, length));
            *item.known = true;
        }
    }
    dictionaryBusy = 0;
    if (failure.failed != 0) {
        if (ownBus)
            Operator().showMessage(owner, IDS_COMM_FAILURE);
        else
            CheckCommFailure(owner, failure);
    }
    if (ownBus)
        CloseBus();
    return failure.failed == 0;
}

int ReadEdsFile(const char* path, std::uint8_t node, eds::Device& device, std::string& error)
{
    // The error line names the file: a remembered file is not one the operator has just
    // picked. A file that cannot be opened is named by its whole path, which says why.
    std::string text;
    switch (ReadWholeFile(path, kMaxEdsFileBytes, text)) {
    case ReadFileResult::Missing:
        error = path;
        return 0;
    case ReadFileResult::TooLarge:
        error = std::string(path) + ": > " + std::to_string(kMaxEdsFileBytes) + " bytes";
        return 0;
    case ReadFileResult::Ok:
        break;
    }
    device = eds::Device{};
    if (eds::ReadDevice(text, node, device, error))
        return 1;
    const std::string_view whole(path);
    const std::size_t slash = whole.find_last_of("\\/");
    error = std::string(slash == std::string_view::npos ? whole : whole.substr(slash + 1)) + ": " + error;
    return 0;
}

EdsSource FindEdsFile(const char* folder, const SlaveIdentity& identity, std::uint8_t node, std::string& path,
                      eds::Device& device)
{
    std::vector<std::string> names;
    if (!ListFileNames(folder, names))
        return EdsSource::None;
    std::sort(names.begin(), names.end());
    const bool byIdentity = identity.hasVendorNumber && identity.hasProductNumber;
    std::string typePath;
    eds::Device typeDevice;
    bool typeFound = false;
    for (const std::string& name : names) {
        if (!EndsWithIgnoringCase(name, ".eds") && !EndsWithIgnoringCase(name, ".dcf"))
            continue;
        const std::string candidate = std::string(folder) + kPathSeparator + name;
        eds::Device read;
        std::string error;
        if (ReadEdsFile(candidate.c_str(), node, read, error) == 0)
            continue;
        const eds::DeviceInfo& info = read.info;
        if (byIdentity && info.hasVendorNumber && info.hasProductNumber && info.vendorNumber == identity.vendorNumber &&
            info.productNumber == identity.productNumber) {
            path = candidate;
            device = std::move(read);
            return EdsSource::Identity;
        }
        if (!typeFound && identity.hasDeviceType && read.hasDeviceType && read.deviceType == identity.deviceType) {
            typeFound = true;
            typePath = candidate;
            typeDevice = std::move(read);
        }
    }
    if (!typeFound)
        return EdsSource::None;
    path = typePath;
    device = std::move(typeDevice);
    return EdsSource::DeviceType;
}

int OpenSlaveDictionary(OwnerHandle owner, const char* folder)
{
    ResetObjectDictionary();
    const std::uint8_t node = CurrentNode();
    objectDictionary.node = node;
    SlaveIdentity identity;
    ReadSlaveIdentity(owner, node, identity);

    std::string path;
    eds::Device device;
    const EdsSource found = FindEdsFile(folder, identity, node, path, device);
    if (found != EdsSource::None) {
        Install(node, found, path, device);
        return 1;
    }
    char remembered[kPathBytes] = "";
    if (Operator().lookUpEdsChoice(node, remembered, sizeof remembered) != 0) {
        std::string error;
        if (ReadEdsFile(remembered, node, device, error) != 0) {
            Install(node, EdsSource::Remembered, remembered, device);
            return 1;
        }
        ShowUnreadable(owner, error);
    }
    return PickFor(owner, node);
}

int PickSlaveDictionary(OwnerHandle owner)
{
    return PickFor(owner, CurrentNode());
}

void AbortReadAll()
{
    dictionaryAbort = 1;
}

std::uint32_t ReadableEntryCount()
{
    std::uint32_t count = 0;
    for (const eds::Entry& entry : objectDictionary.device.entries)
        count += eds::IsReadable(entry.access) ? 1 : 0;
    return count;
}

ReadAllOutcome ReadAllEntries(OwnerHandle owner, bool onlyUnread)
{
    ReadAllOutcome outcome;
    outcome.total = ReadableEntryCount();
    // A slave search holds the bus: opening it again would reload the driver under the
    // search, and closing it at the end would unload it. The node monitor's services
    // hold it in the same way.
    if (scanRunning != 0 || monitorBusy != 0)
        return outcome;
    // Everything read already: no bus is opened (and its warm-up waited for) for nothing.
    if (onlyUnread) {
        std::uint32_t known = 0;
        const std::vector<eds::Entry>& all = objectDictionary.device.entries;
        for (std::size_t i = 0; i < all.size(); ++i) {
            const ValueState state = objectDictionary.values[i].state;
            known +=
                eds::IsReadable(all[i].access) && (state == ValueState::Read || state == ValueState::Aborted) ? 1u : 0u;
        }
        if (known == outcome.total) {
            outcome.read = known;
            outcome.completed = true;
            return outcome;
        }
    }
    const bool ownBus = commState.active == 0;
    if (ownBus && OpenBus(owner, appSettings.Baud) == 0)
        return outcome;
    // Window messages are passed on between the entries, so that Abort is seen; with
    // communication on, the exchange's own setting comes back at the end.
    const MessagePumpSlot exchangePump = ActivePump;
    bool restarted = false;
    ActivePump = MessageHook;
    dictionaryBusy = 1;
    dictionaryAbort = 0;
    std::vector<eds::Entry>& entries = objectDictionary.device.entries;
    bool stop = false;
    std::uint8_t data[kMaxObjectBytes];
    for (std::size_t i = 0; i < entries.size() && !stop; ++i) {
        if (dictionaryAbort != 0)
            break;
        // The failure rule may have stopped communication; the bus is gone then.
        if (!ownBus && commState.active == 0)
            break;
        if (!eds::IsReadable(entries[i].access))
            continue;
        const ValueState before = objectDictionary.values[i].state;
        if (onlyUnread && (before == ValueState::Read || before == ValueState::Aborted)) {
            ++outcome.read;
            continue;
        }
        std::uint32_t length = 0;
        const SdoResult result = ReadObject(objectDictionary.node, kDefaultSdoTimeoutMs, entries[i].index,
                                            entries[i].subIndex, data, sizeof data, length);
        EntryValue& value = objectDictionary.values[i];
        value = EntryValue{};
        if (result.failed != 0) {
            value.state = ValueState::NoAnswer;
            // Communication off: one message, and the slave is not asked again.
            if (ownBus) {
                Operator().showMessage(owner, IDS_COMM_FAILURE);
                stop = true;
            } else {
                dictionaryBusy = 0;
                stop = CheckCommFailure(owner, result) == 0;
                dictionaryBusy = 1;
                // A restart leaves the exchange passing no messages on until the next
                // start; the reads still pass them on, for Abort.
                restarted = !stop;
                ActivePump = MessageHook;
            }
        } else if (result.aborted != 0) {
            value.state = ValueState::Aborted;
            value.abortCode = result.abortCode;
        } else {
            value.state = ValueState::Read;
            value.data.assign(data, data + length);
        }
        ++outcome.read;
        Operator().showEntryRead(owner, static_cast<std::uint32_t>(i), outcome.read, outcome.total);
        PassOneMessage();
    }
    outcome.completed = outcome.read == outcome.total && !stop;
    dictionaryBusy = 0;
    if (ownBus)
        CloseBus();
    else
        ActivePump = commState.active != 0 && !restarted ? exchangePump : nullptr;
    return outcome;
}

std::string FormatEntryData(const eds::Entry& entry, const std::uint8_t* data, std::size_t length)
{
    const std::uint16_t type = entry.dataType;
    const std::uint32_t size = eds::DataTypeSize(type);
    char text[64];
    if (size != 0 && size != eds::kVariableSize && size <= 8 && length == size) {
        const std::uint64_t raw = LoadLeUnsigned(data, length);
        if (eds::IsRealType(type)) {
            if (size == 4) {
                float value = 0;
                std::memcpy(&value, data, 4);
                std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
            } else {
                double value = 0;
                std::memcpy(&value, data, 8);
                std::snprintf(text, sizeof text, "%g", value);
            }
            return text;
        }
        const int digits = static_cast<int>(2 * size);
        if (eds::IsSignedType(type)) {
            std::snprintf(text, sizeof text, "0x%0*" PRIX64 " (%" PRId64 ")", digits, raw, SignExtend(raw, size));
        } else {
            std::snprintf(text, sizeof text, "0x%0*" PRIX64 " (%" PRIu64 ")", digits, raw, raw);
        }
        return text;
    }
    std::string shown;
    if (type == eds::kTypeVisibleString) {
        // ISO 646 text; bytes above 0x7F taken as Latin-1, control characters shown as '?'.
        for (std::size_t i = 0; i < length && data[i] != 0; ++i)
            AppendUtf8(shown, data[i] < 0x20 || data[i] == 0x7F ? '?' : data[i]);
        return shown;
    }
    if (type == eds::kTypeUnicodeString) {
        for (std::size_t i = 0; i + 1 < length; i += 2) {
            std::uint32_t unit = LoadLe16(data + i);
            if (unit == 0)
                break;
            if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < length) {
                const std::uint32_t low = LoadLe16(data + i + 2);
                if (low >= 0xDC00 && low < 0xE000) {
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            if (unit >= 0xD800 && unit < 0xE000)
                unit = 0xFFFD;  // a lone surrogate
            AppendUtf8(shown, unit < 0x20 ? '?' : unit);
        }
        return shown;
    }
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(text, sizeof text, i == 0 ? "%02X" : " %02X", data[i]);
        shown += text;
    }
    return shown;
}

std::string FormatEntryNumber(const eds::Entry& entry, const std::vector<std::uint8_t>& bytes)
{
    if (bytes.empty())
        return std::string();
    const std::uint16_t type = entry.dataType;
    const std::uint32_t size = eds::DataTypeSize(type);
    if (size == 0 || size == eds::kVariableSize || size > 8 || bytes.size() != size)
        return FormatEntryData(entry, bytes.data(), bytes.size());
    char text[40];
    const std::uint64_t raw = LoadLeUnsigned(bytes.data(), bytes.size());
    if (eds::IsRealType(type))
        return FormatEntryData(entry, bytes.data(), bytes.size());
    if (eds::IsSignedType(type)) {
        std::snprintf(text, sizeof text, "%" PRId64, SignExtend(raw, size));
    } else {
        std::snprintf(text, sizeof text, "%" PRIu64, raw);
    }
    return text;
}

bool EntryMatchesFilter(const eds::Entry& entry, std::string_view filter)
{
    filter = Trimmed(filter);
    if (filter.empty())
        return true;
    if (ContainsIgnoringCase(entry.name, filter) || ContainsIgnoringCase(entry.objectName, filter))
        return true;
    // An index, perhaps with a subindex.
    std::string_view rest = filter;
    std::uint32_t index = 0;
    std::size_t digits = 0;
    if (!TakeHex(rest, 4, index, digits))
        return false;
    SkipBlanks(rest);
    if (rest.empty()) {
        // Fewer than four digits: the first digits of the index, as typed so far.
        return static_cast<std::uint32_t>(entry.index >> (4 * (4 - digits))) == index;
    }
    if (rest.size() < 3 || LowerAscii(rest[0]) != 's' || LowerAscii(rest[1]) != 'u' || LowerAscii(rest[2]) != 'b')
        return false;
    rest.remove_prefix(3);
    SkipBlanks(rest);
    std::uint32_t subIndex = 0;
    if (!TakeHex(rest, 2, subIndex, digits) || !Trimmed(rest).empty())
        return false;
    return entry.index == index && entry.subIndex == subIndex;
}

EntryPreset PresetForType(std::uint16_t dataType)
{
    switch (dataType) {
    case eds::kTypeBoolean:
    case eds::kTypeUnsigned8:
        return {FormatUnsigned, 1};
    case eds::kTypeUnsigned16:
        return {FormatUnsigned, 2};
    case eds::kTypeUnsigned24:
        return {FormatUnsigned, 3};
    case eds::kTypeUnsigned32:
        return {FormatUnsigned, 4};
    case eds::kTypeInteger8:
        return {FormatSigned, 1};
    case eds::kTypeInteger16:
        return {FormatSigned, 2};
    case eds::kTypeInteger24:
        return {FormatSigned, 3};
    case eds::kTypeInteger32:
        return {FormatSigned, 4};
    case eds::kTypeReal32:
        return {FormatFloat, 4};
    default:
        return {FormatRaw, 0};
    }
}

void ResetObjectDictionary()
{
    objectDictionary = ObjectDictionary{};
    dictionaryBusy = 0;
    dictionaryAbort = 0;
}

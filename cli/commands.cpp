#include "commands.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "bus_open.h"
#include "bus_pump.h"
#include "abort_codes.h"
#include "bus_trace.h"
#include "configuration.h"
#include "cli_texts.h"
#include "comm_state.h"
#include "communication.h"
#include "driver.h"
#include "emergency.h"
#include "error_control.h"
#include "exchange.h"
#include "files.h"
#include "json_line.h"
#include "lss_service.h"
#include "master_start.h"
#include "node_monitor.h"
#include "object_values.h"
#include "os_services.h"
#include "process_image.h"
#include "resource.h"
#include "sdo_services.h"
#include "settings_values.h"
#include "slave_dictionary.h"
#include "slave_search.h"
#include "tick.h"

namespace {

// ---------------------------------------------------------------------------------------
// Words of the command line.

struct Parsed {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;  // in the order given
    bool help = false;

    const std::string* Option(std::string_view name) const
    {
        for (const auto& option : options)
            if (option.first == name)
                return &option.second;
        return nullptr;
    }
    bool Has(std::string_view name) const { return Option(name) != nullptr; }
};

struct CommandSpec;
using CommandFunction = int (*)(Context&, const Parsed&);

struct CommandSpec {
    const char* name;
    const char* synopsis;
    const char* description;
    std::initializer_list<const char*> valued;  // options that take a value
    std::initializer_list<const char*> flags;   // options without one
    std::size_t minPositional;
    std::size_t maxPositional;
    CommandFunction run;
};

const CommandSpec* currentCommand = nullptr;

int UsageError(Context& context, const std::string& message)
{
    context.console.Error(message + " " + CliMessage(CliText::SeeHelp));
    return ExitUsage;
}

// A failure of the current command: the message on the error side and, with --json, one
// object that says so on the result side (so that a reader of the lines sees every
// command's end). `extra` adds fields (the abort code).
int Fail(Context& context, int status, const std::string& message, JsonLine extra = {})
{
    context.console.Error(message);
    if (context.console.json) {
        extra.Text("command", currentCommand != nullptr ? currentCommand->name : "")
            .Number("status", status)
            .Text("error", message);
        context.console.Out(extra.Line());
    }
    return status;
}

bool ParseWords(Context& context, const CommandSpec& spec, const Words& words, Parsed& parsed, int& status)
{
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--help" || word == "-h") {
            parsed.help = true;
            return true;
        }
        if (word.size() > 2 && word[0] == '-' && word[1] == '-') {
            bool known = false;
            for (const char* name : spec.valued) {
                if (word == name) {
                    if (i + 1 >= words.size()) {
                        status = UsageError(context, CliMessage(CliText::MissingArgument, {word}));
                        return false;
                    }
                    parsed.options.emplace_back(word, words[++i]);
                    known = true;
                }
            }
            for (const char* name : spec.flags) {
                if (word == name) {
                    parsed.options.emplace_back(word, "");
                    known = true;
                }
            }
            if (!known) {
                status = UsageError(context, CliMessage(CliText::UnknownOption, {word}));
                return false;
            }
            continue;
        }
        parsed.positional.push_back(word);
    }
    if (parsed.positional.size() < spec.minPositional) {
        status = UsageError(context, CliMessage(CliText::MissingArgument, {spec.synopsis}));
        return false;
    }
    if (parsed.positional.size() > spec.maxPositional) {
        status = UsageError(context, CliMessage(CliText::ExtraArgument, {parsed.positional[spec.maxPositional]}));
        return false;
    }
    return true;
}

// A whole number in decimal, or in hex with 0x; nothing else may follow.
bool ParseNumber(const std::string& text, std::uint32_t limit, std::uint32_t& value, bool hexDefault = false)
{
    std::string_view digits = text;
    int base = hexDefault ? 16 : 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty() || digits.size() > 10)
        return false;
    std::uint64_t number = 0;
    for (const char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return false;
        number = number * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    if (number > limit)
        return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

bool ParseBitRate(const std::string& text, std::int32_t& baudIndex)
{
    std::string kbit = text;
    std::uint32_t factor = 1;
    if (!kbit.empty() && (kbit.back() == 'k' || kbit.back() == 'K')) {
        kbit.pop_back();
    } else if (!kbit.empty() && (kbit.back() == 'M' || kbit.back() == 'm')) {
        kbit.pop_back();
        factor = 1000;
    }
    std::uint32_t value = 0;
    if (!ParseNumber(kbit, 1000, value))
        return false;
    const BitRateRow* row = FindBitRateKbit(value * factor);
    if (row == nullptr)
        return false;
    baudIndex = static_cast<std::int32_t>(row - BitRateTable.data());
    return true;
}

bool TakeNode(Context& context, const std::string& text, std::uint32_t& node, int& status)
{
    if (ParseNumber(text, 127, node) && node >= 1)
        return true;
    status = UsageError(context, CliMessage(CliText::BadArgument, {"NODE", text}));
    return false;
}

std::string Hex(std::uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

std::string Decimal(std::uint32_t value)
{
    return std::to_string(value);
}

std::string AbortText(std::uint32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08Xh", static_cast<unsigned>(code));
    return text;
}

// The outcome of a transfer as the command's exit status, after its message.
int TransferFailure(Context& context, const SdoResult& result)
{
    if (result.aborted != 0) {
        // The program's message, and what the code means in words.
        const std::string meaning = ProgramText(AbortCodeTextId(result.abortCode));
        return Fail(context, ExitRefused,
                    ProgramText(IDS_OBJECT_ABORT, {AbortText(result.abortCode)}) + " (" + meaning + ")",
                    JsonLine{}.Text("abortCode", Hex(result.abortCode, 8)).Text("meaning", meaning));
    }
    return Fail(context, ExitNoAnswer, ProgramText(IDS_COMM_FAILURE));
}

int BusFailure(Context& context, int status)
{
    // The master has said why (message 1037 or 1001) through the operator's side.
    if (context.console.json) {
        context.console.Out(JsonLine{}
                                .Text("command", currentCommand != nullptr ? currentCommand->name : "")
                                .Number("status", status)
                                .Text("error", context.console.lastError)
                                .Line());
    }
    return status;
}

// Pads `text` to `width` characters (UTF-8 aware enough for the names of EDS files:
// continuation bytes do not count).
std::string Column(const std::string& text, std::size_t width)
{
    std::size_t shown = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++shown;
    std::string result = text;
    if (shown < width)
        result.append(width - shown, ' ');
    return result;
}

std::string BytesText(const std::uint8_t* data, std::uint32_t length)
{
    std::string text;
    char byte[4];
    for (std::uint32_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", static_cast<unsigned>(data[i]));
        text += byte;
    }
    return text;
}

// A device's text (0x1008 and the like) up to its first NUL.
std::string StringOf(const std::uint8_t* data, std::uint32_t length)
{
    std::string text(reinterpret_cast<const char*>(data), length);
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

// ---------------------------------------------------------------------------------------
// Value types of read and write.

struct ValueType {
    const char* name;
    DataFormat format;
    std::uint32_t count;  // bytes; 0: as many as the value has (raw, str)
    bool text;            // str: the bytes are characters
};

constexpr ValueType kValueTypes[] = {
    {"u8", FormatUnsigned, 1, false},  {"u16", FormatUnsigned, 2, false}, {"u24", FormatUnsigned, 3, false},
    {"u32", FormatUnsigned, 4, false}, {"i8", FormatSigned, 1, false},    {"i16", FormatSigned, 2, false},
    {"i32", FormatSigned, 4, false},   {"f32", FormatFloat, 4, false},    {"hex1", FormatHex, 1, false},
    {"hex2", FormatHex, 2, false},     {"hex3", FormatHex, 3, false},     {"hex4", FormatHex, 4, false},
    {"raw", FormatRaw, 0, false},      {"str", FormatRaw, 0, true},
};

const ValueType* FindValueType(std::string_view name)
{
    for (const ValueType& type : kValueTypes)
        if (name == type.name)
            return &type;
    return nullptr;
}

// The node's file from the eds folder beside the program, found by the identity and
// device type it reports over the open bus, as the Object Dictionary window finds it; the
// reads go unreported (a node that does not answer gets its read's own message). False
// when no file matches.
bool FindNodeFile(std::uint32_t node)
{
    SlaveIdentity identity;
    std::vector<std::uint8_t> data(kMaxObjectBytes);
    const auto readU32 = [&](std::uint16_t index, std::uint8_t sub, std::uint32_t& value) {
        std::uint32_t length = 0;
        const SdoResult result = ReadObjectDefault(node, index, sub, data.data(), length);
        if (result.failed != 0 || result.aborted != 0 || length != 4)
            return false;
        value = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
        return true;
    };
    identity.hasVendorNumber = readU32(0x1018, 1, identity.vendorNumber);
    identity.hasProductNumber = readU32(0x1018, 2, identity.productNumber);
    identity.hasDeviceType = readU32(0x1000, 0, identity.deviceType);
    std::string path;
    eds::Device device;
    const std::string folder = ProgramFolder() + "eds";
    const EdsSource source = FindEdsFile(folder.c_str(), identity, static_cast<std::uint8_t>(node), path, device);
    if (source == EdsSource::None)
        return false;
    objectDictionary.node = static_cast<std::uint8_t>(node);
    objectDictionary.source = source;
    objectDictionary.path = path;
    objectDictionary.device = std::move(device);
    objectDictionary.values.assign(objectDictionary.device.entries.size(), EntryValue{});
    return true;
}

// The type the object dialogs preset for an entry of the node's EDS file: the one given
// to dict with --eds in this session, else the one open for the node, else the one the
// eds folder holds for it; raw without a file.
const ValueType& DefaultValueType(Context& context, std::uint32_t node, std::uint16_t index, std::uint8_t sub)
{
    const ValueType& raw = kValueTypes[12];
    const auto choice = context.session.edsChoices.find(node);
    if (choice == context.session.edsChoices.end()) {
        if ((objectDictionary.node != node || objectDictionary.path.empty()) && !FindNodeFile(node))
            return raw;
    } else if (objectDictionary.node != node || objectDictionary.path != choice->second) {
        std::string error;
        eds::Device device;
        if (ReadEdsFile(choice->second.c_str(), static_cast<std::uint8_t>(node), device, error) == 0)
            return raw;
        objectDictionary.node = static_cast<std::uint8_t>(node);
        objectDictionary.source = EdsSource::Remembered;
        objectDictionary.path = choice->second;
        objectDictionary.device = std::move(device);
        objectDictionary.values.assign(objectDictionary.device.entries.size(), EntryValue{});
    }
    for (const eds::Entry& entry : objectDictionary.device.entries) {
        if (entry.index != index || entry.subIndex != sub)
            continue;
        if (entry.dataType == 0x0009)  // VISIBLE_STRING
            return kValueTypes[13];
        const EntryPreset preset = PresetForType(entry.dataType);
        for (const ValueType& type : kValueTypes)
            if (!type.text && type.format == preset.format && (type.count == preset.count || type.count == 0))
                return type;
        return raw;
    }
    return raw;
}

// The value read as text and in the JSON object: a number for the numeric types, a
// string for str, hex and raw.
std::string ShowValue(const ValueType& type, const std::uint8_t* data, std::uint32_t length, JsonLine& json)
{
    const std::uint32_t used = type.count == 0 ? length : (length < type.count ? length : type.count);
    if (type.text) {
        const std::string text = StringOf(data, length);
        json.Text("value", text);
        return text;
    }
    switch (type.format) {
    case FormatUnsigned: {
        const std::uint32_t value = ExtractValue(FormatUnsigned, used, data);
        json.Number("value", value);
        return Decimal(value);
    }
    case FormatSigned: {
        const auto value = static_cast<std::int32_t>(ExtractValue(FormatSigned, used, data));
        json.Number("value", value);
        return std::to_string(value);
    }
    case FormatFloat: {
        const std::uint32_t bits = ExtractValue(FormatFloat, 4, data);
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        json.Real("value", static_cast<double>(value));
        char text[40];
        std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
        return text;
    }
    case FormatHex: {
        const std::string text = Hex(ExtractValue(FormatHex, used, data), static_cast<int>(2 * type.count));
        json.Text("value", text);
        return text;
    }
    case FormatRaw:
    default: {
        const std::string text = BytesText(data, length);
        json.Text("value", text);
        return text;
    }
    }
}

struct ObjectAddress {
    std::uint32_t node;
    std::uint16_t index;
    std::uint8_t sub;
};

bool TakeAddress(Context& context, const Parsed& parsed, ObjectAddress& address, int& status)
{
    if (!TakeNode(context, parsed.positional[0], address.node, status))
        return false;
    std::uint32_t index = 0, sub = 0;
    if (!ParseNumber(parsed.positional[1], 0xFFFF, index, true)) {
        status = UsageError(context, CliMessage(CliText::BadArgument, {"INDEX", parsed.positional[1]}));
        return false;
    }
    if (!ParseNumber(parsed.positional[2], 0xFF, sub)) {
        status = UsageError(context, CliMessage(CliText::BadArgument, {"SUB", parsed.positional[2]}));
        return false;
    }
    address.index = static_cast<std::uint16_t>(index);
    address.sub = static_cast<std::uint8_t>(sub);
    return true;
}

JsonLine ObjectJson(const char* command, const ObjectAddress& address, const ValueType& type)
{
    JsonLine json;
    json.Text("command", command)
        .Number("node", address.node)
        .Text("index", Hex(address.index, 4))
        .Number("sub", address.sub)
        .Text("type", type.name);
    return json;
}

// ---------------------------------------------------------------------------------------
// read, write

int CmdRead(Context& context, const Parsed& parsed)
{
    ObjectAddress address{};
    int status = ExitOk;
    if (!TakeAddress(context, parsed, address, status))
        return status;
    const ValueType* type = nullptr;
    if (parsed.positional.size() > 3) {
        type = FindValueType(parsed.positional[3]);
        if (type == nullptr)
            return UsageError(context, CliMessage(CliText::BadArgument, {"TYPE", parsed.positional[3]}));
    }
    if ((status = context.session.NeedBus()) != ExitOk)
        return BusFailure(context, status);
    if (type == nullptr)
        type = &DefaultValueType(context, address.node, address.index, address.sub);
    std::vector<std::uint8_t> data(kMaxObjectBytes);
    std::uint32_t length = 0;
    const SdoResult result = ReadObjectDefault(address.node, address.index, address.sub, data.data(), length);
    if (result.failed != 0 || result.aborted != 0)
        return TransferFailure(context, result);
    JsonLine json = ObjectJson("read", address, *type);
    const std::string text = ShowValue(*type, data.data(), length, json);
    json.Number("length", length);
    context.console.Out(context.console.json ? json.Line() : text + "\n");
    return ExitOk;
}

int CmdWrite(Context& context, const Parsed& parsed)
{
    ObjectAddress address{};
    int status = ExitOk;
    if (!TakeAddress(context, parsed, address, status))
        return status;
    const ValueType* type = FindValueType(parsed.positional[3]);
    if (type == nullptr)
        return UsageError(context, CliMessage(CliText::BadArgument, {"TYPE", parsed.positional[3]}));
    const std::string& valueText = parsed.positional[4];
    std::vector<std::uint8_t> data(kMaxObjectBytes);
    std::uint32_t length = 0;
    if (type->text) {
        if (valueText.size() > kMaxObjectBytes)
            return Fail(context, ExitUsage, ProgramText(IDS_TOO_MANY_BYTES));
        std::memcpy(data.data(), valueText.data(), valueText.size());
        length = static_cast<std::uint32_t>(valueText.size());
    } else {
        // The Write Object rule: a value that does not convert completely, or does not
        // fit the type, is refused and nothing is sent.
        ValueRefusal refusal = ValueRefusal::None;
        length = ParseObjectValue(type->format, valueText.c_str(), data.data(), type->count, &refusal);
        if (length == 0) {
            if (refusal == ValueRefusal::OutOfRange) {
                char lowest[32], highest[32];
                DescribeValueRange(type->format, type->count == 0 ? 1 : type->count, lowest, highest, sizeof lowest);
                return Fail(context, ExitUsage, ProgramText(IDS_VALUE_OUT_OF_RANGE, {lowest, highest}));
            }
            return Fail(context, ExitUsage,
                        ProgramText(refusal == ValueRefusal::TooManyBytes ? IDS_TOO_MANY_BYTES : IDS_INVALID_VALUE));
        }
    }
    if ((status = context.session.NeedBus()) != ExitOk)
        return BusFailure(context, status);
    const SdoResult result = WriteObjectDefault(address.node, address.index, address.sub, data.data(), length);
    if (result.failed != 0 || result.aborted != 0)
        return TransferFailure(context, result);
    NoteObjectWritten(address.node, address.index, address.sub, data.data(), length);
    JsonLine json = ObjectJson("write", address, *type);
    const std::string text = ShowValue(*type, data.data(), length, json);
    json.Number("length", length);
    context.console.Out(context.console.json ? json.Line()
                                             : Decimal(address.node) + " " + Hex(address.index, 4) + " " +
                                                   Decimal(address.sub) + " <- " + text + "\n");
    return ExitOk;
}

// ---------------------------------------------------------------------------------------
// scan, info

constexpr std::uint16_t kDeviceTypeObject = 0x1000;
constexpr std::uint16_t kDeviceNameObject = 0x1008;
constexpr std::uint16_t kHardwareVersionObject = 0x1009;
constexpr std::uint16_t kSoftwareVersionObject = 0x100A;
constexpr std::uint16_t kIdentityObject = 0x1018;

SdoResult ReadValue(std::uint32_t node, std::uint32_t timeoutMs, std::uint16_t index, std::uint8_t sub,
                    std::vector<std::uint8_t>& data)
{
    data.assign(kMaxObjectBytes, 0);
    std::uint32_t length = 0;
    const SdoResult result = ReadObject(node, timeoutMs, index, sub, data.data(), kMaxObjectBytes, length);
    data.resize(result.failed == 0 && result.aborted == 0 ? length : 0);
    return result;
}

std::uint32_t NumberOf(const std::vector<std::uint8_t>& data)
{
    std::uint8_t bytes[4] = {};
    std::memcpy(bytes, data.data(), data.size() < 4 ? data.size() : 4);
    return ExtractValue(FormatUnsigned, 4, bytes);
}

int CmdScan(Context& context, const Parsed&)
{
    int status = context.session.NeedBus();
    if (status != ExitOk)
        return BusFailure(context, status);
    std::uint32_t found = 0;
    for (std::uint32_t node = 1; node <= 127 && interruptRequested == 0; ++node) {
        std::vector<std::uint8_t> data;
        // The search's own time-out for each node: an empty bus takes 127 x 50 ms.
        const SdoResult result = ReadValue(node, kScanTimeoutMs, kDeviceTypeObject, 0, data);
        if (result.failed != 0 || result.aborted != 0)
            continue;
        const std::uint32_t deviceType = NumberOf(data);
        std::vector<std::uint8_t> name;
        ReadValue(node, kDefaultSdoTimeoutMs, kDeviceNameObject, 0, name);
        const std::string nameText = StringOf(name.data(), static_cast<std::uint32_t>(name.size()));
        if (context.console.json) {
            context.console.Out(JsonLine{}
                                    .Text("command", "scan")
                                    .Number("node", node)
                                    .Text("deviceType", Hex(deviceType, 8))
                                    .Text("name", nameText)
                                    .Line());
        } else {
            if (found == 0)
                context.console.Out("node  device type  name\n");
            char row[32];
            std::snprintf(row, sizeof row, "%4u  %s   ", static_cast<unsigned>(node), Hex(deviceType, 8).c_str());
            context.console.Out(row + nameText + "\n");
        }
        ++found;
    }
    if (found == 0)
        return Fail(context, ExitNoAnswer, ProgramText(IDS_NO_SLAVE_FOUND));
    return ExitOk;
}

// The slave's NMT state as its answer to one node-guarding request tells it; NmtUnknown
// when it does not answer within `waitMs`.
std::uint8_t AskState(std::uint32_t node, std::uint32_t waitMs)
{
    constexpr std::uint32_t kGuardMs = 100;
    ErrorControl& watch = MasterErrorControl();
    GuardNode(watch, node, kGuardMs, kGuardLifeFactor, TickMs());
    const std::uint32_t start = TickMs();
    // A boot-up still waiting in the queue (the slaves send theirs when the bus first
    // opens) is no answer: the state is the one the guarding answer gives.
    auto answered = [&watch] { return watch.seen != 0 && watch.state != NmtBootUp; };
    while (!answered() && TickMs() - start < waitMs) {
        PumpBus();
        if (!answered())
            SleepMs(1);
    }
    const std::uint8_t state = answered() ? watch.state : static_cast<std::uint8_t>(NmtUnknown);
    StopErrorControl(watch);
    return state;
}

constexpr std::uint32_t kStateWaitMs = 300;

int CmdInfo(Context& context, const Parsed& parsed)
{
    std::uint32_t node = 0;
    int status = ExitOk;
    if (!TakeNode(context, parsed.positional[0], node, status))
        return status;
    if ((status = context.session.NeedBus()) != ExitOk)
        return BusFailure(context, status);
    std::vector<std::uint8_t> data;
    const SdoResult first = ReadValue(node, kDefaultSdoTimeoutMs, kDeviceTypeObject, 0, data);
    if (first.failed != 0)
        return Fail(context, ExitNoAnswer, CliMessage(CliText::NoAnswer, {Decimal(node)}));
    JsonLine json;
    json.Text("command", "info").Number("node", node);
    std::string text;
    auto row = [&text](const char* label, const std::string& value) { text += Column(label, 18) + value + "\n"; };
    row("node", Decimal(node));
    if (first.aborted == 0) {
        json.Text("deviceType", Hex(NumberOf(data), 8));
        row("device type", Hex(NumberOf(data), 8));
    }
    struct Number {
        std::uint8_t sub;
        const char* key;
        const char* label;
    };
    constexpr Number identity[] = {{1, "vendor", "vendor-ID"},
                                   {2, "product", "product code"},
                                   {3, "revision", "revision number"},
                                   {4, "serial", "serial number"}};
    for (const Number& item : identity) {
        if (ReadValue(node, kDefaultSdoTimeoutMs, kIdentityObject, item.sub, data).failed == 0 && !data.empty()) {
            json.Text(item.key, Hex(NumberOf(data), 8));
            row(item.label, Hex(NumberOf(data), 8));
        }
    }
    struct Text {
        std::uint16_t index;
        const char* key;
        const char* label;
    };
    constexpr Text texts[] = {{kDeviceNameObject, "name", "device name"},
                              {kHardwareVersionObject, "hardwareVersion", "hardware version"},
                              {kSoftwareVersionObject, "softwareVersion", "software version"}};
    for (const Text& item : texts) {
        const SdoResult result = ReadValue(node, kDefaultSdoTimeoutMs, item.index, 0, data);
        if (result.failed == 0 && result.aborted == 0) {
            const std::string value = StringOf(data.data(), static_cast<std::uint32_t>(data.size()));
            json.Text(item.key, value);
            row(item.label, value);
        }
    }
    const std::uint8_t state = AskState(node, kStateWaitMs);
    const std::string stateText = ProgramText(StateTextId(state));
    json.Text("state", stateText).Number("stateCode", state);
    row("NMT state", stateText);
    context.console.Out(context.console.json ? json.Line() : text);
    return ExitOk;
}

// ---------------------------------------------------------------------------------------
// nmt

struct NmtAction {
    const char* name;
    NodeCommand command;
};
constexpr NmtAction kNmtActions[] = {
    {"start", NodeStart},
    {"stop", NodeStop},
    {"preop", NodePreOperational},
    {"reset", NodeResetNode},
    {"resetcomm", NodeResetCommunication},
};

int CmdNmt(Context& context, const Parsed& parsed)
{
    std::uint32_t node = 0;
    int status = ExitOk;
    if (!TakeNode(context, parsed.positional[0], node, status))
        return status;
    const NmtAction* action = nullptr;
    for (const NmtAction& candidate : kNmtActions)
        if (parsed.positional[1] == candidate.name)
            action = &candidate;
    if (action == nullptr)
        return UsageError(context,
                          CliMessage(CliText::BadArgument, {"start|stop|preop|reset|resetcomm", parsed.positional[1]}));
    if ((status = context.session.NeedBus()) != ExitOk)
        return BusFailure(context, status);
    const bool reset = action->command == NodeResetNode || action->command == NodeResetCommunication;
    ErrorControl& watch = MasterErrorControl();
    // A reset is answered by the boot-up: watched for as long as the program watches
    // after its own commands.
    if (reset)
        WatchHeartbeat(watch, node, 0, TickMs());
    if (SendNmtCommand(node, action->command) == 0) {
        StopErrorControl(watch);
        return Fail(context, ExitNoAnswer, ProgramText(IDS_COMM_FAILURE));
    }
    bool bootUp = false;
    if (reset) {
        const std::uint32_t start = TickMs();
        while (!bootUp && TickMs() - start < kCommandWatchMs) {
            PumpBus();
            bootUp = (TakeErrorControlEvents(watch) & EventBootUp) != 0;
            if (!bootUp)
                SleepMs(1);
        }
        StopErrorControl(watch);
    }
    const std::uint8_t state = AskState(node, kStateWaitMs);
    const std::string commandText = ProgramText(CommandTextId(action->command));
    if (state == NmtUnknown && !bootUp)
        return Fail(context, ExitNoAnswer, CliMessage(CliText::NoAnswer, {Decimal(node)}));
    const std::string stateText = ProgramText(StateTextId(state));
    if (context.console.json) {
        JsonLine json;
        json.Text("command", "nmt").Number("node", node).Text("action", action->name);
        if (reset)
            json.Flag("bootUp", bootUp);
        context.console.Out(json.Text("state", stateText).Number("stateCode", state).Line());
    } else {
        context.console.Out(Decimal(node) + ": " + commandText + (bootUp ? ", boot-up" : "") + " -> " + stateText +
                            "\n");
    }
    return ExitOk;
}

// ---------------------------------------------------------------------------------------
// pdo

int CmdPdo(Context& context, const Parsed& parsed)
{
    std::uint32_t node = 0;
    int status = ExitOk;
    if (!TakeNode(context, parsed.positional[0], node, status))
        return status;
    if ((status = context.session.NeedBus()) != ExitOk)
        return BusFailure(context, status);
    UseSlave(static_cast<std::int32_t>(node));
    // Read as Start reads it (which starts the slave at its end); the slave is then put
    // back into pre-operational, as Stop does.
    const ConfigOutcome outcome = ReadSlaveConfiguration();
    SendNmtCommand(node, kNmtEnterPreOperational);
    if (outcome == ConfigCommFailure)
        return Fail(context, ExitNoAnswer, ProgramText(IDS_COMM_FAILURE));
    if (outcome == ConfigBadPdo)
        return Fail(context, ExitRefused, ProgramText(IDS_BAD_PDO_CONFIG));
    std::string text;
    auto show = [&](const char* direction, std::uint32_t number, std::uint32_t cobId, std::uint32_t length) {
        if (context.console.json) {
            context.console.Out(JsonLine{}
                                    .Text("command", "pdo")
                                    .Number("node", node)
                                    .Text("direction", direction)
                                    .Number("pdo", number)
                                    .Text("cobId", Hex(cobId, 3))
                                    .Number("length", length)
                                    .Line());
            return;
        }
        char row[64];
        std::snprintf(row, sizeof row, "%-9s  %3u  %s   %u\n", direction, static_cast<unsigned>(number),
                      Hex(cobId, 3).c_str(), static_cast<unsigned>(length));
        text += row;
    };
    for (std::uint32_t i = 0; i < pdoTable.inputPdoCount; ++i)
        show("input", pdoTable.rows[i].inputPdoNumber, pdoTable.rows[i].inputCobId, pdoTable.rows[i].inputLength);
    for (std::uint32_t i = 0; i < pdoTable.outputPdoCount; ++i)
        show("output", pdoTable.rows[i].outputPdoNumber, pdoTable.rows[i].outputCobId, pdoTable.rows[i].outputLength);
    if (!context.console.json)
        context.console.Out("direction  pdo  cob-id  length\n" + text);
    return ExitOk;
}

// ---------------------------------------------------------------------------------------
// dcf, store, restore: the configuration services of the Object Dictionary window.

// The status of a service that ended early, by the master's last message (which it has
// already shown): the driver library, or `otherwise`.
int StatusOfMessage(std::uint32_t message, int otherwise)
{
    if (message == IDS_CANNOT_LOAD_DLL || message == IDS_CANNOT_OPEN_DONGLE)
        return ExitNoDriver;
    if (message == IDS_COMM_FAILURE)
        return ExitNoAnswer;
    return otherwise;
}

// The master's questions are told with their answers while a configuration service
// runs, and the download's rows shown as they finish; as before afterwards.
class ServiceAnswers {
public:
    ServiceAnswers(Session& session, std::uint32_t declined, void (*rowShown)(std::uint32_t)) : session_(session)
    {
        session_.noteAnswers = true;
        session_.declined = declined;
        session_.questionsAsked.clear();
        session_.rowShown = rowShown;
    }
    ~ServiceAnswers()
    {
        session_.noteAnswers = false;
        session_.declined = 0;
        session_.rowShown = nullptr;
    }
    ServiceAnswers(const ServiceAnswers&) = delete;
    ServiceAnswers& operator=(const ServiceAnswers&) = delete;

private:
    Session& session_;
};

std::string AbortInWords(std::uint32_t code)
{
    return AbortCodeInWords(code, TheConsole().language).text;
}

std::string EntryName(const eds::Entry& entry)
{
    return entry.objectName != entry.name && !entry.objectName.empty() ? entry.objectName + " / " + entry.name
                                                                       : entry.name;
}

const char* RowStateName(RowState state)
{
    switch (state) {
    case RowState::Same:
        return "same";
    case RowState::Written:
        return "written";
    case RowState::Failed:
        return "failed";
    case RowState::NoAnswer:
        return "no answer";
    case RowState::NotWritten:
        return "not written";
    case RowState::Matches:
        return "matches";
    case RowState::Differs:
        return "differs";
    case RowState::Pending:
        break;
    }
    return "pending";
}

// A row's result in words, as the Download DCF window's result column says it.
std::string RowResult(const DownloadRow& row)
{
    const eds::Entry& entry = configDownload.file.entries[row.entry];
    switch (row.state) {
    case RowState::Same:
        return ProgramText(IDS_DCF_STATE_SAME);
    case RowState::Written:
        return ProgramText(IDS_DCF_STATE_WRITTEN);
    case RowState::Failed:
        return AbortInWords(row.abortCode);
    case RowState::NoAnswer:
        return ProgramText(IDS_DCF_STATE_NO_ANSWER);
    case RowState::NotWritten:
        return ProgramText(IDS_DCF_NOT_WRITTEN);
    case RowState::Matches:
        return ProgramText(IDS_DCF_STATE_MATCHES);
    case RowState::Differs:
        if (row.abortCode != 0)
            return AbortInWords(row.abortCode);
        return ProgramText(IDS_DCF_STATE_DIFFERS, {FormatEntryData(entry, row.readBack.data(), row.readBack.size())});
    case RowState::Pending:
        break;
    }
    return "";
}

// One download row as the master reports it: written, failed or verified.
void ShowDownloadRowLine(std::uint32_t position)
{
    if (position >= configDownload.rows.size())
        return;
    const DownloadRow& row = configDownload.rows[position];
    const eds::Entry& entry = configDownload.file.entries[row.entry];
    const std::string value = FormatEntryData(entry, row.value.data(), row.value.size());
    Console& console = TheConsole();
    if (console.json) {
        JsonLine json;
        json.Text("command", "dcf")
            .Text("action", "row")
            .Number("node", configDownload.node)
            .Text("index", Hex(row.index, 4))
            .Number("sub", row.subIndex)
            .Text("name", EntryName(entry))
            .Text("value", value)
            .Text("state", RowStateName(row.state))
            .Text("result", RowResult(row));
        if ((row.state == RowState::Failed || row.state == RowState::Differs) && row.abortCode != 0)
            json.Text("abortCode", Hex(row.abortCode, 8));
        console.Out(json.Line());
        return;
    }
    char address[24];
    std::snprintf(address, sizeof address, "%04X sub %-3u  ", static_cast<unsigned>(row.index),
                  static_cast<unsigned>(row.subIndex));
    console.Out(address + Column(EntryName(entry), 52) + "  " + Column(value, 14) + "  " + RowResult(row) + "\n");
}

std::string FileNameOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens the node's dictionary as the Object Dictionary window does: the file given with
// --eds, else the one the eds folder beside the program holds for the node's identity
// (or the one given earlier in this session). ExitOk, or the status after the message.
int OpenDictionaryOf(Context& context, const Parsed& parsed, std::uint32_t node)
{
    // The dictionary's services open the bus for their reads, as in the program.
    context.session.ReleaseBus();
    UseSlave(static_cast<std::int32_t>(node));
    TakeLastMasterMessage();
    if (const std::string* file = parsed.Option("--eds")) {
        context.session.edsOffered = *file;
        const int shown = PickSlaveDictionary(nullptr);
        context.session.edsOffered.clear();
        return shown != 0 ? ExitOk : Fail(context, ExitUsage, context.console.lastError);
    }
    const std::string folder = ProgramFolder() + "eds";
    const int shown = OpenSlaveDictionary(nullptr, folder.c_str());
    const std::uint32_t message = TakeLastMasterMessage();
    if (message == IDS_CANNOT_LOAD_DLL || message == IDS_CANNOT_OPEN_DONGLE)
        return BusFailure(context, ExitNoDriver);
    if (message == IDS_COMM_FAILURE)
        return BusFailure(context, ExitNoAnswer);
    if (shown == 0)
        return Fail(context, ExitUsage, CliMessage(CliText::NoEdsFile, {Decimal(node)}));
    return ExitOk;
}

int SaveDcf(Context& context, const Parsed& parsed, std::uint32_t node, const std::string& path)
{
    int status = OpenDictionaryOf(context, parsed, node);
    if (status != ExitOk)
        return status;
    TakeLastMasterMessage();
    const SaveOutcome outcome = SaveSlaveDcf(nullptr, path.c_str());
    const std::uint32_t message = TakeLastMasterMessage();
    if (!outcome.saved) {
        if (!outcome.readsCompleted) {
            status = StatusOfMessage(message, ExitNoAnswer);
            if (status == ExitNoDriver)
                return BusFailure(context, status);
            return Fail(context, status, ProgramText(IDS_DCF_READ_FAILED));
        }
        return BusFailure(context, ExitUsage);  // the master said which file could not be written
    }
    const std::string text = ProgramText(IDS_DCF_SAVED, {Decimal(outcome.values), FileNameOf(path)});
    if (context.console.json) {
        context.console.Out(JsonLine{}
                                .Text("command", "dcf")
                                .Text("action", "save")
                                .Number("node", node)
                                .Text("file", path)
                                .Number("values", outcome.values)
                                .Number("notRepresentable", outcome.notRepresentable)
                                .Line());
    } else {
        context.console.Out(text + "\n");
    }
    return ExitOk;
}

int LoadDcf(Context& context, const Parsed& parsed, std::uint32_t node, const std::string& path)
{
    context.session.ReleaseBus();
    UseSlave(static_cast<std::int32_t>(node));
    TakeLastMasterMessage();
    configDownload.onlyChanged = parsed.Has("--changed");
    if (LoadDownloadFile(nullptr, path.c_str()) == 0)
        return BusFailure(context, ExitUsage);  // the master said why: unreadable, or nothing to write
    if (configDownload.onlyChanged && CompareWithDevice(nullptr) == 0)
        return BusFailure(context, StatusOfMessage(TakeLastMasterMessage(), ExitNoAnswer));

    JsonLine json;
    json.Text("command", "dcf").Text("action", "load").Number("node", node).Text("file", path);
    std::uint32_t same = 0;
    for (const DownloadRow& row : configDownload.rows)
        same += row.state == RowState::Same ? 1 : 0;
    if (configDownload.onlyChanged && same == configDownload.rows.size()) {
        // Nothing to do is the download's success, not a message.
        context.console.Out(context.console.json
                                ? json.Number("written", 0).Number("failed", 0).Number("same", same).Line()
                                : ProgramText(IDS_DCF_ALL_SAME) + "\n");
        return ExitOk;
    }

    DownloadOutcome outcome;
    VerifyOutcome verified;
    const bool verify = parsed.Has("--verify");
    {
        const ServiceAnswers answers(context.session, 0, ShowDownloadRowLine);
        TakeLastMasterMessage();
        outcome = RunDownload(nullptr);
        if (!outcome.started)
            return BusFailure(context, StatusOfMessage(TakeLastMasterMessage(), ExitNoAnswer));
        if (verify && outcome.completed)
            verified = VerifyDownload(nullptr);
    }
    const std::uint32_t message = TakeLastMasterMessage();

    int status = ExitOk;
    std::string text;
    std::string failedRows;
    for (const DownloadRow& row : configDownload.rows) {
        if (row.state != RowState::Failed && row.state != RowState::NoAnswer)
            continue;
        char name[16];
        std::snprintf(name, sizeof name, "%04Xsub%X", static_cast<unsigned>(row.index),
                      static_cast<unsigned>(row.subIndex));
        if (!failedRows.empty())
            failedRows += ',';
        failedRows += JsonString(name);
    }
    if (!outcome.completed) {
        text = ProgramText(IDS_DCF_ABORTED, {Decimal(outcome.written), Decimal(outcome.failed)});
        status = StatusOfMessage(message, ExitNoAnswer);
    } else if (outcome.failed == 0) {
        text = ProgramText(IDS_DCF_RESULT, {Decimal(outcome.written), "0"});
    } else {
        text =
            ProgramText(IDS_DCF_RESULT_FAILED, {Decimal(outcome.written), Decimal(outcome.failed), FailedRowList(8)});
        status = ExitRefused;
    }
    json.Number("written", outcome.written)
        .Number("failed", outcome.failed)
        .Number("same", configDownload.onlyChanged ? same : 0)
        .Raw("failedRows", "[" + failedRows + "]")
        .Flag("completed", outcome.completed);
    if (verify && outcome.completed) {
        text += ". " + ProgramText(IDS_DCF_VERIFIED, {Decimal(verified.matching), Decimal(verified.differing)});
        json.Number("matching", verified.matching).Number("differing", verified.differing);
        if (!verified.completed && status == ExitOk)
            status = StatusOfMessage(message, ExitNoAnswer);
        else if (verified.differing > 0 && status == ExitOk)
            status = ExitRefused;
    }
    if (status == ExitOk) {
        context.console.Out(context.console.json ? json.Line() : text + "\n");
        return ExitOk;
    }
    context.console.Error(text);
    if (context.console.json)
        context.console.Out(json.Number("status", status).Text("error", text).Line());
    return status;
}

int CmdDcf(Context& context, const Parsed& parsed)
{
    const std::string& action = parsed.positional[0];
    if (action != "save" && action != "load")
        return UsageError(context, CliMessage(CliText::NoDcfAction, {action}));
    const bool save = action == "save";
    for (const auto& option : parsed.options) {
        const bool belongs = save ? option.first == "--eds" : option.first != "--eds";
        if (!belongs)
            return UsageError(context, CliMessage(CliText::OptionNotFor, {option.first, "dcf " + action}));
    }
    std::uint32_t node = 0;
    int status = ExitOk;
    if (!TakeNode(context, parsed.positional[1], node, status))
        return status;
    return save ? SaveDcf(context, parsed, node, parsed.positional[2])
                : LoadDcf(context, parsed, node, parsed.positional[2]);
}

struct AreaWord {
    const char* word;
    ConfigArea area;
};
constexpr AreaWord kAreaWords[] = {
    {"all", ConfigArea::All},
    {"comm", ConfigArea::Communication},
    {"app", ConfigArea::Application},
};

bool TakeArea(Context& context, const Parsed& parsed, const AreaWord*& area, int& status)
{
    area = &kAreaWords[0];
    if (parsed.positional.size() < 2)
        return true;
    for (const AreaWord& candidate : kAreaWords) {
        if (parsed.positional[1] == candidate.word) {
            area = &candidate;
            return true;
        }
    }
    status = UsageError(context, CliMessage(CliText::BadArgument, {"all|comm|app", parsed.positional[1]}));
    return false;
}

// The end of a store or restore: the device's answer, or the master's failure.
int StoreResult(Context& context, const SdoResult& result, JsonLine json, const std::string& done)
{
    if (result.failed != 0)
        return BusFailure(context, StatusOfMessage(TakeLastMasterMessage(), ExitNoAnswer));
    if (result.aborted != 0)
        return Fail(context, ExitRefused, ProgramText(IDS_STORE_REFUSED, {AbortInWords(result.abortCode)}),
                    JsonLine{}.Text("abortCode", Hex(result.abortCode, 8)));
    context.console.Out(context.console.json ? json.Text("result", done).Line() : done + "\n");
    return ExitOk;
}

int CmdStore(Context& context, const Parsed& parsed)
{
    std::uint32_t node = 0;
    const AreaWord* area = nullptr;
    int status = ExitOk;
    if (!TakeNode(context, parsed.positional[0], node, status) || !TakeArea(context, parsed, area, status))
        return status;
    // The service opens the bus for its write, as in the program.
    context.session.ReleaseBus();
    UseSlave(static_cast<std::int32_t>(node));
    TakeLastMasterMessage();
    const SdoResult result = StoreConfiguration(nullptr, area->area);
    JsonLine json;
    json.Text("command", "store").Number("node", node).Text("area", area->word);
    return StoreResult(context, result, json, ProgramText(IDS_STORED, {ProgramText(AreaTextId(area->area))}));
}

int CmdRestore(Context& context, const Parsed& parsed)
{
    std::uint32_t node = 0;
    const AreaWord* area = nullptr;
    int status = ExitOk;
    if (!TakeNode(context, parsed.positional[0], node, status) || !TakeArea(context, parsed, area, status))
        return status;
    const bool reset = parsed.Has("--reset");
    context.session.ReleaseBus();
    UseSlave(static_cast<std::int32_t>(node));
    TakeLastMasterMessage();
    const std::string areaName = ProgramText(AreaTextId(area->area));
    const std::wstring wideName = WideFromUtf8(areaName);
    bool asked = false;
    SdoResult result{};
    bool resetOffered = false;
    {
        // The reset the master offers afterwards is taken only when asked for.
        const ServiceAnswers answers(context.session, reset ? 0 : IDS_RESTORED_RESET, nullptr);
        result = RestoreConfiguration(nullptr, area->area, wideName.c_str(), asked);
        for (const std::uint32_t id : context.session.questionsAsked)
            resetOffered = resetOffered || id == IDS_RESTORED_RESET;
    }
    const std::uint32_t message = TakeLastMasterMessage();
    JsonLine json;
    json.Text("command", "restore").Number("node", node).Text("area", area->word);
    if (result.failed == 0 && result.aborted == 0 && reset && resetOffered && message != 0)
        return BusFailure(context, StatusOfMessage(message, ExitNoAnswer));  // the reset did not reach the bus
    const bool wasReset = reset && resetOffered;
    json.Flag("reset", wasReset);
    const std::string done = wasReset ? CliMessage(CliText::RestoredWithReset, {areaName, Decimal(node)})
                                      : ProgramText(IDS_RESTORED, {areaName});
    if (result.failed != 0 && message != 0)
        return BusFailure(context, StatusOfMessage(message, ExitNoAnswer));
    return StoreResult(context, result, json, done);
}

// ---------------------------------------------------------------------------------------
// dict

const char* StateName(ValueState state)
{
    switch (state) {
    case ValueState::Read:
        return "read";
    case ValueState::Aborted:
        return "aborted";
    case ValueState::NoAnswer:
        return "no answer";
    default:
        return "not read";
    }
}

int CmdDict(Context& context, const Parsed& parsed)
{
    std::uint32_t node = 0;
    int status = ExitOk;
    if (!TakeNode(context, parsed.positional[0], node, status))
        return status;
    if ((status = OpenDictionaryOf(context, parsed, node)) != ExitOk)
        return status;
    TakeLastMasterMessage();
    const ReadAllOutcome outcome = ReadAllEntries(nullptr);
    const std::uint32_t message = TakeLastMasterMessage();
    if (message == IDS_CANNOT_LOAD_DLL || message == IDS_CANNOT_OPEN_DONGLE)
        return BusFailure(context, ExitNoDriver);
    std::string text;
    const auto& entries = objectDictionary.device.entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const eds::Entry& entry = entries[i];
        const EntryValue& value = objectDictionary.values[i];
        std::string shownValue;
        if (value.state == ValueState::Read)
            shownValue = FormatEntryData(entry, value.data.data(), value.data.size());
        else if (value.state == ValueState::Aborted)
            shownValue = ProgramText(IDS_ENTRY_ABORT, {Hex(value.abortCode, 8).substr(2)});
        else if (value.state == ValueState::NoAnswer)
            shownValue = ProgramText(IDS_NO_ANSWER);
        const std::string name = entry.objectName != entry.name && !entry.objectName.empty()
                                     ? entry.objectName + " / " + entry.name
                                     : entry.name;
        if (context.console.json) {
            JsonLine json;
            json.Text("command", "dict")
                .Number("node", node)
                .Text("index", Hex(entry.index, 4))
                .Number("sub", entry.subIndex)
                .Text("name", name)
                .Text("state", StateName(value.state));
            if (value.state == ValueState::Read)
                json.Text("value", shownValue)
                    .Text("data", BytesText(value.data.data(), static_cast<std::uint32_t>(value.data.size())));
            if (value.state == ValueState::Aborted)
                json.Text("abortCode", Hex(value.abortCode, 8));
            context.console.Out(json.Line());
        } else {
            char address[24];
            std::snprintf(address, sizeof address, "%04X sub %-3u  ", static_cast<unsigned>(entry.index),
                          static_cast<unsigned>(entry.subIndex));
            text += address + Column(name, 48) + "  " + shownValue + "\n";
        }
    }
    if (!context.console.json)
        context.console.Out(text);
    if (!outcome.completed)
        return Fail(context, ExitNoAnswer,
                    CliMessage(CliText::ReadAllIncomplete, {Decimal(outcome.read), Decimal(outcome.total)}));
    return ExitOk;
}

// ---------------------------------------------------------------------------------------
// Interpreting the words of one command: the table.

int CmdBatch(Context& context, const Parsed& parsed);
int CmdLss(Context& context, const Parsed& parsed);
int CmdMonitor(Context& context, const Parsed& parsed);
int CmdTrace(Context& context, const Parsed& parsed);
int CmdRun(Context& context, const Parsed& parsed);

const CommandSpec kCommands[] = {
    {"scan",
     "scan",
     "Asks nodes 1 to 127 for their device type (0x1000), 50 ms each, and lists those that answer "
     "with their device type and name (0x1008).",
     {},
     {},
     0,
     0,
     CmdScan},
    {"info",
     "info NODE",
     "The node's identity (0x1018), device type, name, hardware and software versions, and its "
     "NMT state (one node-guarding request).",
     {},
     {},
     1,
     1,
     CmdInfo},
    {"read",
     "read NODE INDEX SUB [TYPE]",
     "Reads one object. INDEX is hex (0x optional), SUB decimal or 0x-hex. TYPE: u8 u16 u24 u32 i8 i16 i32 f32 "
     "hex1..hex4 raw str; without it, the type of the node's EDS file (given to dict --eds in this session, else found "
     "in the eds folder beside the program by its identity), else raw.",
     {},
     {},
     3,
     4,
     CmdRead},
    {"write",
     "write NODE INDEX SUB TYPE VALUE",
     "Writes one object. A value that does not convert completely or does not fit TYPE is refused (exit status 2) "
     "and nothing is sent.",
     {},
     {},
     5,
     5,
     CmdWrite},
    {"nmt",
     "nmt NODE start|stop|preop|reset|resetcomm",
     "Sends an NMT command; a reset waits up to 500 ms for the boot-up; then the state is asked by node guarding.",
     {},
     {},
     2,
     2,
     CmdNmt},
    {"pdo",
     "pdo NODE",
     "The PDO configuration (COB-ID and length of each valid PDO) read as Start reads it; the node is put back into "
     "pre-operational afterwards, as Stop does.",
     {},
     {},
     1,
     1,
     CmdPdo},
    {"run",
     "run NODE [--out PDO.BYTE=HEX ...] [--for SECONDS]",
     "Starts communication as Start does and runs the exchange; input bytes are printed as they change; --out sets "
     "output byte BYTE (0-7) of output PDO number PDO. Ctrl-C (or the end of --for) stops as Stop does.",
     {"--out", "--for"},
     {},
     1,
     1,
     CmdRun},
    {"monitor",
     "monitor [NODE] [--for SECONDS]",
     "Boot-ups, heartbeats and node-guarding answers (NMT states) and emergencies as they arrive, decoded; of NODE "
     "only, or of every node. Ctrl-C ends it.",
     {"--for"},
     {},
     0,
     1,
     CmdMonitor},
    {"trace",
     "trace [--count N]",
     "Every frame on the bus, in the trace file's format, until N frames or Ctrl-C.",
     {"--count"},
     {},
     0,
     0,
     CmdTrace},
    {"dict",
     "dict NODE [--eds FILE]",
     "Every entry of the node's EDS file by name with its value (Read All). Without --eds the file is looked for in "
     "the eds folder beside the program, by identity and device type.",
     {"--eds"},
     {},
     1,
     1,
     CmdDict},
    {"lss",
     "lss find | set-id ID | set-bitrate RATE | store | inquire",
     "LSS: find the devices without a node-ID (Fastscan); give the one device found a node-ID or a bit rate, store "
     "them in it; inquire its identity and node-ID. Within a batch the device found stays selected.",
     {},
     {},
     1,
     2,
     CmdLss},
    {"dcf",
     "dcf save NODE FILE [--eds EDS] | dcf load NODE FILE [--changed] [--verify]",
     "save: reads every entry of the node's EDS file (--eds, else the one the eds folder beside the program holds "
     "for the node) and writes them as a DCF with the device's values. load: writes the file's configured values "
     "(ParameterValue) into the node, every row or with --changed only those that differ from the device, the PDOs "
     "in the device's remapping sequence; each row's result is printed as it finishes; --verify reads the written "
     "values back. Exit status 1 when a row was refused or differs.",
     {"--eds"},
     {"--changed", "--verify"},
     3,
     3,
     CmdDcf},
    {"store",
     "store NODE [all|comm|app]",
     "Stores the node's parameters (all, the communication or the application parameters; default all) so that "
     "they outlive a power cycle: \"save\" to 0x1010.",
     {},
     {},
     1,
     2,
     CmdStore},
    {"restore",
     "restore NODE [all|comm|app] [--reset]",
     "Restores the node's default parameters: \"load\" to 0x1011. They take effect at the next reset of the node; "
     "--reset resets it at once.",
     {},
     {"--reset"},
     1,
     2,
     CmdRestore},
    {"batch",
     "batch [FILE|-] [--keep-going]",
     "Runs the commands of FILE (or standard input), one a line, '#' starts a comment, on one open bus; stops at the "
     "first failure unless --keep-going, and ends with the first failure's exit status.",
     {},
     {"--keep-going"},
     0,
     1,
     CmdBatch},
};

const CommandSpec* FindCommand(std::string_view name)
{
    for (const CommandSpec& spec : kCommands)
        if (name == spec.name)
            return &spec;
    return nullptr;
}

std::string CommandHelp(const CommandSpec& spec)
{
    std::string text = "usage: velomar [options] " + std::string(spec.synopsis) + "\n\n";
    // Wrapped at 80 columns.
    std::string line = " ";
    std::string_view words = spec.description;
    while (!words.empty()) {
        const std::size_t blank = words.find(' ');
        const std::string_view word = words.substr(0, blank);
        if (line.size() + word.size() + 1 > 80) {
            text += line + "\n";
            line.assign(1, ' ');
        }
        line += " ";
        line += word;
        words = blank == std::string_view::npos ? std::string_view{} : words.substr(blank + 1);
    }
    return text + line + "\n";
}

constexpr char kProgramHelp[] =
    "usage: velomar [--driver LIB] [--bitrate RATE] [--json] [--lang en|de] [--settle MS] COMMAND ...\n"
    "\n"
    "  --driver LIB    the driver library: a file name or path, or sim (the simulated bus),\n"
    "                  serial:PORT, socketcand:HOST:PORT[:INTERFACE]; default: the one beside the program\n"
    "  --bitrate RATE  1M 800k 500k 250k 125k 100k 50k 20k 10k (default 10k, as the program)\n"
    "  --json          one JSON object per result (JSON Lines)\n"
    "  --lang en|de    the language of the messages (default en)\n"
    "  --settle MS     pause after the bus opens (the program's is 500 ms; default 0)\n"
    "\n"
    "commands:\n";

std::string ProgramHelp()
{
    std::string text = kProgramHelp;
    for (const CommandSpec& spec : kCommands)
        text += "  " + std::string(spec.synopsis) + "\n";
    return text +
           "\n'velomar COMMAND --help' tells more. Exit status: 0 success, 1 the device refused, 2 usage error, 3 no "
           "answer or communication failure, 4 driver library not loadable or not usable.\n";
}

// The LSS session the services keep between the commands of a batch ends before any
// other command and at the end.
void EndLssSession()
{
    if (lssSession.busOpen != 0)
        LssFinish(nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// batch

namespace {

int CmdBatch(Context& context, const Parsed& parsed)
{
    const std::string name = parsed.positional.empty() ? "-" : parsed.positional[0];
    std::FILE* file = name == "-" ? stdin : OpenFileUtf8(name.c_str(), "rb");
    if (file == nullptr)
        return Fail(context, ExitUsage, CliMessage(CliText::CannotOpenFile, {name}));
    const bool keepGoing = parsed.Has("--keep-going");
    const CommandSpec* batch = currentCommand;
    int first = ExitOk;
    std::string line;
    unsigned lineNumber = 0;
    bool more = true;
    while (more && interruptRequested == 0) {
        line.clear();
        int c = 0;
        while ((c = std::fgetc(file)) != EOF && c != '\n')
            line += static_cast<char>(c);
        more = c != EOF;
        if (!more && line.empty())
            break;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        Words words;
        int status = ExitOk;
        if (!SplitLine(line, words)) {
            status = UsageError(context, CliMessage(CliText::BadArgument, {"\"", line}));
        } else if (words.empty()) {
            continue;
        } else if (words[0] == "batch") {
            status = UsageError(context, CliMessage(CliText::UnknownCommand, {words[0]}));
        } else {
            status = RunCommand(context, words);
        }
        currentCommand = batch;
        if (status != ExitOk) {
            if (first == ExitOk)
                first = status;
            context.console.Error(name + ":" + std::to_string(lineNumber) + ": " + line);
            if (!keepGoing)
                break;
        }
    }
    if (file != stdin)
        std::fclose(file);
    return first;
}

// ---------------------------------------------------------------------------------------
// lss

std::string IdentityText(const LssIdentity& identity)
{
    return Hex(identity.vendor, 8) + "  " + Hex(identity.product, 8) + "  " + Hex(identity.revision, 8) + "  " +
           Hex(identity.serial, 8);
}

void ShowDevice(Context& context, const LssIdentity& identity, std::uint8_t nodeId, std::string& text)
{
    const std::string node = nodeId == kLssNoNodeId ? "-" : Decimal(nodeId);
    if (context.console.json) {
        context.console.Out(JsonLine{}
                                .Text("command", "lss")
                                .Text("vendor", Hex(identity.vendor, 8))
                                .Text("product", Hex(identity.product, 8))
                                .Text("revision", Hex(identity.revision, 8))
                                .Text("serial", Hex(identity.serial, 8))
                                .Raw("nodeId", nodeId == kLssNoNodeId ? "null" : Decimal(nodeId))
                                .Line());
        return;
    }
    text += IdentityText(identity) + "  " + node + "\n";
}

// Runs the LSS find; `found` holds the devices. ExitOk, or the failure's status.
int RunLssFind(Context& context, LssFindResult& found)
{
    context.session.ReleaseBus();
    TakeLastMasterMessage();
    found = LssFindResult{};
    if (LssFind(nullptr, found) == 0) {
        const std::uint32_t message = TakeLastMasterMessage();
        if (message == IDS_CANNOT_LOAD_DLL || message == IDS_CANNOT_OPEN_DONGLE)
            return BusFailure(context, ExitNoDriver);
        return Fail(context, ExitNoAnswer, CliMessage(CliText::LssRefused));
    }
    return ExitOk;
}

// The one device the configuring services work on: the one in configuration state, or
// the only one a find lists.
int SelectedDevice(Context& context, LssIdentity& identity)
{
    if (lssSession.busOpen != 0 && lssSession.selected != 0) {
        identity = lssSession.identity;
        return ExitOk;
    }
    LssFindResult found{};
    const int status = RunLssFind(context, found);
    if (status != ExitOk)
        return status;
    if (found.count != 1)
        return Fail(context, found.count == 0 ? ExitNoAnswer : ExitUsage,
                    found.count == 0 ? ProgramText(IDS_LSS_NONE_FOUND)
                                     : CliMessage(CliText::LssDeviceCount, {Decimal(found.count)}));
    identity = found.devices[0].identity;
    return ExitOk;
}

int LssOutcomeStatus(Context& context, const LssResult& result, std::uint32_t value, const char* action)
{
    const LssResultText words = DescribeLssResult(result, value);
    // The program's words say when the window closes; here the session ends instead.
    const std::string text = words.stringId == IDS_LSS_NODE_ID_SET
                                 ? CliMessage(CliText::LssNodeIdSet, {Decimal(words.number)})
                                 : ProgramText(words.stringId, {Decimal(words.number)});
    if (result.outcome == LssOutcome::Success) {
        if (context.console.json)
            context.console.Out(JsonLine{}.Text("command", "lss").Text("action", action).Text("result", text).Line());
        else
            context.console.Out(text + "\n");
        return ExitOk;
    }
    return Fail(context, result.outcome == LssOutcome::DeviceError ? ExitRefused : ExitNoAnswer, text);
}

int CmdLss(Context& context, const Parsed& parsed)
{
    const std::string& action = parsed.positional[0];
    const bool needsValue = action == "set-id" || action == "set-bitrate";
    if (action != "find" && action != "inquire" && action != "store" && !needsValue)
        return UsageError(context, CliMessage(CliText::BadArgument, {"find|set-id|set-bitrate|store|inquire", action}));
    if (needsValue != (parsed.positional.size() == 2)) {
        if (needsValue)
            return UsageError(context, CliMessage(CliText::MissingArgument, {action == "set-id" ? "ID" : "RATE"}));
        return UsageError(context, CliMessage(CliText::ExtraArgument, {parsed.positional[1]}));
    }
    std::uint32_t nodeId = 0;
    std::int32_t baudIndex = -1;
    if (action == "set-id" && (!ParseNumber(parsed.positional[1], 127, nodeId) || nodeId == 0))
        return UsageError(context, CliMessage(CliText::BadArgument, {"ID", parsed.positional[1]}));
    if (action == "set-bitrate") {
        if (!ParseBitRate(parsed.positional[1], baudIndex))
            return UsageError(context, CliMessage(CliText::BadArgument, {"RATE", parsed.positional[1]}));
    }
    if (action == "find" || (action == "inquire" && !(lssSession.busOpen != 0 && lssSession.selected != 0))) {
        LssFindResult found{};
        const int status = RunLssFind(context, found);
        if (status != ExitOk)
            return status;
        std::string text;
        for (std::uint32_t i = 0; i < found.count; ++i)
            ShowDevice(context, found.devices[i].identity, found.devices[i].nodeId, text);
        if (found.count == 0)
            return Fail(context, ExitNoAnswer, ProgramText(IDS_LSS_NONE_FOUND));
        if (!context.console.json)
            context.console.Out("vendor-ID   product     revision    serial      node-ID\n" + text);
        return ExitOk;
    }
    if (action == "inquire") {
        std::string text;
        ShowDevice(context, lssSession.identity, lssSession.nodeId != 0 ? lssSession.nodeId : kLssNoNodeId, text);
        if (!context.console.json)
            context.console.Out("vendor-ID   product     revision    serial      node-ID\n" + text);
        return ExitOk;
    }
    LssIdentity identity{};
    int status = SelectedDevice(context, identity);
    if (status != ExitOk)
        return status;
    LssResult result{};
    if (action == "set-id") {
        if (LssSetNodeId(nullptr, identity, static_cast<std::uint8_t>(nodeId), result) == 0)
            return Fail(context, ExitNoAnswer, CliMessage(CliText::LssRefused));
        return LssOutcomeStatus(context, result, nodeId, "set-id");
    }
    if (action == "set-bitrate") {
        if (LssSetBitRate(nullptr, identity, baudIndex, result) == 0)
            return Fail(context, ExitNoAnswer, CliMessage(CliText::LssRefused));
        return LssOutcomeStatus(context, result, BitRateTable[static_cast<std::size_t>(baudIndex)].kBaud,
                                "set-bitrate");
    }
    if (LssStore(nullptr, identity, result) == 0)
        return Fail(context, ExitNoAnswer, CliMessage(CliText::LssRefused));
    return LssOutcomeStatus(context, result, 0, "store");
}

}  // namespace

// ---------------------------------------------------------------------------------------
// trace, monitor: the frames as the bus trace writes them, read back from a trace file of
// this run's own.

namespace {

class TraceTail {
public:
    ~TraceTail() { Close(); }

    bool Open()
    {
        if (!MakePrivateFolder(folder_))
            return false;
        const std::string path = folder_ + "trace.log";
        OpenTraceFile(path.c_str());
        reader_ = OpenFileUtf8(path.c_str(), "rb");
        return reader_ != nullptr;
    }

    // The complete lines written since the last call.
    void Take(std::vector<std::string>& lines)
    {
        lines.clear();
        if (reader_ == nullptr)
            return;
        char buffer[4096];
        std::size_t n = 0;
        std::clearerr(reader_);
        while ((n = std::fread(buffer, 1, sizeof buffer, reader_)) > 0)
            pending_.append(buffer, n);
        std::size_t start = 0, end = 0;
        while ((end = pending_.find('\n', start)) != std::string::npos) {
            std::string line = pending_.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
            start = end + 1;
        }
        pending_.erase(0, start);
    }

    void Close()
    {
        CloseTraceFile();
        if (reader_ != nullptr)
            std::fclose(reader_);
        reader_ = nullptr;
        if (!folder_.empty())
            RemovePrivateFolder(folder_, {"trace.log"});
        folder_.clear();
    }

private:
    std::string folder_;
    std::FILE* reader_ = nullptr;
    std::string pending_;
};

// One frame read back from its trace line "  1234: 603 - 40 00 10 00 00 00 00 00".
struct TracedFrame {
    std::uint32_t id = 0;
    bool remote = false;
    bool status = false;
    std::uint32_t length = 0;
    std::uint8_t data[8] = {};
};

bool ParseTraceLine(const std::string& line, TracedFrame& frame)
{
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos || line.find("ID:") != std::string::npos)
        return false;
    std::size_t at = colon + 2;
    std::uint32_t id = 0;
    std::size_t digits = 0;
    while (at < line.size() && std::isxdigit(static_cast<unsigned char>(line[at])) != 0) {
        const char c = line[at++];
        id = id * 16 + static_cast<std::uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        ++digits;
    }
    if (digits == 0)
        return false;
    frame = TracedFrame{};
    frame.id = id;
    frame.remote = line.find(" RTR ", at) != std::string::npos;
    frame.status = line.find(" STAT ", at) != std::string::npos;
    const std::size_t dash = line.find(" - ", at);
    if (dash == std::string::npos || frame.remote)
        return true;
    at = dash + 3;
    while (at + 1 < line.size() && frame.length < 8) {
        std::uint32_t value = 0;
        if (!ParseNumber(line.substr(at, 2), 0xFF, value, true))
            break;
        frame.data[frame.length++] = static_cast<std::uint8_t>(value);
        at += 3;
    }
    return true;
}

// Pumps the bus once, or rests a millisecond when nothing arrived.
void PumpOnce(TraceTail& tail, std::vector<std::string>& lines)
{
    PumpBus();
    tail.Take(lines);
    if (lines.empty())
        SleepMs(1);
}

bool TakeSeconds(Context& context, const Parsed& parsed, std::uint32_t& ms, int& status)
{
    ms = 0;
    const std::string* text = parsed.Option("--for");
    if (text == nullptr)
        return true;
    std::uint32_t seconds = 0;
    if (!ParseNumber(*text, 86400, seconds) || seconds == 0) {
        status = UsageError(context, CliMessage(CliText::BadArgument, {"--for", *text}));
        return false;
    }
    ms = seconds * 1000;
    return true;
}

bool Running(std::uint32_t start, std::uint32_t forMs)
{
    return interruptRequested == 0 && (forMs == 0 || TickMs() - start < forMs);
}

int CmdTrace(Context& context, const Parsed& parsed)
{
    std::uint32_t count = 0;
    if (const std::string* text = parsed.Option("--count")) {
        if (!ParseNumber(*text, 0xFFFFFFFFu, count) || count == 0)
            return UsageError(context, CliMessage(CliText::BadArgument, {"--count", *text}));
    }
    int status = context.session.NeedBus();
    if (status != ExitOk)
        return BusFailure(context, status);
    TraceTail tail;
    if (!tail.Open())
        return Fail(context, ExitUsage, CliMessage(CliText::CannotOpenFile, {"trace.log"}));
    std::uint32_t frames = 0;
    std::string first;
    TracedFrame firstFrame;
    std::vector<std::string> lines;
    while (interruptRequested == 0 && (count == 0 || frames < count)) {
        PumpOnce(tail, lines);
        for (const std::string& line : lines) {
            TracedFrame frame;
            const bool frameLine = ParseTraceLine(line, frame);
            if (count != 0 && frames >= count)
                break;
            if (!context.console.json) {
                context.console.Out(line + "\n");
                if (!frameLine)
                    ++frames;  // the second line ends the frame
                continue;
            }
            if (frameLine) {
                first = line;
                firstFrame = frame;
                continue;
            }
            const std::size_t colon = first.find(':');
            context.console.Out(JsonLine{}
                                    .Text("command", "trace")
                                    .Number("delta", std::atoi(first.substr(0, colon).c_str()))
                                    .Text("id", Hex(firstFrame.id, 3))
                                    .Text("line", first)
                                    .Text("decoded", line.substr(line.find_first_not_of(' ')))
                                    .Line());
            ++frames;
        }
    }
    return ExitOk;
}

void ShowMonitorEvent(Context& context, const TracedFrame& frame, std::uint32_t start)
{
    const std::uint32_t function = frame.id >> 7;
    const std::uint32_t node = frame.id & 0x7F;
    const std::uint32_t at = TickMs() - start;
    char time[24];
    std::snprintf(time, sizeof time, "%8.3f  ", static_cast<double>(at) / 1000.0);
    JsonLine json;
    json.Text("command", "monitor").Number("node", node).Number("timeMs", at);
    if (function == 0xE) {
        const std::uint8_t value = frame.data[0] & 0x7F;
        const bool bootUp = value == NmtBootUp;
        const std::string stateText = ProgramText(StateTextId(value));
        if (context.console.json) {
            context.console.Out(json.Text("event", bootUp ? "boot-up" : "state")
                                    .Text("state", stateText)
                                    .Number("stateCode", value)
                                    .Line());
        } else {
            context.console.Out(time + Column(Decimal(node), 5) + (bootUp ? stateText : "state  " + stateText) + "\n");
        }
        return;
    }
    const auto code = static_cast<std::uint16_t>(frame.data[0] | (frame.data[1] << 8));
    const std::string classText = ProgramText(EmergencyClassTextId(code));
    const std::uint32_t named = EmergencyCodeTextId(code);
    const std::string meaning = named != 0 ? ProgramText(named) : "";
    const std::string manufacturer = BytesText(frame.data + 3, frame.length > 3 ? frame.length - 3 : 0);
    if (context.console.json) {
        json.Text("event", "emergency")
            .Text("code", Hex(code, 4))
            .Text("class", classText)
            .Text("register", Hex(frame.data[2], 2))
            .Text("data", manufacturer);
        if (!meaning.empty())
            json.Text("meaning", meaning);
        context.console.Out(json.Line());
        return;
    }
    context.console.Out(time + Column(Decimal(node), 5) + "EMCY " + Hex(code, 4).substr(2) + "  " + classText +
                        (meaning.empty() ? "" : ": " + meaning) + "  register " + Hex(frame.data[2], 2) + "  " +
                        manufacturer + "\n");
}

int CmdMonitor(Context& context, const Parsed& parsed)
{
    std::uint32_t node = 0;
    std::uint32_t forMs = 0;
    int status = ExitOk;
    if (!parsed.positional.empty() && !TakeNode(context, parsed.positional[0], node, status))
        return status;
    if (!TakeSeconds(context, parsed, forMs, status))
        return status;
    if ((status = context.session.NeedBus()) != ExitOk)
        return BusFailure(context, status);
    TraceTail tail;
    if (!tail.Open())
        return Fail(context, ExitUsage, CliMessage(CliText::CannotOpenFile, {"trace.log"}));
    const std::uint32_t start = TickMs();
    std::vector<std::string> lines;
    while (Running(start, forMs)) {
        PumpOnce(tail, lines);
        for (const std::string& line : lines) {
            TracedFrame frame;
            if (!ParseTraceLine(line, frame) || frame.remote || frame.status || frame.length == 0)
                continue;
            const std::uint32_t function = frame.id >> 7;
            const std::uint32_t from = frame.id & 0x7F;
            if (from == 0 || (node != 0 && from != node))
                continue;
            const bool errorControl = function == 0xE && frame.length == 1;
            const bool emergency = function == 0x1 && frame.length >= 2;
            if (errorControl || emergency)
                ShowMonitorEvent(context, frame, start);
        }
    }
    return ExitOk;
}

// ---------------------------------------------------------------------------------------
// run

struct OutputSetting {
    std::uint32_t pdo;
    std::uint32_t byte;
    std::uint32_t value;
};

int CmdRun(Context& context, const Parsed& parsed)
{
    std::uint32_t node = 0;
    std::uint32_t forMs = 0;
    int status = ExitOk;
    if (!TakeNode(context, parsed.positional[0], node, status) || !TakeSeconds(context, parsed, forMs, status))
        return status;
    std::vector<OutputSetting> outputs;
    for (const auto& option : parsed.options) {
        if (option.first != "--out")
            continue;
        const std::string& text = option.second;
        const std::size_t dot = text.find('.'), equals = text.find('=');
        OutputSetting setting{};
        if (dot == std::string::npos || equals == std::string::npos || equals < dot ||
            !ParseNumber(text.substr(0, dot), 512, setting.pdo) || setting.pdo == 0 ||
            !ParseNumber(text.substr(dot + 1, equals - dot - 1), 7, setting.byte) ||
            !ParseNumber(text.substr(equals + 1), 0xFF, setting.value, true))
            return UsageError(context, CliMessage(CliText::BadArgument, {"--out", text}));
        outputs.push_back(setting);
    }
    // Start opens the bus for the exchange itself, as in the program.
    context.session.ReleaseBus();
    UseSlave(static_cast<std::int32_t>(node));
    TakeLastMasterMessage();
    if (StartCommunication(nullptr) == 0) {
        const std::uint32_t message = TakeLastMasterMessage();
        if (message == IDS_CANNOT_LOAD_DLL || message == IDS_CANNOT_OPEN_DONGLE)
            return BusFailure(context, ExitNoDriver);
        if (message == IDS_BAD_PDO_CONFIG)
            return BusFailure(context, ExitRefused);
        if (message == IDS_COMM_FAILURE)
            return BusFailure(context, ExitNoAnswer);
        return Fail(context, ExitNoAnswer, CliMessage(CliText::StartFailed));
    }
    for (const OutputSetting& setting : outputs) {
        bool placed = false;
        for (std::uint32_t i = 0; i < pdoTable.outputPdoCount; ++i) {
            const PdoRow& row = pdoTable.rows[i];
            if (row.outputPdoNumber == setting.pdo && setting.byte < row.outputLength) {
                OutputTable[8 * i + setting.byte].value = setting.value;
                placed = true;
            }
        }
        if (!placed) {
            StopCommunication(nullptr);
            return Fail(context, ExitUsage, CliMessage(CliText::NoSuchPdo, {Decimal(setting.pdo)}));
        }
    }
    std::vector<std::string> shown(pdoTable.inputPdoCount);
    const std::uint32_t start = TickMs();
    while (Running(start, forMs) && commState.active != 0) {
        RunExchangeCycle(nullptr);
        for (std::uint32_t i = 0; i < pdoTable.inputPdoCount; ++i) {
            const PdoRow& row = pdoTable.rows[i];
            std::uint8_t bytes[8] = {};
            bool received = true;
            for (std::uint32_t j = 0; j < row.inputLength; ++j) {
                const PdoEntry& entry = processImage->inputs[8 * i + j];
                received = received && entry.kind == EntryData;
                bytes[j] = static_cast<std::uint8_t>(entry.value);
            }
            const std::string data = BytesText(bytes, row.inputLength);
            if (!received || data == shown[i])
                continue;
            shown[i] = data;
            if (context.console.json) {
                context.console.Out(JsonLine{}
                                        .Text("command", "run")
                                        .Number("node", node)
                                        .Number("pdo", row.inputPdoNumber)
                                        .Text("cobId", Hex(row.inputCobId, 3))
                                        .Text("data", data)
                                        .Number("timeMs", TickMs() - start)
                                        .Line());
            } else {
                char head[48];
                std::snprintf(head, sizeof head, "%8.3f  PDO%u %s  ", static_cast<double>(TickMs() - start) / 1000.0,
                              static_cast<unsigned>(row.inputPdoNumber), Hex(row.inputCobId, 3).c_str());
                context.console.Out(head + data + "\n");
            }
        }
    }
    // Ended by the operator (Ctrl-C or --for) or by a failure that already stopped it.
    const bool stillActive = commState.active != 0;
    if (stillActive)
        StopCommunication(nullptr);
    if (!stillActive)
        return BusFailure(context, ExitNoAnswer);
    return ExitOk;
}

}  // namespace

bool SplitLine(const std::string& line, Words& words)
{
    words.clear();
    std::string word;
    bool inWord = false, quoted = false;
    for (const char c : line) {
        if (quoted) {
            if (c == '"')
                quoted = false;
            else
                word += c;
            continue;
        }
        if (c == '#')
            break;
        if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted)
        return false;
    if (inWord)
        words.push_back(word);
    return true;
}

int RunCommand(Context& context, const Words& words)
{
    if (words.empty())
        return UsageError(context, CliMessage(CliText::MissingArgument, {"COMMAND"}));
    const CommandSpec* spec = FindCommand(words[0]);
    if (spec == nullptr)
        return UsageError(context, CliMessage(CliText::UnknownCommand, {words[0]}));
    currentCommand = spec;
    Parsed parsed;
    int status = ExitOk;
    if (!ParseWords(context, *spec, words, parsed, status))
        return status;
    if (parsed.help) {
        context.console.Out(CommandHelp(*spec));
        return ExitOk;
    }
    if (spec->run != CmdLss && spec->run != CmdBatch)
        EndLssSession();
    return spec->run(context, parsed);
}

int RunProgram(const Words& arguments)
{
    Console& console = TheConsole();
    console.json = false;
    console.language = TextLanguage::English;
    GlobalOptions options{"", 0, 0};
    std::size_t i = 0;
    // The language first, so that every message of the command line is in it.
    for (std::size_t j = 0; j < arguments.size() && arguments[j].rfind("--", 0) == 0; ++j) {
        if (arguments[j] == "--json" || arguments[j] == "--help")
            continue;
        if (arguments[j] == "--lang" && j + 1 < arguments.size() && arguments[j + 1] == "de")
            console.language = TextLanguage::German;
        ++j;
    }
    Session session;
    Context context{session, console};
    currentCommand = nullptr;
    for (; i < arguments.size() && arguments[i].rfind("--", 0) == 0; ++i) {
        const std::string& option = arguments[i];
        if (option == "--help") {
            console.Out(ProgramHelp());
            return ExitOk;
        }
        if (option == "--json") {
            console.json = true;
            continue;
        }
        if (option != "--driver" && option != "--bitrate" && option != "--lang" && option != "--settle")
            return UsageError(context, CliMessage(CliText::UnknownOption, {option}));
        if (i + 1 >= arguments.size())
            return UsageError(context, CliMessage(CliText::MissingArgument, {option}));
        const std::string& value = arguments[++i];
        bool good = true;
        if (option == "--driver") {
            options.driver = value;
            good = !value.empty();
        } else if (option == "--bitrate") {
            good = ParseBitRate(value, options.baudIndex);
        } else if (option == "--lang") {
            good = value == "en" || value == "de";
        } else {
            good = ParseNumber(value, 60000, options.settleMs);
        }
        if (!good)
            return UsageError(context, CliMessage(CliText::BadArgument, {option, value}));
    }
    if (i >= arguments.size()) {
        console.Error(CliMessage(CliText::MissingArgument, {"COMMAND"}) + " " + CliMessage(CliText::SeeHelp));
        return ExitUsage;
    }
    const Words words(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
    const CommandSpec* spec = FindCommand(words[0]);
    if (spec == nullptr)
        return UsageError(context, CliMessage(CliText::UnknownCommand, {words[0]}));
    // The help and the usage errors of the command need no driver.
    {
        Parsed parsed;
        int status = ExitOk;
        currentCommand = spec;
        if (!ParseWords(context, *spec, words, parsed, status))
            return status;
        if (parsed.help) {
            console.Out(CommandHelp(*spec));
            return ExitOk;
        }
    }
    int status = session.Begin(options);
    if (status == ExitOk) {
        WatchInterrupt();
        status = RunCommand(context, words);
        EndLssSession();
    }
    session.End();
    return status;
}

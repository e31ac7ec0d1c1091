// The eight driver entry points over one serial-line CAN adapter.
//
// CAN_Init reads slcan.ini, opens the port and brings the device into a known state:
// three bare CRs end whatever half command an earlier user left, "V" and "N" ask for its
// version and serial number, "C" closes a channel left open, "Sn" sets the bit rate and
// "O" opens the channel, each answer awaited for at most TimeoutMs. From then on nothing
// waits (but a write the port takes slowly): CAN_Read, CAN_Write and CAN_Status each move
// what the port gives or takes at once, cut the bytes into lines and queue the frames.
//
// Every command gets exactly one answer, in order, so the commands sent are remembered
// in a ring and each answer settles the oldest: a BEL for a frame makes CAN_Status report
// kSlCommandRefused, a BEL for "F" means the device has no status flags (no more asking).
// When the oldest command has waited TimeoutMs and nothing at all came from the device
// in that time, the device has stopped answering: CAN_Status reports kSlNoAnswer until it
// speaks again.
//
// Everything is called from the program's one thread; the state is static.
#include <cstdio>
#include <cstring>

#include "bit_rates.h"
#include "driver_api.h"
#include "driver_entries.h"
#include "module_file.h"
#include "serial_port.h"
#include "slcan_codec.h"
#include "slcan_config.h"
#include "slcan_results.h"
#include "tick.h"

#if defined(_WIN32)
#define SLCAN_EXPORT extern "C"
#else
#define SLCAN_EXPORT extern "C" [[gnu::visibility("default")]]
#endif

namespace slcan {
namespace {

enum class LinkState : std::uint8_t {
    Closed,  // no CAN_Init yet, or CAN_Close
    Open,    // the channel is open
    Lost,    // the port failed (adapter unplugged) without CAN_Close
};

enum class Awaited : std::uint8_t {
    Frame,  // z/Z (or a bare CR on some firmware) for a frame sent
    Flags,  // Fxx for the status poll
};

struct PendingRing {
    std::uint32_t head;
    std::uint32_t count;
    Awaited kinds[kMaxPendingAnswers];
    std::uint32_t sentMs[kMaxPendingAnswers];
};

struct TransmitBuffer {
    std::size_t used;
    char bytes[kTransmitBufferSize];
};

struct Link {
    LinkState state;
    PortHandle port;
    std::uint32_t timeoutMs;      // from slcan.ini
    std::uint32_t lastInputMs;    // when the device last sent anything
    std::uint32_t lastPollMs;     // when "F" was last sent
    std::uint8_t flagsSupported;  // the device has not refused "F"
    std::uint8_t deviceFlags;     // F answers not yet reported by CAN_Status
    std::uint8_t overrun;         // a frame found the queue full; reported once
    std::uint8_t refused;         // a frame was answered BEL; reported once
    std::uint8_t noAnswer;        // the device stopped answering; until it speaks
    LineParser parser;
    TransmitBuffer output;
    PendingRing pending;
    driverlib::FrameRing<kReceiveQueueSize> queue;
    char version[kMaxLineLength + 1];  // the device's V answer, "" when none
    char serial[kMaxLineLength + 1];   // its N answer, "" when none
};

Link link = {LinkState::Closed, kNoPort, kDefaultTimeoutMs, 0, 0, 0, 0, 0, 0, 0, {}, {}, {}, {}, "", ""};

void ClearSession()
{
    ClearParser(link.parser);
    link.output.used = 0;
    link.pending.head = 0;
    link.pending.count = 0;
    driverlib::RingClear(link.queue);
    link.deviceFlags = 0;
    link.overrun = 0;
    link.refused = 0;
    link.noAnswer = 0;
    link.flagsSupported = 1;
}

void ClosePort(LinkState next)
{
    CloseSerialPort(link.port);
    link.port = kNoPort;
    link.output.used = 0;
    link.pending.count = 0;
    link.state = next;
}

// Writes what the port takes now. False when the port is gone.
bool Flush()
{
    if (link.output.used == 0)
        return true;
    std::size_t written = 0;
    if (WriteSome(link.port, link.output.bytes, link.output.used, written) != PortResult::Done) {
        ClosePort(LinkState::Lost);
        return false;
    }
    std::memmove(link.output.bytes, link.output.bytes + written, link.output.used - written);
    link.output.used -= written;
    return true;
}

bool Queue(const char* text, std::size_t length)
{
    if (length > kTransmitBufferSize - link.output.used)
        return false;
    std::memcpy(link.output.bytes + link.output.used, text, length);
    link.output.used += length;
    return true;
}

bool Await(Awaited kind)
{
    if (link.pending.count == kMaxPendingAnswers)
        return false;
    const std::uint32_t tail = (link.pending.head + link.pending.count) % kMaxPendingAnswers;
    link.pending.kinds[tail] = kind;
    link.pending.sentMs[tail] = TickMs();
    ++link.pending.count;
    return true;
}

bool PollPending()
{
    for (std::uint32_t i = 0; i < link.pending.count; ++i) {
        if (link.pending.kinds[(link.pending.head + i) % kMaxPendingAnswers] == Awaited::Flags)
            return true;
    }
    return false;
}

// Settles the oldest command with `line`, an answer.
void Settle(const Line& line)
{
    if (link.pending.count == 0)
        return;  // a late answer to a command given up on
    const Awaited kind = link.pending.kinds[link.pending.head];
    link.pending.head = (link.pending.head + 1) % kMaxPendingAnswers;
    --link.pending.count;
    if (line.kind == LineKind::Error) {
        if (kind == Awaited::Flags)
            link.flagsSupported = 0;
        else
            link.refused = 1;
    } else if (line.kind == LineKind::Flags) {
        link.deviceFlags = static_cast<std::uint8_t>(link.deviceFlags | line.flags);
    }
}

void TakeLine(const Line& line)
{
    switch (line.kind) {
    case LineKind::Frame:
        if (!driverlib::RingPush(link.queue, line.msg))
            link.overrun = 1;
        break;
    case LineKind::Ok:
    case LineKind::Error:
    case LineKind::TransmitAck:
    case LineKind::Flags:
    case LineKind::Version:
    case LineKind::Serial:
        Settle(line);
        break;
    case LineKind::Malformed:
        break;  // noise on the line carries nothing
    }
}

// Gives up on answers that are overdue: when the device sent nothing at all meanwhile it
// has stopped answering; when it kept talking it merely skipped an answer.
void CheckOverdue()
{
    if (link.pending.count == 0)
        return;
    const std::uint32_t now = TickMs();
    if (now - link.pending.sentMs[link.pending.head] < link.timeoutMs)
        return;
    if (now - link.lastInputMs >= link.timeoutMs)
        link.noAnswer = 1;
    link.pending.head = 0;
    link.pending.count = 0;
}

// Moves what the port has now, without waiting: pending commands out, received bytes in
// and into the queue. A bounded number of reads, so a busy bus cannot keep one call here.
void Pump()
{
    if (link.state != LinkState::Open)
        return;
    if (!Flush())
        return;
    char bytes[512];
    for (int round = 0; round < 8; ++round) {
        std::size_t received = 0;
        if (ReadSome(link.port, bytes, sizeof bytes, received) != PortResult::Done) {
            ClosePort(LinkState::Lost);  // the frames already queued stay readable
            return;
        }
        if (received == 0)
            break;
        link.lastInputMs = TickMs();
        link.noAnswer = 0;
        Line line;
        for (std::size_t i = 0; i < received; ++i) {
            if (FeedByte(link.parser, bytes[i], line))
                TakeLine(line);
        }
        if (received < sizeof bytes)
            break;
    }
    CheckOverdue();
}

// --- Opening: a few commands, each awaited ----------------------------------------------

// Writes `text` whole within timeoutMs.
bool SendNow(const char* text, std::uint32_t timeoutMs)
{
    if (!Queue(text, std::strlen(text)))
        return false;
    const std::uint32_t start = TickMs();
    while (link.output.used > 0) {
        if (!Flush())
            return false;
        if (TickMs() - start >= timeoutMs)
            return false;
    }
    return true;
}

// The next answer (frames and noise are passed over) within timeoutMs counted from
// `start`. False at the deadline or when the port fails.
bool AwaitAnswer(std::uint32_t start, std::uint32_t timeoutMs, Line& answer)
{
    char byte = 0;
    for (;;) {
        std::size_t received = 0;
        if (ReadSome(link.port, &byte, 1, received) != PortResult::Done)
            return false;
        if (received == 1) {
            if (FeedByte(link.parser, byte, answer) && answer.kind != LineKind::Frame &&
                answer.kind != LineKind::Malformed)
                return true;
            continue;
        }
        const std::uint32_t elapsed = TickMs() - start;
        if (elapsed >= timeoutMs)
            return false;
        WaitForInput(link.port, timeoutMs - elapsed);
    }
}

void CopyText(char (&to)[kMaxLineLength + 1], const char* from)
{
    std::snprintf(to, sizeof to, "%s", from);
}

void WriteLog(const SlcanConfig& config, const BitRateRow& rate, std::uint32_t result)
{
    if (!config.log)
        return;
    std::FILE* file = driverlib::OpenFileBesideModule(kLogFileName, "ab");
    if (file == nullptr)
        return;
    // One line per bus open; a log that has grown past kMaxLogBytes starts afresh.
    if (std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) > static_cast<long>(kMaxLogBytes)) {
        std::fclose(file);
        file = driverlib::OpenFileBesideModule(kLogFileName, "wb");
        if (file == nullptr)
            return;
    }
    std::fprintf(file, "Port %s at %u baud: version %s, serial number %s, S%d (%u kbit/s): %s (0x%04X)\r\n",
                 config.port, static_cast<unsigned>(config.baud), link.version[0] != '\0' ? link.version : "(none)",
                 link.serial[0] != '\0' ? link.serial : "(none)", static_cast<int>(rate.slcanCode),
                 static_cast<unsigned>(rate.kBaud), result == kSlOk ? "open" : "failed", static_cast<unsigned>(result));
    std::fclose(file);
}

// Brings the device from any state to an open channel at bit rate `code`.
std::uint32_t OpenDevice(int code, std::uint32_t timeoutMs)
{
    // Three CRs end a half command left by an earlier user; V's answer then marks the
    // point from which answers match commands again (answers to commands of an earlier
    // session may still be on their way). A device that answers nothing at all is not
    // there or speaks another protocol; one that knows no V answers BEL and is waited
    // for until the time-out, after which its answers have all come.
    if (!SendNow("\r\r\rV\r", timeoutMs))
        return kSlNoPort;
    Line answer;
    int answers = 0;
    const std::uint32_t start = TickMs();
    while (AwaitAnswer(start, timeoutMs, answer)) {
        ++answers;
        if (answer.kind == LineKind::Version) {
            CopyText(link.version, answer.text);
            break;
        }
    }
    if (answers == 0)
        return kSlNoAnswer;

    if (!SendNow("N\r", timeoutMs))
        return kSlNoPort;
    if (!AwaitAnswer(TickMs(), timeoutMs, answer))
        return kSlNoAnswer;
    if (answer.kind == LineKind::Serial)
        CopyText(link.serial, answer.text);

    // A channel left open refuses S; "C" on a closed one may be answered BEL: both fine.
    if (!SendNow("C\r", timeoutMs))
        return kSlNoPort;
    if (!AwaitAnswer(TickMs(), timeoutMs, answer))
        return kSlNoAnswer;

    char command[8];
    std::snprintf(command, sizeof command, "S%d\r", code);
    const char* steps[] = {command, "O\r"};
    for (const char* step : steps) {
        if (!SendNow(step, timeoutMs))
            return kSlNoPort;
        if (!AwaitAnswer(TickMs(), timeoutMs, answer))
            return kSlNoAnswer;
        if (answer.kind != LineKind::Ok)
            return kSlCommandRefused;
    }
    link.lastInputMs = TickMs();
    link.lastPollMs = link.lastInputMs;
    return kSlOk;
}

std::uint32_t NotOpenResult()
{
    return link.state == LinkState::Lost ? kSlNoPort : kSlNotInitialised;
}

// What CAN_Read adds to "queue empty".
std::uint32_t ReadTrouble()
{
    return link.state == LinkState::Open ? 0 : NotOpenResult();
}

static_assert(kSlOk == driverlib::kOk && kSlReceiveEmpty == driverlib::kReceiveEmpty &&
              kSlIllegalParameter == driverlib::kIllegalParameter && kVersionTextSize == driverlib::kVersionTextSize);

}  // namespace
}  // namespace slcan

using namespace slcan;

SLCAN_EXPORT std::uint32_t DRIVER_CALL CAN_Init(std::uint16_t btr0btr1, int frameType)
{
    // A new CAN_Init always starts afresh: an open port is closed first.
    if (link.state == LinkState::Open) {
        Queue("C\r", 2);
        Flush();
    }
    ClosePort(LinkState::Closed);
    ClearSession();
    link.version[0] = '\0';
    link.serial[0] = '\0';

    // frameType 0: standard identifiers, 1: extended ones as well; the device passes both.
    const BitRateRow* rate = FindBitRate(btr0btr1);
    if (rate == nullptr || (frameType != 0 && frameType != 1))
        return kSlIllegalParameter;
    SlcanConfig config;
    if (!LoadConfig(config))
        return kSlIllegalParameter;
    link.timeoutMs = config.timeoutMs;

    link.port = OpenSerialPort(config.port, config.baud);
    if (link.port == kNoPort) {
        WriteLog(config, *rate, kSlNoPort);
        return kSlNoPort;
    }
    const std::uint32_t result = OpenDevice(rate->slcanCode, config.timeoutMs);
    WriteLog(config, *rate, result);
    if (result != kSlOk) {
        ClosePort(LinkState::Closed);
        ClearSession();
        return result;
    }
    link.state = LinkState::Open;
    return kSlOk;
}

SLCAN_EXPORT std::uint32_t DRIVER_CALL CAN_Close()
{
    if (link.state == LinkState::Open) {
        // Commands still waiting go out first (say, an NMT command before the bus is
        // released), then the channel is closed; the port's write time-out bounds both.
        Flush();
        if (Queue("C\r", 2))
            Flush();
    }
    ClosePort(LinkState::Closed);
    ClearSession();
    return kSlOk;
}

SLCAN_EXPORT std::uint32_t DRIVER_CALL CAN_Status()
{
    Pump();
    if (link.state != LinkState::Open)
        return NotOpenResult();
    // The device's flags are read now and then: every call would crowd the line.
    const std::uint32_t now = TickMs();
    if (link.flagsSupported && !PollPending() && now - link.lastPollMs >= kFlagsPollMs &&
        link.pending.count < kMaxPendingAnswers && Queue("F\r", 2)) {
        Await(Awaited::Flags);
        link.lastPollMs = now;
        Flush();
    }
    std::uint32_t status = kSlOk;
    if ((link.deviceFlags & (kFlagRxQueueFull | kFlagDataOverrun)) != 0 || link.overrun)
        status |= kSlReceiveOverrun;
    if ((link.deviceFlags & kFlagTxQueueFull) != 0)
        status |= kSlDeviceQueueFull;
    if ((link.deviceFlags & kFlagBusError) != 0)
        status |= kSlBusError;
    if (link.refused)
        status |= kSlCommandRefused;
    if (link.noAnswer)
        status |= kSlNoAnswer;
    // Each trouble is reported once; a device that stays silent stays reported.
    link.deviceFlags = 0;
    link.overrun = 0;
    link.refused = 0;
    return status;
}

SLCAN_EXPORT std::uint32_t DRIVER_CALL CAN_Write(DriverMsg* msg)
{
    if (msg == nullptr)
        return kSlIllegalParameter;
    char line[kMaxFrameText];
    const std::size_t length = FormatFrame(*msg, line, sizeof line);
    if (length == 0)
        return kSlWriteRefused;
    Pump();
    if (link.state != LinkState::Open)
        return NotOpenResult();
    if (link.pending.count == kMaxPendingAnswers || !Queue(line, length))
        return link.noAnswer ? kSlNoAnswer : kSlTransmitFull;
    Await(Awaited::Frame);
    if (!Flush())
        return kSlNoPort;
    return kSlOk;
}

SLCAN_EXPORT std::uint32_t DRIVER_CALL CAN_Read(DriverMsg* msg)
{
    return driverlib::ReadEntry(link.queue, msg, Pump, ReadTrouble);
}

SLCAN_EXPORT std::uint32_t DRIVER_CALL CAN_VersionInfo(char* text)
{
    // The device's version and serial number, once CAN_Init has read them.
    char device[2 * kMaxLineLength + 2] = "";
    if (link.version[0] != '\0' || link.serial[0] != '\0')
        std::snprintf(device, sizeof device, "%s %s", link.version, link.serial);
    return driverlib::VersionInfoEntry(text, kVersionText, device);
}

SLCAN_EXPORT std::uint32_t DRIVER_CALL CAN_SpecialFunktion(unsigned long function, int param)
{
    (void)function;
    (void)param;
    return kSlIllegalParameter;  // no special functions on a serial adapter
}

SLCAN_EXPORT std::uint32_t DRIVER_CALL CAN_ResetClient()
{
    return driverlib::ResetClientEntry(link.queue);  // the channel stays as it is
}

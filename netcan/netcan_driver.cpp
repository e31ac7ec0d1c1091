// The eight driver entry points over one connection to a socketcand server.
//
// CAN_Init reads netcan.ini, connects (bounded by its TimeoutMs) and does the handshake:
// "< hi >" from the server, then "< open IF >" and "< rawmode >", each answered "< ok >".
// From then on nothing waits: CAN_Read, CAN_Write and CAN_Status each move what the
// socket can take or give at once, cut the received bytes into elements and queue the
// frames. A connection the server closes or that breaks is "lost": CAN_Status says so,
// queued frames can still be read, and the next CAN_Init connects anew.
//
// Everything is called from the program's one thread; the state is static.
#include <cstdio>
#include <cstring>

#include "bit_rates.h"
#include "driver_api.h"
#include "driver_entries.h"
#include "net_socket.h"
#include "netcan_config.h"
#include "netcan_results.h"
#include "socketcand_codec.h"
#include "tick.h"

#if defined(_WIN32)
#define NETCAN_EXPORT extern "C"
#else
#define NETCAN_EXPORT extern "C" [[gnu::visibility("default")]]
#endif

namespace netcan {
namespace {

enum class LinkState : std::uint8_t {
    Closed,  // no CAN_Init yet, or CAN_Close
    Open,    // connected, in raw mode
    Lost,    // the connection ended without CAN_Close
};

struct TransmitBuffer {
    std::size_t used;
    char bytes[kTransmitBufferSize];
};

struct Link {
    LinkState state;
    std::uint8_t socketsStarted;  // StartSockets succeeded and awaits StopSockets
    std::uint8_t busOff;          // an error element reported bus-off, no restart since
    SocketHandle socket;
    ElementBuffer input;
    TransmitBuffer output;
    driverlib::FrameRing<kReceiveQueueSize> queue;
};

Link link = {LinkState::Closed, 0, 0, kNoSocket, {}, {}, {}};

// Milliseconds left of `limit` counted from `start`, 0 when it has passed (unsigned
// tick arithmetic, so a wrapping tick does no harm).
std::uint32_t Remaining(std::uint32_t start, std::uint32_t limit)
{
    const std::uint32_t elapsed = TickMs() - start;
    return elapsed >= limit ? 0 : limit - elapsed;
}

void Disconnect(LinkState next)
{
    CloseSocket(link.socket);
    link.socket = kNoSocket;
    if (link.socketsStarted) {
        StopSockets();
        link.socketsStarted = 0;
    }
    link.output.used = 0;
    link.state = next;
}

void ClearReceived()
{
    ClearElementBuffer(link.input);
    driverlib::RingClear(link.queue);
}

// Sends what the socket takes now. False when the connection is gone.
bool Flush()
{
    while (link.output.used > 0) {
        std::size_t sent = 0;
        const IoResult result = SendSome(link.socket, link.output.bytes, link.output.used, sent);
        if (result == IoResult::WouldBlock)
            return true;
        if (result != IoResult::Done) {
            Disconnect(LinkState::Lost);
            return false;
        }
        std::memmove(link.output.bytes, link.output.bytes + sent, link.output.used - sent);
        link.output.used -= sent;
    }
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

// Acts on one element received in raw mode; the caller makes sure the queue has room.
void TakeRawElement(const Element& element)
{
    if (element.kind == ElementKind::Frame) {
        driverlib::RingPush(link.queue, element.msg);
    } else if (element.kind == ElementKind::Error && element.hasErrorClass) {
        if ((element.errorClass & kErrorClassBusOff) != 0)
            link.busOff = 1;
        if ((element.errorClass & kErrorClassRestarted) != 0)
            link.busOff = 0;
    }
    // Everything else (echo, a refused command, an unreadable element) carries no frame.
}

// Cuts held bytes into elements while the queue has room for one more frame.
void ParseHeld()
{
    char text[kMaxElementLength + 1];
    while (!driverlib::RingFull(link.queue)) {
        const int length = TakeElement(link.input, text);
        if (length < 0)
            return;
        TakeRawElement(ParseElement(text, static_cast<std::size_t>(length)));
    }
}

// Moves what the connection has now, without waiting: pending commands out, received
// bytes in and into the queue. A bounded number of reads, so a busy bus cannot keep
// one call here.
void Pump()
{
    if (link.state != LinkState::Open)
        return;
    if (!Flush())
        return;
    ParseHeld();
    for (int round = 0; round < 8 && !driverlib::RingFull(link.queue) && Room(link.input) > 0; ++round) {
        std::size_t received = 0;
        const IoResult result = ReceiveSome(link.socket, RoomAt(link.input), Room(link.input), received);
        if (result == IoResult::WouldBlock)
            return;
        if (result != IoResult::Done) {
            Disconnect(LinkState::Lost);  // the frames already queued stay readable
            return;
        }
        Commit(link.input, received);
        ParseHeld();
    }
}

// Waits up to timeoutMs for the next element during the handshake.
bool AwaitElement(std::uint32_t timeoutMs, Element& element)
{
    const std::uint32_t start = TickMs();
    char text[kMaxElementLength + 1];
    for (;;) {
        const int length = TakeElement(link.input, text);
        if (length >= 0) {
            element = ParseElement(text, static_cast<std::size_t>(length));
            return true;
        }
        const std::uint32_t left = Remaining(start, timeoutMs);
        if (left == 0 || WaitReadable(link.socket, left) == 0)
            return false;
        std::size_t received = 0;
        const IoResult result = ReceiveSome(link.socket, RoomAt(link.input), Room(link.input), received);
        if (result == IoResult::WouldBlock)
            continue;
        if (result != IoResult::Done || received == 0)
            return false;
        Commit(link.input, received);
    }
}

// Sends one handshake command whole, waiting up to timeoutMs for room.
bool SendCommand(const char* command, std::uint32_t timeoutMs)
{
    if (!Queue(command, std::strlen(command)))
        return false;
    const std::uint32_t start = TickMs();
    while (link.output.used > 0) {
        if (!Flush())
            return false;
        if (link.output.used == 0)
            break;
        const std::uint32_t left = Remaining(start, timeoutMs);
        if (left == 0 || WaitWritable(link.socket, left) == 0)
            return false;
    }
    return true;
}

// The handshake after connecting. 0, or the CAN_Init result that says why not.
std::uint32_t Handshake(const NetcanConfig& config)
{
    Element element;
    if (!AwaitElement(config.timeoutMs, element) || element.kind != ElementKind::Hi)
        return kNetHandshakeRefused;
    char open[kMaxInterfaceLength + 16];
    std::snprintf(open, sizeof open, "< open %s >", config.interfaceName);
    if (!SendCommand(open, config.timeoutMs))
        return kNetNoConnection;
    if (!AwaitElement(config.timeoutMs, element) || element.kind != ElementKind::Ok)
        return kNetHandshakeRefused;
    if (!SendCommand("< rawmode >", config.timeoutMs))
        return kNetNoConnection;
    if (!AwaitElement(config.timeoutMs, element) || element.kind != ElementKind::Ok)
        return kNetHandshakeRefused;
    return kNetOk;
}

std::uint32_t NotOpenResult()
{
    return link.state == LinkState::Lost ? kNetNoConnection : kNetNotInitialised;
}

// What CAN_Read adds to "queue empty".
std::uint32_t ReadTrouble()
{
    return link.state == LinkState::Open ? 0 : NotOpenResult();
}

static_assert(kNetOk == driverlib::kOk && kNetReceiveEmpty == driverlib::kReceiveEmpty &&
              kNetIllegalParameter == driverlib::kIllegalParameter && kVersionTextSize == driverlib::kVersionTextSize);

}  // namespace
}  // namespace netcan

using namespace netcan;

NETCAN_EXPORT std::uint32_t DRIVER_CALL CAN_Init(std::uint16_t btr0btr1, int frameType)
{
    // A new CAN_Init always starts afresh: an open connection is closed first, a lost one
    // is connected again.
    Disconnect(LinkState::Closed);
    ClearReceived();
    link.busOff = 0;

    // frameType 0: standard identifiers, 1: extended ones as well; the server passes
    // both kinds whatever is chosen here.
    // Any word of the table (10 kbit/s to 1 Mbit/s): the bit rate itself is set on the
    // server's side, on its SocketCAN interface, which raw mode cannot change.
    if (FindBitRate(btr0btr1) == nullptr || (frameType != 0 && frameType != 1))
        return kNetIllegalParameter;
    NetcanConfig config;
    if (!LoadConfig(config))
        return kNetIllegalParameter;

    if (!StartSockets())
        return kNetNoConnection;
    link.socketsStarted = 1;
    link.socket = ConnectTcp(config.host, config.port, config.timeoutMs);
    if (link.socket == kNoSocket) {
        Disconnect(LinkState::Closed);
        return kNetNoConnection;
    }
    const std::uint32_t result = Handshake(config);
    if (result != kNetOk) {
        Disconnect(LinkState::Closed);
        ClearReceived();
        return result;
    }
    link.state = LinkState::Open;
    Pump();  // frames that came with the last "< ok >"
    return kNetOk;
}

NETCAN_EXPORT std::uint32_t DRIVER_CALL CAN_Close()
{
    if (link.state == LinkState::Open) {
        // The last commands (say, an NMT command before the bus is released) still go
        // out, if the connection takes them within a short while.
        const std::uint32_t start = TickMs();
        while (link.state == LinkState::Open && link.output.used > 0) {
            const std::uint32_t left = Remaining(start, kCloseDrainMs);
            if (left == 0 || WaitWritable(link.socket, left) == 0)
                break;
            Flush();
        }
    }
    Disconnect(LinkState::Closed);
    ClearReceived();
    link.busOff = 0;
    return kNetOk;
}

NETCAN_EXPORT std::uint32_t DRIVER_CALL CAN_Status()
{
    Pump();
    if (link.state != LinkState::Open)
        return NotOpenResult();
    return link.busOff ? kNetBusOff : kNetOk;
}

NETCAN_EXPORT std::uint32_t DRIVER_CALL CAN_Write(DriverMsg* msg)
{
    if (msg == nullptr)
        return kNetIllegalParameter;
    char command[kMaxCommandLength];
    const std::size_t length = FormatSendCommand(*msg, command, sizeof command);
    if (length == 0)
        return kNetWriteRefused;
    Pump();
    if (link.state != LinkState::Open)
        return NotOpenResult();
    if (!Queue(command, length))
        return kNetTransmitFull;
    if (!Flush())
        return kNetNoConnection;
    return kNetOk;
}

NETCAN_EXPORT std::uint32_t DRIVER_CALL CAN_Read(DriverMsg* msg)
{
    return driverlib::ReadEntry(link.queue, msg, Pump, ReadTrouble);
}

NETCAN_EXPORT std::uint32_t DRIVER_CALL CAN_VersionInfo(char* text)
{
    return driverlib::VersionInfoEntry(text, kVersionText, "");
}

NETCAN_EXPORT std::uint32_t DRIVER_CALL CAN_SpecialFunktion(unsigned long function, int param)
{
    (void)function;
    (void)param;
    return kNetIllegalParameter;  // no special functions over the network
}

NETCAN_EXPORT std::uint32_t DRIVER_CALL CAN_ResetClient()
{
    return driverlib::ResetClientEntry(link.queue);  // the connection stays as it is
}

// The text protocol of a socketcand server in raw mode, as the network driver speaks it.
//
// Everything on the connection is an element: ASCII text between '<' and '>', words
// separated by blanks. The server greets with "< hi >" and confirms "< open can0 >" and
// "< rawmode >" with "< ok >"; afterwards every frame on the bus arrives as
//
//     < frame 123 1700000000.123456 0011223344 >        data: hex byte pairs, maybe none
//     < frame 1ABCDEF0 1700000000.123456 >              8 hex digits: extended identifier
//     < rtr 123 1700000000.123456 2 >                   remote frame asking for 2 bytes
//     < error 040 1700000000.123456 >                   CAN error frame (error class bits)
//
// and the client sends frames as
//
//     < send 123 2 01 F1 >                              identifier hex, DLC decimal, bytes hex
//     < sendrtr 123 2 >                                 remote frame
//
// Pure functions over text and records; no sockets here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver_api.h"

namespace netcan {

// Longest element accepted between '<' and '>'. A frame of 8 bytes with an extended
// identifier and a 10-digit second count takes about 55 characters; a longer element is
// malformed and dropped.
constexpr std::size_t kMaxElementLength = 128;

// Longest command FormatSendCommand produces, terminating zero included.
constexpr std::size_t kMaxCommandLength = 64;

// CAN error classes in an error element (the SocketCAN error frame bits).
constexpr std::uint32_t kErrorClassBusOff = 0x040;
constexpr std::uint32_t kErrorClassRestarted = 0x100;

enum class ElementKind : std::uint8_t {
    Hi,         // the greeting
    Ok,         // a command was accepted
    Frame,      // a data or remote frame: `msg` holds it
    Error,      // "< error ... >": a CAN error frame (`hasErrorClass`) or a refused command
    Other,      // a well-formed element this driver has no use for (echo, statistics, ...)
    Malformed,  // a frame element that does not parse
};

struct Element {
    ElementKind kind;
    DriverMsg msg;               // Frame: the received message, msgType 0, kMsgRemote and/or kMsgExtended
    std::uint8_t hasErrorClass;  // Error: the second word was an error class in hex
    std::uint32_t errorClass;    // Error: the class bits when hasErrorClass
};

// Formats the command that puts `msg` on the bus into `text` (zero-terminated). Returns
// the length without the zero, or 0 when the record cannot be sent (length above 8,
// identifier out of range, a status message) or `size` is too small.
std::size_t FormatSendCommand(const DriverMsg& msg, char* text, std::size_t size);

// Parses the text between '<' and '>' (both excluded).
Element ParseElement(const char* text, std::size_t length);

// Collects the bytes that arrive on the connection and cuts them into elements. Bytes
// outside '<' ... '>' are skipped (some servers put line ends between elements); an
// element that is not closed within kMaxElementLength characters, or that a new '<'
// interrupts, is dropped.
struct ElementBuffer {
    static constexpr std::size_t kCapacity = 4096;
    std::size_t used;  // bytes held in `bytes`
    char bytes[kCapacity];
};

void ClearElementBuffer(ElementBuffer& buffer);

// Room for more bytes at the end of the buffer: RoomAt gives the address, Room the
// count; Commit adds `count` bytes written there.
char* RoomAt(ElementBuffer& buffer);
std::size_t Room(const ElementBuffer& buffer);
void Commit(ElementBuffer& buffer, std::size_t count);

// Takes the next complete element out of the buffer and copies its inner text (without
// '<' and '>', zero-terminated) to `text`, which holds kMaxElementLength + 1 characters.
// Returns its length, or -1 when no complete element is held yet.
int TakeElement(ElementBuffer& buffer, char (&text)[kMaxElementLength + 1]);

}  // namespace netcan

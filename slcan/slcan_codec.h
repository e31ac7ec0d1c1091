// The ASCII serial-line CAN protocol of the common USB-to-CAN sticks, as the serial driver
// and the test device speak it. Every command and every answer is one line ended by CR:
//
//     S5            bit rate code 0..8 (10k .. 1M)          answered CR, or BEL on error
//     O   C         open / close the CAN channel             CR or BEL
//     t1232A1F1     data frame: 3 hex id, length, bytes      z CR after sending (t and r)
//     T1ABCDEF02A1F1  29-bit identifier: 8 hex digits       Z CR after sending (T and R)
//     r1232   R1ABCDEF02  remote frames, with a length
//     F             status flags                             Fxx CR
//     V   N         version, serial number                   Vhhss CR, Nxxxx CR
//
// Received frames come in the same t/T/r/R form, optionally followed by a 4-hex-digit time
// stamp (ms, 0..0xEA5F) when the device was told Z1. A BEL alone is the error answer.
//
// Pure functions over text and records; no ports here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver_api.h"

namespace slcan {

// Longest line the parser keeps: "T" + 8 id + 1 length + 16 data + 4 time stamp = 30.
// A longer line is noise (or a device speaking something else) and is dropped whole.
constexpr std::size_t kMaxLineLength = 32;

// Longest line FormatFrame produces, CR and terminating zero included.
constexpr std::size_t kMaxFrameText = 32;

constexpr char kCr = '\r';
constexpr char kBel = '\a';

// Largest time stamp a device sends (it counts milliseconds modulo one minute).
constexpr std::uint16_t kMaxTimestamp = 0xEA5F;

// Status flags of the F answer.
constexpr std::uint8_t kFlagRxQueueFull = 0x01;
constexpr std::uint8_t kFlagTxQueueFull = 0x02;
constexpr std::uint8_t kFlagErrorWarning = 0x04;
constexpr std::uint8_t kFlagDataOverrun = 0x08;
constexpr std::uint8_t kFlagErrorPassive = 0x20;
constexpr std::uint8_t kFlagArbitrationLost = 0x40;
constexpr std::uint8_t kFlagBusError = 0x80;

// Formats the line that sends `msg` ("t...", "T...", "r...", "R...", CR included) into
// `text`, zero-terminated. Returns its length without the zero, or 0 when the record is
// no frame (length above 8, identifier out of range, a status message) or `size` is too
// small.
std::size_t FormatFrame(const DriverMsg& msg, char* text, std::size_t size);

enum class LineKind : std::uint8_t {
    Ok,           // a bare CR: the last command was done
    Error,        // BEL: the last command was refused
    TransmitAck,  // "z" or "Z": a frame was queued for sending
    Frame,        // a received frame: `msg`, maybe `timestamp`
    Flags,        // "Fxx": `flags`
    Version,      // "Vhhss": `text`
    Serial,       // "Nxxxx": `text`
    Malformed,    // anything else, or a line that was too long
};

struct Line {
    LineKind kind;
    DriverMsg msg;                  // Frame: msgType 0, kMsgRemote and/or kMsgExtended
    std::uint8_t hasTimestamp;      // Frame: a time stamp followed the data
    std::uint16_t timestamp;        // Frame: milliseconds, when hasTimestamp
    std::uint8_t flags;             // Flags: the status bits
    char text[kMaxLineLength + 1];  // Version, Serial: the line, zero-terminated
};

// Parses a frame line ("t", "T", "r" or "R" first, no CR). True when it is one, with the
// record in `msg` and the time stamp, if any, in `timestamp`.
bool ParseFrame(const char* text, std::size_t length, DriverMsg& msg, std::uint8_t& hasTimestamp,
                std::uint16_t& timestamp);

// Classifies one complete line (without its CR).
Line ParseLine(const char* text, std::size_t length);

// Cuts the bytes from the device into lines. A line ends at CR; a BEL is an answer of its
// own (a partial line it interrupts is dropped); LF and zero bytes between
// lines are skipped; a line longer than kMaxLineLength is dropped whole and reported once
// as Malformed when its CR arrives.
struct LineParser {
    std::size_t used;       // characters held in `line`
    std::uint8_t overlong;  // the current line passed kMaxLineLength
    char line[kMaxLineLength];
};

void ClearParser(LineParser& parser);

// Feeds one byte. True when it completed a line, which is then in `line`.
bool FeedByte(LineParser& parser, char byte, Line& line);

}  // namespace slcan

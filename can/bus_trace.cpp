#include "bus_trace.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "files.h"
#include "tick.h"

const std::array<const char*, 16> FunctionNameTable = {
    "NMT",
    "SYNC/EMERGENCY",  // never printed: code 1 is named by its node number
    "TIME_STAMP",
    "PDO1 (tx)",
    "PDO1 (rx)",
    "PDO2 (tx)",
    "PDO2 (rx)",
    "PDO3 (tx)",
    "PDO3 (rx)",
    "PDO4 (tx)",
    "PDO4 (rx)",
    "SDO (tx)",
    "SDO (rx)",
    "-",
    "NTM Error Control",
    "-",
};
static_assert(FunctionNameTable.size() == 16, "one name per 4-bit function code");

namespace {

std::FILE* traceFile = nullptr;  // from OpenTraceFile; nullptr: the trace is off

}  // namespace

void OpenTraceFile(const char* path)
{
    CloseTraceFile();
    if (path == nullptr || path[0] == '\0')
        return;
    // Text mode: every "\n" becomes the platform's line end. An existing file is emptied.
    traceFile = OpenFileUtf8(path, "wt");
}

void CloseTraceFile()
{
    if (traceFile == nullptr)
        return;
    std::fclose(traceFile);
    traceFile = nullptr;
}

int TracePrintf(const char* format, ...)
{
    if (traceFile == nullptr)
        return 0;
    std::va_list arguments;
    va_start(arguments, format);
    const int written = std::vfprintf(traceFile, format, arguments);
    va_end(arguments);
    // Nothing is buffered: the trace is complete up to the last piece even if the
    // program ends abnormally.
    std::fflush(traceFile);
    return written;
}

void TraceFrame(const DriverMsg& msg)
{
    // Time since the frame traced last; modulo 2^32 across the wrap of the tick.
    const std::uint32_t now = TickMs();
    const std::uint32_t delta = now - previousTraceTick;
    previousTraceTick = now;

    // The frame's line: time, identifier, flags and data.
    TracePrintf("%6u: ", static_cast<unsigned>(delta));
    TracePrintf("%03X", static_cast<unsigned>(msg.id));
    if ((msg.msgType & (kMsgStatus | kMsgExtended | kMsgRemote)) != 0) {
        TracePrintf("(");
        if ((msg.msgType & kMsgStatus) != 0)
            TracePrintf(" STAT ");
        if ((msg.msgType & kMsgExtended) != 0)
            TracePrintf(" EXT ");
        if ((msg.msgType & kMsgRemote) != 0)
            TracePrintf(" RTR ");
        TracePrintf(")");
    }
    if ((msg.msgType & kMsgRemote) != 0) {
        TracePrintf(" - L=%u", static_cast<unsigned>(msg.length));
    } else if (msg.length != 0) {
        TracePrintf(" - ");
        // The record holds 8 data bytes whatever its length field claims.
        const std::size_t count = std::min<std::size_t>(msg.length, sizeof msg.data);
        for (std::size_t i = 0; i < count; ++i)
            TracePrintf("%02X ", static_cast<unsigned>(msg.data[i]));
    }
    TracePrintf("\n");

    // A second line: the identifier decoded by the predefined connection set (low 11
    // bits only).
    const std::uint32_t node = msg.id & 0x7Fu;
    const std::uint32_t function = (msg.id >> 7) & 0x0Fu;
    TracePrintf("ID: %02Xh", static_cast<unsigned>(node));
    TracePrintf(", Function: %01Xh", static_cast<unsigned>(function));
    if (function == 1 && node == 0)
        TracePrintf(" (SYNC)");
    else if (function == 1)
        TracePrintf(" (EMERGENCY)");
    else
        TracePrintf(" (%s)", FunctionNameTable[function]);
    TracePrintf("\n");
}

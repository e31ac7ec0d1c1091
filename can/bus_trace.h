// The bus trace: two text lines per frame that passes the driver, in "tovral.log".
//
//     1234: 603 - 40 00 10 00 00 00 00 00
//   ID: 03h, Function: Ch (SDO (rx))
#pragma once

#include <array>
#include <cstdint>

#include "driver_api.h"

// Name printed for each function code (id >> 7) & 0x0F; code 1 is printed as SYNC or
// EMERGENCY instead, by node number.
extern const std::array<const char*, 16> FunctionNameTable;

// Tick of the frame traced last; 0 at program start.
inline std::uint32_t previousTraceTick = 0;

// Opens (and empties) the trace file; UTF-8 path. Without a file every write does nothing.
void OpenTraceFile(const char* path);
void CloseTraceFile();

// printf into the trace file, flushed at once. Characters written, or 0 with no file.
int TracePrintf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Writes the two lines of one frame.
void TraceFrame(const DriverMsg& msg);

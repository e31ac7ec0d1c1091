// The bus trace: two text lines per frame that passes the driver, in "tovral.log".
//
//     1234: 603 - 40 00 10 00 00 00 00 00
//   ID: 03h, Function: Ch (SDO (rx))
#pragma once

#include <array>
#include <cstdint>

#include "bus_ticks.h"
#include "driver_api.h"

// Name printed for each function code (id >> 7) & 0x0F; code 1 is printed as SYNC or
// EMERGENCY instead, by node number.
extern const std::array<const char*, 16> FunctionNameTable;

// Opens (and empties) the trace file; UTF-8 path. A file already open is closed first.
// Without a file every write does nothing.
void OpenTraceFile(const char* path);
void CloseTraceFile();

// printf into the trace file, flushed at once. Characters written, or 0 with no file.
// On MinGW the C++ library routes printf to its standard-conforming implementation, so
// the format check is the GNU one there too.
#if defined(__MINGW32__)
#define VELOMAR_TRACE_FORMAT __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
#define VELOMAR_TRACE_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define VELOMAR_TRACE_FORMAT
#endif
int TracePrintf(const char* format, ...) VELOMAR_TRACE_FORMAT;

// Writes the two lines of one frame.
void TraceFrame(const DriverMsg& msg);

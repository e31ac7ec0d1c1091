// What the Windows tests of the network driver need from the interop bed
// (tests/interop/run-bed.sh), which runs them: its ports from the environment, the files
// beside the executable, and the slaves' control ports.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// A port the bed put into the environment (BED_PORT, BED_CONTROL_3, ...); 0 when unset.
std::uint16_t BedPort(const char* name);

// Folder of the running executable, with a trailing backslash.
std::wstring ExeFolder();

// Writes a netcan.ini for the bed's server into `folder` (with a trailing backslash).
bool WriteNetcanIni(const std::wstring& folder, std::uint16_t port, const char* interfaceName);

// One command to a slave's control port and its one-line answer ("ok ..."), or "" when
// the slave cannot be reached within a second.
std::string AskSlave(std::uint16_t controlPort, const std::string& command);

// Whole text files for the tests: read, written, and edited in one place.
#pragma once

#include <string>

// The bytes of the file at `path`; "" when it cannot be read.
std::string ReadTextFile(const std::string& path);

// Writes `text` to `path` (a test failure when it cannot).
void WriteTextFile(const std::string& path, const std::string& text);

// `text` with the first `from` replaced by `to` (a test failure when there is none).
std::string Replaced(std::string text, const std::string& from, const std::string& to);

// The simulated I/O module's EDS text made a DCF of node 3 with two values: the device
// name, which the file says is writable and the device keeps constant (refused with
// 06010002), and a heartbeat time of 350 ms.
std::string IoModuleWithARefusedRow(std::string text);

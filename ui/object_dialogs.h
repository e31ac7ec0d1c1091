// The Read Object and Write Object dialogs (110 and 111).
#pragma once

#include <windows.h>

#include <cstdint>

// Hands a completed read to the Read Object dialog: when it is open, the bytes go into
// its result buffer and are shown. Returns 1 when shown, 0 when the dialog is closed.
int DeliverReadResult(const std::uint8_t* data, std::uint32_t length);

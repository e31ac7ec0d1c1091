// The Read Object and Write Object dialogs (110 and 111): one object of the current slave,
// by index and subindex, in one of five data formats.
//
// Neither dialog transfers anything itself. Read and Write fill the ObjectRequest of the
// process image and set its `pending` flag; the next exchange cycle performs the transfer
// and hands a read result back through DeliverReadResult. Both dialogs are modeless; the
// shell creates them (OpenReadObjectDialog, OpenWriteObjectDialog) and keeps at most one.
#pragma once

#include <windows.h>

#include <cstdint>

#include "eds_reader.h"
#include "object_values.h"

INT_PTR CALLBACK ReadObjectDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK WriteObjectDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Hands a completed read to the Read Object dialog: when it is open, the bytes go into
// its result buffer and are shown. Returns 1 when shown, 0 when the dialog is closed.
int DeliverReadResult(const std::uint8_t* data, std::uint32_t length);

// Shows the Read Object dialog's result (length and value in the checked format), or
// empties both result fields when there is none. Always 1.
int ShowReadResult(HWND dialog);

// The format whose button is checked: Raw, else Signed, else Unsigned, else Float, else Hex.
DataFormat GetDataFormat(HWND dialog);

// Bytes to send: 4 for Float, `currentCount` for Raw, else the checked count button (1 when
// none of 2 to 4 is checked).
std::uint32_t GetByteCount(HWND dialog, DataFormat format, std::uint32_t currentCount);

// The count buttons are disabled for Float and Raw, enabled otherwise. Always 1.
int UpdateByteCountButtons(HWND dialog);

// What the object dialogs show next, for one entry of the Object Dictionary: index,
// subindex, format, byte count (Raw: the bytes of `value`) and Write Object's value. An
// open dialog is refilled at once. `entry` (nullptr: none) is the entry Write Object
// checks its limits against while index and subindex are still the entry's.
void PresetObjectDialogs(std::uint32_t index, std::uint32_t subindex, DataFormat format, std::uint32_t count,
                         const std::uint8_t* value, std::uint32_t valueLength, const eds::Entry* entry);

// Back to the state of a fresh run: index and subindex 0, Hex, a zero value of 4 bytes,
// no read result. Start-up calls it.
void ResetObjectMemory();

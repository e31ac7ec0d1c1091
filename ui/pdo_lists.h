// The two process-data lists of the main window: output list 1006 shows OutputTable,
// input list 1005 shows the inputs of the process image.
#pragma once

#include <windows.h>

#include <cstdint>

#include "process_image.h"

// Item data of a separator line.
constexpr LPARAM SeparatorMark = 0x80000000;

// What each list showed last.
extern EntryList inputShadow;
extern EntryList outputShadow;

// Rebuilds list `listId` (1005 or 1006) from `table`; keeps selection and scroll position.
int FillPdoList(HWND window, int listId, const EntryList& table);

// Rebuilds each list whose table differs from its shadow (updating the shadow), or
// every list when forced. The input table is always the process image's inputs.
int RefreshPdoLists(HWND window, const EntryList& inputs, bool force);

// The shadow rule for one list, as the exchange and the stop apply it: copy the table
// into the shadow when they differ, and rebuild when they differed or when forced.
int SyncPdoList(HWND window, int listId, const EntryList& table, EntryList& shadow, bool force);

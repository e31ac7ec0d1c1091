// The windows' part of the master's operations (see operator_side.h), and their reset.
#include "registered_windows.h"

#include "dictionary_window.h"
#include "main_window.h"
#include "object_dialogs.h"
#include "pdo_lists.h"
#include "process_image.h"
#include "search_dialog.h"
#include "settings.h"

int ShowBothPdoLists(HWND window, bool force)
{
    // The exchange and the stop always show the process image's inputs.
    return RefreshPdoLists(window, processImage->inputs, force);
}

int ShowSearchList(HWND dialog)
{
    return FillSlaveList(dialog, kSlaveListId);
}

void ResetWindowState()
{
    inputShadow = EntryList{};
    outputShadow = EntryList{};
    ResetObjectMemory();
}

// The windows' part of the master's operations (see operator_side.h).
#include "registered_windows.h"

#include "dictionary_window.h"
#include "main_window.h"
#include "object_dialogs.h"
#include "pdo_lists.h"
#include "process_image.h"
#include "search_dialog.h"
#include "settings.h"

namespace {

// The exchange and the stop always show the process image's inputs.
int SyncBothPdoLists(HWND window, bool force)
{
    return RefreshPdoLists(window, processImage->inputs, force);
}

int FillSearchList(HWND dialog)
{
    return FillSlaveList(dialog, kSlaveListId);
}

}  // namespace

void FillWindowOperations(OperatorOps& ops)
{
    ops.SetCommActive = SetCommActive;
    ops.SetFreezeOutputs = SetFreezeOutputs;
    ops.ValidateSlaveAddress = ValidateSlaveAddress;
    ops.UpdateCommControls = UpdateCommControls;
    ops.SyncPdoLists = SyncBothPdoLists;
    ops.DeliverReadResult = DeliverReadResult;
    ops.FillSlaveList = FillSearchList;
    ops.ShowDictionaryEntry = ShowDictionaryEntry;
    ops.RecallEdsFile = RecallEdsFile;
    ops.RememberEdsFile = RememberEdsFile;
    ops.PickEdsFile = PickEdsFile;
}

void ResetWindowState()
{
    inputShadow = EntryList{};
    outputShadow = EntryList{};
    ResetObjectMemory();
}

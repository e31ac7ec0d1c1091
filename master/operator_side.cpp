#include "operator_side.h"

namespace {

int NoStringMessage(OwnerHandle, std::uint32_t)
{
    return 1;
}

int NoFormatMessage(OwnerHandle, MessageForm, std::uint32_t, const wchar_t*)
{
    return AnswerNone;
}

int NoWindowFlag(OwnerHandle, bool)
{
    return 1;
}

int NoWindowStep(OwnerHandle)
{
    return 1;
}

int NoReadResult(const std::uint8_t*, std::uint32_t)
{
    return 0;
}

OwnerHandle NoMainWindow()
{
    return nullptr;
}

int NoStep()
{
    return 1;
}

int NoMessage(MessagePumpSlot)
{
    return 0;
}

void NoWait(std::uint32_t) {}

void* NoBusy()
{
    return nullptr;
}

void NoEndBusy(void*) {}

int NoEntryRow(OwnerHandle, std::uint32_t)
{
    return 1;
}

int NoEntry(OwnerHandle, std::uint32_t, std::uint32_t, std::uint32_t)
{
    return 1;
}

int NoRecall(std::uint32_t, char*, std::uint32_t)
{
    return 0;
}

int NoRemember(std::uint32_t, const char*)
{
    return 1;
}

int NoPick(OwnerHandle, char*, std::uint32_t)
{
    return 0;
}

constexpr OperatorOps kInert{
    .showMessage = NoStringMessage,
    .askQuestion = NoFormatMessage,
    .showCommActive = NoWindowFlag,
    .showFreezeOutputs = NoWindowFlag,
    .takeSlaveAddress = NoWindowStep,
    .refreshCommControls = NoWindowStep,
    .showPdoLists = NoWindowFlag,
    .handOverReadResult = NoReadResult,
    .showSearchProgress = NoWindowStep,
    .ownerWindow = NoMainWindow,
    .openReadObject = NoWindowStep,
    .openWriteObject = NoWindowStep,
    .closeObjectWindows = NoStep,
    .saveSettings = NoStep,
    .closeMainWindow = NoWindowStep,
    .passMessage = NoMessage,
    .restUntilInput = NoWait,
    .beginWait = NoBusy,
    .endWait = NoEndBusy,
    .openDictionary = NoWindowStep,
    .showEntryRead = NoEntry,
    .lookUpEdsChoice = NoRecall,
    .keepEdsChoice = NoRemember,
    .askForEdsFile = NoPick,
    .showNodeStatus = NoWindowStep,
    .showLssProgress = NoWindowStep,
    .showDownloadRow = NoEntryRow,
};

OperatorOps current = kInert;

}  // namespace

bool OperationsComplete(const OperatorOps& ops)
{
    // Every slot, in the order of the record; the assertion below fails the build when a
    // slot is added to the record and not here.
    const void* const slots[] = {
        reinterpret_cast<const void*>(ops.showMessage),
        reinterpret_cast<const void*>(ops.askQuestion),
        reinterpret_cast<const void*>(ops.showCommActive),
        reinterpret_cast<const void*>(ops.showFreezeOutputs),
        reinterpret_cast<const void*>(ops.takeSlaveAddress),
        reinterpret_cast<const void*>(ops.refreshCommControls),
        reinterpret_cast<const void*>(ops.showPdoLists),
        reinterpret_cast<const void*>(ops.handOverReadResult),
        reinterpret_cast<const void*>(ops.showSearchProgress),
        reinterpret_cast<const void*>(ops.ownerWindow),
        reinterpret_cast<const void*>(ops.openReadObject),
        reinterpret_cast<const void*>(ops.openWriteObject),
        reinterpret_cast<const void*>(ops.closeObjectWindows),
        reinterpret_cast<const void*>(ops.saveSettings),
        reinterpret_cast<const void*>(ops.closeMainWindow),
        reinterpret_cast<const void*>(ops.passMessage),
        reinterpret_cast<const void*>(ops.restUntilInput),
        reinterpret_cast<const void*>(ops.beginWait),
        reinterpret_cast<const void*>(ops.endWait),
        reinterpret_cast<const void*>(ops.openDictionary),
        reinterpret_cast<const void*>(ops.showEntryRead),
        reinterpret_cast<const void*>(ops.lookUpEdsChoice),
        reinterpret_cast<const void*>(ops.keepEdsChoice),
        reinterpret_cast<const void*>(ops.askForEdsFile),
        reinterpret_cast<const void*>(ops.showNodeStatus),
        reinterpret_cast<const void*>(ops.showLssProgress),
        reinterpret_cast<const void*>(ops.showDownloadRow),
    };
    static_assert(sizeof slots / sizeof slots[0] * sizeof(void (*)()) == sizeof(OperatorOps),
                  "every slot of the record is checked");
    for (const void* slot : slots)
        if (slot == nullptr)
            return false;
    return true;
}

void SetOperatorOps(const OperatorOps& ops)
{
    current = ops;
}

void ClearOperatorOps()
{
    current = kInert;
}

const OperatorOps& Operator()
{
    return current;
}

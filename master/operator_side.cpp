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
    NoStringMessage, NoFormatMessage, NoWindowFlag, NoWindowFlag, NoWindowStep, NoWindowStep, NoWindowFlag,
    NoReadResult,    NoWindowStep,    NoMainWindow, NoWindowStep, NoWindowStep, NoStep,       NoStep,
    NoWindowStep,    NoMessage,       NoWait,       NoBusy,       NoEndBusy,    NoWindowStep, NoEntry,
    NoRecall,        NoRemember,      NoPick,
};

OperatorOps current = kInert;

}  // namespace

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

#include "comm_state.h"

void PostDeferredCommand(DeferredCode code)
{
    commState.DeferredCommand = code;
}

void SetWindowReady(bool ready)
{
    commState.windowReady = ready ? 1 : 0;
}

void FreezeOutputs(bool on)
{
    commState.freezeOutputs = on ? 1 : 0;
}

int PassOneMessage()
{
    if (ActivePump == nullptr)
        return 0;
    // The operator's side removes the message (leaving a quit message for the main loop)
    // and hands it to the slot.
    return Operator().passMessage(ActivePump);
}

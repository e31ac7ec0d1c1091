#include "comm_state.h"

int PassOneMessage()
{
    if (ActivePump == nullptr)
        return 0;
    // The operator's side removes the message (leaving a quit message for the main loop)
    // and hands it to the slot.
    return Operator().PassMessageTo(ActivePump);
}

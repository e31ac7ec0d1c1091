#include "comm_state.h"

int PassOneMessage()
{
    if (ActivePump == nullptr)
        return 0;
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        return 0;
    if (message.message == WM_QUIT) {
        // The quit message belongs to the main loop: taken here it would be lost and the
        // program would never end. Put it back for the loop to find.
        PostQuitMessage(static_cast<int>(message.wParam));
        return 0;
    }
    ActivePump(&message);
    return 1;
}

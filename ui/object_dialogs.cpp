#include "object_dialogs.h"

// The Read Object dialog is not part of the program yet, so it is never open and a
// completed read has nowhere to be shown.
int DeliverReadResult(const std::uint8_t* /*data*/, std::uint32_t /*length*/)
{
    return 0;
}

#include "test_driver_host.h"

namespace {

const TestDriverHandlers* installed = nullptr;  // from SetTestDriverHandlers

}  // namespace

void SetTestDriverHandlers(const TestDriverHandlers* handlers)
{
    installed = handlers;
}

const TestDriverHandlers* TestDriverHandlersInUse()
{
    return installed;
}

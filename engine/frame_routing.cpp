#include "frame_routing.h"

#include "emergency.h"
#include "error_control.h"

int RouteToConsumers(const CanFrame& frame, std::uint32_t now)
{
    switch (FunctionCode(frame.id)) {
    case kEmergencyFunction:
        return ReceiveEmergency(MasterEmergencyLog(), frame, now);
    case kErrorControlFunction:
        return ReceiveErrorControl(MasterErrorControl(), frame, now);
    default:
        return 0;
    }
}

const CanFrame* StepConsumers(std::uint32_t now)
{
    return StepErrorControl(MasterErrorControl(), now);
}

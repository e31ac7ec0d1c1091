#include "frame_routing.h"

#include "emergency.h"
#include "error_control.h"

bool ConsumersWatching()
{
    return MasterErrorControl().node != 0 || MasterEmergencyLog().node != 0;
}

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

#include "frame_routing.h"

#include "emergency.h"
#include "error_control.h"
#include "lss_master.h"

bool ConsumersWatching()
{
    const LssMaster& lss = MasterLss();
    return MasterErrorControl().node != 0 || MasterEmergencyLog().node != 0 || LssRunning(lss) || lss.holdsBus != 0;
}

int RouteToConsumers(const CanFrame& frame, std::uint32_t now)
{
    switch (FunctionCode(frame.id)) {
    case kEmergencyFunction:
        return ReceiveEmergency(MasterEmergencyLog(), frame, now);
    case kErrorControlFunction:
        return ReceiveErrorControl(MasterErrorControl(), frame, now);
    case kLssFunction:
        if (frame.id != kLssAnswerCobId)
            return 0;
        StepLss(MasterLss(), &frame, now);
        return 1;
    default:
        return 0;
    }
}

const CanFrame* StepConsumers(std::uint32_t now)
{
    LssMaster& lss = MasterLss();
    if (const CanFrame* request = StepLss(lss, nullptr, now))
        return request;
    if (LssHoldsBus(lss, now))
        return nullptr;
    return StepErrorControl(MasterErrorControl(), now);
}

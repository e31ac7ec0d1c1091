#include "bus_pump.h"

#include <cstring>

#include "bus_trace.h"
#include "driver.h"
#include "frame_routing.h"
#include "pdo_slots.h"
#include "tick.h"

void PumpBus()
{
    NodeTable& table = MasterNodeTable();

    // At most one message per call; any non-zero result (queue empty, an error, no
    // library loaded) means no frame this time.
    DriverMsg msg{};
    const std::uint32_t result = CAN_Read(&msg);

    // A status message from the driver is consumed here: not a bus frame.
    if (result == kDriverOk && (msg.msgType & kMsgStatus) == 0) {
        TraceFrame(msg);
        const CanFrame frame = MsgToFrame(msg);
        RunEngineCycle(table, &frame);
        if (ConsumersWatching())
            RouteToConsumers(frame, TickMs());
    }

    // Always, frame or not: lets the engine check its time-outs and send what is due, and
    // the consumers their deadlines.
    RunEngineCycle(table, nullptr);
    if (ConsumersWatching()) {
        if (const CanFrame* request = StepConsumers(TickMs()))
            SendFrame(*request);
    }
}

void DrainReceiveQueue()
{
    NodeTable& table = MasterNodeTable();
    DriverMsg msg{};
    while (CAN_Read(&msg) == kDriverOk) {
        // Status messages are consumed as the pump consumes them.
        if ((msg.msgType & kMsgStatus) != 0)
            continue;
        // Still a frame on the bus: the trace is the record of everything there.
        TraceFrame(msg);
        // An input that arrived before the transfer is kept; an SDO response that
        // arrived before its request is not one, so the SDO clients never see it.
        const CanFrame frame = MsgToFrame(msg);
        ReceivePdo(table, frame, NodeNumber(frame.id));
        if (ConsumersWatching())
            RouteToConsumers(frame, TickMs());
    }
}

int SendFrame(const CanFrame& frame)
{
    DriverMsg msg = FrameToMsg(frame);

    // A full transmit queue is retried at once, without waiting, but only for
    // kTransmitRetryMs: a driver that stays full must not hold the thread forever.
    const std::uint32_t start = TickMs();
    std::uint32_t result = CAN_Write(&msg);
    while ((result & kDriverTransmitFull) != 0 && TickMs() - start <= kTransmitRetryMs)
        result = CAN_Write(&msg);

    // Whatever came of it: the exchange paces itself on the attempt.
    lastSendTick = TickMs();

    // Given up on a full queue, or refused.
    if (result != kDriverOk)
        return 0;

    // Only a frame the driver took goes into the trace.
    TraceFrame(msg);
    return 1;
}

CanFrame MsgToFrame(const DriverMsg& msg)
{
    CanFrame frame{};
    frame.remote = (msg.msgType & kMsgRemote) != 0 ? 1 : 0;
    // The extended-identifier bit is not carried over: the engine takes every
    // identifier as a COB-ID.
    frame.id = msg.id;
    frame.length = msg.length;
    static_assert(sizeof msg.data == sizeof frame.data);
    std::memcpy(frame.data.data(), msg.data, sizeof msg.data);  // all 8, whatever the length
    return frame;
}

DriverMsg FrameToMsg(const CanFrame& frame)
{
    DriverMsg msg{};  // all 16 bytes zero, the two trailing ones included
    // The master only ever sends standard-identifier frames.
    msg.msgType = frame.remote != 0 ? kMsgRemote : 0;
    msg.id = frame.id;
    msg.length = frame.length;
    static_assert(sizeof msg.data == sizeof frame.data);
    std::memcpy(msg.data, frame.data.data(), sizeof msg.data);
    return msg;
}

#include "sdo_services.h"

#include "bus_pump.h"
#include "exchange_internal.h"
#include "node_table.h"
#include "sdo_client.h"

namespace {

SdoResult ToResult(std::uint8_t status, std::uint32_t abortCode)
{
    switch (status) {
    case SdoCompleted:
        return {0, 0, 0};
    case SdoAborted:
        return {0, 1, abortCode};
    default:
        return {1, 0, abortCode};
    }
}

// Pumps until the node's transfer has ended; bounded by the engine's time-out on every
// response.
void WaitForResult(std::uint32_t node, std::uint8_t* destination, std::uint32_t capacity, std::uint32_t& delivered,
                   std::uint8_t& status, std::uint32_t& abortCode)
{
    NodeTable& table = MasterNodeTable();
    do {
        PumpBus();
    } while (FetchSdoResult(node, table, destination, capacity, delivered, status, abortCode) == 0);
}

}  // namespace

SdoResult ReadObject(std::uint32_t node, std::uint32_t timeoutMs, std::uint16_t index, std::uint8_t subIndex,
                     std::uint8_t* destination, std::uint32_t capacity, std::uint32_t& length)
{
    RunNestedIdleCycle();
    DrainReceiveQueue();
    length = 0;
    RequestUpload(node, timeoutMs, MasterNodeTable(), index, subIndex);
    std::uint32_t delivered = 0, abortCode = 0;
    std::uint8_t status = SdoFailed;
    WaitForResult(node, destination, capacity, delivered, status, abortCode);
    const SdoResult result = ToResult(status, abortCode);
    if (status == SdoCompleted)
        length = delivered;
    return result;
}

SdoResult WriteObject(std::uint32_t node, std::uint32_t timeoutMs, std::uint16_t index, std::uint8_t subIndex,
                      const std::uint8_t* data, std::uint32_t length)
{
    DrainReceiveQueue();
    if (RequestDownload(node, timeoutMs, MasterNodeTable(), index, subIndex, data, length) == 0)
        return {1, 0, 0};
    std::uint32_t delivered = 0, abortCode = 0;
    std::uint8_t status = SdoFailed;
    WaitForResult(node, nullptr, 0, delivered, status, abortCode);
    return ToResult(status, abortCode);
}

SdoResult ReadObjectDefault(std::uint32_t node, std::uint16_t index, std::uint8_t subIndex, std::uint8_t* destination,
                            std::uint32_t& length)
{
    return ReadObject(node, kDefaultSdoTimeoutMs, index, subIndex, destination, kMaxObjectBytes, length);
}

SdoResult WriteObjectDefault(std::uint32_t node, std::uint16_t index, std::uint8_t subIndex, const std::uint8_t* data,
                             std::uint32_t length)
{
    return WriteObject(node, kDefaultSdoTimeoutMs, index, subIndex, data, length);
}

int SendNmtCommand(std::uint32_t node, std::uint8_t command)
{
    CanFrame frame{};
    frame.remote = 0;
    frame.id = 0;
    frame.length = 2;
    frame.data[0] = command;
    frame.data[1] = static_cast<std::uint8_t>(node);
    return SendFrame(frame);
}

void SendRemoteRequest(std::uint32_t cobId, std::uint8_t length)
{
    PumpBus();
    CanFrame frame{};
    frame.remote = 1;
    frame.id = cobId;
    frame.length = length;
    SendFrame(frame);
}

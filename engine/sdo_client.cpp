#include "sdo_client.h"

#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "tick.h"

namespace {

// Command specifiers (byte 0) of the frames the master sends.
constexpr std::uint8_t kInitiateUpload = 0x40;
constexpr std::uint8_t kUploadSegment = 0x60;      // | 0x10 with toggle 1
constexpr std::uint8_t kInitiateExpedited = 0x23;  // | (4 - n) << 2 for n data bytes
constexpr std::uint8_t kInitiateSegmented = 0x21;
constexpr std::uint8_t kAbort = 0x80;

// Response command specifiers, byte 0 AND 0xE0.
constexpr std::uint8_t kUploadInitResponse = 0x40;
constexpr std::uint8_t kUploadSegmentResponse = 0x00;
constexpr std::uint8_t kDownloadInitResponse = 0x60;
constexpr std::uint8_t kDownloadSegmentResponse = 0x20;
constexpr std::uint8_t kAbortResponse = 0x80;

// A local failure: the abort frame leaves at the node's next step.
void Fail(NodeRecord& record, std::uint32_t code)
{
    record.abortCode = code;
    record.sdoState = SdoState::SendAbort;
}

void PutMultiplexer(NodeRecord& record)
{
    StoreLe16(&record.sdoFrame.data[1], record.index);
    record.sdoFrame.data[3] = record.subIndex;
}

const CanFrame* SendRequest(NodeRecord& record, SdoState next)
{
    record.requestTick = TickMs();
    record.sdoState = next;
    return &record.sdoFrame;
}

// The checks every waiting state makes before its own handling, in this order. Returns
// true when the frame is the response the state expects.
bool AcceptResponse(NodeRecord& record, const CanFrame* frame, std::uint8_t expected, bool compareMultiplexer)
{
    if (frame == nullptr) {
        // Unsigned difference: correct across the wrap of the tick. Equal is not late.
        if (TickMs() - record.requestTick > record.timeoutMs)
            Fail(record, kAbortTimeout);
        return false;
    }
    if (frame->remote != 0)
        return false;
    if (frame->length != 8) {
        Fail(record, kAbortGeneral);
        return false;
    }
    const std::uint8_t specifier = frame->data[0] & 0xE0;
    if (specifier == kAbortResponse) {
        record.abortCode = LoadLe32(&frame->data[4]);
        record.status = SdoAborted;
        record.sdoState = SdoState::Done;
        return false;
    }
    if (specifier != expected) {
        Fail(record, kAbortBadCommand);
        return false;
    }
    if (compareMultiplexer && (LoadLe16(&frame->data[1]) != record.index || frame->data[3] != record.subIndex)) {
        Fail(record, kAbortGeneral);
        return false;
    }
    return true;
}

void StartTransfer(NodeRecord& record)
{
    record.abortCode = 0;
    record.uploadLength = 0;
    record.sizeIndicated = 0;
    record.toggle = 0;
    record.offset = 0;
    record.status = SdoFailed;
}

void OnUploadInitResponse(NodeRecord& record, const CanFrame& frame)
{
    const std::uint8_t specifier = frame.data[0];
    if ((specifier & 0x02) != 0) {  // expedited; the size-indicated bit is not examined
        const std::uint32_t count = 4u - ((specifier >> 2) & 3u);
        std::memcpy(record.uploadData.data(), &frame.data[4], count);
        record.uploadLength = count;
        record.status = SdoCompleted;
        record.sdoState = SdoState::Done;
        return;
    }
    // Segmented. A slave may leave the size out (bit 0x01 clear): the object is then as
    // long as what its segments carry, still kMaxObjectBytes at most.
    record.sizeIndicated = (specifier & 0x01) != 0 ? 1 : 0;
    record.uploadLength = record.sizeIndicated != 0 ? LoadLe32(&frame.data[4]) : 0;
    if (record.uploadLength > kMaxObjectBytes) {
        Fail(record, kAbortOutOfMemory);
        return;
    }
    record.sdoState = SdoState::UploadSegment;
}

void OnUploadSegmentResponse(NodeRecord& record, const CanFrame& frame)
{
    const std::uint8_t specifier = frame.data[0];
    if (((specifier >> 4) & 1u) != record.toggle) {
        Fail(record, kAbortToggle);
        return;
    }
    const std::uint32_t count = 7u - ((specifier >> 1) & 7u);
    if (record.offset + count > kMaxObjectBytes) {
        Fail(record, kAbortOutOfMemory);
        return;
    }
    record.toggle ^= 1u;
    std::memcpy(&record.uploadData[record.offset], &frame.data[1], count);
    record.offset += count;
    if (record.sizeIndicated == 0)
        record.uploadLength = record.offset;
    if ((specifier & 0x01) == 0) {
        record.sdoState = SdoState::UploadSegment;
    } else if (record.offset == record.uploadLength) {
        record.status = SdoCompleted;
        record.sdoState = SdoState::Done;
    } else {
        Fail(record, kAbortLengthMismatch);
    }
}

const CanFrame* SendDownloadInit(NodeRecord& record)
{
    StartTransfer(record);
    const std::uint32_t length = record.downloadLength;
    if (length == 0) {
        record.status = SdoCompleted;
        record.sdoState = SdoState::Done;
        return nullptr;
    }
    CanFrame& out = record.sdoFrame;
    PutMultiplexer(record);
    if (length <= 4) {
        out.data[0] = static_cast<std::uint8_t>(kInitiateExpedited | ((4u - length) << 2));
        std::memcpy(&out.data[4], record.downloadData.data(), length);
    } else {
        out.data[0] = kInitiateSegmented;
        StoreLe32(&out.data[4], length);
    }
    return SendRequest(record, SdoState::DownloadInitWait);
}

const CanFrame* SendDownloadSegment(NodeRecord& record)
{
    const std::uint32_t count = std::min(7u, record.downloadLength - record.offset);
    const bool last = record.downloadLength - record.offset <= 7u;
    CanFrame& out = record.sdoFrame;
    out.data[0] = static_cast<std::uint8_t>((record.toggle << 4) | ((7u - count) << 1) | (last ? 1u : 0u));
    std::memcpy(&out.data[1], &record.downloadData[record.offset], count);
    record.offset += count;
    return SendRequest(record, SdoState::DownloadSegmentWait);
}

void OnDownloadSegmentResponse(NodeRecord& record, const CanFrame& frame)
{
    if (((frame.data[0] >> 4) & 1u) != record.toggle) {
        Fail(record, kAbortToggle);
        return;
    }
    record.toggle ^= 1u;
    if (record.offset >= record.downloadLength) {
        record.status = SdoCompleted;
        record.sdoState = SdoState::Done;
    } else {
        record.sdoState = SdoState::DownloadSegment;
    }
}

}  // namespace

int RequestUpload(std::uint32_t node, std::uint32_t timeoutMs, NodeTable& table, std::uint16_t index,
                  std::uint8_t subIndex)
{
    NodeRecord& record = RecordOf(table, node);
    record.txCobId = static_cast<std::uint16_t>(0x600u + (node & 0x7Fu));
    record.rxCobId = static_cast<std::uint16_t>(0x580u + (node & 0x7Fu));
    record.index = index;
    record.subIndex = subIndex;
    record.timeoutMs = timeoutMs;
    record.uploadLength = 0;
    record.sdoState = SdoState::UploadInit;
    return 1;
}

int RequestDownload(std::uint32_t node, std::uint32_t timeoutMs, NodeTable& table, std::uint16_t index,
                    std::uint8_t subIndex, const std::uint8_t* data, std::uint32_t length)
{
    if (length > kMaxObjectBytes || (data == nullptr && length != 0))
        return 0;
    NodeRecord& record = RecordOf(table, node);
    record.sdoState = SdoState::Idle;
    record.downloadLength = length;
    record.uploadLength = 0;
    record.txCobId = static_cast<std::uint16_t>(0x600u + (node & 0x7Fu));
    record.rxCobId = static_cast<std::uint16_t>(0x580u + (node & 0x7Fu));
    record.index = index;
    record.subIndex = subIndex;
    record.timeoutMs = timeoutMs;
    if (length != 0)
        std::memcpy(record.downloadData.data(), data, length);
    record.sdoState = SdoState::DownloadInit;
    return 1;
}

const CanFrame* StepSdo(std::uint32_t node, NodeTable& table, const CanFrame* frame)
{
    NodeRecord& record = RecordOf(table, node);
    // A frame for another COB-ID leaves this client untouched, time-out check included.
    if (frame != nullptr && frame->id != record.rxCobId)
        return nullptr;

    CanFrame& out = record.sdoFrame;
    out = CanFrame{};
    out.id = record.txCobId;
    out.length = 8;

    switch (record.sdoState) {
    case SdoState::Idle:
        return nullptr;

    case SdoState::UploadInit:
        StartTransfer(record);
        out.data[0] = kInitiateUpload;
        PutMultiplexer(record);
        return SendRequest(record, SdoState::UploadInitWait);

    case SdoState::UploadInitWait:
        if (AcceptResponse(record, frame, kUploadInitResponse, true))
            OnUploadInitResponse(record, *frame);
        return nullptr;

    case SdoState::UploadSegment:
        out.data[0] = static_cast<std::uint8_t>(kUploadSegment | (record.toggle << 4));
        return SendRequest(record, SdoState::UploadSegmentWait);

    case SdoState::UploadSegmentWait:
        if (AcceptResponse(record, frame, kUploadSegmentResponse, false))
            OnUploadSegmentResponse(record, *frame);
        return nullptr;

    case SdoState::DownloadInit:
        return SendDownloadInit(record);

    case SdoState::DownloadInitWait:
        if (AcceptResponse(record, frame, kDownloadInitResponse, true)) {
            if (record.downloadLength > 4) {
                record.sdoState = SdoState::DownloadSegment;
            } else {
                record.status = SdoCompleted;
                record.sdoState = SdoState::Done;
            }
        }
        return nullptr;

    case SdoState::DownloadSegment:
        return SendDownloadSegment(record);

    case SdoState::DownloadSegmentWait:
        if (AcceptResponse(record, frame, kDownloadSegmentResponse, false))
            OnDownloadSegmentResponse(record, *frame);
        return nullptr;

    case SdoState::SendAbort:
        out.data[0] = kAbort;
        PutMultiplexer(record);
        StoreLe32(&out.data[4], record.abortCode);
        record.status = SdoFailed;
        record.sdoState = SdoState::Done;
        return &out;

    case SdoState::Done:
        return nullptr;
    }
    return nullptr;
}

int FetchSdoResult(std::uint32_t node, NodeTable& table, std::uint8_t* destination, std::uint32_t capacity,
                   std::uint32_t& length, std::uint8_t& status, std::uint32_t& abortCode)
{
    length = 0;
    status = SdoFailed;
    abortCode = 0;
    NodeRecord& record = RecordOf(table, node);
    if (record.sdoState != SdoState::Done)
        return 0;
    // uploadLength may hold an announced size above kMaxObjectBytes after a refused upload: never
    // copy more than the buffer holds.
    const std::uint32_t count = std::min({record.uploadLength, capacity, kMaxObjectBytes});
    if (count != 0)
        std::memcpy(destination, record.uploadData.data(), count);
    length = count;
    status = record.status;
    abortCode = record.abortCode;
    record.sdoState = SdoState::Idle;
    return 1;
}

#include "sdo_server.h"

#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "object_dictionary.h"
#include "virtual_bus.h"

namespace simbus {

namespace {

// Client command specifiers (byte 0 >> 5).
constexpr std::uint8_t kDownloadSegment = 0;
constexpr std::uint8_t kInitiateDownload = 1;
constexpr std::uint8_t kInitiateUpload = 2;
constexpr std::uint8_t kUploadSegment = 3;
constexpr std::uint8_t kAbortTransfer = 4;

// What a misbehaving node announces instead of the real size.
constexpr std::uint32_t kOversizedAnnouncement = 1001;

void SendResponse(World& world, std::uint8_t nodeId, const std::uint8_t (&bytes)[8], std::uint32_t now)
{
    const SimNode& node = world.nodes[nodeId];
    DriverMsg msg{};
    msg.id = 0x580u + nodeId;
    msg.length = 8;
    std::memcpy(msg.data, bytes, 8);
    const std::uint8_t command = bytes[0] & 0xE0;
    switch (node.mode) {
    case kSimNodeSdoLength7:
        msg.length = 7;
        break;
    case kSimNodeWrongIndex:
        if (command == 0x40 || command == 0x60 || command == 0x80)
            StoreLe16(msg.data + 1, static_cast<std::uint16_t>(LoadLe16(msg.data + 1) + 1));
        break;
    case kSimNodeBadToggle:
        if (command == 0x00 || command == 0x20)
            msg.data[0] ^= 0x10;
        break;
    default:
        break;
    }
    NodeTransmit(world, nodeId, msg, now);
}

void SendAbort(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex, std::uint32_t code,
               std::uint32_t now)
{
    world.nodes[nodeId].sdo.state = SdoServerState::Idle;
    std::uint8_t bytes[8] = {0x80};
    StoreLe16(bytes + 1, index);
    bytes[3] = subIndex;
    StoreLe32(bytes + 4, code);
    SendResponse(world, nodeId, bytes, now);
}

void SendIndexed(World& world, std::uint8_t nodeId, std::uint8_t command, std::uint16_t index, std::uint8_t subIndex,
                 std::uint32_t data, std::uint32_t now)
{
    std::uint8_t bytes[8] = {command};
    StoreLe16(bytes + 1, index);
    bytes[3] = subIndex;
    StoreLe32(bytes + 4, data);
    SendResponse(world, nodeId, bytes, now);
}

void InitiateUpload(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex, std::uint32_t now)
{
    SimNode& node = world.nodes[nodeId];
    SdoServer& sdo = node.sdo;
    std::uint32_t length = 0;
    const std::uint32_t abort = ReadForSdo(world, nodeId, index, subIndex, sdo.buffer, kMaxValueBytes, length, now);
    if (abort != 0) {
        SendAbort(world, nodeId, index, subIndex, abort, now);
        return;
    }
    std::uint32_t announced = length;
    std::uint8_t initiate = 0x41;  // segmented, size indicated
    bool forceSegmented = false;
    switch (node.mode) {
    case kSimNodeAnnounce1001:
        std::fill(sdo.buffer + length, sdo.buffer + kOversizedAnnouncement, std::uint8_t{0});
        length = kOversizedAnnouncement;
        announced = kOversizedAnnouncement;
        forceSegmented = true;
        break;
    case kSimNodeSizeMismatch:
        announced = length + 1;
        forceSegmented = true;
        break;
    case kSimNodeEndlessSegments:
        forceSegmented = true;
        break;
    case kSimNodeUnsizedUploads:
        initiate = 0x40;
        announced = 0;
        break;
    default:
        break;
    }
    if (length >= 1 && length <= 4 && !forceSegmented) {
        // Expedited, size indicated: 4 - n in bits 2-3.
        std::uint8_t bytes[8] = {static_cast<std::uint8_t>(0x43 | ((4 - length) << 2))};
        StoreLe16(bytes + 1, index);
        bytes[3] = subIndex;
        std::memcpy(bytes + 4, sdo.buffer, length);
        sdo.state = SdoServerState::Idle;
        SendResponse(world, nodeId, bytes, now);
        return;
    }
    sdo.state = SdoServerState::Uploading;
    sdo.toggle = 0;
    sdo.size = length;
    sdo.offset = 0;
    SendIndexed(world, nodeId, initiate, index, subIndex, announced, now);
}

void UploadSegment(World& world, std::uint8_t nodeId, const std::uint8_t* request, std::uint32_t now)
{
    SimNode& node = world.nodes[nodeId];
    SdoServer& sdo = node.sdo;
    if (sdo.state != SdoServerState::Uploading) {
        SendAbort(world, nodeId, sdo.index, sdo.subIndex, kAbortCommand, now);
        return;
    }
    const std::uint8_t toggle = (request[0] >> 4) & 1;
    if (toggle != sdo.toggle) {
        SendAbort(world, nodeId, sdo.index, sdo.subIndex, kAbortToggle, now);
        return;
    }
    const bool endless = node.mode == kSimNodeEndlessSegments;
    const std::uint32_t left = sdo.size > sdo.offset ? sdo.size - sdo.offset : 0;
    const std::uint32_t count = endless ? 7 : std::min<std::uint32_t>(7, left);
    const bool last = !endless && count == left;
    std::uint8_t bytes[8] = {static_cast<std::uint8_t>((toggle << 4) | ((7 - count) << 1) | (last ? 1 : 0))};
    const std::uint32_t real = std::min(count, left);  // an endless upload pads with zeros
    if (real != 0)
        std::memcpy(bytes + 1, sdo.buffer + sdo.offset, real);
    sdo.offset += count;
    sdo.toggle ^= 1;
    if (last)
        sdo.state = SdoServerState::Idle;
    SendResponse(world, nodeId, bytes, now);
}

void InitiateDownload(World& world, std::uint8_t nodeId, const std::uint8_t* request, std::uint32_t now)
{
    SdoServer& sdo = world.nodes[nodeId].sdo;
    const std::uint8_t command = request[0];
    const bool expedited = (command & 0x02) != 0;
    const bool sizeIndicated = (command & 0x01) != 0;
    const std::uint16_t index = sdo.index;
    const std::uint8_t subIndex = sdo.subIndex;
    if (expedited) {
        std::uint32_t length = sizeIndicated ? 4u - ((command >> 2) & 3u) : 4u;
        if (!sizeIndicated) {
            // No size: the object's own size, when it fits in the four bytes.
            if (const ObjectEntry* entry = FindEntry(world, nodeId, index, subIndex)) {
                if (!IsVariableLength(entry->dataType) && entry->capacity <= 4)
                    length = entry->capacity;
            }
        }
        const std::uint32_t abort = WriteForSdo(world, nodeId, index, subIndex, request + 4, length, now);
        if (abort != 0)
            SendAbort(world, nodeId, index, subIndex, abort, now);
        else
            SendIndexed(world, nodeId, 0x60, index, subIndex, 0, now);
        return;
    }
    const std::uint32_t announced = LoadLe32(request + 4);
    const std::uint32_t abort = CheckDownload(world, nodeId, index, subIndex, sizeIndicated, announced);
    if (abort != 0) {
        SendAbort(world, nodeId, index, subIndex, abort, now);
        return;
    }
    sdo.state = SdoServerState::Downloading;
    sdo.toggle = 0;
    sdo.sizeIndicated = sizeIndicated ? 1 : 0;
    sdo.size = announced;
    sdo.offset = 0;
    SendIndexed(world, nodeId, 0x60, index, subIndex, 0, now);
}

void DownloadSegment(World& world, std::uint8_t nodeId, const std::uint8_t* request, std::uint32_t now)
{
    SdoServer& sdo = world.nodes[nodeId].sdo;
    if (sdo.state != SdoServerState::Downloading) {
        SendAbort(world, nodeId, sdo.index, sdo.subIndex, kAbortCommand, now);
        return;
    }
    const std::uint8_t toggle = (request[0] >> 4) & 1;
    if (toggle != sdo.toggle) {
        SendAbort(world, nodeId, sdo.index, sdo.subIndex, kAbortToggle, now);
        return;
    }
    const std::uint32_t count = 7u - ((request[0] >> 1) & 7u);
    if (sdo.offset + count > kMaxValueBytes) {
        SendAbort(world, nodeId, sdo.index, sdo.subIndex, kAbortTooLong, now);
        return;
    }
    std::memcpy(sdo.buffer + sdo.offset, request + 1, count);
    sdo.offset += count;
    sdo.toggle ^= 1;
    if ((request[0] & 0x01) != 0) {
        sdo.state = SdoServerState::Idle;
        std::uint32_t abort = 0;
        if (sdo.sizeIndicated && sdo.offset != sdo.size)
            abort = kAbortTypeLength;
        else
            abort = WriteForSdo(world, nodeId, sdo.index, sdo.subIndex, sdo.buffer, sdo.offset, now);
        if (abort != 0) {
            SendAbort(world, nodeId, sdo.index, sdo.subIndex, abort, now);
            return;
        }
    }
    const std::uint8_t bytes[8] = {static_cast<std::uint8_t>(0x20 | (toggle << 4))};
    SendResponse(world, nodeId, bytes, now);
}

}  // namespace

void HandleSdoRequest(World& world, std::uint8_t nodeId, const DriverMsg& request, std::uint32_t now)
{
    if (request.length != 8)
        return;
    SimNode& node = world.nodes[nodeId];
    const std::uint8_t* data = request.data;
    const std::uint8_t command = data[0] >> 5;
    if (command == kAbortTransfer) {
        node.sdo.state = SdoServerState::Idle;
        return;
    }
    const bool initiate = command == kInitiateDownload || command == kInitiateUpload;
    if (initiate) {
        node.sdo.state = SdoServerState::Idle;
        node.sdo.index = LoadLe16(data + 1);
        node.sdo.subIndex = data[3];
    }
    if (node.mode == kSimNodeAbortAll) {
        // Segments carry data where initiate and block requests carry the index.
        const bool segment = command == kDownloadSegment || command == kUploadSegment;
        const std::uint16_t index = segment ? node.sdo.index : LoadLe16(data + 1);
        const std::uint8_t subIndex = segment ? node.sdo.subIndex : data[3];
        SendAbort(world, nodeId, index, subIndex, node.modeParam, now);
        return;
    }
    switch (command) {
    case kInitiateUpload:
        InitiateUpload(world, nodeId, node.sdo.index, node.sdo.subIndex, now);
        break;
    case kUploadSegment:
        UploadSegment(world, nodeId, data, now);
        break;
    case kInitiateDownload:
        InitiateDownload(world, nodeId, data, now);
        break;
    case kDownloadSegment:
        DownloadSegment(world, nodeId, data, now);
        break;
    default:  // block upload, block download, and specifier 7
        SendAbort(world, nodeId, LoadLe16(data + 1), data[3], kAbortCommand, now);
        break;
    }
}

}  // namespace simbus

#include "lss_slave.h"

#include "byte_order.h"
#include "lss_codes.h"
#include "object_dictionary.h"
#include "virtual_bus.h"

namespace simbus {

namespace {

using namespace lss;

constexpr std::uint8_t kErrorNone = 0;
constexpr std::uint8_t kErrorOutOfRange = 1;
constexpr std::uint16_t kIdentityObject = 0x1018;

// The entries of the standard bit timing table (selector 0).
constexpr std::uint8_t kBitTimingEntries = sizeof kBitTimingKbit / sizeof kBitTimingKbit[0];
static_assert(kBitTimingEntries == 9);

bool Due(std::uint32_t tick, std::uint32_t now)
{
    return static_cast<std::int32_t>(now - tick) >= 0;
}

bool ValidNodeId(std::uint8_t nodeId)
{
    return nodeId >= 1 && nodeId <= kMaxNodeId;
}

// The identity's parts 0-3: object 0x1018 sub 1-4; 0 for a sub the device lacks.
std::uint32_t IdentityPart(World& world, const SimNode& node, std::uint32_t part)
{
    const ObjectEntry* entry =
        FindDeviceEntry(world, node, kIdentityObject, static_cast<std::uint8_t>((part & 3u) + 1u));
    if (entry == nullptr)
        return 0;
    return static_cast<std::uint32_t>(LoadLeUnsigned(EntryValue(world, *entry), entry->length < 4 ? entry->length : 4));
}

void SwitchGlobal(SimNode& node, std::uint8_t mode)
{
    LssSlave& lss = node.lss;
    lss.selectStep = 0;
    if (mode == 1) {
        lss.mode = LssMode::Configuration;
    } else if (mode == 0) {
        // Back to waiting, a device without a node-ID goes on to boot with a configured one.
        if (lss.mode == LssMode::Configuration && lss.activeNodeId == kNoNodeId && ValidNodeId(lss.pendingNodeId))
            lss.resetDue = ResetDue::Communication;
        lss.mode = LssMode::Waiting;
    }
}

// The four parts in order; true once the serial completes a match.
bool SwitchSelective(World& world, SimNode& node, std::uint8_t part, std::uint32_t value)
{
    LssSlave& lss = node.lss;
    if (part == 0) {
        lss.selectMatch = 1;
    } else if (lss.selectStep != part) {
        lss.selectStep = 0;
        return false;
    }
    lss.selectStep = static_cast<std::uint8_t>(part + 1);
    if (value != IdentityPart(world, node, part))
        lss.selectMatch = 0;
    if (part < 3)
        return false;
    lss.selectStep = 0;
    return lss.selectMatch != 0;
}

// Vendor, product, revision low and high, serial low and high in order; true once the
// serial's high end completes a match.
bool IdentifyRemote(World& world, SimNode& node, std::uint8_t step, std::uint32_t value)
{
    LssSlave& lss = node.lss;
    if (step == 0) {
        lss.identifyMatch = 1;
    } else if (lss.identifyStep != step) {
        lss.identifyStep = 0;
        return false;
    }
    lss.identifyStep = static_cast<std::uint8_t>(step + 1);
    switch (step) {
    case 0:
    case 1:
        if (value != IdentityPart(world, node, step))
            lss.identifyMatch = 0;
        return false;
    case 2:
    case 4:
        lss.identifyLow = value;
        return false;
    default: {
        const std::uint32_t own = IdentityPart(world, node, step == 3 ? 2 : 3);
        if (own < lss.identifyLow || own > value)
            lss.identifyMatch = 0;
        if (step == 3)
            return false;
        lss.identifyStep = 0;
        return lss.identifyMatch != 0;
    }
    }
}

// One Fastscan step; true when the device answers it.
bool Fastscan(World& world, SimNode& node, const DriverMsg& request)
{
    LssSlave& lss = node.lss;
    if (lss.mode != LssMode::Waiting || !NonConfigured(node))
        return false;
    const std::uint32_t idNumber = LoadLe32(&request.data[1]);
    const std::uint8_t bitChecked = request.data[5];
    const std::uint8_t part = request.data[6];
    const std::uint8_t next = request.data[7];
    if (bitChecked == kFastscanReset) {
        lss.fastscanPart = 0;
        return true;
    }
    if (bitChecked > 31 || part > 3 || next > 3 || part != lss.fastscanPart)
        return false;
    // The bits from bitChecked up must match.
    const std::uint32_t mask = 0xFFFFFFFFu << bitChecked;
    if (((idNumber ^ IdentityPart(world, node, part)) & mask) != 0)
        return false;
    lss.fastscanPart = next;
    // The serial confirmed and the scan back at the vendor: this device is the one found.
    if (bitChecked == 0 && next < part)
        lss.mode = LssMode::Configuration;
    return true;
}

std::uint32_t AnswerDelay(const SimNode& node)
{
    return node.mode == kSimNodeDelayed ? node.modeParam : 0;
}

bool SameFrame(const DriverMsg& a, const DriverMsg& b)
{
    if (a.id != b.id || a.length != b.length)
        return false;
    for (std::uint8_t i = 0; i < a.length && i < 8; ++i)
        if (a.data[i] != b.data[i])
            return false;
    return true;
}

// A device reset to its pending node-ID, which differs from its own.
void Settle(World& world, SimNode& node, std::uint32_t now)
{
    LssSlave& lss = node.lss;
    const ResetDue due = lss.resetDue;
    lss.resetDue = ResetDue::None;
    const bool communicationOnly = due == ResetDue::Communication;
    const std::uint8_t from = lss.activeNodeId;
    const std::uint8_t to = lss.pendingNodeId;
    SimNode* target = nullptr;
    if (to == kNoNodeId)
        target = FreeUnconfiguredSlot(world);
    else if (ValidNodeId(to) && !world.nodes[to].present)
        target = &world.nodes[to];
    if (target == nullptr || target == &node) {
        // Taken by another device, or no place left: the device keeps its own node-ID.
        lss.pendingNodeId = from;
        if (from != kNoNodeId)
            ResetNode(world, from, communicationOnly, now);
        return;
    }
    *target = node;
    node = SimNode{};
    LssSlave& moved = target->lss;
    moved.activeNodeId = to;
    if (to != kNoNodeId) {
        ShiftNodeIdDefaults(world, *target, moved.defaultsNodeId, to);
        moved.defaultsNodeId = to;
        ResetNode(world, to, communicationOnly, now);
        return;
    }
    // Without a node-ID the device resets but has nothing to announce.
    ResetDeviceValues(world, *target, communicationOnly);
    target->sdo.state = SdoServerState::Idle;
    target->nmtState = NmtState::PreOperational;
    target->bootAnnounced = 0;
    target->guardToggle = 0;
    target->inError = 0;
    target->heartbeatPeriod = 0;
    ResetLssSlave(moved);
}

}  // namespace

void StartLssSlave(SimNode& node, std::uint8_t nodeId, std::uint32_t kbit)
{
    LssSlave& lss = node.lss;
    lss = LssSlave{};
    lss.activeNodeId = nodeId;
    lss.pendingNodeId = nodeId;
    lss.storedNodeId = nodeId;
    lss.defaultsNodeId = nodeId == kNoNodeId ? 0 : nodeId;
    lss.kbit = kbit;
    lss.storedKbit = kbit;
}

void PowerOnLssSlave(LssSlave& lss)
{
    lss.pendingNodeId = lss.storedNodeId;
    lss.kbit = lss.storedKbit;
    lss.pendingKbit = 0;
    lss.switching = 0;
    ResetLssSlave(lss);
}

void ResetLssSlave(LssSlave& lss)
{
    lss.mode = LssMode::Waiting;
    lss.selectStep = 0;
    lss.identifyStep = 0;
    lss.fastscanPart = 0;
}

bool NonConfigured(const SimNode& node)
{
    return node.lss.activeNodeId == kNoNodeId && node.lss.pendingNodeId == kNoNodeId;
}

bool LssQuiet(SimNode& node, std::uint32_t now)
{
    LssSlave& lss = node.lss;
    if (lss.switching == 0)
        return false;
    if (Due(lss.switchTick, now))
        lss.kbit = lss.pendingKbit;
    if (!Due(lss.quietUntil, now))
        return true;
    lss.switching = 0;
    return false;
}

bool AnswerLss(World& world, SimNode& node, const DriverMsg& request, std::uint32_t now, DriverMsg& answer)
{
    if (request.length != 8)
        return false;
    LssSlave& lss = node.lss;
    const std::uint8_t specifier = request.data[0];
    const std::uint32_t value = LoadLe32(&request.data[1]);
    const bool configuration = lss.mode == LssMode::Configuration;
    answer = DriverMsg{};
    answer.id = kLssAnswerId;
    answer.length = 8;
    answer.data[0] = specifier;
    switch (specifier) {
    case kSwitchGlobal:
        SwitchGlobal(node, request.data[1]);
        return false;
    case kSwitchSelective:
    case kSwitchSelective + 1:
    case kSwitchSelective + 2:
    case kSwitchSelective + 3:
        if (configuration ||
            !SwitchSelective(world, node, static_cast<std::uint8_t>(specifier - kSwitchSelective), value))
            return false;
        lss.mode = LssMode::Configuration;
        answer.data[0] = kSwitchSelectiveAnswer;
        return true;
    case kConfigureNodeId: {
        if (!configuration)
            return false;
        const std::uint8_t nodeId = request.data[1];
        const bool valid = ValidNodeId(nodeId) || nodeId == kNoNodeId;
        if (valid)
            lss.pendingNodeId = nodeId;
        answer.data[1] = valid ? kErrorNone : kErrorOutOfRange;
        return true;
    }
    case kConfigureBitTiming: {
        if (!configuration)
            return false;
        const std::uint8_t index = request.data[2];
        const std::uint32_t kbit = request.data[1] == 0 && index < kBitTimingEntries ? kBitTimingKbit[index] : 0;
        if (kbit != 0)
            lss.pendingKbit = kbit;
        answer.data[1] = kbit != 0 ? kErrorNone : kErrorOutOfRange;
        return true;
    }
    case kActivateBitTiming:
        if (configuration && lss.pendingKbit != 0) {
            const std::uint32_t delay = LoadLe16(&request.data[1]);
            lss.switching = 1;
            lss.switchTick = now + delay;
            lss.quietUntil = now + 2 * delay;
        }
        return false;
    case kStoreConfiguration:
        if (!configuration)
            return false;
        lss.storedNodeId = lss.pendingNodeId;
        if (lss.pendingKbit != 0)
            lss.storedKbit = lss.pendingKbit;
        answer.data[1] = kErrorNone;
        return true;
    case kInquireVendor:
    case kInquireVendor + 1:
    case kInquireVendor + 2:
    case kInquireVendor + 3:
        if (!configuration)
            return false;
        StoreLe32(&answer.data[1], IdentityPart(world, node, specifier - kInquireVendor));
        return true;
    case kInquireNodeId:
        if (!configuration)
            return false;
        answer.data[1] = lss.activeNodeId;
        return true;
    case kIdentifyRemote:
    case kIdentifyRemote + 1:
    case kIdentifyRemote + 2:
    case kIdentifyRemote + 3:
    case kIdentifyRemote + 4:
    case kIdentifyRemote + 5:
        if (!IdentifyRemote(world, node, static_cast<std::uint8_t>(specifier - kIdentifyRemote), value))
            return false;
        answer.data[0] = kIdentifyAnswer;
        return true;
    case kIdentifyNonConfigured:
        answer.data[0] = kNonConfiguredAnswer;
        return NonConfigured(node);
    case kFastscan:
        answer.data[0] = kIdentifyAnswer;
        return Fastscan(world, node, request);
    default:
        return false;
    }
}

void DeliverLssRequest(World& world, const DriverMsg& request, std::uint32_t now)
{
    struct Answer {
        DriverMsg msg;
        SimNode* node;
    };
    Answer answers[kMaxNodeId + kMaxUnconfigured];
    std::uint32_t count = 0;
    const auto offer = [&](SimNode& node) {
        if (!node.present || node.mode == kSimNodeSilent || !DeviceOnBus(world, node, now))
            return;
        DriverMsg answer{};
        if (!AnswerLss(world, node, request, now, answer))
            return;
        for (std::uint32_t i = 0; i < count; ++i)
            if (SameFrame(answers[i].msg, answer) && AnswerDelay(*answers[i].node) == AnswerDelay(node))
                return;
        answers[count++] = Answer{answer, &node};
    };
    for (std::uint32_t nodeId = 1; nodeId <= kMaxNodeId; ++nodeId)
        offer(world.nodes[nodeId]);
    for (SimNode& node : world.unconfigured)
        offer(node);
    for (std::uint32_t i = 0; i < count; ++i)
        NodeTransmit(world, *answers[i].node, answers[i].msg, now);
}

void SettleNodeIds(World& world, std::uint32_t now)
{
    // A device that moves has its reset done and is not met again.
    for (std::uint32_t nodeId = 1; nodeId <= kMaxNodeId; ++nodeId)
        if (world.nodes[nodeId].present && world.nodes[nodeId].lss.resetDue != ResetDue::None)
            Settle(world, world.nodes[nodeId], now);
    for (SimNode& node : world.unconfigured)
        if (node.present && node.lss.resetDue != ResetDue::None)
            Settle(world, node, now);
}

}  // namespace simbus

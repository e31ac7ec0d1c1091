#include "lss_master.h"

#include "byte_order.h"
#include "lss_codes.h"

namespace {

using namespace lss;

static_assert(kInquireNodeId == kInquireVendor + 4);
static_assert(static_cast<int>(LssService::InquireNodeId) - static_cast<int>(LssService::InquireVendor) == 4,
              "the inquire services follow the order of their specifiers");

constexpr std::uint8_t kSelectiveFrames = 4;
constexpr std::uint8_t kIdentifyRemoteFrames = 6;

static_assert(sizeof kBitTimingKbit / sizeof kBitTimingKbit[0] == 9);

std::uint32_t Part(const LssIdentity& identity, std::uint8_t part)
{
    switch (part & 3u) {
    case 0:
        return identity.vendor;
    case 1:
        return identity.product;
    case 2:
        return identity.revision;
    default:
        return identity.serial;
    }
}

void Finish(LssMaster& lss, LssOutcome outcome)
{
    lss.result.outcome = outcome;
    lss.state = LssState::Done;
}

// The request with `specifier` and nothing else yet: 8 bytes, the rest 0.
CanFrame& Begin(LssMaster& lss, std::uint8_t specifier)
{
    CanFrame& out = lss.out;
    out = CanFrame{};
    out.id = kLssRequestCobId;
    out.length = 8;
    out.data[0] = specifier;
    return out;
}

// Hands the request over; the answer `expected` is awaited from now on (0: none is).
const CanFrame* Sent(LssMaster& lss, std::uint8_t expected, std::uint32_t now)
{
    lss.sentTick = now;
    lss.expected = expected;
    lss.answered = 0;
    ++lss.result.steps;
    if (expected != 0)
        lss.state = LssState::Wait;
    return &lss.out;
}

// Fastscan: a run begins with the reset step; a part with its highest bit, or at once with
// its confirmation when the part is known.
void BeginFastscanRun(LssMaster& lss)
{
    lss.part = 0;
    lss.bitChecked = kFastscanReset;
    lss.confirming = 0;
    lss.scannedInRun = 0;
    lss.idNumber = 0;
    for (std::uint32_t& part : lss.found)
        part = 0;
}

void BeginFastscanPart(LssMaster& lss, std::uint8_t part)
{
    lss.part = part;
    if ((lss.request.knownParts & (1u << part)) != 0) {
        lss.idNumber = Part(lss.request.identity, part);
        lss.bitChecked = 0;
        lss.confirming = 1;
    } else {
        lss.idNumber = 0;
        lss.bitChecked = 31;
        lss.confirming = 0;
        lss.scannedInRun = 1;
    }
}

const CanFrame* SendFastscanStep(LssMaster& lss, std::uint32_t now)
{
    CanFrame& out = Begin(lss, kFastscan);
    StoreLe32(&out.data[1], lss.idNumber);
    out.data[5] = lss.bitChecked;
    out.data[6] = lss.part;
    // LSSNext: a confirmation moves the device on to the next part (after the serial, back
    // to the vendor, which ends its scan); every other step keeps it on this one.
    out.data[7] = static_cast<std::uint8_t>(lss.confirming != 0 ? (lss.part + 1u) & 3u : lss.part);
    return Sent(lss, kIdentifyAnswer, now);
}

// What a Fastscan step's answer, or its absence, tells; the next step is then due, or the
// scan has ended.
void AfterFastscanStep(LssMaster& lss, bool answered)
{
    lss.state = LssState::Send;
    if (lss.bitChecked == kFastscanReset) {
        if (answered)
            BeginFastscanPart(lss, 0);
        else
            Finish(lss, LssOutcome::NotFound);
        return;
    }
    if (lss.confirming == 0) {
        // No device has the bits so far with this one 0: those that are there have it 1.
        if (!answered)
            lss.idNumber |= 1u << lss.bitChecked;
        if (lss.bitChecked == 0)
            lss.confirming = 1;
        else
            --lss.bitChecked;
        return;
    }
    if (answered) {
        lss.found[lss.part] = lss.idNumber;
        if (lss.part < 3) {
            BeginFastscanPart(lss, static_cast<std::uint8_t>(lss.part + 1));
            return;
        }
        lss.result.identity = LssIdentity{lss.found[0], lss.found[1], lss.found[2], lss.found[3]};
        Finish(lss, LssOutcome::Success);
        return;
    }
    // Known parts alone that no device confirms: no device has them. After a scanned part, a
    // stray answer may have led the run astray, so it starts again.
    if (lss.scannedInRun == 0) {
        Finish(lss, LssOutcome::NotFound);
    } else if (lss.attempt < kFastscanAttempts) {
        ++lss.attempt;
        BeginFastscanRun(lss);
    } else {
        Finish(lss, LssOutcome::Failed);
    }
}

// The request the state Send stands for.
const CanFrame* SendRequest(LssMaster& lss, std::uint32_t now)
{
    const LssRequest& request = lss.request;
    switch (request.service) {
    case LssService::SwitchGlobal: {
        CanFrame& out = Begin(lss, kSwitchGlobal);
        out.data[1] = request.mode;
        const CanFrame* sent = Sent(lss, 0, now);
        Finish(lss, LssOutcome::Success);
        return sent;
    }
    case LssService::SwitchSelective: {
        CanFrame& out = Begin(lss, static_cast<std::uint8_t>(kSwitchSelective + lss.sent));
        StoreLe32(&out.data[1], Part(request.identity, lss.sent));
        // The four go out one per step; the answer comes after the serial's.
        return Sent(lss, ++lss.sent == kSelectiveFrames ? kSwitchSelectiveAnswer : 0, now);
    }
    case LssService::ConfigureNodeId: {
        CanFrame& out = Begin(lss, kConfigureNodeId);
        out.data[1] = request.nodeId;
        return Sent(lss, kConfigureNodeId, now);
    }
    case LssService::ConfigureBitTiming: {
        CanFrame& out = Begin(lss, kConfigureBitTiming);
        out.data[1] = request.tableSelector;
        out.data[2] = request.tableIndex;
        return Sent(lss, kConfigureBitTiming, now);
    }
    case LssService::ActivateBitTiming: {
        CanFrame& out = Begin(lss, kActivateBitTiming);
        StoreLe16(&out.data[1], request.switchDelayMs);
        const CanFrame* sent = Sent(lss, 0, now);
        // The devices keep quiet for one delay, switch, and wait another before they send at
        // the new bit rate: nothing may be sent in either.
        lss.holdsBus = 1;
        lss.holdMs = 2u * request.switchDelayMs;
        lss.state = LssState::Quiet;
        return sent;
    }
    case LssService::StoreConfiguration:
        Begin(lss, kStoreConfiguration);
        return Sent(lss, kStoreConfiguration, now);
    case LssService::InquireVendor:
    case LssService::InquireProduct:
    case LssService::InquireRevision:
    case LssService::InquireSerial:
    case LssService::InquireNodeId: {
        const auto specifier =
            static_cast<std::uint8_t>(kInquireVendor + (static_cast<std::uint8_t>(request.service) -
                                                        static_cast<std::uint8_t>(LssService::InquireVendor)));
        Begin(lss, specifier);
        return Sent(lss, specifier, now);
    }
    case LssService::IdentifyRemote: {
        const std::uint32_t values[kIdentifyRemoteFrames] = {
            request.identity.vendor, request.identity.product, request.identity.revision,
            request.revisionHigh,    request.identity.serial,  request.serialHigh,
        };
        CanFrame& out = Begin(lss, static_cast<std::uint8_t>(kIdentifyRemote + lss.sent));
        StoreLe32(&out.data[1], values[lss.sent]);
        return Sent(lss, ++lss.sent == kIdentifyRemoteFrames ? kIdentifyAnswer : 0, now);
    }
    case LssService::IdentifyNonConfigured:
        Begin(lss, kIdentifyNonConfigured);
        return Sent(lss, kNonConfiguredAnswer, now);
    case LssService::Fastscan:
        return SendFastscanStep(lss, now);
    case LssService::None:
    default:
        Finish(lss, LssOutcome::Failed);
        return nullptr;
    }
}

// The awaited answer came (answered) or its time ran out.
void AfterWait(LssMaster& lss, bool answered)
{
    const CanFrame& answer = lss.answer;
    switch (lss.request.service) {
    case LssService::Fastscan:
        AfterFastscanStep(lss, answered);
        return;
    case LssService::ConfigureNodeId:
    case LssService::ConfigureBitTiming:
    case LssService::StoreConfiguration:
        if (!answered)
            break;
        lss.result.errorCode = answer.data[1];
        lss.result.specificError = answer.data[2];
        Finish(lss, answer.data[1] == kLssErrorNone ? LssOutcome::Success : LssOutcome::DeviceError);
        return;
    case LssService::InquireNodeId:
        if (!answered)
            break;
        lss.result.value = answer.data[1];
        Finish(lss, LssOutcome::Success);
        return;
    case LssService::InquireVendor:
    case LssService::InquireProduct:
    case LssService::InquireRevision:
    case LssService::InquireSerial:
        if (!answered)
            break;
        lss.result.value = LoadLe32(&answer.data[1]);
        Finish(lss, LssOutcome::Success);
        return;
    default:
        if (!answered)
            break;
        Finish(lss, LssOutcome::Success);
        return;
    }
    Finish(lss, LssOutcome::Timeout);
}

bool ValidRequest(const LssRequest& request)
{
    switch (request.service) {
    case LssService::SwitchGlobal:
        return request.mode <= 1;
    case LssService::ConfigureNodeId:
        return (request.nodeId >= 1 && request.nodeId <= 127) || request.nodeId == kLssNoNodeId;
    case LssService::None:
        return false;
    default:
        return request.service <= LssService::Fastscan;
    }
}

}  // namespace

int StartLssService(LssMaster& lss, const LssRequest& request, std::uint32_t now)
{
    if (LssRunning(lss) || LssHoldsBus(lss, now) || !ValidRequest(request))
        return 0;
    lss = LssMaster{};
    lss.request = request;
    if (lss.request.timeoutMs == 0)
        lss.request.timeoutMs = kLssDefaultTimeoutMs;
    lss.result.service = request.service;
    lss.attempt = 1;
    if (request.service == LssService::Fastscan)
        BeginFastscanRun(lss);
    lss.state = LssState::Send;
    return 1;
}

const CanFrame* StepLss(LssMaster& lss, const CanFrame* frame, std::uint32_t now)
{
    if (frame != nullptr) {
        // The checks in this order: the answer identifier, a data frame of 8 bytes, the
        // specifier awaited, not already answered.
        if (frame->id == kLssAnswerCobId && frame->remote == 0 && frame->length == 8 && lss.state == LssState::Wait &&
            frame->data[0] == lss.expected && lss.answered == 0) {
            lss.answer = *frame;
            lss.answered = 1;
        }
        return nullptr;
    }

    // Unsigned differences: correct across the wrap of the tick; equal is not over.
    if (lss.holdsBus != 0 && now - lss.sentTick > lss.holdMs)
        lss.holdsBus = 0;

    switch (lss.state) {
    case LssState::Send:
        return SendRequest(lss, now);
    case LssState::Wait:
        if (lss.answered != 0)
            AfterWait(lss, true);
        else if (now - lss.sentTick > lss.request.timeoutMs)
            AfterWait(lss, false);
        // A step that has its outcome moves on at once.
        return lss.state == LssState::Send ? SendRequest(lss, now) : nullptr;
    case LssState::Quiet:
        if (lss.holdsBus == 0)
            Finish(lss, LssOutcome::Success);
        return nullptr;
    case LssState::Idle:
    case LssState::Done:
    default:
        return nullptr;
    }
}

void AbortLss(LssMaster& lss)
{
    if (LssRunning(lss))
        Finish(lss, LssOutcome::Aborted);
}

bool LssRunning(const LssMaster& lss)
{
    return lss.state == LssState::Send || lss.state == LssState::Wait || lss.state == LssState::Quiet;
}

bool LssDone(const LssMaster& lss)
{
    return lss.state == LssState::Done;
}

bool LssHoldsBus(const LssMaster& lss, std::uint32_t now)
{
    return lss.holdsBus != 0 && now - lss.sentTick <= lss.holdMs;
}

int TakeLssResult(LssMaster& lss, LssResult& result)
{
    if (lss.state != LssState::Done)
        return 0;
    result = lss.result;
    lss.state = LssState::Idle;
    return 1;
}

std::uint32_t LssBitTimingKbit(std::uint8_t tableIndex)
{
    return tableIndex < sizeof kBitTimingKbit / sizeof kBitTimingKbit[0] ? kBitTimingKbit[tableIndex] : 0;
}

std::uint8_t LssBitTimingIndex(std::uint32_t kbit)
{
    for (std::uint8_t i = 0; i < sizeof kBitTimingKbit / sizeof kBitTimingKbit[0]; ++i)
        if (kbit != 0 && kBitTimingKbit[i] == kbit)
            return i;
    return 0xFF;
}

LssMaster& MasterLss()
{
    static LssMaster lss{};
    return lss;
}

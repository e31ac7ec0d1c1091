// LSS master (layer setting services): sets a device's node-ID and bit rate over the bus,
// finds devices by their identity (object 0x1018: vendor, product, revision, serial) and
// finds devices without a node-ID by Fastscan. Requests go out on 0x7E5, answers come back
// on 0x7E4; both are always 8 bytes, unused bytes 0.
//
//     LssMaster& lss = MasterLss();
//     StartLssService(lss, LssRequest{.service = LssService::Fastscan, .timeoutMs = 50}, TickMs());
//     ...for every received frame: StepLss(lss, &frame, TickMs());      (frame routing does this)
//     ...on every engine cycle:     const CanFrame* out = StepLss(lss, nullptr, TickMs());
//                                   if (out) send it
//     ...while LssHoldsBus(lss, TickMs()): send nothing else either (a bit-rate switch)
//     LssResult result;
//     if (TakeLssResult(lss, result) && result.outcome == LssOutcome::Success)
//         show(result.identity);           // the device found, now in configuration state
//
// One service at a time, one request per step, static storage, no allocation, the tick
// passed in. A step with a frame only takes the answer; the next request goes out on the
// next step without one, so a service moves on as soon as its answer is in and waits the
// time-out only for an answer that does not come.
//
// An answer counts only while its request waits for it and only with the command
// specifier that request expects: a stray 0x7E4 frame while idle, an answer that comes
// after its time-out and a second copy of an answer are dropped when the next request
// expects another specifier. The answers of Fastscan and of identify remote slave (both
// 0x4F) carry nothing to tell one request's from another's: see Fastscan below for how the
// scan copes.
//
// Fastscan finds one device without a node-ID and leaves it in configuration state, ready
// for ConfigureNodeId. A reset step (bit checked 0x80) asks whether any such device is
// there; unanswered, the scan ends at once with NotFound. Then each part (vendor, product,
// revision, serial) is found from its highest bit down: a step offers the bits found so far
// with the checked bit 0, and a device whose bits match answers; no answer makes the bit 1.
// A confirmation step with the whole part (bit checked 0) moves the matching devices on to
// the next part; after the serial's, the device is in configuration state and no longer
// takes part. A part given in `knownParts` is confirmed at once, without its 32 bit steps;
// no answer to it ends the scan with NotFound (after a scanned part, it counts as any
// failed confirmation).
//
// A late answer, or a second device's answer that comes well after the first, is taken for
// the next step's; what that makes wrong shows at the part's confirmation, which no device
// answers then. The scan then starts again from its reset step, kFastscanAttempts runs in
// all before it ends as Failed. A device enters configuration state only on confirmations
// that carried its exact parts; should a late answer be taken for the serial's confirmation
// itself, the scan reports a device that is not there, so a master that must be sure reads
// the identity back with the inquire services.
//
// To find several devices, scan again: a device already found is in configuration state (or
// has a node-ID once configured and switched to waiting) and answers no more.
#pragma once

#include <cstdint>

#include "node_table.h"

constexpr std::uint32_t kLssRequestCobId = 0x7E5;  // master to devices
constexpr std::uint32_t kLssAnswerCobId = 0x7E4;   // devices to master

// The time-out the master uses unless the settings say otherwise ([LSS] TimeoutMs). Devices
// answer LSS within a few milliseconds of the request's end on the bus; at the slowest bit
// rate, 10 kbit/s, the request and its answer take about 25 ms on the wire. 50 ms covers both
// with room for a device whose LSS runs in a slow task cycle, and keeps a Fastscan well under
// 5 s: of its 133 steps only those without an answer cost the time-out (one per 1 bit of the
// identity), so an identity of half 1 bits takes 64 x 51 ms = 3.3 s of bus time, one of
// small numbers (most vendor IDs, revisions and serials) far less, and the worst case of all
// 1 bits 6.5 s. Known parts shorten it further.
constexpr std::uint32_t kLssDefaultTimeoutMs = 50;

// Node-ID 0xFF: the device has none (non-configured); configuring it takes one away again.
constexpr std::uint8_t kLssNoNodeId = 0xFF;

// A failed Fastscan confirmation restarts the scan from its reset step; this many runs in all.
constexpr std::uint8_t kFastscanAttempts = 3;

// Requests of a full Fastscan: the reset step, then 32 bit steps and a confirmation for
// each of the four parts.
constexpr std::uint32_t kFastscanSteps = 1 + 4 * 33;

enum class LssService : std::uint8_t {
    None = 0,
    SwitchGlobal,           // every device to waiting (mode 0) or configuration (mode 1); no answer
    SwitchSelective,        // the device with `identity` to configuration
    ConfigureNodeId,        // `nodeId` 1-127, or kLssNoNodeId
    ConfigureBitTiming,     // `tableSelector`, `tableIndex` (see LssBitTimingKbit)
    ActivateBitTiming,      // `switchDelayMs`; no answer, the bus stays quiet twice the delay
    StoreConfiguration,     // the configured node-ID and bit timing into non-volatile memory
    InquireVendor,          // the device in configuration state: object 0x1018 sub 1
    InquireProduct,         // sub 2
    InquireRevision,        // sub 3
    InquireSerial,          // sub 4
    InquireNodeId,          // its active node-ID (kLssNoNodeId: none)
    IdentifyRemote,         // any device with `identity`'s vendor and product and a revision and
                            // serial within [identity.revision, revisionHigh] and
                            // [identity.serial, serialHigh]
    IdentifyNonConfigured,  // any device without a node-ID
    Fastscan,               // one device without a node-ID, found bit by bit
};

// The four parts of a device's identity, in the order Fastscan scans them.
struct LssIdentity {
    std::uint32_t vendor;    // 0x1018 sub 1
    std::uint32_t product;   // sub 2
    std::uint32_t revision;  // sub 3
    std::uint32_t serial;    // sub 4
};

// Fastscan's `knownParts`: parts not scanned but confirmed at once from `identity`.
enum FastscanPart : std::uint8_t {
    FastscanVendor = 0x01,
    FastscanProduct = 0x02,
    FastscanRevision = 0x04,
    FastscanSerial = 0x08,
};

struct LssRequest {
    // Every field has a default, so that a request names only what its service uses:
    // LssRequest{.service = LssService::ConfigureNodeId, .nodeId = 5}.
    LssService service = LssService::None;
    std::uint32_t timeoutMs = 0;      // longest wait for each answer; 0: kLssDefaultTimeoutMs
    std::uint8_t mode = 0;            // SwitchGlobal: 0 waiting, 1 configuration
    std::uint8_t nodeId = 0;          // ConfigureNodeId
    std::uint8_t tableSelector = 0;   // ConfigureBitTiming: 0 is the standard table
    std::uint8_t tableIndex = 0;      // ConfigureBitTiming
    std::uint16_t switchDelayMs = 0;  // ActivateBitTiming
    LssIdentity identity = {};        // SwitchSelective, IdentifyRemote, Fastscan's known parts
    std::uint32_t revisionHigh = 0;   // IdentifyRemote: the revision range's upper end
    std::uint32_t serialHigh = 0;     // IdentifyRemote: the serial range's upper end
    std::uint8_t knownParts = 0;      // Fastscan: FastscanPart bits
};

enum class LssOutcome : std::uint8_t {
    Success = 0,  // answered with error code 0, or sent when no answer is expected
    DeviceError,  // answered with another error code: errorCode and specificError hold it
    Timeout,      // no answer in time; for the identify services: no device has the identity
    NotFound,     // Fastscan: no device without a node-ID (with the known parts) answered
    Failed,       // Fastscan: the confirmations failed kFastscanAttempts times
    Aborted,      // AbortLss
};

// The error codes of the configure and store answers (byte 1).
constexpr std::uint8_t kLssErrorNone = 0;
constexpr std::uint8_t kLssErrorNotSupported = 1;  // node-ID or bit timing out of range, store not supported
constexpr std::uint8_t kLssErrorStorage = 2;       // store: storage media access error
constexpr std::uint8_t kLssErrorSpecific = 0xFF;   // the manufacturer's code is in specificError

struct LssResult {
    LssService service;
    LssOutcome outcome;
    std::uint8_t errorCode;      // configure and store answers: byte 1
    std::uint8_t specificError;  // byte 2; the manufacturer's code where errorCode is kLssErrorSpecific
    std::uint32_t value;         // the inquire services: the value answered (node-ID: 1-127 or 0xFF)
    LssIdentity identity;        // Fastscan, on Success: the device found
    std::uint32_t steps;         // requests sent; while a Fastscan runs, its progress out of kFastscanSteps
};

enum class LssState : std::uint8_t {
    Idle = 0,
    Send,   // the next request goes out at the next step
    Wait,   // the last request waits for its answer
    Quiet,  // activate bit timing: nothing may be sent until twice the switch delay is over
    Done,   // the result waits for TakeLssResult
};

struct LssMaster {
    LssState state;          // 0 is Idle
    LssRequest request;      // from StartLssService, timeoutMs filled in
    std::uint8_t sent;       // requests of a multi-frame service already sent
    std::uint8_t expected;   // command specifier of the awaited answer
    std::uint8_t answered;   // 1: the awaited answer came
    CanFrame answer;         // the awaited answer, once it came
    std::uint32_t sentTick;  // when the last request went out
    std::uint8_t holdsBus;   // activate bit timing: the bus is to stay quiet for holdMs from sentTick
    std::uint32_t holdMs;    // twice the switch delay
    // Fastscan: the step to send and what is known so far.
    std::uint8_t part;          // LSSSub: the part being scanned, 0-3
    std::uint8_t bitChecked;    // the lowest bit checked by the step; 0x80: the reset step
    std::uint8_t confirming;    // the step confirms the whole part and moves the device on
    std::uint8_t attempt;       // runs of the scan so far, 1 to kFastscanAttempts
    std::uint8_t scannedInRun;  // a part has been scanned (not known) in this run
    std::uint32_t idNumber;     // the part's bits found so far, and the one being checked
    std::uint32_t found[4];     // parts confirmed in this run
    LssResult result;           // filled as the service runs; final at Done
    CanFrame out;               // the outgoing request
};

// Starts a service. Returns 0 and changes nothing while another runs (Send, Wait, Quiet) or
// the bus is held quiet, for an unknown service, or a node-ID that is neither 1-127 nor
// kLssNoNodeId; a result not yet taken is dropped.
[[nodiscard]] int StartLssService(LssMaster& lss, const LssRequest& request, std::uint32_t now);

// One step with a received frame (taken when it is the awaited answer; never sends), or
// without one (nullptr: time-outs, and the next request). Returns the frame to send or nullptr.
const CanFrame* StepLss(LssMaster& lss, const CanFrame* frame, std::uint32_t now);

// Ends a running service at once; its result says Aborted.
void AbortLss(LssMaster& lss);

// A service is under way (Send, Wait, Quiet): the frame routing offers it every frame.
bool LssRunning(const LssMaster& lss);
// The service has ended and its result waits.
bool LssDone(const LssMaster& lss);
// True during activate bit timing's two switch delays, aborted or not: the devices change
// their bit rate, and nothing else may be sent either (the exchange of PDOs, node guarding).
bool LssHoldsBus(const LssMaster& lss, std::uint32_t now);

// Takes the result of an ended service: 0 while none is Done; otherwise fills `result`,
// returns the master to Idle and returns 1.
int TakeLssResult(LssMaster& lss, LssResult& result);

// The standard bit timing table (selector 0): kbit/s of a table index, 0 for an index the
// table leaves free (5, 9 and above).
std::uint32_t LssBitTimingKbit(std::uint8_t tableIndex);
// The index of a bit rate in kbit/s; 0xFF for one the table does not have.
std::uint8_t LssBitTimingIndex(std::uint32_t kbit);

// The program's own record.
LssMaster& MasterLss();

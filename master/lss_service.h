// Configuring devices over LSS: finding the devices without a node-ID, giving one of them
// a node-ID and a bit rate, storing both in it, and handing it over to the rest of the
// program as a node. The services run the engine's LSS master (lss_master.h) on the bus
// and wait for its end, the way the blocking SDO services do.
//
//     LssFindResult found{};
//     LssFind(owner, found);                          // Fastscan until no device is left
//     LssResult result;
//     LssSetNodeId(owner, found.devices[0].identity, 10, result);
//     LssStore(owner, found.devices[0].identity, result);
//     LssFinish(owner);                               // every device back to waiting
//
// With communication stopped, the first service opens the bus and it stays open, with
// the devices' LSS states, until LssFinish closes it: a device found stays in
// configuration state between the operator's steps. Every service is refused while
// communication is active (the exchange's frames and a node-ID or bit-rate switch would
// meet on the bus) and while a search, Read All or a node monitor service holds the bus.
#pragma once

#include <array>
#include <cstdint>

#include "lss_master.h"
#include "operator_side.h"

// The operator's choices, kept in the settings file ([LSS]).
struct LssSettings {
    std::uint32_t timeoutMs;  // longest wait for each LSS answer
};
constexpr LssSettings kDefaultLssSettings{kLssDefaultTimeoutMs};
extern LssSettings lssSettings;

// Activate bit timing: the devices wait this long before they switch, and as long again
// before they send at the new rate; the master sends nothing for both.
constexpr std::uint16_t kLssSwitchDelayMs = 100;

constexpr std::uint32_t kMaxLssDevices = 16;

struct LssDevice {
    LssIdentity identity;
    std::uint8_t nodeId;  // kLssNoNodeId for a device found by Fastscan; else the one it answered
};

struct LssFindResult {
    std::uint32_t count;  // devices found
    std::array<LssDevice, kMaxLssDevices> devices;
    std::uint32_t steps;    // the running Fastscan's requests so far, out of kFastscanSteps
    std::uint8_t aborted;   // the operator aborted the find
    std::uint8_t failed;    // a Fastscan gave up: its confirmations failed every time
    std::uint8_t inquired;  // Fastscan found nothing; the one device listed answered the inquiry
};

// The session the services share until LssFinish.
struct LssSession {
    std::uint32_t busOpen;   // the bus was opened for the LSS services
    std::uint32_t finding;   // 1 while LssFind runs
    std::uint32_t abort;     // set by AbortLssFind; checked at every pump step
    std::uint32_t selected;  // 1: `identity` is the one device in configuration state
    LssIdentity identity;
    std::uint8_t nodeId;  // the node-ID last configured and answered with success; 0 none
};
extern LssSession lssSession;

// 1 while a service of this file runs (the node monitor's services wait, as they do for
// the whole session).
extern int lssBusy;

// 1 when the services may run now; else 0 after telling the operator why (communication
// active: IDS_LSS_STOP_COMM_FIRST) or without a word (another service holds the bus).
int LssAllowed(OwnerHandle owner);

// Finds the devices without a node-ID, one Fastscan after the other (each device found
// stays in configuration state and takes no part in the next scan), until a scan finds
// none. When the first scan finds none, every device is switched to configuration state
// and asked for its identity and node-ID: with one device on the bus that answers LSS,
// a configured one is listed that way. Reports progress through showLssProgress and
// passes window messages on between steps, so that AbortLssFind can be pressed.
// 1 when it ran (to the end, or until aborted); 0 when refused or the bus did not open.
int LssFind(OwnerHandle owner, LssFindResult& result);
// The operator's Abort: the find ends at its next step.
void AbortLssFind();

// Each of these puts the device with `identity` alone into configuration state (every
// device back to waiting first, then switch state selective) unless it already is, then
// runs its service. 1 when the service ran, whatever the device answered (see `result`);
// 0 when refused, for a node-ID or bit rate outside its range, or when the bus did not open.
int LssSetNodeId(OwnerHandle owner, const LssIdentity& identity, std::uint8_t nodeId, LssResult& result);
// `baudIndex` is a row of the program's bit-rate list (BitRateTable). Asks first
// (IDS_LSS_BIT_RATE_WARNING): once the device has taken the rate, it is activated with
// kLssSwitchDelayMs, the bus reopened at it and it becomes the program's bit rate.
int LssSetBitRate(OwnerHandle owner, const LssIdentity& identity, std::int32_t baudIndex, LssResult& result);
int LssStore(OwnerHandle owner, const LssIdentity& identity, LssResult& result);

// The end of the session: every device back to waiting, a reset of communication for the
// node-ID configured so that it takes effect, the bus closed. Then asks whether that node
// becomes the current slave (IDS_LSS_MAKE_CURRENT) and takes it when the operator agrees.
// Returns the node taken as the current slave, 0 for none.
std::int32_t LssFinish(OwnerHandle owner);

// The words for a result: the string-table row and the number its text shows (the
// manufacturer's error byte, the node-ID or the bit rate in kbit/s).
struct LssResultText {
    std::uint32_t stringId;
    std::uint32_t number;
};
// `value` is what the service set: the node-ID, or the bit rate in kbit/s (ignored for store).
LssResultText DescribeLssResult(const LssResult& result, std::uint32_t value);

// The row of the standard bit timing table for a row of the program's bit-rate list;
// 0xFF for none.
std::uint8_t LssTableIndexOfBaud(std::int32_t baudIndex);

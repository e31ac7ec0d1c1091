// The behaviour behind the stand-in driver libraries: what each call returns, what it
// receives, and the record of every call and of each library's load and release.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "driver_api.h"

enum class DriverCall { Loaded, Released, Init, Close, Status, Write, Read };

struct DriverEvent {
    DriverCall call;
    std::string tag;          // which stand-in library was called
    std::uint16_t btr0btr1;   // Init
    int frameType;            // Init
    const DriverMsg* record;  // Write, Read: the address the library was handed
    DriverMsg msg;            // Write: the record as handed over; Read: as filled in
};

struct ReceivedMsg {
    std::uint32_t result;  // what CAN_Read returns for it
    DriverMsg msg;         // written into the caller's record
};

struct FakeDriver {
    std::vector<DriverEvent> events;

    std::uint32_t initResult = 0;
    std::uint32_t closeResult = 0;
    std::uint32_t statusResult = 0;

    std::deque<ReceivedMsg> receiveQueue;  // CAN_Read takes the front entry
    std::uint32_t queueEmptyResult = 0x20;

    std::deque<std::uint32_t> writeResults;  // CAN_Write takes the front entry ...
    std::uint32_t writeResultAfter = 0;      // ... and this once they are used up
    std::uint32_t writeAdvanceMs = 0;        // manual clock moved on by every write
};

// Clears the behaviour and the record and installs the handlers; RemoveFakeDriver
// uninstalls them (every stand-in must be released before the test ends).
FakeDriver& InstallFakeDriver();
void RemoveFakeDriver();
FakeDriver& TheFakeDriver();

// Calls of one kind, from one variant or (empty tag) from any.
int CountCalls(DriverCall call, const std::string& tag = "");
std::vector<DriverMsg> WrittenMsgs();

// File name of a stand-in variant as built beside the test: "test_driver_<variant>" and
// the platform's library suffix.
std::string TestDriverFile(const std::string& variant);

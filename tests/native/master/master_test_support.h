// The master services without windows: a test implementation of the operator's side that
// records what the master asked of it and answers its questions from a script, and a
// fixture that puts the master on the simulated bus beside the test (pcan_usb.so) and on
// the manual clock. Every reading of the tick moves the clock on by 1 ms, so a time-out
// of the master ends after a bounded number of loop passes, in CPU time only.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "operator_side.h"
#include "process_image.h"
#include "sim_controls.h"
#include "text_files.h"

struct TestOperator {
    // What the master asked, in order: "message 1008", "ask retry 1008", "comm on",
    // "freeze off", "lists", "lists forced", "controls", "read 4", "search list",
    // "close dialogs", "settings", "destroy", "validate", "open read", "open write",
    // "wait 200", "busy", "not busy", "warning 1042", "open dictionary", "entry 4 2/30"
    // (entry 4 read, 2 of 30 so far), "recall 3", "remember 3 <path>", "pick".
    std::vector<std::string> events;
    // Answers to the questions (ShowFormatMessage), in order; Cancel once they run out.
    std::deque<int> answers;
    // The arguments of the questions, in order ("" for none).
    std::vector<std::wstring> arguments;
    // The last read result handed over.
    std::vector<std::uint8_t> readResult;
    // Run when a question is asked, before it is answered.
    std::function<void()> onQuestion;
    // Run at every progress report of the search (after the events entry).
    std::function<void()> onSearchProgress;
    // Run at every entry Read All reports (after the events entry).
    std::function<void()> onDictionaryEntry;
    // Run when the master opens the Object Dictionary window (after the events entry).
    std::function<void()> onOpenDictionary;
    // The EDS file remembered for the node ("" none) and the one the operator picks
    // ("" cancels the file dialog).
    std::string rememberedFile;
    std::string pickedFile;
    // Messages passed on to the pump slot.
    int messagesPassed = 0;
    // Messages waiting to be passed on.
    int messagesWaiting = 0;
    // How often the node monitor's record was shown.
    int nodeStatusShown = 0;
    // How often the LSS find reported its progress, and what runs at each report.
    int lssProgressShown = 0;
    int downloadRowsShown = 0;
    std::function<void()> onLssProgress;
    std::function<void()> onDownloadRow;

    // The operations that record into this operator (one test operator at a time).
    OperatorOps Operations();

    // Events that match `prefix`, counted.
    std::size_t Count(const std::string& prefix) const;
};

// The simulated bus's host build, beside the test executable.
constexpr char kSimulatedDriver[] = "pcan_usb.so";

// The owner handle the tests give the services; never dereferenced.
OwnerHandle TestOwner();

class MasterTest : public ::testing::Test {
protected:
    SimControls bus;
    TestOperator side;

    void SetUp() override;
    void TearDown() override;

    // The frames the master sent since the last call, as "603 8: 40 ..." or "183 RTR 2".
    std::vector<std::string> Sent();

    // Communication > Start with the warning confirmed; the frames of the start are taken.
    void StartConfirmed();

    // One idle cycle of the main loop after `advanceMs` more on the clock.
    void Cycle(std::uint32_t advanceMs);
};

// The message pump slot the tests install as MessageHook: counts the messages it takes.
int TestPump(tagMSG* message);

// A file of the source tree (VELOMAR_SOURCE_DIR) as text; "" when it cannot be read.
std::string ReadSource(const std::string& relative);

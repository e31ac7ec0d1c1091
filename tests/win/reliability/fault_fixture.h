// The program on the test's thread against the simulated bus, for trying faults: the
// slaves and the driver are bent through the library's test controls, or the library
// beside the program is swapped for another, and the test looks at what the operator
// sees (message boxes, lists, indicator), what went over the bus, and how long it took.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "driver_api.h"
#include "sim_controls.h"
#include "win_test_support.h"

// The driver library that lies beside the program as "pcan_usb.dll".
enum class DriverFile {
    Simulated,      // the simulated bus
    None,           // no library at all
    NoResetClient,  // a stand-in that lacks CAN_ResetClient
    StandIn,        // a complete stand-in whose operations the test's handlers answer
};

// The program's clock made manual while it lives: every reading of the tick moves it on
// by 1 ms, so the master's time-outs cost loop passes instead of real time and the time
// a service took is read off exactly. The simulated slaves stand still on a manual clock
// of their own meanwhile: an answer sent late stays late until AdvanceSlaves.
class ManualTime {
public:
    explicit ManualTime(SimControls& bus);
    ~ManualTime();
    ManualTime(const ManualTime&) = delete;
    ManualTime& operator=(const ManualTime&) = delete;

    // Milliseconds on the program's clock since the start (or the last Restart).
    std::uint32_t ElapsedMs() const;
    void Restart();

    // The slaves' clock moves on by `ms`: whatever they send late becomes due.
    void AdvanceSlaves(std::uint32_t ms);

private:
    SimControls& bus_;
    std::uint32_t start_ = 0;
    std::uint32_t slaveTick_ = 0;
};

class FaultTest : public ::testing::Test {
protected:
    SimControls bus;
    HWND window = nullptr;

    // The simulated bus beside the program with the default network, every slave fresh
    // and its inputs still; the program started without a settings file, on the system
    // clock (time-outs take real time).
    void SetUp() override;
    void TearDown() override;

    // Starts the program again with other settings (the first start was with none).
    void Restart(const std::string& settings);

    // Puts `file` beside the program as pcan_usb.dll. Nothing may hold the old one: the
    // program's binding and this test's controls let go of it first (the controls are
    // reloaded when the simulated bus comes back).
    void UseDriver(DriverFile file);

    void Command(WORD id);

    // Communication > Start, the warning confirmed; the boxes that followed are returned.
    std::vector<SeenMessageBox> StartCommunication(std::deque<int> laterAnswers = {});

    // An object read or write left as the object dialogs leave it, then one idle cycle
    // that carries it out, with the message boxes answered by `answers`.
    std::vector<SeenMessageBox> TransferObject(std::uint32_t direction, std::uint16_t index, std::uint8_t subindex,
                                               const std::vector<std::uint8_t>& data = {},
                                               std::deque<int> answers = {});

    // One pass of the main loop while communication runs: the queue routed, one idle cycle.
    void LoopPass();

    // The frames the master sent since the last call, as text.
    std::vector<std::string> Sent();

    // The texts of the boxes.
    static std::vector<std::wstring> Texts(const std::vector<SeenMessageBox>& boxes);
};

// An SDO abort frame of the master as FrameText shows it.
std::string AbortFrame(std::uint32_t node, std::uint16_t index, std::uint8_t subindex, std::uint32_t code);

// The folder of the driver variants beside the test executable.
std::wstring DriverFolder();

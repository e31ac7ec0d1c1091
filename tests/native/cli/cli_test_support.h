// The console program's commands run in-process: the simulated library beside the test,
// the manual clock moving 1 ms at every reading (so the time-outs cost CPU time only),
// and the console's output and messages captured.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "commands.h"
#include "sim_controls.h"

class CliTest : public ::testing::Test {
protected:
    SimControls bus;
    std::string out;
    std::string err;

    void SetUp() override;
    void TearDown() override;

    // The whole command line as main() hands it over; the exit status.
    int Run(const Words& arguments);
    // Each line of the output as one JSON object (a test failure for a line that is not one).
    std::vector<nlohmann::json> JsonLines() const;
    // Forgets what was written so far.
    void Clear();
};

// A session of its own for the tests that act on the bus between commands (inject a frame).
class CliSessionTest : public CliTest {
protected:
    Session session;
    Context context{session, TheConsole()};

    void SetUp() override;
    void TearDown() override;

    int Command(const Words& words) { return RunCommand(context, words); }
};

// The EDS file of the simulated I/O module (node 3).
std::string IoModuleEds();

#include "cli_test_support.h"

#include "bus_open.h"
#include "bus_pump.h"
#include "master_start.h"
#include "tick.h"

void CliTest::SetUp()
{
    UseManualClock(100000);
    SetManualTickStep(1);
    ASSERT_TRUE(bus.Load());
    bus.reset();
    bus.setAnimation(0);  // inputs change only when a test says so
    TheConsole().outCapture = &out;
    TheConsole().errCapture = &err;
}

void CliTest::TearDown()
{
    TheConsole().outCapture = nullptr;
    TheConsole().errCapture = nullptr;
    TheConsole().json = false;
    TheConsole().language = TextLanguage::English;
    UseSystemClock();
    bus.Unload();
}

int CliTest::Run(const Words& arguments)
{
    return RunProgram(arguments);
}

std::vector<nlohmann::json> CliTest::JsonLines() const
{
    std::vector<nlohmann::json> lines;
    std::size_t start = 0, end = 0;
    while ((end = out.find('\n', start)) != std::string::npos) {
        const std::string line = out.substr(start, end - start);
        start = end + 1;
        nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << "not JSON: " << line;
        lines.push_back(parsed);
    }
    EXPECT_EQ(start, out.size()) << "output does not end with a line end";
    return lines;
}

void CliTest::Clear()
{
    out.clear();
    err.clear();
}

void CliSessionTest::SetUp()
{
    CliTest::SetUp();
    GlobalOptions options{"", 8, 0};
    ASSERT_EQ(session.Begin(options), ExitOk);
    ASSERT_EQ(session.NeedBus(), ExitOk);
    // The slaves' boot-ups of the first open are not the test's frames.
    DrainReceiveQueue();
}

void CliSessionTest::TearDown()
{
    session.End();
    CliTest::TearDown();
}

std::string IoModuleEds()
{
    return std::string(VELOMAR_SOURCE_DIR) + "/simbus/eds/io_module.eds";
}

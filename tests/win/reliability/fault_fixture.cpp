#include "fault_fixture.h"

#include <algorithm>
#include <cstdio>

#include "app.h"
#include "comm_state.h"
#include "driver.h"
#include "exchange.h"
#include "process_image.h"
#include "resource.h"
#include "test_driver_host.h"
#include "tick.h"

namespace {

const wchar_t* VariantName(DriverFile file)
{
    switch (file) {
    case DriverFile::Simulated:
        return L"simbus.dll";
    case DriverFile::NoResetClient:
        return L"no_reset_client.dll";
    case DriverFile::StandIn:
        return L"stand_in.dll";
    case DriverFile::None:
        break;
    }
    return nullptr;
}

std::wstring DriverBesideProgram()
{
    return ExecutableFolder() + L"pcan_usb.dll";
}

}  // namespace

ManualTime::ManualTime(SimControls& bus) : bus_(bus)
{
    constexpr std::uint32_t kStart = 100000;
    UseManualClock(kStart);
    SetManualTickStep(1);
    slaveTick_ = kStart;
    bus_.setClock(1, slaveTick_);
    start_ = TickMs();
}

ManualTime::~ManualTime()
{
    UseSystemClock();
    bus_.setClock(0, 0);
}

std::uint32_t ManualTime::ElapsedMs() const
{
    return TickMs() - start_;
}

void ManualTime::Restart()
{
    start_ = TickMs();
}

void ManualTime::AdvanceSlaves(std::uint32_t ms)
{
    slaveTick_ += ms;
    bus_.setClock(1, slaveTick_);
}

std::wstring DriverFolder()
{
    return ExecutableFolder() + L"drivers\\";
}

void FaultTest::SetUp()
{
    UseDriver(DriverFile::Simulated);
    ASSERT_NE(bus.module, nullptr);
    window = StartProgram("");
    ASSERT_NE(window, nullptr);
    UseSystemClock();
}

void FaultTest::TearDown()
{
    EndProgram();
    UseDriver(DriverFile::Simulated);
    SetTestDriverHandlers(nullptr);
    bus.Unload();
}

void FaultTest::Restart(const std::string& settings)
{
    EndProgram();
    window = StartProgram(settings);
    ASSERT_NE(window, nullptr);
    UseSystemClock();
}

void FaultTest::UseDriver(DriverFile file)
{
    UnloadDriver();
    if (bus.module != nullptr) {
        bus.reset();
        bus.Unload();
    }
    const std::wstring target = DriverBesideProgram();
    const wchar_t* variant = VariantName(file);
    if (variant == nullptr)
        DeleteFileW(target.c_str());
    else
        ASSERT_TRUE(CopyFileW((DriverFolder() + variant).c_str(), target.c_str(), FALSE)) << GetLastError();
    if (file == DriverFile::Simulated) {
        ASSERT_TRUE(bus.Load());
        bus.reset();
        bus.setAnimation(0);  // inputs change only when the test says so
    }
}

void FaultTest::Command(WORD id)
{
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

std::vector<SeenMessageBox> FaultTest::StartCommunication(std::deque<int> laterAnswers)
{
    laterAnswers.push_front(IDOK);
    MessageBoxAnswerer answers(laterAnswers);
    Command(IDM_START);
    std::vector<SeenMessageBox> seen = answers.Seen();
    EXPECT_FALSE(seen.empty());
    if (!seen.empty())
        seen.erase(seen.begin());  // the warning
    return seen;
}

std::vector<SeenMessageBox> FaultTest::TransferObject(std::uint32_t direction, std::uint16_t index,
                                                      std::uint8_t subindex, const std::vector<std::uint8_t>& data,
                                                      std::deque<int> answers)
{
    ObjectRequest& request = processImage->request;
    request.data = {};
    std::copy(data.begin(), data.end(), request.data.begin());
    request.index = index;
    request.subindex = subindex;
    request.length = static_cast<std::uint32_t>(data.size());
    request.direction = direction;
    request.pending = 1;
    MessageBoxAnswerer answerer(answers);
    RunIdleCycle();
    return answerer.Seen();
}

void FaultTest::LoopPass()
{
    RouteQueuedMessages();
    RunIdleCycle();
}

std::vector<std::string> FaultTest::Sent()
{
    std::vector<std::string> frames;
    for (const DriverMsg& msg : bus.TakeSent())
        frames.push_back(FrameText(msg));
    return frames;
}

std::vector<std::wstring> FaultTest::Texts(const std::vector<SeenMessageBox>& boxes)
{
    std::vector<std::wstring> texts;
    for (const SeenMessageBox& box : boxes)
        texts.push_back(box.text);
    return texts;
}

std::string AbortFrame(std::uint32_t node, std::uint16_t index, std::uint8_t subindex, std::uint32_t code)
{
    char text[64];
    std::snprintf(text, sizeof text, "%03X 8: 80 %02X %02X %02X %02X %02X %02X %02X", 0x600u + node, index & 0xFFu,
                  index >> 8, subindex, code & 0xFFu, (code >> 8) & 0xFFu, (code >> 16) & 0xFFu, code >> 24);
    return text;
}

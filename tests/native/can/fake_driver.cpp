#include "fake_driver.h"

#include "test_driver_host.h"
#include "tick.h"

namespace {

FakeDriver fake;

void Record(DriverCall call, const char* tag, const DriverMsg* record = nullptr)
{
    DriverEvent event{call, tag, 0, 0, record, {}};
    if (record != nullptr)
        event.msg = *record;
    fake.events.push_back(event);
}

void OnLoaded(const char* tag)
{
    Record(DriverCall::Loaded, tag);
}

void OnReleased(const char* tag)
{
    Record(DriverCall::Released, tag);
}

std::uint32_t OnInit(const char* tag, std::uint16_t btr0btr1, int frameType)
{
    Record(DriverCall::Init, tag);
    fake.events.back().btr0btr1 = btr0btr1;
    fake.events.back().frameType = frameType;
    return fake.initResult;
}

std::uint32_t OnClose(const char* tag)
{
    Record(DriverCall::Close, tag);
    return fake.closeResult;
}

std::uint32_t OnStatus(const char* tag)
{
    Record(DriverCall::Status, tag);
    return fake.statusResult;
}

std::uint32_t OnWrite(const char* tag, DriverMsg* msg)
{
    Record(DriverCall::Write, tag, msg);
    AdvanceManualTick(fake.writeAdvanceMs);
    if (fake.writeResults.empty())
        return fake.writeResultAfter;
    const std::uint32_t result = fake.writeResults.front();
    fake.writeResults.pop_front();
    return result;
}

std::uint32_t OnRead(const char* tag, DriverMsg* msg)
{
    if (fake.receiveQueue.empty()) {
        Record(DriverCall::Read, tag);
        return fake.queueEmptyResult;
    }
    const ReceivedMsg received = fake.receiveQueue.front();
    fake.receiveQueue.pop_front();
    *msg = received.msg;
    Record(DriverCall::Read, tag, msg);
    return received.result;
}

const TestDriverHandlers handlers = {OnLoaded, OnReleased, OnInit, OnClose, OnStatus, OnWrite, OnRead};

}  // namespace

FakeDriver& InstallFakeDriver()
{
    fake = FakeDriver{};
    SetTestDriverHandlers(&handlers);
    return fake;
}

void RemoveFakeDriver()
{
    SetTestDriverHandlers(nullptr);
}

FakeDriver& TheFakeDriver()
{
    return fake;
}

int CountCalls(DriverCall call, const std::string& tag)
{
    int count = 0;
    for (const DriverEvent& event : fake.events) {
        if (event.call == call && (tag.empty() || event.tag == tag))
            ++count;
    }
    return count;
}

std::vector<DriverMsg> WrittenMsgs()
{
    std::vector<DriverMsg> written;
    for (const DriverEvent& event : fake.events) {
        if (event.call == DriverCall::Write)
            written.push_back(event.msg);
    }
    return written;
}

std::string TestDriverFile(const std::string& variant)
{
    return "test_driver_" + variant + TEST_DRIVER_SUFFIX;
}

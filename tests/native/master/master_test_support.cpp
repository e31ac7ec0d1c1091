#include "master_test_support.h"

#include <cstdio>

#include "bus_pump.h"
#include "comm_state.h"
#include "communication.h"
#include "driver.h"
#include "exchange.h"
#include "master_start.h"
#include "master_state.h"
#include "node_table.h"
#include "settings_values.h"
#include "tick.h"

namespace {

TestOperator* current = nullptr;

void Record(const std::string& event)
{
    current->events.push_back(event);
}

std::string Number(const char* format, std::uint32_t value)
{
    char text[48];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
    return text;
}

int ShowString(OwnerHandle, std::uint32_t stringId)
{
    Record(Number("message %u", stringId));
    return 1;
}

int ShowFormat(OwnerHandle, MessageForm form, std::uint32_t stringId, const wchar_t* argument)
{
    const char* kind = form == FormOkCancelWarning      ? "ask ok-cancel"
                       : form == FormRetryCancelWarning ? "ask retry"
                       : form == FormOkWarning          ? "warning"
                                                        : "notice";
    Record(std::string(kind) + Number(" %u", stringId));
    current->arguments.push_back(argument != nullptr ? argument : L"");
    if (current->onQuestion)
        current->onQuestion();
    if (form == FormOkPlain || form == FormOkWarning)
        return AnswerOk;
    if (current->answers.empty())
        return AnswerCancel;
    const int answer = current->answers.front();
    current->answers.pop_front();
    return answer;
}

int SetActive(OwnerHandle, bool on)
{
    // The master has set its flag before it shows it.
    EXPECT_EQ(commState.active, on ? 1u : 0u);
    Record(on ? "comm on" : "comm off");
    return 1;
}

int SetFreeze(OwnerHandle, bool on)
{
    EXPECT_EQ(commState.freezeOutputs, on ? 1u : 0u);
    Record(on ? "freeze on" : "freeze off");
    return 1;
}

int Validate(OwnerHandle)
{
    Record("validate");
    return 1;
}

int Controls(OwnerHandle)
{
    Record("controls");
    return 1;
}

int Lists(OwnerHandle, bool force)
{
    Record(force ? "lists forced" : "lists");
    return 1;
}

int Deliver(const std::uint8_t* data, std::uint32_t length)
{
    current->readResult.assign(data, data + length);
    Record(Number("read %u", length));
    return 1;
}

int SearchList(OwnerHandle)
{
    Record("search list");
    if (current->onSearchProgress)
        current->onSearchProgress();
    return 1;
}

OwnerHandle Main()
{
    return TestOwner();
}

int OpenRead(OwnerHandle)
{
    Record("open read");
    return 1;
}

int OpenWrite(OwnerHandle)
{
    Record("open write");
    return 1;
}

int CloseDialogs()
{
    Record("close dialogs");
    return 1;
}

int Settings()
{
    Record("settings");
    return 1;
}

int Destroy(OwnerHandle)
{
    Record("destroy");
    return 1;
}

int PassTo(MessagePumpSlot pump)
{
    if (current->messagesWaiting == 0)
        return 0;
    --current->messagesWaiting;
    pump(nullptr);
    return 1;
}

void Wait(std::uint32_t timeoutMs)
{
    Record(Number("wait %u", timeoutMs));
}

void* Busy()
{
    Record("busy");
    return nullptr;
}

void NotBusy(void*)
{
    Record("not busy");
}

int OpenDictionary(OwnerHandle)
{
    Record("open dictionary");
    if (current->onOpenDictionary)
        current->onOpenDictionary();
    return 1;
}

int DictionaryEntry(OwnerHandle, std::uint32_t entry, std::uint32_t done, std::uint32_t total)
{
    Record(Number("entry %u", entry) + Number(" %u", done) + Number("/%u", total));
    if (current->onDictionaryEntry)
        current->onDictionaryEntry();
    return 1;
}

int Recall(std::uint32_t node, char* path, std::uint32_t size)
{
    Record(Number("recall %u", node));
    if (current->rememberedFile.empty())
        return 0;
    std::snprintf(path, size, "%s", current->rememberedFile.c_str());
    return 1;
}

int Remember(std::uint32_t node, const char* path)
{
    Record(Number("remember %u ", node) + path);
    current->rememberedFile = path;
    return 1;
}

int Pick(OwnerHandle, char* path, std::uint32_t size)
{
    Record("pick");
    if (current->pickedFile.empty())
        return 0;
    std::snprintf(path, size, "%s", current->pickedFile.c_str());
    return 1;
}

// Counted, not recorded: the monitor reports at every start and stop, and the event
// lists of the other services stay as they were.
int NodeStatus(OwnerHandle)
{
    ++current->nodeStatusShown;
    return 1;
}

// Counted like the node status; a test may act at each report (an abort).
int DownloadRow(OwnerHandle, std::uint32_t)
{
    ++current->downloadRowsShown;
    if (current->onDownloadRow)
        current->onDownloadRow();
    return 1;
}

int LssProgress(OwnerHandle)
{
    ++current->lssProgressShown;
    if (current->onLssProgress)
        current->onLssProgress();
    return 1;
}

int ownerToken = 0;

}  // namespace

OperatorOps TestOperator::Operations()
{
    current = this;
    return OperatorOps{
        .showMessage = ShowString,
        .askQuestion = ShowFormat,
        .showCommActive = SetActive,
        .showFreezeOutputs = SetFreeze,
        .takeSlaveAddress = Validate,
        .refreshCommControls = Controls,
        .showPdoLists = Lists,
        .handOverReadResult = Deliver,
        .showSearchProgress = SearchList,
        .ownerWindow = Main,
        .openReadObject = OpenRead,
        .openWriteObject = OpenWrite,
        .closeObjectWindows = CloseDialogs,
        .saveSettings = Settings,
        .closeMainWindow = Destroy,
        .passMessage = PassTo,
        .restUntilInput = Wait,
        .beginWait = Busy,
        .endWait = NotBusy,
        .openDictionary = OpenDictionary,
        .showEntryRead = DictionaryEntry,
        .lookUpEdsChoice = Recall,
        .keepEdsChoice = Remember,
        .askForEdsFile = Pick,
        .showNodeStatus = NodeStatus,
        .showLssProgress = LssProgress,
        .showDownloadRow = DownloadRow,
    };
}

std::size_t TestOperator::Count(const std::string& prefix) const
{
    std::size_t n = 0;
    for (const std::string& event : events)
        n += event.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
}

OwnerHandle TestOwner()
{
    return reinterpret_cast<OwnerHandle>(&ownerToken);
}

int TestPump(tagMSG*)
{
    ++current->messagesPassed;
    return 1;
}

void MasterTest::SetUp()
{
    UseManualClock(100000);
    SetManualTickStep(1);
    ASSERT_TRUE(bus.Load());
    bus.reset();
    bus.setAnimation(0);  // inputs change only when the test says so

    // The one start-up call, as a front end makes it.
    appSettings = kDefaultSettings;
    MasterSetup setup{};
    setup.operations = side.Operations();
    setup.messageHook = TestPump;
    setup.node = appSettings.CurrAdr;
    setup.bitRate = appSettings.Baud;
    setup.port = appSettings.PrinterPort;
    setup.driverLibrary = kSimulatedDriver;
    ASSERT_EQ(StartMaster(setup), MasterStarted);
    ClearNodeTable(MasterNodeTable());
    SetWindowReady(true);
}

void MasterTest::TearDown()
{
    UnloadDriver();
    EndMaster();
    ResetMasterState();
    UseSystemClock();
    bus.Unload();
}

std::vector<std::string> MasterTest::Sent()
{
    std::vector<std::string> texts;
    for (const DriverMsg& frame : bus.TakeSent())
        texts.push_back(FrameText(frame));
    return texts;
}

void MasterTest::StartConfirmed()
{
    side.answers.push_back(AnswerOk);
    ASSERT_EQ(StartCommunication(TestOwner()), 1);
    bus.TakeSent();
    side.events.clear();
    side.arguments.clear();
}

void MasterTest::Cycle(std::uint32_t advanceMs)
{
    AdvanceManualTick(advanceMs);
    RunIdleCycle();
}

std::string ReadSource(const std::string& relative)
{
    return ReadTextFile(std::string(VELOMAR_SOURCE_DIR) + "/" + relative);
}

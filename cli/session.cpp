#include "session.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bus_open.h"
#include "cli_texts.h"
#include "driver.h"
#include "files.h"
#include "master_start.h"
#include "operator_side.h"
#include "os_services.h"
#include "resource.h"
#include "settings_values.h"
#include "tick.h"

volatile int interruptRequested = 0;

namespace {

Session* current = nullptr;
std::uint32_t lastMessage = 0;

#if defined(_WIN32)
constexpr char kLibraryFile[] = "pcan_usb.dll";
#else
constexpr char kLibraryFile[] = "pcan_usb.so";
#endif

// An argument of the master's boxes (codes, numbers, area names, paths) as UTF-8: UTF-16
// on Windows, where a pair of surrogates makes one character, UTF-32 elsewhere.
std::string Narrow(const wchar_t* text)
{
    std::string result;
    for (; text != nullptr && *text != L'\0'; ++text) {
        auto code = static_cast<std::uint32_t>(*text);
        if (code >= 0xD800 && code < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<std::uint32_t>(text[1]) - 0xDC00);
            ++text;
        }
        if (code < 0x80) {
            result += static_cast<char>(code);
        } else if (code < 0x800) {
            result += static_cast<char>(0xC0 | (code >> 6));
            result += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            result += static_cast<char>(0xE0 | (code >> 12));
            result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            result += static_cast<char>(0xF0 | ((code >> 18) & 0x07));
            result += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return result;
}

int ShowMessage(OwnerHandle, std::uint32_t stringId)
{
    lastMessage = stringId;
    TheConsole().Error(ProgramText(stringId));
    return 1;
}

// The operator asked for the command: its questions are answered OK. A retry is not
// offered: the console reports the failure and ends instead of asking again.
int AskQuestion(OwnerHandle, MessageForm form, std::uint32_t stringId, const wchar_t* argument)
{
    switch (form) {
    case FormOkPlain:
    case FormOkWarning: {
        lastMessage = stringId;
        const std::string text = Narrow(argument);
        TheConsole().Error(ProgramText(stringId, {text, text}));
        return AnswerOk;
    }
    case FormRetryCancelWarning:
        return AnswerCancel;
    case FormOkCancelWarning:
    default: {
        const bool yes = current == nullptr || current->declined != stringId;
        if (current != nullptr && current->noteAnswers) {
            current->questionsAsked.push_back(stringId);
            const std::string text = Narrow(argument);
            TheConsole().Error(
                CliMessage(yes ? CliText::AnsweredYes : CliText::AnsweredNo, {ProgramText(stringId, {text, text})}));
        }
        return yes ? AnswerOk : AnswerCancel;
    }
    }
}

int Shown(OwnerHandle, bool)
{
    return 1;
}
int ShownWindow(OwnerHandle)
{
    return 1;
}
int ShowLists(OwnerHandle, bool)
{
    return 1;
}
int HandOver(const std::uint8_t*, std::uint32_t)
{
    return 1;
}
OwnerHandle NoOwner()
{
    return nullptr;
}
int Nothing()
{
    return 1;
}
int PassNoMessage(MessagePumpSlot)
{
    return 0;
}
void Rest(std::uint32_t timeoutMs)
{
    SleepMs(timeoutMs);
}
void* BeginWait()
{
    return nullptr;
}
void EndWait(void*) {}
int EntryRead(OwnerHandle, std::uint32_t, std::uint32_t, std::uint32_t)
{
    return 1;
}
int LookUpEds(std::uint32_t node, char* path, std::uint32_t size)
{
    if (current == nullptr)
        return 0;
    const auto found = current->edsChoices.find(node);
    if (found == current->edsChoices.end() || found->second.size() >= size)
        return 0;
    std::snprintf(path, size, "%s", found->second.c_str());
    return 1;
}
int KeepEds(std::uint32_t node, const char* path)
{
    if (current != nullptr)
        current->edsChoices[node] = path;
    return 1;
}
int AskForEds(OwnerHandle, char* path, std::uint32_t size)
{
    if (current == nullptr || current->edsOffered.empty() || current->edsOffered.size() >= size)
        return 0;
    std::snprintf(path, size, "%s", current->edsOffered.c_str());
    return 1;
}

int DownloadRowShown(OwnerHandle, std::uint32_t row)
{
    if (current != nullptr && current->rowShown != nullptr)
        current->rowShown(row);
    return 1;
}

OperatorOps ConsoleOperations()
{
    return OperatorOps{
        .showMessage = ShowMessage,
        .askQuestion = AskQuestion,
        .showCommActive = Shown,
        .showFreezeOutputs = Shown,
        .takeSlaveAddress = ShownWindow,
        .refreshCommControls = ShownWindow,
        .showPdoLists = ShowLists,
        .handOverReadResult = HandOver,
        .showSearchProgress = ShownWindow,
        .ownerWindow = NoOwner,
        .openReadObject = ShownWindow,
        .openWriteObject = ShownWindow,
        .closeObjectWindows = Nothing,
        .saveSettings = Nothing,
        .closeMainWindow = ShownWindow,
        .passMessage = PassNoMessage,
        .restUntilInput = Rest,
        .beginWait = BeginWait,
        .endWait = EndWait,
        .openDictionary = ShownWindow,
        .showEntryRead = EntryRead,
        .lookUpEdsChoice = LookUpEds,
        .keepEdsChoice = KeepEds,
        .askForEdsFile = AskForEds,
        .showNodeStatus = ShownWindow,
        .showLssProgress = ShownWindow,
        .showDownloadRow = DownloadRowShown,
    };
}

extern "C" void OnInterrupt(int)
{
    interruptRequested = 1;
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    std::FILE* file = OpenFileUtf8(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// Splits "a:b:c" at its colons.
std::vector<std::string> Fields(const std::string& text)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        fields.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos)
            return fields;
        start = colon + 1;
    }
}

bool FileExists(const std::string& path)
{
    std::FILE* file = OpenFileUtf8(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

// The library of one kind in its folder beside the program: the release's folder name
// (serial, network, simulated) or the build's (slcan, netcan); "" when neither has it.
std::string InstalledLibrary(const char* releaseFolder, const char* buildFolder)
{
    for (const char* folder : {releaseFolder, buildFolder}) {
        const std::string candidate = ProgramFolder() + folder + PathSeparator() + kLibraryFile;
        if (FileExists(candidate))
            return candidate;
    }
    return "";
}

bool ValidSetting(const std::string& value)
{
    if (value.empty())
        return false;
    for (const char c : value) {
        if (c == '\r' || c == '\n' || c == ';' || c == '#' || c == '[')
            return false;
    }
    return true;
}

}  // namespace

Session* CurrentSession()
{
    return current;
}

std::uint32_t TakeLastMasterMessage()
{
    const std::uint32_t id = lastMessage;
    lastMessage = 0;
    return id;
}

void WatchInterrupt()
{
    interruptRequested = 0;
    std::signal(SIGINT, OnInterrupt);
}

bool PrepareDriver(const std::string& driver, std::string& path, std::string& privateFolder, std::string& error)
{
    if (driver.empty()) {
        path = kLibraryFile;
        return true;
    }
    if (driver == "sim") {
        // The release keeps the simulated library in a folder of its own, so that the
        // vendor's beside the program is the default; the build puts it beside.
        const std::string released = InstalledLibrary("simulated", "simulated");
        path = released.empty() ? std::string(kLibraryFile) : released;
        return true;
    }
    const std::vector<std::string> fields = Fields(driver);
    // Names, not strings assigned from literals: i686 GCC 12 at -O3 takes such an
    // assignment for an overlapping copy (-Wrestrict).
    const char* kind = nullptr;       // the folder of the release
    const char* buildKind = nullptr;  // the folder of the build
    const char* settingsName = nullptr;
    std::string settings;
    if (fields[0] == "serial" && fields.size() == 2 && ValidSetting(fields[1])) {
        kind = "serial";
        buildKind = "slcan";
        settingsName = "slcan.ini";
        settings = "[Serial]\nPort=" + fields[1] + "\n";
    } else if (fields[0] == "socketcand" && (fields.size() == 3 || fields.size() == 4) && ValidSetting(fields[1]) &&
               ValidSetting(fields[2]) && (fields.size() == 3 || ValidSetting(fields[3]))) {
        kind = "network";
        buildKind = "netcan";
        settingsName = "netcan.ini";
        settings = "[Connection]\nHost=" + fields[1] + "\nPort=" + fields[2] + "\n";
        if (fields.size() == 4)
            settings += "Interface=" + fields[3] + "\n";
    } else if (fields[0] == "serial" || fields[0] == "socketcand") {
        error = driver;
        return false;
    } else {
        path = driver;
        return true;
    }
    // The library reads its settings file beside itself: a copy of it in a folder of this
    // process's own, with the settings asked for, leaves the installed file alone.
    const std::string source = InstalledLibrary(kind, buildKind);
    if (source.empty()) {
        error = ProgramFolder() + kind + PathSeparator() + kLibraryFile;
        return false;
    }
    if (!MakePrivateFolder(privateFolder)) {
        error = source;
        return false;
    }
    path = privateFolder + kLibraryFile;
    if (!CopyOneFile(source, path) || !WriteTextFile(privateFolder + settingsName, settings)) {
        error = source;
        return false;
    }
    return true;
}

int Session::Begin(const GlobalOptions& options)
{
    current = this;
    lastMessage = 0;
    std::string error;
    if (!PrepareDriver(options.driver, driverPath_, privateFolder_, error)) {
        TheConsole().Error(ProgramText(IDS_CANNOT_LOAD_DLL) + " (" + error + ")");
        return ExitNoDriver;
    }
    MasterSetup setup{};
    setup.operations = ConsoleOperations();
    setup.messageHook = nullptr;
    setup.node = 3;
    setup.bitRate = options.baudIndex;
    setup.port = kPortUsb;
    setup.driverLibrary = driverPath_.c_str();
    if (StartMaster(setup) != MasterStarted) {
        TheConsole().Error(ProgramText(IDS_CANNOT_LOAD_DLL));
        return ExitNoDriver;
    }
    UseBusSettle(options.settleMs);
    started_ = true;
    return ExitOk;
}

int Session::NeedBus()
{
    if (DriverLoaded() != 0)
        return ExitOk;
    TakeLastMasterMessage();
    if (OpenBus(nullptr, appSettings.Baud) == 0)
        return ExitNoDriver;
    return ExitOk;
}

void Session::ReleaseBus()
{
    if (DriverLoaded() != 0)
        CloseBus();
}

void Session::End()
{
    if (started_) {
        ReleaseBus();
        EndMaster();
        started_ = false;
    }
    if (!privateFolder_.empty()) {
        RemovePrivateFolder(privateFolder_, {kLibraryFile, "slcan.ini", "netcan.ini", "slcan.log"});
        privateFolder_.clear();
    }
    if (current == this)
        current = nullptr;
}

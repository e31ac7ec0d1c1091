#include "settings.h"

#include <array>
#include <cwchar>
#include <string>

#include "lss_service.h"
#include "node_monitor.h"
#include "resource_language.h"

namespace {

wchar_t settingsPath[MAX_PATH] = L"";  // from SetSettingsPath

constexpr wchar_t kLanguageSection[] = L"Language";
constexpr wchar_t kSettingsSection[] = L"Tovral";
constexpr wchar_t kDictionarySection[] = L"ObjectDictionary";
constexpr wchar_t kMonitorSection[] = L"NodeMonitor";
constexpr wchar_t kLssSection[] = L"LSS";

constexpr std::int32_t kDefaultPrimaryLanguage = 9;  // English
constexpr std::int32_t kDefaultSubLanguage = 1;      // United States
constexpr std::int32_t kDefaultPrinterPort = 4096;   // the USB adapter
constexpr std::int32_t kDefaultBaud = 0;             // 10 kBaud
constexpr std::int32_t kDefaultCurrAdr = 3;
constexpr std::int32_t kDefaultLogging = 0;

// The EDS files the operator chose in this run, by node, kept until the close writes
// them with the other settings: nothing but the close writes the settings file.
struct RememberedEdsFiles {
    std::array<std::wstring, 128> path;  // empty: nothing chosen for the node in this run
};
RememberedEdsFiles chosenEdsFiles;

void NodeKey(wchar_t (&key)[16], std::uint32_t node)
{
    std::swprintf(key, sizeof key / sizeof key[0], L"Node%u", static_cast<unsigned>(node));
}

// The platform's profile-integer rule: a missing file, section or key (or an empty
// value) gives the default; otherwise the leading decimal number, or 0.
std::int32_t ReadProfileInt(const wchar_t* section, const wchar_t* key, std::int32_t fallback)
{
    return static_cast<std::int32_t>(GetPrivateProfileIntW(section, key, fallback, settingsPath));
}

void WriteProfileInt(const wchar_t* key, std::int32_t value, const wchar_t* section = kSettingsSection)
{
    wchar_t text[16];
    std::swprintf(text, sizeof text / sizeof text[0], L"%d", value);
    WritePrivateProfileStringW(section, key, text, settingsPath);
}

// The node monitor's settings as the file had them: written back only when changed, so
// a file without the section stays without it.
MonitorSettings monitorSettingsRead = kDefaultMonitorSettings;

// A time in milliseconds: a negative or absurd value in the file counts as 0 (off).
std::uint32_t ReadTimeMs(const wchar_t* key)
{
    constexpr std::int32_t kLongestMs = 600000;
    const std::int32_t value = ReadProfileInt(kMonitorSection, key, 0);
    return value < 0 || value > kLongestMs ? 0u : static_cast<std::uint32_t>(value);
}

// The LSS settings as the file had them, written back only when changed.
LssSettings lssSettingsRead = kDefaultLssSettings;

// The LSS time-out: 0, a negative value or one beyond 10 s would make every find useless
// or endless; the default stands in for them.
std::uint32_t ReadLssTimeoutMs()
{
    constexpr std::int32_t kLongestMs = 10000;
    const std::int32_t value =
        ReadProfileInt(kLssSection, L"TimeoutMs", static_cast<std::int32_t>(kDefaultLssSettings.timeoutMs));
    return value <= 0 || value > kLongestMs ? kDefaultLssSettings.timeoutMs : static_cast<std::uint32_t>(value);
}

}  // namespace

const wchar_t* SettingsPath()
{
    return settingsPath;
}

void SetSettingsPath(const wchar_t* path)
{
    std::swprintf(settingsPath, MAX_PATH, L"%ls", path);
}

void SelectLanguage()
{
    const auto primary =
        static_cast<std::uint32_t>(ReadProfileInt(kLanguageSection, L"PrimaryLanguage", kDefaultPrimaryLanguage));
    const auto sub = static_cast<std::uint32_t>(ReadProfileInt(kLanguageSection, L"SubLanguage", kDefaultSubLanguage));
    // Only the low six bits of the sub-language survive the shift; the primary value is
    // not cut to ten bits.
    const auto language = static_cast<LANGID>(((sub * 1024u) % 65536u) | (primary % 65536u));
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
    SetResourceLanguage(language);
}

int ReadSettings()
{
    appSettings.PrinterPort = ReadProfileInt(kSettingsSection, L"PrinterPort", kDefaultPrinterPort);
    appSettings.Baud = ReadProfileInt(kSettingsSection, L"Baud", kDefaultBaud);
    appSettings.CurrAdr = ReadProfileInt(kSettingsSection, L"CurrAdr", kDefaultCurrAdr);
    appSettings.Logging = ReadProfileInt(kSettingsSection, L"Logging", kDefaultLogging);
    // Node 0 in an NMT frame would address every node on the bus.
    if (appSettings.CurrAdr < 1 || appSettings.CurrAdr > 127)
        appSettings.CurrAdr = kDefaultCurrAdr;
    monitorSettings.consumerTimeMs = ReadTimeMs(L"ConsumerTimeMs");
    monitorSettings.guardTimeMs = ReadTimeMs(L"GuardTimeMs");
    monitorSettingsRead = monitorSettings;
    lssSettings.timeoutMs = ReadLssTimeoutMs();
    lssSettingsRead = lssSettings;
    return 1;
}

int RecallEdsFile(std::uint32_t node, char* path, std::uint32_t size)
{
    wchar_t wide[MAX_PATH * 2] = L"";
    if (node < chosenEdsFiles.path.size() && !chosenEdsFiles.path[node].empty()) {
        std::swprintf(wide, sizeof wide / sizeof wide[0], L"%ls", chosenEdsFiles.path[node].c_str());
    } else {
        wchar_t key[16];
        NodeKey(key, node);
        GetPrivateProfileStringW(kDictionarySection, key, L"", wide, sizeof wide / sizeof wide[0], settingsPath);
    }
    if (wide[0] == L'\0')
        return 0;
    return WideCharToMultiByte(CP_UTF8, 0, wide, -1, path, static_cast<int>(size), nullptr, nullptr) != 0 ? 1 : 0;
}

int RememberEdsFile(std::uint32_t node, const char* path)
{
    if (node >= chosenEdsFiles.path.size())
        return 0;
    wchar_t wide[MAX_PATH * 2];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, sizeof wide / sizeof wide[0]) == 0 ||
        wide[0] == L'\0')
        return 0;
    chosenEdsFiles.path[node] = wide;
    return 1;
}

void ForgetChosenEdsFiles()
{
    chosenEdsFiles = RememberedEdsFiles{};
}

int WriteSettings()
{
    WriteProfileInt(L"PrinterPort", appSettings.PrinterPort);
    WriteProfileInt(L"Baud", appSettings.Baud);
    WriteProfileInt(L"CurrAdr", appSettings.CurrAdr);
    for (std::uint32_t node = 0; node < chosenEdsFiles.path.size(); ++node) {
        if (chosenEdsFiles.path[node].empty())
            continue;
        wchar_t key[16];
        NodeKey(key, node);
        WritePrivateProfileStringW(kDictionarySection, key, chosenEdsFiles.path[node].c_str(), settingsPath);
    }
    if (monitorSettings.consumerTimeMs != monitorSettingsRead.consumerTimeMs ||
        monitorSettings.guardTimeMs != monitorSettingsRead.guardTimeMs) {
        WriteProfileInt(L"ConsumerTimeMs", static_cast<std::int32_t>(monitorSettings.consumerTimeMs), kMonitorSection);
        WriteProfileInt(L"GuardTimeMs", static_cast<std::int32_t>(monitorSettings.guardTimeMs), kMonitorSection);
    }
    if (lssSettings.timeoutMs != lssSettingsRead.timeoutMs)
        WriteProfileInt(L"TimeoutMs", static_cast<std::int32_t>(lssSettings.timeoutMs), kLssSection);
    return 1;
}

#include "configuration.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bus_open.h"
#include "byte_order.h"
#include "comm_state.h"
#include "communication.h"
#include "dcf_writer.h"
#include "files.h"
#include "node_monitor.h"
#include "resource.h"
#include "settings_values.h"
#include "slave_dictionary.h"
#include "slave_search.h"

ConfigDownload configDownload;
int downloadAbort = 0;

namespace {

constexpr std::uint16_t kStoreObject = 0x1010;
constexpr std::uint16_t kRestoreObject = 0x1011;
constexpr std::uint32_t kCobIdInvalid = 0x80000000u;

std::uint8_t CurrentNode()
{
    return static_cast<std::uint8_t>(appSettings.CurrAdr & 0x7F);
}

std::string_view FileNameOf(std::string_view path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The bus for one of these services, by the object requests' rule, with the operator's
// object requests held back (dictionaryBusy) and window messages passed on between the
// transfers, so that Abort is seen.
class BusSession {
public:
    explicit BusSession(OwnerHandle owner) : owner_(owner) {}
    BusSession(const BusSession&) = delete;
    BusSession& operator=(const BusSession&) = delete;
    ~BusSession() { End(); }

    bool Begin()
    {
        if (scanRunning != 0 || monitorBusy != 0 || dictionaryBusy != 0)
            return false;
        ownBus_ = commState.active == 0;
        if (ownBus_ && OpenBus(owner_, appSettings.Baud) == 0)
            return false;
        exchangePump_ = ActivePump;
        ActivePump = MessageHook;
        dictionaryBusy = 1;
        begun_ = true;
        return true;
    }

    // After a transfer that failed on the master's side: reported as Read All reports
    // it. False when the service must end (always with a bus of its own; with
    // communication on, when the failure rule stopped it).
    bool Survives(const SdoResult& result)
    {
        if (ownBus_) {
            Operator().showMessage(owner_, IDS_COMM_FAILURE);
            return false;
        }
        dictionaryBusy = 0;
        const bool goOn = CheckCommFailure(owner_, result) != 0;
        dictionaryBusy = 1;
        restarted_ = goOn;
        ActivePump = MessageHook;
        return goOn && commState.active != 0;
    }

    // Communication stopped under the service (the failure rule): the bus is gone.
    bool BusLost() const { return !ownBus_ && commState.active == 0; }

    void End()
    {
        if (!begun_)
            return;
        begun_ = false;
        dictionaryBusy = 0;
        if (ownBus_)
            CloseBus();
        else
            ActivePump = commState.active != 0 && !restarted_ ? exchangePump_ : nullptr;
    }

private:
    OwnerHandle owner_;
    bool ownBus_ = false;
    bool begun_ = false;
    bool restarted_ = false;
    MessagePumpSlot exchangePump_ = nullptr;
};

SdoResult Write(std::uint16_t index, std::uint8_t subIndex, const std::vector<std::uint8_t>& value)
{
    return WriteObject(configDownload.node, kDefaultSdoTimeoutMs, index, subIndex, value.data(),
                       static_cast<std::uint32_t>(value.size()));
}

SdoResult Read(std::uint8_t node, std::uint16_t index, std::uint8_t subIndex, std::vector<std::uint8_t>& value)
{
    std::uint8_t data[kMaxObjectBytes];
    std::uint32_t length = 0;
    const SdoResult result = ReadObject(node, kDefaultSdoTimeoutMs, index, subIndex, data, sizeof data, length);
    value.assign(data, data + (result.failed == 0 && result.aborted == 0 ? length : 0));
    return result;
}

std::vector<std::uint8_t> Le32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// A PDO's key: its communication index (0x1400 + n receive, 0x1800 + n transmit).
std::uint16_t PdoOf(std::uint16_t index)
{
    return static_cast<std::uint16_t>(index >= 0x1600 && index < 0x1800   ? index - 0x200
                                      : index >= 0x1A00 && index < 0x1C00 ? index - 0x200
                                                                          : index);
}

bool IsMapping(std::uint16_t index)
{
    return (index >= 0x1600 && index < 0x1800) || (index >= 0x1A00 && index < 0x1C00);
}

bool ShouldWrite(const DownloadRow& row)
{
    return row.state == RowState::Pending || (row.state == RowState::Same && !configDownload.onlyChanged);
}

// The rows of one PDO: [first, last).
struct PdoRows {
    std::size_t first;
    std::size_t last;
};

std::vector<PdoRows> PdoGroups()
{
    std::vector<PdoRows> groups;
    std::vector<DownloadRow>& rows = configDownload.rows;
    for (std::size_t i = 0; i < rows.size() && rows[i].pdo;) {
        std::size_t end = i + 1;
        while (end < rows.size() && rows[end].pdo && PdoOf(rows[end].index) == PdoOf(rows[i].index))
            ++end;
        groups.push_back(PdoRows{i, end});
        i = end;
    }
    return groups;
}

void Report(OwnerHandle owner, std::size_t row)
{
    Operator().showDownloadRow(owner, static_cast<std::uint32_t>(row));
    PassOneMessage();
}

// The outcome of one row's own write.
void Settle(DownloadRow& row, const SdoResult& result, DownloadOutcome& outcome)
{
    if (result.failed != 0) {
        row.state = RowState::NoAnswer;
        ++outcome.failed;
    } else if (result.aborted != 0) {
        row.state = RowState::Failed;
        row.abortCode = result.abortCode;
        ++outcome.failed;
    } else {
        row.state = RowState::Written;
        ++outcome.written;
    }
}

// Writes one PDO's rows to write in the device's sequence. False when the download must
// end (Abort, a time-out).
bool WritePdo(OwnerHandle owner, BusSession& bus, const PdoRows& group, DownloadOutcome& outcome)
{
    std::vector<DownloadRow>& rows = configDownload.rows;
    const std::uint16_t comm = PdoOf(rows[group.first].index);
    const auto mapping = static_cast<std::uint16_t>(comm + 0x200);
    DownloadRow* cobRow = nullptr;
    DownloadRow* countRow = nullptr;
    for (std::size_t i = group.first; i < group.last; ++i) {
        if (rows[i].index == comm && rows[i].subIndex == 1 && rows[i].value.size() == 4)
            cobRow = &rows[i];
        if (rows[i].index == mapping && rows[i].subIndex == 0 && rows[i].value.size() == 1)
            countRow = &rows[i];
    }
    bool remaps = false;
    for (std::size_t i = group.first; i < group.last; ++i)
        remaps = remaps || IsMapping(rows[i].index);

    // A step the rows do not show (the PDO made invalid, sub 0 = 0); its abort shows in
    // the row it serves. False on a time-out, which is reported and ends the download.
    const auto step = [&](std::uint16_t index, std::uint8_t sub, const std::vector<std::uint8_t>& value,
                          DownloadRow* serves) {
        const SdoResult result = WriteObject(configDownload.node, kDefaultSdoTimeoutMs, index, sub, value.data(),
                                             static_cast<std::uint32_t>(value.size()));
        if (result.failed != 0) {
            bus.Survives(result);
            return false;
        }
        if (result.aborted != 0 && serves != nullptr && serves->abortCode == 0)
            serves->abortCode = result.abortCode;
        return true;
    };
    // The row's own write; false when the download must end.
    // Abort is taken between PDOs: one left half remapped would stay invalid.
    const auto own = [&](DownloadRow& row) {
        if (bus.BusLost())
            return false;
        const std::uint32_t earlier = row.abortCode;
        const SdoResult result = Write(row.index, row.subIndex, row.value);
        Settle(row, result, outcome);
        // A preparing step that failed says more than the write that followed it.
        if (row.state == RowState::Failed && earlier != 0)
            row.abortCode = earlier;
        Report(owner, static_cast<std::size_t>(&row - rows.data()));
        return result.failed == 0 || bus.Survives(result);
    };

    // 1. The COB-ID with bit 31 set: the PDO is not used while it changes. Without a COB-ID
    //    in the file, the device's own is set invalid and given back at the end.
    std::vector<std::uint8_t> deviceCob;
    if (cobRow != nullptr) {
        if (!step(comm, 1, Le32(LoadLe32(cobRow->value.data()) | kCobIdInvalid), cobRow))
            return false;
    } else if (remaps) {
        const SdoResult read = Read(configDownload.node, comm, 1, deviceCob);
        if (read.failed != 0) {
            bus.Survives(read);
            return false;
        }
        if (deviceCob.size() == 4 && !step(comm, 1, Le32(LoadLe32(deviceCob.data()) | kCobIdInvalid), nullptr))
            return false;
    }
    // 2. The other communication entries.
    for (std::size_t i = group.first; i < group.last; ++i) {
        DownloadRow& row = rows[i];
        if (row.index == comm && &row != cobRow && !own(row))
            return false;
    }
    if (remaps) {
        // 3. Mapping sub 0 = 0; without a count in the file, the device's comes back.
        std::vector<std::uint8_t> deviceCount;
        if (countRow == nullptr) {
            const SdoResult read = Read(configDownload.node, mapping, 0, deviceCount);
            if (read.failed != 0) {
                bus.Survives(read);
                return false;
            }
        }
        if (!step(mapping, 0, {0}, countRow))
            return false;
        // 4. The mapping entries.
        for (std::size_t i = group.first; i < group.last; ++i) {
            DownloadRow& row = rows[i];
            if (row.index == mapping && row.subIndex != 0 && !own(row))
                return false;
        }
        // 5. Sub 0 = the number of entries.
        if (countRow != nullptr) {
            if (!own(*countRow))
                return false;
        } else if (deviceCount.size() == 1 && !step(mapping, 0, deviceCount, nullptr)) {
            return false;
        }
    }
    // 6. The COB-ID the file gives, or the device's own again.
    if (cobRow != nullptr)
        return own(*cobRow);
    return deviceCob.size() != 4 || step(comm, 1, deviceCob, nullptr);
}

}  // namespace

// --- Save ------------------------------------------------------------------------------

SaveOutcome SaveSlaveDcf(OwnerHandle owner, const char* path)
{
    SaveOutcome outcome;
    if (objectDictionary.path.empty())
        return outcome;
    const ReadAllOutcome read = ReadAllEntries(owner, true);
    if (!read.completed)
        return outcome;
    outcome.readsCompleted = true;

    // The file is read again for its text; one that changed since it was opened would
    // no longer match the values.
    std::string source;
    eds::Device device;
    std::string error;
    if (ReadWholeFile(objectDictionary.path.c_str(), kMaxEdsFileBytes, source) != ReadFileResult::Ok ||
        !eds::ReadDevice(source, objectDictionary.node, device, error) ||
        device.entries.size() != objectDictionary.device.entries.size()) {
        const std::wstring name = WideFromUtf8(objectDictionary.path);
        Operator().askQuestion(owner, FormOkWarning, IDS_DCF_BAD_FILE, name.c_str());
        return outcome;
    }
    std::vector<const std::vector<std::uint8_t>*> values(device.entries.size(), nullptr);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (objectDictionary.values[i].state == ValueState::Read)
            values[i] = &objectDictionary.values[i].data;
    }
    eds::Commissioning commissioning;
    commissioning.nodeId = objectDictionary.node;
    if (appSettings.Baud >= 0 && static_cast<std::size_t>(appSettings.Baud) < BitRateTable.size())
        commissioning.baudrateKbit = BitRateTable[static_cast<std::size_t>(appSettings.Baud)].kBaud;
    commissioning.nodeName = device.info.productName;
    commissioning.fileName = std::string(FileNameOf(path));
    commissioning.edsName = std::string(FileNameOf(objectDictionary.path));
    std::string text;
    eds::DcfReport report;
    if (!eds::WriteDcf(source, device, values, commissioning, text, report, error))
        return outcome;

    std::FILE* file = OpenFileUtf8(path, "wb");
    bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file != nullptr)
        written = std::fclose(file) == 0 && written;
    if (!written) {
        const std::wstring name = WideFromUtf8(path);
        Operator().askQuestion(owner, FormOkWarning, IDS_DCF_SAVE_FAILED, name.c_str());
        return outcome;
    }
    outcome.saved = true;
    outcome.values = static_cast<std::uint32_t>(report.values);
    outcome.notRepresentable = static_cast<std::uint32_t>(report.notRepresentable.size());
    return outcome;
}

// --- Download --------------------------------------------------------------------------

void AbortDownload()
{
    downloadAbort = 1;
}

bool IsCommandObject(std::uint16_t index)
{
    return index == 0x1003 || index == kStoreObject || index == kRestoreObject || index == 0x1F51;
}

bool IsPdoObject(std::uint16_t index)
{
    return index >= 0x1400 && index < 0x1C00;
}

void ResetConfigDownload()
{
    configDownload = ConfigDownload{};
    downloadAbort = 0;
}

int LoadDownloadFile(OwnerHandle owner, const char* path)
{
    const std::uint8_t node = CurrentNode();
    eds::Device file;
    std::string error;
    if (ReadEdsFile(path, node, file, error) == 0) {
        const std::wstring text = WideFromUtf8(error);
        Operator().askQuestion(owner, FormOkWarning, IDS_DCF_BAD_FILE, text.c_str());
        return 0;
    }
    std::vector<DownloadRow> rows;
    for (std::size_t i = 0; i < file.entries.size(); ++i) {
        const eds::Entry& entry = file.entries[i];
        if (!eds::IsWritable(entry.access) || !entry.hasDefault || !entry.fromParameterValue ||
            IsCommandObject(entry.index))
            continue;
        DownloadRow row;
        row.entry = i;
        row.index = entry.index;
        row.subIndex = entry.subIndex;
        row.pdo = IsPdoObject(entry.index);
        row.value = entry.defaultValue;
        rows.push_back(std::move(row));
    }
    if (rows.empty()) {
        Operator().showMessage(owner, IDS_DCF_NOTHING);
        return 0;
    }
    // PDOs first: receive PDOs 1 to 512 (0x1400/0x1600 + n), then transmit PDOs
    // (0x1800/0x1A00 + n), each with its communication entries before its mapping; then
    // everything else by index. The entries are sorted, so a stable sort by these keys
    // keeps each object's subindices in order.
    std::stable_sort(rows.begin(), rows.end(), [](const DownloadRow& a, const DownloadRow& b) {
        if (a.pdo != b.pdo)
            return a.pdo;
        if (!a.pdo)
            return false;
        const std::uint16_t pdoA = PdoOf(a.index);
        const std::uint16_t pdoB = PdoOf(b.index);
        if (pdoA != pdoB)
            return pdoA < pdoB;
        return IsMapping(a.index) < IsMapping(b.index);
    });
    const bool onlyChanged = configDownload.onlyChanged;
    configDownload = ConfigDownload{};
    configDownload.node = node;
    configDownload.path = path;
    configDownload.file = std::move(file);
    configDownload.rows = std::move(rows);
    configDownload.onlyChanged = onlyChanged;
    return 1;
}

int CompareWithDevice(OwnerHandle owner)
{
    if (configDownload.rows.empty())
        return 0;
    BusSession bus(owner);
    if (!bus.Begin())
        return 0;
    downloadAbort = 0;
    std::vector<DownloadRow>& rows = configDownload.rows;
    bool completed = true;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        DownloadRow& row = rows[i];
        const eds::Entry& entry = configDownload.file.entries[row.entry];
        row.state = RowState::Pending;
        row.abortCode = 0;
        row.readBack.clear();
        if (!eds::IsReadable(entry.access))
            continue;
        if (downloadAbort != 0 || bus.BusLost()) {
            completed = false;
            break;
        }
        const SdoResult result = Read(configDownload.node, row.index, row.subIndex, row.readBack);
        if (result.failed != 0 && !bus.Survives(result)) {
            completed = false;
            break;
        }
        if (result.failed == 0 && result.aborted == 0 && row.readBack == row.value)
            row.state = RowState::Same;
        Report(owner, i);
    }
    // A PDO is written as a whole: one difference and all its rows are written again.
    for (const PdoRows& group : PdoGroups()) {
        const bool differs = std::any_of(rows.begin() + static_cast<std::ptrdiff_t>(group.first),
                                         rows.begin() + static_cast<std::ptrdiff_t>(group.last),
                                         [](const DownloadRow& row) { return row.state != RowState::Same; });
        for (std::size_t i = group.first; differs && i < group.last; ++i)
            rows[i].state = RowState::Pending;
    }
    configDownload.compared = completed;
    return completed ? 1 : 0;
}

DownloadOutcome RunDownload(OwnerHandle owner)
{
    DownloadOutcome outcome;
    std::vector<DownloadRow>& rows = configDownload.rows;
    std::uint32_t toWrite = 0;
    bool pdoRows = false;
    for (const DownloadRow& row : rows) {
        if (ShouldWrite(row)) {
            ++toWrite;
            pdoRows = pdoRows || row.pdo;
        }
    }
    if (toWrite == 0) {
        Operator().showMessage(owner, rows.empty() ? IDS_DCF_NOTHING : IDS_DCF_ALL_SAME);
        return outcome;
    }
    if (scanRunning != 0 || monitorBusy != 0 || dictionaryBusy != 0)
        return outcome;
    if (pdoRows && commState.active != 0) {
        if (Operator().askQuestion(owner, FormOkCancelWarning, IDS_DCF_PDO_STOP_COMM, nullptr) != AnswerOk)
            return outcome;
        StopCommunication(owner);
        if (commState.active != 0)
            return outcome;
    } else {
        const std::wstring count = std::to_wstring(toWrite);
        if (Operator().askQuestion(owner, FormOkCancelWarning, IDS_DCF_CONFIRM, count.c_str()) != AnswerOk)
            return outcome;
    }
    BusSession bus(owner);
    if (!bus.Begin())
        return outcome;
    outcome.started = true;
    downloadAbort = 0;
    for (DownloadRow& row : rows) {
        if (ShouldWrite(row)) {
            row.state = RowState::NotWritten;  // until it is tried
            row.abortCode = 0;
            row.readBack.clear();
        }
    }
    const auto toDo = [](const DownloadRow& row) { return row.state == RowState::NotWritten; };
    bool goOn = true;
    for (const PdoRows& group : PdoGroups()) {
        if (!goOn || downloadAbort != 0)
            break;
        if (std::any_of(rows.begin() + static_cast<std::ptrdiff_t>(group.first),
                        rows.begin() + static_cast<std::ptrdiff_t>(group.last), toDo))
            goOn = WritePdo(owner, bus, group, outcome);
    }
    for (std::size_t i = 0; i < rows.size() && goOn; ++i) {
        DownloadRow& row = rows[i];
        if (row.pdo || !toDo(row))
            continue;
        if (downloadAbort != 0 || bus.BusLost())
            break;
        const SdoResult result = Write(row.index, row.subIndex, row.value);
        Settle(row, result, outcome);
        Report(owner, i);
        goOn = result.failed == 0 || bus.Survives(result);
    }
    outcome.completed = std::none_of(rows.begin(), rows.end(), toDo);
    // What the window showed of these entries is no longer what the device holds.
    if (objectDictionary.node == configDownload.node) {
        for (std::size_t i = 0; i < objectDictionary.device.entries.size(); ++i) {
            const eds::Entry& entry = objectDictionary.device.entries[i];
            for (const DownloadRow& row : rows) {
                if (row.index == entry.index && row.subIndex == entry.subIndex && row.state == RowState::Written)
                    objectDictionary.values[i] = EntryValue{};
            }
        }
    }
    return outcome;
}

VerifyOutcome VerifyDownload(OwnerHandle owner)
{
    VerifyOutcome outcome;
    BusSession bus(owner);
    if (!bus.Begin())
        return outcome;
    downloadAbort = 0;
    std::vector<DownloadRow>& rows = configDownload.rows;
    outcome.completed = true;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        DownloadRow& row = rows[i];
        const bool written =
            row.state == RowState::Written || row.state == RowState::Matches || row.state == RowState::Differs;
        if (!written || !eds::IsReadable(configDownload.file.entries[row.entry].access))
            continue;
        if (downloadAbort != 0 || bus.BusLost()) {
            outcome.completed = false;
            break;
        }
        const SdoResult result = Read(configDownload.node, row.index, row.subIndex, row.readBack);
        if (result.failed != 0 && !bus.Survives(result)) {
            outcome.completed = false;
            break;
        }
        const bool same = result.failed == 0 && result.aborted == 0 && row.readBack == row.value;
        row.state = same ? RowState::Matches : RowState::Differs;
        row.abortCode = result.aborted != 0 ? result.abortCode : 0;
        ++(same ? outcome.matching : outcome.differing);
        Report(owner, i);
    }
    return outcome;
}

std::string FailedRowList(std::size_t limit)
{
    std::string list;
    std::size_t shown = 0;
    for (const DownloadRow& row : configDownload.rows) {
        if (row.state != RowState::Failed && row.state != RowState::NoAnswer)
            continue;
        if (shown == limit) {
            list.append(", ...");
            break;
        }
        char text[16];
        std::snprintf(text, sizeof text, "%04Xsub%X", static_cast<unsigned>(row.index),
                      static_cast<unsigned>(row.subIndex));
        list.append(shown == 0 ? "" : ", ").append(text);
        ++shown;
    }
    return list;
}

// --- Store and restore -----------------------------------------------------------------

StoreAbilities ReadStoreAbilities(OwnerHandle owner)
{
    StoreAbilities abilities;
    BusSession bus(owner);
    if (!bus.Begin())
        return abilities;
    const std::uint8_t node = CurrentNode();
    for (const std::uint16_t object : {kStoreObject, kRestoreObject}) {
        std::vector<std::uint8_t> value;
        const SdoResult highest = Read(node, object, 0, value);
        if (highest.failed != 0) {
            bus.Survives(highest);
            return abilities;
        }
        abilities.read = true;
        if (highest.aborted != 0 || value.empty())
            continue;
        const std::uint8_t offered = value[0];
        for (std::uint8_t sub = 1; sub <= 3 && sub <= offered; ++sub) {
            const SdoResult bits = Read(node, object, sub, value);
            if (bits.failed != 0) {
                bus.Survives(bits);
                return abilities;
            }
            if (bits.aborted != 0)
                continue;
            AreaAbility& area = abilities.areas[sub - 1];
            const std::uint32_t read = value.size() == 4 ? LoadLe32(value.data()) : 0;
            if (object == kStoreObject) {
                area.storeOffered = true;
                area.storeBits = read;
            } else {
                area.restoreOffered = true;
                area.restoreBits = read;
            }
        }
    }
    return abilities;
}

namespace {

SdoResult WriteSignature(OwnerHandle owner, std::uint16_t object, ConfigArea area, std::uint32_t signature)
{
    BusSession bus(owner);
    if (!bus.Begin())
        return SdoResult{1, 0, 0};
    const std::vector<std::uint8_t> value = Le32(signature);
    // Storing takes a device longer than an ordinary write: flash is written.
    const SdoResult result =
        WriteObject(CurrentNode(), 4 * kDefaultSdoTimeoutMs, object, static_cast<std::uint8_t>(area), value.data(), 4);
    if (result.failed != 0)
        bus.Survives(result);
    return result;
}

}  // namespace

SdoResult StoreConfiguration(OwnerHandle owner, ConfigArea area)
{
    return WriteSignature(owner, kStoreObject, area, kStoreSignature);
}

SdoResult RestoreConfiguration(OwnerHandle owner, ConfigArea area, const wchar_t* areaName, bool& asked)
{
    asked = false;
    if (Operator().askQuestion(owner, FormOkCancelWarning, IDS_RESTORE_QUESTION, areaName) != AnswerOk)
        return SdoResult{};
    asked = true;
    const SdoResult result = WriteSignature(owner, kRestoreObject, area, kRestoreSignature);
    if (result.failed == 0 && result.aborted == 0 &&
        Operator().askQuestion(owner, FormOkCancelWarning, IDS_RESTORED_RESET, areaName) == AnswerOk)
        CommandNode(owner, NodeResetNode);
    return result;
}

std::uint32_t AreaTextId(ConfigArea area)
{
    switch (area) {
    case ConfigArea::Communication:
        return IDS_AREA_COMM;
    case ConfigArea::Application:
        return IDS_AREA_APP;
    case ConfigArea::All:
        break;
    }
    return IDS_AREA_ALL;
}

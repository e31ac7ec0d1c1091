// A device's configuration as a whole: saved as a DCF, downloaded from one, stored in the
// device (0x1010) and its defaults restored (0x1011). Both front ends call these; the
// windows and the console only show the rows and outcomes kept here.
//
// Bus access follows the object requests' rule: with communication off the bus is opened
// for the service and closed afterwards (a time-out ends it with message 1008); with
// communication on the open bus is used and a failure goes through CheckCommFailure.
// While a service runs, dictionaryBusy holds the operator's object requests back, as
// during Read All; none starts while a slave search or a node monitor service holds the
// bus.
//
//     if (LoadDownloadFile(owner, path) && CompareWithDevice(owner))
//         DownloadOutcome done = RunDownload(owner);   // rows show each entry's result
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "eds_reader.h"
#include "operator_side.h"
#include "sdo_services.h"

// --- Save ------------------------------------------------------------------------------

struct SaveOutcome {
    bool saved = false;
    bool readsCompleted = false;         // false: nothing saved because values are missing
    std::uint32_t values = 0;            // entries written with their value
    std::uint32_t notRepresentable = 0;  // values a file cannot hold (DOMAIN, ...), noted in it
};

// Saves the Object Dictionary window's slave as a DCF at `path` (UTF-8): its file's
// sections and keys with each entry's value as read from the device (the entries not read
// yet are read first, through Read All's reads and reports) and [DeviceComissioning] with
// the node, the bus's bit rate and the file names. Nothing is written when the reads did
// not complete; a file that cannot be written is reported (IDS_DCF_SAVE_FAILED).
SaveOutcome SaveSlaveDcf(OwnerHandle owner, const char* path);

// --- Download --------------------------------------------------------------------------

enum class RowState : std::uint8_t {
    Pending = 0,  // to be written
    Same,         // the device holds the value already (skipped while onlyChanged)
    Written,
    Failed,  // the device aborted: abortCode
    NoAnswer,
    NotWritten,  // the download ended before it (Abort, a time-out)
    Matches,     // Verify read the value back
    Differs,     // Verify read readBack instead
};

struct DownloadRow {
    std::size_t entry = 0;  // position in configDownload.file.entries
    std::uint16_t index = 0;
    std::uint8_t subIndex = 0;
    bool pdo = false;                 // a PDO communication or mapping entry
    std::vector<std::uint8_t> value;  // what the file gives
    RowState state = RowState::Pending;
    std::uint32_t abortCode = 0;
    std::vector<std::uint8_t> readBack;  // the device's value (compare, Verify)
};

struct ConfigDownload {
    std::uint8_t node = 0;
    std::string path;               // the file, UTF-8
    eds::Device file;               // as read for the node
    std::vector<DownloadRow> rows;  // in the order they are written
    bool onlyChanged = true;        // rows whose value the device holds are skipped
    bool compared = false;          // CompareWithDevice ran since the file was loaded
};

extern ConfigDownload configDownload;
// Set by AbortDownload (the window's Abort); tested before each write.
extern int downloadAbort;
void AbortDownload();

// The command objects a download leaves alone: writing their values would clear the
// error history (0x1003), store or restore (0x1010, 0x1011) or start a program (0x1F51).
bool IsCommandObject(std::uint16_t index);
// The PDO communication and mapping objects 0x1400-0x1BFF.
bool IsPdoObject(std::uint16_t index);

// Reads `path` for the current slave and plans the rows: every writable entry with a
// configured value (a DCF's ParameterValue or [XXXXValue]), command objects left out; the
// PDOs first, by number, receive before transmit, then the other entries by index. 0 when
// the file cannot be read (reported, IDS_DCF_BAD_FILE) or gives nothing to write
// (IDS_DCF_NOTHING); the plan shown before stays then.
int LoadDownloadFile(OwnerHandle owner, const char* path);

// Reads the device's value of every readable row: equal ones become Same, the others stay
// Pending (a PDO's rows are written together, so one difference makes its whole PDO
// Pending). 0 when the reads did not complete.
int CompareWithDevice(OwnerHandle owner);

struct DownloadOutcome {
    std::uint32_t written = 0;
    std::uint32_t failed = 0;  // aborted or unanswered rows
    bool completed = false;    // every row to write was tried
    bool started = false;      // false: refused or cancelled before any write
};

// Writes the rows to write (Pending, and Same unless onlyChanged) after asking
// (IDS_DCF_CONFIRM). A PDO's rows in the device's sequence: its COB-ID with bit 31 set,
// the other communication entries, mapping sub 0 = 0, the mapping entries, sub 0 = the
// count, then the COB-ID the file gives. PDO rows are written only with communication
// stopped: with communication active the operator is asked to stop it
// (IDS_DCF_PDO_STOP_COMM; Cancel writes nothing). An aborted row does not stop the
// others; Abort and a time-out do. Each row's result goes to showDownloadRow, and one
// window message is passed on after each, so Abort is seen.
DownloadOutcome RunDownload(OwnerHandle owner);

struct VerifyOutcome {
    std::uint32_t matching = 0;
    std::uint32_t differing = 0;  // read back otherwise, aborted or unanswered
    bool completed = false;
};

// Reads back every row written (write-only entries aside) and marks it Matches or
// Differs.
VerifyOutcome VerifyDownload(OwnerHandle owner);

// The first rows that failed, as "1017sub0, 6200sub1" (at most `limit`, then "...").
std::string FailedRowList(std::size_t limit);

// Back to no download (start-up, a new slave).
void ResetConfigDownload();

// --- Store and restore -----------------------------------------------------------------

enum class ConfigArea : std::uint8_t { All = 1, Communication = 2, Application = 3 };

// What 0x1010 and 0x1011 say of one area: offered when the device has the subindex;
// `bits` its value read (store: bit 0 on command, bit 1 by itself; restore: bit 0).
struct AreaAbility {
    bool storeOffered = false;
    bool restoreOffered = false;
    std::uint32_t storeBits = 0;
    std::uint32_t restoreBits = 0;
};

struct StoreAbilities {
    bool read = false;     // the device answered
    AreaAbility areas[3];  // All, Communication, Application
};

// Reads sub 0 of 0x1010 and 0x1011 and the subindices they offer.
StoreAbilities ReadStoreAbilities(OwnerHandle owner);

// Writes "save" (0x65766173) to 0x1010 sub `area`.
SdoResult StoreConfiguration(OwnerHandle owner, ConfigArea area);

// Asks (IDS_RESTORE_QUESTION), writes "load" (0x64616F6C) to 0x1011 sub `area`, then
// offers Reset Node (IDS_RESTORED_RESET, sent through CommandNode). `areaName` fills the
// questions' "%s" (AreaTextId's text in the front end's language). `asked` is false when
// the operator cancelled the restore.
SdoResult RestoreConfiguration(OwnerHandle owner, ConfigArea area, const wchar_t* areaName, bool& asked);

constexpr std::uint32_t kStoreSignature = 0x65766173;    // "save"
constexpr std::uint32_t kRestoreSignature = 0x64616F6C;  // "load"
// The string id naming `area` (IDS_AREA_ALL ...).
std::uint32_t AreaTextId(ConfigArea area);

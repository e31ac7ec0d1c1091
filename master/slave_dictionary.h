// The slave's object dictionary by name: which EDS or DCF file describes the current
// slave, the entries it lists, and the values last read from the slave ("Read All").
//
// The Object Dictionary window shows what this module holds; the module reaches the
// window, the settings file and the file dialog only through the operator's operations.
// Every bus access follows the rule of the operator's object requests: with
// communication off the bus is opened for the reads and closed afterwards; with
// communication on the reads use the open bus, and a failure goes through
// CheckCommFailure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "eds_reader.h"
#include "object_values.h"
#include "operator_side.h"

// What the slave says about itself: 0x1018 sub 1 and 2, 0x1000.
struct SlaveIdentity {
    std::uint32_t vendorNumber = 0;
    std::uint32_t productNumber = 0;
    std::uint32_t deviceType = 0;
    bool hasVendorNumber = false;
    bool hasProductNumber = false;
    bool hasDeviceType = false;
};

// How the file shown was found.
enum class EdsSource : std::uint8_t {
    None = 0,    // no file
    Identity,    // VendorNumber and ProductNumber match 0x1018 sub 1 and 2
    DeviceType,  // the DefaultValue of 0x1000 matches the slave's 0x1000
    Remembered,  // the file the operator chose before for this node
    Picked,      // chosen by the operator now
};

// The value last read of one entry.
enum class ValueState : std::uint8_t { NotRead = 0, Read, Aborted, NoAnswer };

struct EntryValue {
    ValueState state = ValueState::NotRead;
    std::uint32_t abortCode = 0;     // the slave's abort code (Aborted)
    std::vector<std::uint8_t> data;  // the bytes read (Read)
};

struct ObjectDictionary {
    std::uint8_t node = 0;  // the slave the dictionary was opened for
    EdsSource source = EdsSource::None;
    std::string path;                // UTF-8 path of the file shown; empty: none
    eds::Device device;              // the file's contents
    std::vector<EntryValue> values;  // one per device.entries, same order
};

extern ObjectDictionary objectDictionary;

// 1 while the identity is read or Read All runs: the operator's object requests wait
// for the end, as during a slave search (an open or close of the bus for them would
// pull the driver from under the reads).
extern int dictionaryBusy;
// Set by AbortReadAll (the window's Abort); tested before each entry of Read All.
extern int dictionaryAbort;
void AbortReadAll();

// Largest EDS or DCF file looked at.
constexpr std::size_t kMaxEdsFileBytes = eds::kMaxFileBytes;

// Reads 0x1018 sub 1 and 2 and 0x1000 of `node`. 0 when the bus did not open or the
// slave did not answer (then reported: message 1008 with communication off, the failure
// rule with communication on); an object the slave aborts is just left unknown. 0 at once,
// with no bus access, while a slave search holds the bus.
int ReadSlaveIdentity(OwnerHandle owner, std::uint32_t node, SlaveIdentity& identity);

// Among the *.eds and *.dcf files of `folder` (by name; unreadable, oversized and
// unparseable ones skipped) the first whose VendorNumber and ProductNumber match, else
// the first whose device type matches. Identity, DeviceType or None.
EdsSource FindEdsFile(const char* folder, const SlaveIdentity& identity, std::uint8_t node, std::string& path,
                      eds::Device& device);

// Reads one file for `node`. 0 with the reader's error line in `error` (or the reason
// the file could not be read) when it fails.
int ReadEdsFile(const char* path, std::uint8_t node, eds::Device& device, std::string& error);

// Opening the window: forgets the dictionary, reads the current slave's identity, finds
// its file in `folder`, else takes the remembered file of the node, else lets the
// operator pick one (remembered from then on). 1 when a file is shown.
int OpenSlaveDictionary(OwnerHandle owner, const char* folder);

// "Open EDS ...": the operator picks a file for the current slave; remembered for the
// node. 1 when it was read and is shown; 0 when cancelled or unreadable (the dictionary
// shown stays).
int PickSlaveDictionary(OwnerHandle owner);

// The number of entries Read All reads (all but write-only ones).
std::uint32_t ReadableEntryCount();

struct ReadAllOutcome {
    std::uint32_t read = 0;   // entries read (answered, aborted or not)
    std::uint32_t total = 0;  // ReadableEntryCount()
    bool completed = false;   // every readable entry was asked
};

// Reads every readable entry into objectDictionary.values, reporting each entry through
// ShowDictionaryEntry and passing one window message on after it. Ends early on the
// window's Abort, at the first time-out with communication off (message 1008), or when
// the failure rule stopped communication. Reads nothing while a slave search holds the
// bus. With communication on, the message passing of the exchange is as before the
// reads; after a restart it is off, as after any restart, until the next start.
// With `onlyUnread`, the entries read before (answered or aborted) are counted as read
// and not asked again; with nothing left to read, no bus is opened.
ReadAllOutcome ReadAllEntries(OwnerHandle owner, bool onlyUnread = false);

// UTF-8 as the platform's wide text (UTF-16 where wchar_t has 16 bits); a byte that is
// not part of a well-formed sequence becomes U+FFFD.
std::wstring WideFromUtf8(std::string_view text);

// The value as the window shows it (UTF-8): strings as text, numbers in hex and decimal
// ("0x001F (31)", signed types with their negative decimal), REAL32 and REAL64 as "%g",
// octet strings, domains and values of an unexpected length as hex bytes "01 02 0A".
std::string FormatEntryData(const eds::Entry& entry, const std::uint8_t* data, std::size_t length);

// A value bound (LowLimit, HighLimit) or default as one number in decimal; "" when the
// bytes are empty.
std::string FormatEntryNumber(const eds::Entry& entry, const std::vector<std::uint8_t>& bytes);

// The filter of the window: an empty filter takes everything; otherwise an entry is
// taken when its name (or its object's name) contains the text, letter case aside, or
// when the text reads as an index ("1018", "0x1018", "10" for every 0x10xx) with an
// optional subindex ("1018sub2", "1018 sub 2", hexadecimal) and the entry has it.
bool EntryMatchesFilter(const eds::Entry& entry, std::string_view filter);

// The format and byte count the object dialogs take for an entry's data type.
struct EntryPreset {
    DataFormat format;
    std::uint32_t count;  // 1 to 4; for Raw the bytes of the value given
};
EntryPreset PresetForType(std::uint16_t dataType);

// Back to no dictionary (start-up).
void ResetObjectDictionary();

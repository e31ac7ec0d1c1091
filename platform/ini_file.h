// INI texts, the same on every platform (the host build has no profile API): one line
// tokeniser under two readers.
//
//  - Parse: the whole file into sections, for the EDS and DCF files and the simulated
//    bus's network file. Section names and keys compare without regard to case; lines
//    starting with ';' are comments; CR LF and LF line ends and a UTF-8 byte order mark
//    are accepted. Values keep their inner spaces and any ';' (strings may hold one);
//    leading and trailing blanks are cut. A repeated section adds to the first; of
//    repeated keys the first counts. A line that is neither a section header nor a
//    key=value pair is skipped, and so is a '[' line without ']' (its keys go on to the
//    section before).
//
//  - ReadSettings: the one section a driver library's settings file is about, line by
//    line and without allocating. ';' and '#' start comment lines; a '[' line without ']'
//    ends the section; every key=value line of the section is handed on in file order,
//    repeated keys included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ini {

// --- Lines -------------------------------------------------------------------------------

enum class LineKind : std::uint8_t {
    Blank,     // nothing but blanks
    Comment,   // one of the comment marks first
    Section,   // '[' first and a ']' later: `name`
    Unclosed,  // '[' first and no ']'
    KeyValue,  // an '=' in it: `key`, `value`
    Other,     // anything else
};

struct Line {
    LineKind kind;
    std::string_view name;   // Section: between '[' and the first ']', trimmed
    std::string_view key;    // KeyValue: before the first '=', trimmed
    std::string_view value;  // KeyValue: after it, trimmed
    std::size_t length;      // bytes of the line without its LF or CR LF
};

// `text` without a leading UTF-8 byte order mark, as editors on Windows write one.
std::string_view SkipByteOrderMark(std::string_view text);

// Takes the first line off `text` (its LF with it) and tells what it is. A line whose
// first non-blank character is one of `commentMarks` is a comment.
Line TakeLine(std::string_view& text, std::string_view commentMarks);

// --- Whole files -------------------------------------------------------------------------

struct Entry {
    std::string key;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

struct File {
    std::vector<Section> sections;                        // in the order they first appear
    std::unordered_map<std::string, std::size_t> byName;  // lower-case name -> position
};

// What a bounded read refuses: a text from outside must not make the reader hold
// unbounded lines or sections.
struct Limits {
    std::size_t maxLineBytes;  // without the line end
    std::size_t maxSections;   // distinct sections
    std::size_t maxKeys;       // key=value lines of all sections
};

// Reads the whole text without limits (for files the operator wrote, like the network
// file).
File Parse(std::string_view text);

// Reads the text within `limits`. On failure returns false and `error` holds one line,
// "line N: what"; `file` then holds what was read before that line.
bool Parse(std::string_view text, const Limits& limits, File& file, std::string& error);

// nullptr when missing.
const Section* FindSection(const File& file, std::string_view name);
const std::string* FindValue(const Section* section, std::string_view key);
const std::string* FindValue(const File& file, std::string_view section, std::string_view key);

// --- Settings files ----------------------------------------------------------------------

// Takes one key=value line of the section; false when the value is bad (for a key it
// knows). `context` is the one given to ReadSettings.
using SettingHook = bool (*)(void* context, std::string_view key, std::string_view value);

// Keys above the first section header: skipped, or counted as the section's.
enum class LeadingKeys : std::uint8_t { Skipped, InSection };

// Hands every key=value line of the section named `section` (any case) to `take`. True
// when every call returned true; all lines are handed on either way.
bool ReadSettings(std::string_view text, std::string_view section, LeadingKeys leading, SettingHook take,
                  void* context);

// A settings number: 1 to 9 decimal digits, nothing else, from `low` to `high`.
bool ParseDecimal(std::string_view text, std::uint32_t low, std::uint32_t high, std::uint32_t& value);

// A settings word (a host name, a port name, a device path): printable ASCII without
// blanks, at least one character and at most `size` - 1, copied into `to` with its
// terminating zero. False, and `to` untouched, otherwise.
bool CopyWord(std::string_view text, char* to, std::size_t size);

}  // namespace ini

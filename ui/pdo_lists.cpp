#include "pdo_lists.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "app.h"
#include "resource.h"

EntryList inputShadow{};
EntryList outputShadow{};

namespace {

// Tab stops of both lists, in dialog template units.
constexpr int kTabStops[] = {45, 65, 105};
constexpr int kTabStopCount = sizeof kTabStops / sizeof kTabStops[0];

constexpr char kPlainSeparator[] = "---------------------------------------------------------";
static_assert(sizeof kPlainSeparator - 1 == 57);

// Long enough for the widest line the formats below can produce.
constexpr int kLineSize = 96;

// Bits 7 down to 0 of the value, so bit 7 stands under the "7" of the column head.
void FormatBits(std::uint32_t value, char (&bits)[9])
{
    for (int i = 0; i < 8; ++i)
        bits[i] = ((value >> (7 - i)) & 1u) != 0 ? '1' : '0';
    bits[8] = '\0';
}

// The byte as a character when it is printable ASCII, else ".".
char DisplayCharacter(std::uint32_t value)
{
    return value >= 0x20 && value < 0x7F ? static_cast<char>(value) : '.';
}

void FormatDataLine(const PdoEntry& entry, char (&line)[kLineSize])
{
    if (entry.kind == EntryData) {
        char bits[9];
        FormatBits(entry.value, bits);
        std::snprintf(line, kLineSize, "PDO%-3u [%01X]%s:\t%02lXh\t%s\t%c", entry.pdoNumber,
                      static_cast<unsigned>(entry.byteIndex), "", static_cast<unsigned long>(entry.value), bits,
                      DisplayCharacter(entry.value));
    } else {
        std::snprintf(line, kLineSize, "PDO%-3u [%01X]%s:\t?", entry.pdoNumber, static_cast<unsigned>(entry.byteIndex),
                      "");
    }
}

// The line above byte 0 of a PDO: the local time of its last reception, if any.
void FormatSeparator(std::uint32_t rxTime, char (&line)[kLineSize])
{
    const std::time_t received = rxTime;
    const std::tm* local = rxTime != 0 ? std::localtime(&received) : nullptr;
    if (local != nullptr)
        std::snprintf(line, kLineSize, "%02u:%02u:%02u -------------------------------------------",
                      static_cast<unsigned>(local->tm_hour), static_cast<unsigned>(local->tm_min),
                      static_cast<unsigned>(local->tm_sec));
    else
        std::snprintf(line, kLineSize, "%s", kPlainSeparator);
}

// The lines are plain ASCII: widening is a copy.
int Widen(const char* narrow, wchar_t (&wide)[kLineSize])
{
    int i = 0;
    for (; narrow[i] != '\0' && i < kLineSize - 1; ++i)
        wide[i] = static_cast<unsigned char>(narrow[i]);
    wide[i] = L'\0';
    return i;
}

// Adds one line with its item data; a line the list refuses is skipped.
void AddLine(HWND list, const wchar_t* text, LPARAM itemData)
{
    const LRESULT index = SendMessageW(list, LB_ADDSTRING, 0, PointerToLParam(text));
    if (index >= 0)
        SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(index), itemData);
}

}  // namespace

int FillPdoList(HWND window, int listId, const EntryList& table)
{
    HWND list = GetDlgItem(window, listId);
    // A device context to measure the lines; without one the list stays as it is.
    HDC context = GetDC(list);
    if (context == nullptr)
        return 0;
    TEXTMETRICW metrics{};
    if (!GetTextMetricsW(context, &metrics)) {
        ReleaseDC(list, context);
        return 0;
    }

    // No repainting while the list is rebuilt; its selection and scroll position are put
    // back afterwards.
    LONG widest = 0;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    const LRESULT topLine = SendMessageW(list, LB_GETTOPINDEX, 0, 0);

    SendMessageW(list, LB_SETTABSTOPS, kTabStopCount, PointerToLParam(kTabStops));
    SendMessageW(list, LB_RESETCONTENT, 0, 0);

    // One line per entry up to the end mark, absent entries skipped; byte 0 of each PDO
    // gets a separator line above it. The widest line sets the horizontal scroll range.
    for (std::uint32_t k = 0; k < kEntryCount && table[k].kind != EntryEnd; ++k) {
        const PdoEntry& entry = table[k];
        if (entry.kind == EntryAbsent)
            continue;
        char narrow[kLineSize];
        wchar_t line[kLineSize];
        FormatDataLine(entry, narrow);
        const int length = Widen(narrow, line);

        if (entry.byteIndex == 0) {
            char separatorNarrow[kLineSize];
            wchar_t separator[kLineSize];
            FormatSeparator(entry.rxTime, separatorNarrow);
            Widen(separatorNarrow, separator);
            AddLine(list, separator, SeparatorMark);
        }

        SIZE extent{};
        if (GetTextExtentPoint32W(context, line, length, &extent)) {
            const LONG width = extent.cx + metrics.tmAveCharWidth;
            if (width > widest)
                widest = width;
        }

        AddLine(list, line, static_cast<LPARAM>(k));
    }

    SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest), 0);

    // Selection and scroll position back by line index, then redrawing on again.
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(topLine), 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    // The scroll bars may have come or gone while redrawing was off: repaint the frame too.
    RedrawWindow(list, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
    ReleaseDC(list, context);
    return 1;
}

int SyncPdoList(HWND window, int listId, const EntryList& table, EntryList& shadow, bool force)
{
    // Bytes, padding included, so that a copied shadow always compares equal.
    const bool differs = std::memcmp(&table, &shadow, sizeof table) != 0;
    if (differs)
        std::memcpy(&shadow, &table, sizeof table);
    if (differs || force)
        return FillPdoList(window, listId, table);
    return 1;
}

int RefreshPdoLists(HWND window, const EntryList& inputs, bool force)
{
    SyncPdoList(window, IDC_INPUT_LIST, inputs, inputShadow, force);
    SyncPdoList(window, IDC_OUTPUT_LIST, OutputTable, outputShadow, force);
    return 1;
}

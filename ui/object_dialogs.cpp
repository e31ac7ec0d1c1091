#include "object_dialogs.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "app.h"
#include "exchange.h"
#include "messages.h"
#include "slave_dictionary.h"
#include "process_image.h"
#include "resource.h"

namespace {

// Longest field texts taken: the read dialog reads its fields up to 99 characters, the
// write dialog up to 3999 (room for a Raw value of the largest object written as "XX ").
constexpr int kReadFieldChars = 99;
constexpr int kWriteFieldChars = 3999;
static_assert(kWriteFieldChars >= 3 * static_cast<int>(kMaxObjectBytes), "the write field takes every Raw value");
// A UTF-16 code unit becomes at most three bytes of UTF-8.
constexpr int kNarrowBytesPerChar = 3;

constexpr std::uint32_t kLargestSubindex = 0xFF;
constexpr std::uint32_t kInitialWriteCount = 4;

// The format button of each DataFormat, indexed by the format's value.
constexpr int kFormatButtons[] = {IDC_FORMAT_HEX, IDC_FORMAT_FLOAT, IDC_FORMAT_UNSIGNED, IDC_FORMAT_SIGNED,
                                  IDC_FORMAT_RAW};
static_assert(std::size(kFormatButtons) == FormatRaw + 1, "one button per format");

// What the dialogs remember between openings, for the rest of the run.
struct ObjectMemory {
    std::uint32_t index;                                   // object index last requested
    std::uint32_t subindex;                                // subindex last requested (0 to 255)
    DataFormat format;                                     // format last used
    std::array<std::uint8_t, kMaxObjectBytes> writeValue;  // Write Object: value bytes last written
    std::uint32_t writeCount;                              // Write Object: byte count last written
};

ObjectMemory objectMemory{0, 0, FormatHex, {}, kInitialWriteCount};

// Read Object: the last result, from DeliverReadResult; length 0 means none.
std::array<std::uint8_t, kMaxObjectBytes> readResult{};
std::uint32_t readResultLength = 0;

// Write Object: the dictionary entry it was opened for, whose limits Write checks.
eds::Entry limitEntry;
bool hasLimitEntry = false;

// Write Object: the value as last taken from field 1033.
std::array<std::uint8_t, kMaxObjectBytes> workingValue{};
std::uint32_t workingCount = 0;

// --- Field texts ----------------------------------------------------------------------

// The text of control `id`, at most `maxChars` characters, as UTF-8 in `text`.
template <int MaxChars>
void GetFieldText(HWND dialog, int id, char (&text)[(MaxChars + 1) * kNarrowBytesPerChar])
{
    wchar_t wide[MaxChars + 1] = L"";
    GetDlgItemTextW(dialog, id, wide, MaxChars + 1);
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, static_cast<int>(sizeof text), nullptr, nullptr) == 0)
        text[0] = '\0';
}

void SetFieldText(HWND dialog, int id, const char* text)
{
    wchar_t wide[kObjectTextSize];
    if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, static_cast<int>(std::size(wide))) == 0)
        wide[0] = L'\0';
    SetDlgItemTextW(dialog, id, wide);
}

void ShowValue(HWND dialog, int id, const std::uint8_t* value, DataFormat format, std::uint32_t length)
{
    char text[kObjectTextSize];
    SetFieldText(dialog, id, FormatObjectValue(value, format, length, text, sizeof text));
}

void ShowHex(HWND dialog, int id, const wchar_t* format, std::uint32_t value)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), format, value);
    SetDlgItemTextW(dialog, id, text);
}

void ShowIndexFields(HWND dialog, std::uint32_t index, std::uint32_t subindex)
{
    ShowHex(dialog, IDC_OBJECT_INDEX, L"%04X", index);
    ShowHex(dialog, IDC_OBJECT_SUBINDEX, L"%02X", subindex & kLargestSubindex);
}

// Index and subindex as typed, converted as "%X" does; what does not convert (or a
// subindex above 0xFF) becomes 0, and both fields show the values taken.
template <int MaxChars>
void TakeIndexFields(HWND dialog, std::uint32_t& index, std::uint32_t& subindex)
{
    char text[(MaxChars + 1) * kNarrowBytesPerChar];
    GetFieldText<MaxChars>(dialog, IDC_OBJECT_INDEX, text);
    if (ScanHex32(text, index) == 0)
        index = 0;
    ShowHex(dialog, IDC_OBJECT_INDEX, L"%04X", index);

    GetFieldText<MaxChars>(dialog, IDC_OBJECT_SUBINDEX, text);
    if (ScanHex32(text, subindex) == 0 || subindex > kLargestSubindex)
        subindex = 0;
    ShowHex(dialog, IDC_OBJECT_SUBINDEX, L"%02X", subindex);
}

void CheckFormatButton(HWND dialog, DataFormat format)
{
    const int button = format <= FormatRaw ? kFormatButtons[format] : IDC_FORMAT_HEX;
    CheckRadioButton(dialog, IDC_FORMAT_HEX, IDC_FORMAT_RAW, button);
}

bool IsChecked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

// --- Read Object ----------------------------------------------------------------------

INT_PTR OnReadInit(HWND dialog)
{
    readResult.fill(0);
    readResultLength = 0;
    ShowIndexFields(dialog, objectMemory.index, objectMemory.subindex);
    ShowReadResult(dialog);
    CheckFormatButton(dialog, objectMemory.format);
    CenterOverWindow(MainWindow(), dialog);
    return TRUE;
}

void OnRead(HWND dialog)
{
    std::uint32_t index = 0, subindex = 0;
    TakeIndexFields<kReadFieldChars>(dialog, index, subindex);
    const DataFormat format = GetDataFormat(dialog);
    objectMemory.format = format;
    objectMemory.subindex = subindex;
    objectMemory.index = index;
    readResult.fill(0);
    readResultLength = 0;
    PostObjectRequest(index, subindex, nullptr, 0, 0);
    SetDlgItemTextW(dialog, IDC_RESULT_LENGTH, L"");
    SetDlgItemTextW(dialog, IDC_RESULT_VALUE, L"");
}

INT_PTR OnReadCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDOK:  // Read, also Enter
        OnRead(dialog);
        return TRUE;
    case IDCANCEL:  // Close, Esc, the caption's close button
        DestroyWindow(dialog);
        return TRUE;
    case IDC_FORMAT_HEX:
    case IDC_FORMAT_UNSIGNED:
    case IDC_FORMAT_FLOAT:
    case IDC_FORMAT_SIGNED:
    case IDC_FORMAT_RAW:
        ShowReadResult(dialog);  // the same result in the new format
        return TRUE;
    default:
        return FALSE;
    }
}

// --- Write Object ---------------------------------------------------------------------

int CountButton(std::uint32_t count)
{
    switch (count) {
    case 1:
        return IDC_COUNT_1;
    case 2:
        return IDC_COUNT_2;
    case 3:
        return IDC_COUNT_3;
    default:
        return IDC_COUNT_4;
    }
}

INT_PTR OnWriteInit(HWND dialog)
{
    workingValue = objectMemory.writeValue;
    workingCount = objectMemory.writeCount;
    ShowIndexFields(dialog, objectMemory.index, objectMemory.subindex);
    ShowValue(dialog, IDC_SEND_VALUE, objectMemory.writeValue.data(), objectMemory.format, objectMemory.writeCount);
    CheckRadioButton(dialog, IDC_COUNT_1, IDC_COUNT_4, CountButton(objectMemory.writeCount));
    CheckFormatButton(dialog, objectMemory.format);
    UpdateByteCountButtons(dialog);
    SetFocus(GetDlgItem(dialog, IDC_OBJECT_INDEX));
    CenterOverWindow(MainWindow(), dialog);
    return FALSE;  // the focus is set
}

// Takes the value field's text into the working value, as leaving the field and Write
// both do. A text that is refused leaves the working value, and the field, as they were.
ValueRefusal TakeValueField(HWND dialog, DataFormat format)
{
    char text[(kWriteFieldChars + 1) * kNarrowBytesPerChar];
    const std::uint32_t count = GetByteCount(dialog, format, workingCount);
    GetFieldText<kWriteFieldChars>(dialog, IDC_SEND_VALUE, text);
    std::array<std::uint8_t, kMaxObjectBytes> taken{};
    ValueRefusal refusal = ValueRefusal::None;
    const std::uint32_t n = ParseObjectValue(format, text, taken.data(), count, &refusal);
    if (n == 0)
        return refusal;
    workingValue = taken;
    workingCount = n;
    ShowValue(dialog, IDC_SEND_VALUE, workingValue.data(), format, workingCount);
    return ValueRefusal::None;
}

// Tells the operator why the value cannot be written and puts the keyboard focus back
// into the field with its text selected, ready to be typed over.
void RefuseValue(HWND dialog, DataFormat format, ValueRefusal refusal)
{
    if (refusal == ValueRefusal::OutOfRange) {
        char lowest[32], highest[32];
        DescribeValueRange(format, GetByteCount(dialog, format, workingCount), lowest, highest, sizeof lowest);
        wchar_t wideLowest[32], wideHighest[32];
        std::copy(lowest, lowest + std::strlen(lowest) + 1, wideLowest);  // digits, signs: ASCII
        std::copy(highest, highest + std::strlen(highest) + 1, wideHighest);
        ShowFormatMessage(dialog, MB_OK | MB_ICONEXCLAMATION, IDS_VALUE_OUT_OF_RANGE, wideLowest, wideHighest, nullptr);
    } else {
        ShowStringMessage(dialog, refusal == ValueRefusal::TooManyBytes ? IDS_TOO_MANY_BYTES : IDS_INVALID_VALUE);
    }
    HWND field = GetDlgItem(dialog, IDC_SEND_VALUE);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
    SendMessageW(field, EM_SETSEL, 0, -1);
}

// Leaving the field takes a value that converts; a refused text stays as typed, so that
// Write can say what is wrong with it.
void OnValueLeft(HWND dialog)
{
    TakeValueField(dialog, GetDataFormat(dialog));
}

// A format or count button: the working value in the new form; its count stays.
void OnFormatOrCount(HWND dialog)
{
    UpdateByteCountButtons(dialog);
    const DataFormat format = GetDataFormat(dialog);
    const std::uint32_t count = GetByteCount(dialog, format, workingCount);
    ShowValue(dialog, IDC_SEND_VALUE, workingValue.data(), format, count);
}

// The bound of the entry as a number, or where it has none the end of its type's range.
std::wstring LimitText(const std::vector<std::uint8_t>& bound, bool lowest)
{
    std::string text = FormatEntryNumber(limitEntry, bound);
    if (text.empty()) {
        char low[32], high[32];
        const DataFormat format = eds::IsSignedType(limitEntry.dataType) ? FormatSigned
                                  : eds::IsRealType(limitEntry.dataType) ? FormatFloat
                                                                         : FormatUnsigned;
        const std::uint32_t size = eds::DataTypeSize(limitEntry.dataType);
        DescribeValueRange(format, size >= 1 && size <= 4 ? size : 4, low, high, sizeof low);
        text = lowest ? low : high;
    }
    return std::wstring(text.begin(), text.end());  // digits, signs, points: ASCII
}

// Write Object opened for a dictionary entry: a value outside the entry's LowLimit and
// HighLimit is written only when the operator confirms it. True to go on writing.
bool ConfirmOutsideLimits(HWND dialog, std::uint32_t index, std::uint32_t subindex, std::uint32_t count)
{
    if (!hasLimitEntry || index != limitEntry.index || subindex != limitEntry.subIndex)
        return true;
    if (eds::CompareWithLimits(limitEntry, workingValue.data(), count) == 0)
        return true;
    const std::wstring low = LimitText(limitEntry.lowLimit, true);
    const std::wstring high = LimitText(limitEntry.highLimit, false);
    return ShowFormatMessage(dialog, MB_OKCANCEL | MB_ICONEXCLAMATION, IDS_OUTSIDE_LIMITS, low.c_str(), high.c_str(),
                             nullptr) == IDOK;
}

void OnWrite(HWND dialog)
{
    std::uint32_t index = 0, subindex = 0;
    TakeIndexFields<kWriteFieldChars>(dialog, index, subindex);
    const DataFormat format = GetDataFormat(dialog);
    // The value as the field shows it now, also when Enter was pressed in the field
    // before it was left: nothing but what the operator sees goes on the bus.
    const ValueRefusal refusal = TakeValueField(dialog, format);
    if (refusal != ValueRefusal::None) {
        RefuseValue(dialog, format, refusal);
        return;
    }
    const std::uint32_t count = GetByteCount(dialog, format, workingCount);
    ShowValue(dialog, IDC_SEND_VALUE, workingValue.data(), format, count);
    if (!ConfirmOutsideLimits(dialog, index, subindex, count))
        return;
    objectMemory.writeCount = count;
    objectMemory.subindex = subindex;
    objectMemory.writeValue = workingValue;
    objectMemory.index = index;
    objectMemory.format = format;
    PostObjectRequest(index, subindex, workingValue.data(), count, 1);
}

INT_PTR OnWriteCommand(HWND dialog, WORD id, WORD notification)
{
    switch (id) {
    case IDOK:  // Write, also Enter
        OnWrite(dialog);
        return TRUE;
    case IDCANCEL:
        DestroyWindow(dialog);
        return TRUE;
    case IDC_SEND_VALUE:
        if (notification != EN_KILLFOCUS)
            return FALSE;
        OnValueLeft(dialog);
        return TRUE;
    default:
        if (id < IDC_COUNT_1 || id > IDC_FORMAT_RAW || notification != BN_CLICKED)
            return FALSE;
        OnFormatOrCount(dialog);
        return TRUE;
    }
}

}  // namespace

INT_PTR CALLBACK ReadObjectDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnReadInit(dialog);
    case WM_COMMAND:
        return OnReadCommand(dialog, LOWORD(wParam));
    case WM_DESTROY:
        SetReadObjectDialog(nullptr);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK WriteObjectDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnWriteInit(dialog);
    case WM_COMMAND:
        return OnWriteCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_DESTROY:
        SetWriteObjectDialog(nullptr);
        return TRUE;
    default:
        return FALSE;
    }
}

int DeliverReadResult(const std::uint8_t* data, std::uint32_t length)
{
    HWND dialog = ReadObjectDialog();
    if (dialog == nullptr)
        return 0;
    const std::uint32_t kept = length < kMaxObjectBytes ? length : kMaxObjectBytes;
    std::memcpy(readResult.data(), data, kept);
    readResultLength = kept;
    ShowReadResult(dialog);
    return 1;
}

int ShowReadResult(HWND dialog)
{
    if (readResultLength == 0) {
        SetDlgItemTextW(dialog, IDC_RESULT_LENGTH, L"");
        SetDlgItemTextW(dialog, IDC_RESULT_VALUE, L"");
        return 1;
    }
    wchar_t length[16];
    std::swprintf(length, std::size(length), L"%u", readResultLength);
    SetDlgItemTextW(dialog, IDC_RESULT_LENGTH, length);
    ShowValue(dialog, IDC_RESULT_VALUE, readResult.data(), GetDataFormat(dialog), readResultLength);
    return 1;
}

DataFormat GetDataFormat(HWND dialog)
{
    if (IsChecked(dialog, IDC_FORMAT_RAW))
        return FormatRaw;
    if (IsChecked(dialog, IDC_FORMAT_SIGNED))
        return FormatSigned;
    if (IsChecked(dialog, IDC_FORMAT_UNSIGNED))
        return FormatUnsigned;
    if (IsChecked(dialog, IDC_FORMAT_FLOAT))
        return FormatFloat;
    return FormatHex;
}

std::uint32_t GetByteCount(HWND dialog, DataFormat format, std::uint32_t currentCount)
{
    if (format == FormatFloat)
        return 4;
    if (format == FormatRaw)
        return currentCount;
    if (IsChecked(dialog, IDC_COUNT_4))
        return 4;
    if (IsChecked(dialog, IDC_COUNT_3))
        return 3;
    if (IsChecked(dialog, IDC_COUNT_2))
        return 2;
    return 1;
}

int UpdateByteCountButtons(HWND dialog)
{
    const DataFormat format = GetDataFormat(dialog);
    const BOOL enable = format != FormatFloat && format != FormatRaw;
    for (int id = IDC_COUNT_1; id <= IDC_COUNT_4; ++id)
        EnableWindow(GetDlgItem(dialog, id), enable);
    return 1;
}

void PresetObjectDialogs(std::uint32_t index, std::uint32_t subindex, DataFormat format, std::uint32_t count,
                         const std::uint8_t* value, std::uint32_t valueLength, const eds::Entry* entry)
{
    objectMemory.index = index;
    objectMemory.subindex = subindex & kLargestSubindex;
    objectMemory.format = format;
    const std::uint32_t kept = valueLength < kMaxObjectBytes ? valueLength : kMaxObjectBytes;
    objectMemory.writeValue.fill(0);
    if (value != nullptr)
        std::memcpy(objectMemory.writeValue.data(), value, kept);
    // Raw sends the value's own bytes (at least one); the numbers their type's width.
    objectMemory.writeCount = format == FormatRaw ? (kept > 0 ? kept : 1) : count;
    hasLimitEntry = entry != nullptr;
    limitEntry = entry != nullptr ? *entry : eds::Entry{};

    if (HWND read = ReadObjectDialog()) {
        readResult.fill(0);
        readResultLength = 0;
        ShowIndexFields(read, objectMemory.index, objectMemory.subindex);
        CheckFormatButton(read, objectMemory.format);
        ShowReadResult(read);
    }
    if (HWND write = WriteObjectDialog()) {
        workingValue = objectMemory.writeValue;
        workingCount = objectMemory.writeCount;
        ShowIndexFields(write, objectMemory.index, objectMemory.subindex);
        CheckFormatButton(write, objectMemory.format);
        CheckRadioButton(write, IDC_COUNT_1, IDC_COUNT_4, CountButton(objectMemory.writeCount));
        UpdateByteCountButtons(write);
        ShowValue(write, IDC_SEND_VALUE, workingValue.data(), objectMemory.format, workingCount);
    }
}

void ResetObjectMemory()
{
    hasLimitEntry = false;
    limitEntry = eds::Entry{};
    objectMemory = ObjectMemory{0, 0, FormatHex, {}, kInitialWriteCount};
    readResult.fill(0);
    readResultLength = 0;
    workingValue.fill(0);
    workingCount = 0;
}

#include "resource_language.h"

#include <cstdint>

#include "app.h"
#include "resource.h"
#include "settings.h"

namespace {

LANGID resourceLanguage = kFallbackLanguage;  // from SetResourceLanguage

// The largest accelerator table the program builds from a resource.
constexpr int kMaxAccelerators = 32;

// One entry of an RT_ACCELERATOR resource, as the resource compiler lays it out.
struct AcceleratorResourceEntry {
    WORD flags;  // FVIRTKEY, FSHIFT, ...; 0x80 marks the last entry
    WORD key;
    WORD command;
    WORD padding;
};
static_assert(sizeof(AcceleratorResourceEntry) == 8);
constexpr WORD kLastAcceleratorEntry = 0x80;

// Strings live in blocks of sixteen: block n holds the identifiers 16 (n - 1) to
// 16 (n - 1) + 15, each as a character count followed by the characters.
constexpr UINT kStringsPerBlock = 16;

struct ResourceData {
    const void* bytes;
    DWORD size;
};

ResourceData FindInLanguage(LPCWSTR type, LPCWSTR name, LANGID language)
{
    HINSTANCE instance = AppInstance();
    HRSRC found = FindResourceExW(instance, type, name, language);
    if (found == nullptr)
        return {nullptr, 0};
    HGLOBAL loaded = LoadResource(instance, found);
    if (loaded == nullptr)
        return {nullptr, 0};
    return {LockResource(loaded), SizeofResource(instance, found)};
}

// The resource in the selected language, else in the fallback language.
ResourceData FindResourceData(LPCWSTR type, UINT id)
{
    ResourceData data = FindInLanguage(type, MAKEINTRESOURCEW(id), resourceLanguage);
    if (data.bytes == nullptr && resourceLanguage != kFallbackLanguage)
        data = FindInLanguage(type, MAKEINTRESOURCEW(id), kFallbackLanguage);
    return data;
}

// The program has resources in `language` when its title string is there.
bool HasLanguage(LANGID language)
{
    return FindInLanguage(RT_STRING, MAKEINTRESOURCEW(IDS_TITLE / kStringsPerBlock + 1), language).bytes != nullptr;
}

}  // namespace

LANGID SetResourceLanguage(LANGID wanted)
{
    const LANGID sameLanguage = MAKELANGID(PRIMARYLANGID(wanted), SUBLANG_DEFAULT);
    if (HasLanguage(wanted))
        resourceLanguage = wanted;
    else if (HasLanguage(sameLanguage))
        resourceLanguage = sameLanguage;
    else
        resourceLanguage = kFallbackLanguage;
    return resourceLanguage;
}

LANGID ResourceLanguage()
{
    return resourceLanguage;
}

HWND CreateDialogInLanguage(UINT templateId, HWND parent, DLGPROC procedure, LPARAM parameter)
{
    const ResourceData data = FindResourceData(RT_DIALOG, templateId);
    if (data.bytes == nullptr) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return CreateDialogIndirectParamW(AppInstance(), static_cast<LPCDLGTEMPLATEW>(data.bytes), parent, procedure,
                                      parameter);
}

INT_PTR RunDialogInLanguage(UINT templateId, HWND owner, DLGPROC procedure, LPARAM parameter)
{
    const ResourceData data = FindResourceData(RT_DIALOG, templateId);
    if (data.bytes == nullptr)
        return -1;
    return DialogBoxIndirectParamW(AppInstance(), static_cast<LPCDLGTEMPLATEW>(data.bytes), owner, procedure,
                                   parameter);
}

HMENU LoadMenuInLanguage(UINT menuId)
{
    const ResourceData data = FindResourceData(RT_MENU, menuId);
    if (data.bytes == nullptr)
        return nullptr;
    return LoadMenuIndirectW(data.bytes);
}

int AttachMenuInLanguage(HWND window, UINT menuId)
{
    HMENU menu = LoadMenuInLanguage(menuId);
    if (menu == nullptr)
        return 0;
    RECT before{};
    GetClientRect(window, &before);
    if (!SetMenu(window, menu)) {
        DestroyMenu(menu);
        return 0;
    }
    RECT after{};
    GetClientRect(window, &after);
    const int grow = (before.bottom - before.top) - (after.bottom - after.top);
    if (grow > 0) {
        RECT frame{};
        GetWindowRect(window, &frame);
        SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return 1;
}

HACCEL LoadAcceleratorsInLanguage(UINT tableId)
{
    const ResourceData data = FindResourceData(RT_ACCELERATOR, tableId);
    if (data.bytes == nullptr)
        return nullptr;
    const auto* entries = static_cast<const AcceleratorResourceEntry*>(data.bytes);
    const DWORD available = data.size / sizeof(AcceleratorResourceEntry);
    ACCEL table[kMaxAccelerators];
    int count = 0;
    for (DWORD i = 0; i < available && count < kMaxAccelerators; ++i) {
        table[count].fVirt = static_cast<BYTE>(entries[i].flags & ~kLastAcceleratorEntry);
        table[count].key = entries[i].key;
        table[count].cmd = entries[i].command;
        ++count;
        if (entries[i].flags & kLastAcceleratorEntry)
            break;
    }
    if (count == 0)
        return nullptr;
    return CreateAcceleratorTableW(table, count);
}

int LoadStringInLanguage(UINT stringId, wchar_t* buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return 0;
    buffer[0] = L'\0';
    const ResourceData data = FindResourceData(RT_STRING, stringId / kStringsPerBlock + 1);
    if (data.bytes == nullptr)
        return 0;
    // Walk the counted strings of the block up to ours, never past the block's end.
    const auto* cursor = static_cast<const WCHAR*>(data.bytes);
    const WCHAR* end = cursor + data.size / sizeof(WCHAR);
    for (UINT skip = stringId % kStringsPerBlock; skip > 0; --skip) {
        if (cursor >= end)
            return 0;
        cursor += 1 + *cursor;
    }
    if (cursor >= end)
        return 0;
    const UINT length = *cursor++;
    if (length > static_cast<UINT>(end - cursor))
        return 0;
    const int copied = length < static_cast<UINT>(size - 1) ? static_cast<int>(length) : size - 1;
    for (int i = 0; i < copied; ++i)
        buffer[i] = cursor[i];
    buffer[copied] = L'\0';
    return copied;
}

#include "messages.h"

#include <cwchar>

#include "resource.h"
#include "resource_language.h"

namespace {

constexpr int kCaptionSize = 100;  // a caption holds at most 99 characters
constexpr int kTextSize = 200;     // a message text at most 199
constexpr wchar_t kFallbackCaption[] = L"Velomar";
constexpr wchar_t kMissingText[] = L"Unable to load resource";

// Below this total of format and argument lengths the arguments are filled in.
constexpr std::size_t kFillLimit = 198;

// wsprintfW never writes more than 1024 characters and the terminator: the buffer holds
// whatever a string of the table may expand to.
constexpr int kFilledSize = 1025;

void LoadCaption(wchar_t (&caption)[kCaptionSize])
{
    if (LoadStringInLanguage(IDS_TITLE, caption, kCaptionSize) == 0)
        std::swprintf(caption, kCaptionSize, L"%ls", kFallbackCaption);
}

void LoadText(UINT stringId, wchar_t (&text)[kTextSize])
{
    if (LoadStringInLanguage(stringId, text, kTextSize) == 0)
        std::swprintf(text, kTextSize, L"%ls", kMissingText);
}

}  // namespace

int ShowStringMessage(HWND owner, UINT stringId)
{
    wchar_t caption[kCaptionSize];
    LoadCaption(caption);
    wchar_t text[kTextSize];
    LoadText(stringId, text);
    MessageBoxW(owner, text, caption, MB_OK | MB_ICONEXCLAMATION);
    return 1;
}

int ShowFormatMessage(HWND owner, UINT style, UINT stringId, const wchar_t* argument1, const wchar_t* argument2,
                      const wchar_t* argument3)
{
    wchar_t caption[kCaptionSize];
    LoadCaption(caption);
    wchar_t format[kTextSize];
    LoadText(stringId, format);
    const wchar_t* first = argument1 != nullptr ? argument1 : L"";
    const wchar_t* second = argument2 != nullptr ? argument2 : L"";
    const wchar_t* third = argument3 != nullptr ? argument3 : L"";

    const std::size_t total = std::wcslen(format) + std::wcslen(first) + std::wcslen(second) + std::wcslen(third);
    wchar_t text[kFilledSize];
    if (total < kFillLimit)
        wsprintfW(text, format, first, second, third);
    else
        std::swprintf(text, kFilledSize, L"%ls", format);
    return MessageBoxW(owner, text, caption, style);
}

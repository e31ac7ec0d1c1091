#include "abort_codes.h"

#include <cstdio>
#include <cstring>

#include "message_texts.h"
#include "resource.h"

namespace {

// The rows of the string table from IDS_ABORT_FIRST, ascending.
constexpr std::uint32_t kAbortCodesInTextOrder[] = {
    0x05030000, 0x05040000, 0x05040001, 0x05040002, 0x05040003, 0x05040004, 0x05040005, 0x06010000,
    0x06010001, 0x06010002, 0x06020000, 0x06040041, 0x06040042, 0x06040043, 0x06040047, 0x06060000,
    0x06070010, 0x06070012, 0x06070013, 0x06090011, 0x06090030, 0x06090031, 0x06090032, 0x06090036,
    0x060A0023, 0x08000000, 0x08000020, 0x08000021, 0x08000022, 0x08000023, 0x08000024,
};
static_assert(std::size(kAbortCodesInTextOrder) == IDS_ABORT_LAST - IDS_ABORT_FIRST + 1);

}  // namespace

std::uint32_t AbortCodeTextId(std::uint32_t code)
{
    for (std::size_t row = 0; row < std::size(kAbortCodesInTextOrder); ++row) {
        if (kAbortCodesInTextOrder[row] == code)
            return IDS_ABORT_FIRST + static_cast<std::uint32_t>(row);
    }
    return IDS_ABORT_UNKNOWN;
}

std::span<const std::uint32_t> NamedAbortCodes()
{
    return kAbortCodesInTextOrder;
}

AbortWords AbortCodeInWords(std::uint32_t code, TextLanguage language)
{
    AbortWords words{};
    const char* format = MessageText(IDS_ABORT_IN_WORDS, language);
    const char* meaning = MessageText(AbortCodeTextId(code), language);
    // The resource's "%08Xh: %s" as it stands, with the printf family's own letters.
    std::snprintf(words.text, sizeof words.text, format != nullptr ? format : "%08Xh: %s", static_cast<unsigned>(code),
                  meaning != nullptr ? meaning : "");
    return words;
}

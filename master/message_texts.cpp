#include "message_texts.h"

#include <algorithm>

const char* MessageText(std::uint32_t id, TextLanguage language)
{
    const std::span<const MessageTextEntry> table = MessageTextTable();
    const auto found =
        std::lower_bound(table.begin(), table.end(), id,
                         [](const MessageTextEntry& entry, std::uint32_t wanted) { return entry.id < wanted; });
    if (found == table.end() || found->id != id)
        return nullptr;
    return language == TextLanguage::German ? found->german : found->english;
}

// The string table's texts in English and German as UTF-8, for the front ends that do
// not load the program's resources (the console program). The table is generated at
// build time from resources/velomar_en.rc, velomar_de.rc and resource.h, so these are the
// texts the windows show, under the same IDS_ numbers.
//
//   std::printf("%s\n", MessageText(IDS_NO_SLAVE_FOUND, TextLanguageFor(languageId)));
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

enum class TextLanguage : std::uint8_t { English, German };

// The language for a Windows language identifier (LANGID): German when its primary
// language (the low 10 bits) is German (7), whatever the country; English for any other.
constexpr TextLanguage TextLanguageFor(std::uint16_t languageId)
{
    return (languageId & 0x3FFu) == 0x07u ? TextLanguage::German : TextLanguage::English;
}

// The UTF-8 text of string `id` in `language`; nullptr when the string table has no
// entry `id`. The texts are static: never freed, the same pointer on every call.
[[nodiscard]] const char* MessageText(std::uint32_t id, TextLanguage language);

// One entry of the string table.
struct MessageTextEntry {
    std::uint32_t id;     // the IDS_ number (a string identifier is 16 bits)
    const char* english;  // from velomar_en.rc
    const char* german;   // from velomar_de.rc
};

// The whole table, ascending by id (generated).
std::span<const MessageTextEntry> MessageTextTable();

// Whether the ids ascend strictly, as MessageText's search needs; the generated table
// asserts it.
constexpr bool MessageTextsAscending(std::span<const MessageTextEntry> entries)
{
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (entries[i - 1].id >= entries[i].id)
            return false;
    }
    return true;
}

// The CiA 301 SDO abort codes in words: one table for the windows and the console, in
// the string table of both languages.
//
//     const std::uint32_t id = AbortCodeTextId(result.abortCode);  // IDS_ABORT_UNKNOWN if not named
//     std::printf("%s\n", MessageText(id, language));
#pragma once

#include <cstdint>
#include <span>

#include "message_texts.h"

// The string id of the words for `code`; IDS_ABORT_UNKNOWN for a code the table does not
// name.
std::uint32_t AbortCodeTextId(std::uint32_t code);

// The codes with words, in the order of their strings (IDS_ABORT_FIRST + row).
std::span<const std::uint32_t> NamedAbortCodes();

// "Abort 06090011h: Sub-index does not exist" (German "Abbruch ..."), UTF-8, for the
// console and the logs; the windows build the same from IDS_ABORT_IN_WORDS.
struct AbortWords {
    char text[160];
};
AbortWords AbortCodeInWords(std::uint32_t code, TextLanguage language);

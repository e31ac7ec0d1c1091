// The message texts as the console shows them: the program's string tables through the
// generated table, and the generator on a fixture with every form of entry it reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "message_texts.h"
#include "resource.h"

// The fixture's table, generated from fixtures/ by the same script as master's.
std::span<const MessageTextEntry> FixtureTextTable();

namespace {

// Every IDS_ name resource.h defines, with its number, read from the file itself so a
// string added there is checked without touching this test.
std::map<std::string, std::uint32_t> StringNames()
{
    std::map<std::string, std::uint32_t> names;
    std::ifstream header(RESOURCE_HEADER);
    std::string line;
    while (std::getline(header, line)) {
        std::istringstream words(line);
        std::string directive;
        std::string name;
        std::uint32_t value = 0;
        if (words >> directive >> name >> value && directive == "#define" && name.rfind("IDS_", 0) == 0) {
            names[name] = value;
        }
    }
    return names;
}

void ExpectBothTexts(std::uint32_t id, const std::string& what)
{
    for (const TextLanguage language : {TextLanguage::English, TextLanguage::German}) {
        const char* text = MessageText(id, language);
        ASSERT_NE(text, nullptr) << what << " " << id << " language " << static_cast<int>(language);
        EXPECT_GT(std::strlen(text), 0u) << what << " " << id;
    }
}

TEST(MessageTexts, EveryStringResourceHeaderNamesHasBothTexts)
{
    const std::map<std::string, std::uint32_t> names = StringNames();
    // The file was read: its first and last string are where the compiler sees them.
    ASSERT_EQ(names.count("IDS_TITLE"), 1u);
    EXPECT_EQ(names.at("IDS_TITLE"), static_cast<std::uint32_t>(IDS_TITLE));
    ASSERT_EQ(names.count("IDS_COLUMN_VALUE"), 1u);
    EXPECT_EQ(names.at("IDS_COLUMN_VALUE"), static_cast<std::uint32_t>(IDS_COLUMN_VALUE));

    for (const auto& [name, id] : names)
        ExpectBothTexts(id, name);
    // The numbered runs between two names: the bit boxes' labels and the column heads.
    for (std::uint32_t id = IDS_BIT0; id <= IDS_BIT7; ++id)
        ExpectBothTexts(id, "bit label");
    for (std::uint32_t id = IDS_COLUMN_INDEX; id <= IDS_COLUMN_VALUE; ++id) {
        ExpectBothTexts(id, "column head");
    }
}

TEST(MessageTexts, TextsAreTheResourceFilesTexts)
{
    struct Case {
        std::uint32_t id;
        const char* english;
        const char* german;
    };
    const Case cases[] = {
        {IDS_TITLE, "Velomar", "Velomar"},
        {IDS_OUTPUTS_WARNING, "Warning!\nOutputs may be modified!", "Warnung!\nAusgänge können verändert werden!"},
        {IDS_OUT_OF_MEMORY, "Out of memory!", "Kein freier Speicher verfügbar!"},
        {IDS_VALUE_OUT_OF_RANGE, "Value out of range!\nAllowed: %s to %s",
         "Wert außerhalb des Bereichs!\nErlaubt: %s bis %s"},
        {IDS_OUTSIDE_LIMITS, "The value is outside the limits of this object.\nAllowed: %s to %s\nWrite it anyway?",
         "Der Wert liegt außerhalb der Grenzen dieses Objekts.\nErlaubt: %s bis %s\n"
         "Trotzdem schreiben?"},
        {IDS_BUTTON_ABORT, "&Abort", "&Abbrechen"},
        {IDS_ENTRY_ABORT, "Abort %08Xh", "Abbruch %08Xh"},
        {IDS_BIT0 + 3, "&3", "&3"},
        {IDS_COLUMN_INDEX + 3, "Data Type", "Datentyp"},
        {IDS_COLUMN_VALUE, "Value", "Wert"},
    };
    for (const Case& c : cases) {
        const char* english = MessageText(c.id, TextLanguage::English);
        const char* german = MessageText(c.id, TextLanguage::German);
        ASSERT_NE(english, nullptr) << c.id;
        ASSERT_NE(german, nullptr) << c.id;
        EXPECT_STREQ(english, c.english) << c.id;
        EXPECT_STREQ(german, c.german) << c.id;
    }
}

TEST(MessageTexts, UnknownIdsHaveNoText)
{
    const std::uint32_t ids[] = {
        0,
        999,
        1002,
        1003,
        1006,
        1011,
        1019,
        1028,
        1036,
        1066, 1159,          // gaps
        1234,                // past the end
        IDM_SEARCH_SLAVES,   // a command number
        65536u + IDS_TITLE,  // a string identifier is 16 bits: no wrap onto 1000
        0xFFFFFFFFu,
    };
    for (const std::uint32_t id : ids) {
        EXPECT_EQ(MessageText(id, TextLanguage::English), nullptr) << id;
        EXPECT_EQ(MessageText(id, TextLanguage::German), nullptr) << id;
    }
}

TEST(MessageTexts, LanguageFromWindowsLanguageId)
{
    struct Case {
        std::uint16_t languageId;
        TextLanguage language;
    };
    const Case cases[] = {
        {0x0407, TextLanguage::German},   // German, Germany
        {0x0807, TextLanguage::German},   // German, Switzerland
        {0x0C07, TextLanguage::German},   // German, Austria
        {0x0007, TextLanguage::German},   // German, no country
        {0x0409, TextLanguage::English},  // English, United States
        {0x0809, TextLanguage::English},  // English, United Kingdom
        {0x040C, TextLanguage::English},  // French: no texts of its own
        {0x0000, TextLanguage::English},  // neutral
        {0x0207, TextLanguage::English},  // primary language 0x207, not 7
        {0xFC07, TextLanguage::German},   // the country bits do not matter
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TextLanguageFor(c.languageId), c.language) << std::hex << c.languageId;
    }
}

// The generator against a fixture with every form of entry: quotes, each escape, a
// comma after the identifier, a hex identifier, comments, tabs, CMake's own special
// characters, a second table in lower-case keywords with braces, CR LF line ends, text
// beyond ASCII up to four bytes a character, and the two files in different orders.
TEST(MessageTexts, GeneratorReadsEveryFormOfEntry)
{
    const MessageTextEntry expected[] = {
        {0, "", "null"},
        {1, "Say \"yes\" or \"no\"", "Sag \"ja\" oder \"nein\""},
        {2, "Tab\there, line\nbreak, CR\r, back\\slash, \\n", "Tab\thier, Zeile\numbruch, CR\r, Rück\\strich, \\n"},
        {3, "second table", "zweite Tabelle"},
        {7, "comma after the number", "Komma fehlt hier"},
        {16, "hex id", "Hex-Nummer"},
        {32, "a;b [c] ${VAR} @VAR@ \\; end", "ä;ö [ü] ${VAR} @VAR@ \\; Ende"},
        {33, "100%% of %s, %-08.3lf", "100 %% von %s, %-08.3lf"},
        {40000, "last", "zuletzt"},
        {65535, "highest", "höchste € 𝄞"},
    };
    const std::span<const MessageTextEntry> table = FixtureTextTable();
    ASSERT_EQ(table.size(), std::size(expected));
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].id, expected[i].id) << "row " << i;
        EXPECT_STREQ(table[i].english, expected[i].english) << "row " << i;
        EXPECT_STREQ(table[i].german, expected[i].german) << "row " << i;
    }
}

}  // namespace

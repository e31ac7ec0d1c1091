// The INI reader under the EDS reader and the simulated bus's network file.
#include <gtest/gtest.h>

#include <string>

#include "ini_file.h"

namespace {

TEST(IniReader, FindsValuesWhateverTheCaseAndLineEnds)
{
    const eds::IniFile ini = eds::ParseIni(
        "\xEF\xBB\xBF; leading comment\r\n"
        "orphan=before any section\r\n"
        "[Network]\r\n"
        "  BitRate = 125  \r\n"
        "; BitRate=250\r\n"
        "[nodes]\n"
        "3=io module.eds\n"
        "Text=a;b = c\n"
        "3=second wins not\n"
        "no equals sign here\n"
        "[NETWORK]\n"
        "Extra=1\n");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;  // nullptr: not found
    };
    const Case cases[] = {
        {"network", "bitrate", "125"},
        {"NODES", "3", "io module.eds"},
        {"Nodes", "text", "a;b = c"},
        {"Network", "Extra", "1"},  // a repeated section adds to the first
        {"Network", "orphan", nullptr},
        {"Missing", "3", nullptr},
    };
    for (const Case& c : cases) {
        const std::string* value = eds::FindValue(ini, c.section, c.key);
        if (c.expected == nullptr) {
            EXPECT_EQ(value, nullptr) << c.section << "/" << c.key;
        } else {
            ASSERT_NE(value, nullptr) << c.section << "/" << c.key;
            EXPECT_EQ(*value, c.expected) << c.section << "/" << c.key;
        }
    }
    EXPECT_EQ(ini.sections.size(), 2u);
}

// The limits count a line without its line end and only distinct sections; the error
// names the first line over a limit.
TEST(IniReader, BoundedReadStopsAtTheFirstLineOverALimit)
{
    const eds::IniLimits limits{10, 2, 3};
    struct Case {
        std::string text;
        const char* error;  // nullptr: read
    };
    const Case cases[] = {
        {"[A]\r\nkey=12345\r\n", nullptr},             // 9 bytes and a CR
        {"[A]\nkey=123456\n", nullptr},                 // exactly 10
        {"[A]\nkey=1234567\n", "line 2: longer than 10 bytes"},
        {"[A]\n\n;1234567890123\n", "line 3: longer than 10 bytes"},  // comments too
        {"[A]\nk=1\n[B]\n[a]\n[b]\nk=2", nullptr},     // repeated sections count once
        {"[A]\n[B]\n[C]\n", "line 3: more than 2 sections"},
        {"[A]\nkey=1234567", "line 2: longer than 10 bytes"},  // no line end at the end
        {"a=1\n[A]\na=1\n[B]\nb=2\nno key\nc=3\n", nullptr},  // only keys of a section count
        {"[A]\na=1\n[B]\nb=2\nc=3\nd=4\n", "line 6: more than 3 keys"},
    };
    for (const Case& c : cases) {
        eds::IniFile ini;
        std::string error;
        EXPECT_EQ(eds::ParseIni(c.text, limits, ini, error), c.error == nullptr) << c.text;
        EXPECT_EQ(error, c.error == nullptr ? "" : c.error) << c.text;
    }
}

}  // namespace

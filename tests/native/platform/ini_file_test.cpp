// The INI reader under the EDS reader, the simulated bus's network file and the driver
// libraries' settings files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ini_file.h"

namespace {

TEST(IniReader, FindsValuesWhateverTheCaseAndLineEnds)
{
    const ini::File ini = ini::Parse("\xEF\xBB\xBF; leading comment\r\n"
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
        {"network", "bitrate", "125"},  {"NODES", "3", "io module.eds"},
        {"Nodes", "text", "a;b = c"},   {"Network", "Extra", "1"},  // a repeated section adds to the first
        {"Network", "orphan", nullptr}, {"Missing", "3", nullptr},
    };
    for (const Case& c : cases) {
        const std::string* value = ini::FindValue(ini, c.section, c.key);
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
    const ini::Limits limits{10, 2, 3};
    struct Case {
        std::string text;
        const char* error;  // nullptr: read
    };
    const Case cases[] = {
        {"[A]\r\nkey=12345\r\n", nullptr},  // 9 bytes and a CR
        {"[A]\nkey=123456\n", nullptr},     // exactly 10
        {"[A]\nkey=1234567\n", "line 2: longer than 10 bytes"},
        {"[A]\n\n;1234567890123\n", "line 3: longer than 10 bytes"},  // comments too
        {"[A]\nk=1\n[B]\n[a]\n[b]\nk=2", nullptr},                    // repeated sections count once
        {"[A]\n[B]\n[C]\n", "line 3: more than 2 sections"},
        {"[A]\nkey=1234567", "line 2: longer than 10 bytes"},  // no line end at the end
        {"a=1\n[A]\na=1\n[B]\nb=2\nno key\nc=3\n", nullptr},   // only keys of a section count
        {"[A]\na=1\n[B]\nb=2\nc=3\nd=4\n", "line 6: more than 3 keys"},
    };
    for (const Case& c : cases) {
        ini::File ini;
        std::string error;
        EXPECT_EQ(ini::Parse(c.text, limits, ini, error), c.error == nullptr) << c.text;
        EXPECT_EQ(error, c.error == nullptr ? "" : c.error) << c.text;
    }
}

TEST(IniLines, EachLineIsTakenWithItsEndAndTold)
{
    struct Case {
        const char* text;
        ini::LineKind kind;
        const char* name;  // the section's name, or the key
        const char* value;
        std::size_t length;
        const char* rest;  // what is left of the text
    };
    using K = ini::LineKind;
    const Case cases[] = {
        {"  [ Serial ] trailing\r\nnext", K::Section, "Serial", "", 21, "next"},
        {"[]\n", K::Section, "", "", 2, ""},
        {"[Serial\n", K::Unclosed, "", "", 7, ""},
        {" Port = COM5 ; not a comment \n", K::KeyValue, "Port", "COM5 ; not a comment", 29, ""},
        {"a=b=c", K::KeyValue, "a", "b=c", 5, ""},
        {"=5\r\n", K::KeyValue, "", "5", 2, ""},
        {"; Port=COM5\n", K::Comment, "", "", 11, ""},
        {"  # Port=COM5\n", K::Comment, "", "", 13, ""},  // '#' is one of this test's marks
        {"\t \r\n", K::Blank, "", "", 2, ""},
        {"no equals\n\n", K::Other, "", "", 9, "\n"},
        {"x=1\ry=2\n", K::KeyValue, "x", "1\ry=2", 7, ""},  // a lone CR ends no line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string_view text = c.text;
        const ini::Line line = ini::TakeLine(text, ";#");
        EXPECT_EQ(line.kind, c.kind);
        EXPECT_EQ(line.kind == K::Section ? line.name : line.key, c.name);
        EXPECT_EQ(line.value, c.value);
        EXPECT_EQ(line.length, c.length);
        EXPECT_EQ(text, c.rest);
    }
}

struct Taken {
    std::vector<std::string> lines;  // "key=value" as handed on
    const char* refuse;              // a key whose value is refused
};

bool Take(void* context, std::string_view key, std::string_view value)
{
    Taken& taken = *static_cast<Taken*>(context);
    taken.lines.push_back(std::string(key) + "=" + std::string(value));
    return key != taken.refuse;
}

TEST(IniSettings, OnlyTheNamedSectionIsHandedOnLineByLine)
{
    struct Case {
        const char* what;
        const char* text;
        ini::LeadingKeys leading;
        std::vector<std::string> lines;
    };
    using L = ini::LeadingKeys;
    const Case cases[] = {
        {"any case, repeated keys and sections in file order",
         "\xEF\xBB\xBF[serial]\nPort=A\n[Other]\nPort=B\n[ SERIAL ]\nport=C\nPort=D\n",
         L::Skipped,
         {"Port=A", "port=C", "Port=D"}},
        {"keys before any section skipped", "Port=A\n[Serial]\nBaud=1\n", L::Skipped, {"Baud=1"}},
        {"keys before any section counted", "Port=A\n[Serial]\nBaud=1\n", L::InSection, {"Port=A", "Baud=1"}},
        {"a header without ']' ends the section", "[Serial]\nA=1\n[Serial\nB=2\n", L::Skipped, {"A=1"}},
        {"an unclosed header ends the leading keys too", "A=1\n[Serial\nB=2\n", L::InSection, {"A=1"}},
        {"both comment marks", "[Serial]\n;A=1\n#B=2\n  # C=3\nD=4\n", L::Skipped, {"D=4"}},
        {"no '=' no key", "[Serial]\nPort\n\n", L::Skipped, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Taken taken{{}, "none"};
        EXPECT_TRUE(ini::ReadSettings(c.text, "Serial", c.leading, Take, &taken));
        EXPECT_EQ(taken.lines, c.lines);
    }
    // One refused value makes the file bad; the lines after it are still handed on.
    Taken taken{{}, "Baud"};
    EXPECT_FALSE(ini::ReadSettings("[Serial]\nBaud=x\nPort=A\n", "Serial", L::Skipped, Take, &taken));
    EXPECT_EQ(taken.lines, (std::vector<std::string>{"Baud=x", "Port=A"}));
}

TEST(IniSettings, NumbersAndWordsWithinTheirLimits)
{
    struct Number {
        const char* text;
        std::uint32_t low;
        std::uint32_t high;
        bool ok;
    };
    const Number numbers[] = {
        {"1", 1, 65535, true},
        {"0065535", 1, 65535, true},
        {"0", 0, 1, true},
        {"999999999", 0, 0xFFFFFFFF, true},
        {"0", 1, 65535, false},
        {"65536", 1, 65535, false},
        {"1000000000", 0, 0xFFFFFFFF, false},
        {"4294967297", 0, 0xFFFFFFFF, false},
        {"", 0, 1, false},
        {"-1", 0, 1, false},
        {"+1", 0, 1, false},
        {"12a", 0, 99, false},
        {" 1", 0, 1, false},
        {"1 ", 0, 1, false},
    };
    for (const Number& n : numbers) {
        std::uint32_t value = 77;
        EXPECT_EQ(ini::ParseDecimal(n.text, n.low, n.high, value), n.ok) << n.text;
        EXPECT_EQ(value, n.ok ? std::strtoul(n.text, nullptr, 10) : 77u) << n.text;  // a bad one is not taken
    }

    struct Word {
        const char* text;
        bool ok;
    };
    const Word words[] = {
        {"COM5", true},      {"/dev/x", true}, {"abcdefg", true},  // 7: the room of 8 less the zero
        {"abcdefgh", false}, {"", false},      {"COM 5", false},  {"a\tb", false}, {"\x7F", false}, {"\xC3\xBC", false},
    };
    for (const Word& w : words) {
        char to[8] = "keep";
        EXPECT_EQ(ini::CopyWord(w.text, to, sizeof to), w.ok) << w.text;
        EXPECT_STREQ(to, w.ok ? w.text : "keep") << w.text;
    }
}

}  // namespace

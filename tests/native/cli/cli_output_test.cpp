// The console's writers: JSON strings that parse back to what was written, and the
// program's message texts with their conversions filled.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_texts.h"
#include "console.h"
#include "json_line.h"
#include "resource.h"

namespace {

TEST(JsonLineTest, StringsParseBackAsWritten)
{
    const std::string awkward =
        std::string("quote \" backslash \\ tab \t newline \n bell \x07 del \x7F umlaut ") + "\xC3\xA4 nul-free end";
    const std::string line = JsonLine{}.Text("text", awkward).Number("n", -5).Line();
    ASSERT_EQ(line.back(), '\n');
    const nlohmann::json parsed = nlohmann::json::parse(line);
    EXPECT_EQ(parsed["text"], awkward);
    EXPECT_EQ(parsed["n"], -5);
}

TEST(JsonLineTest, NumbersFlagsAndRawValues)
{
    const std::string line = JsonLine{}
                                 .Number("big", 4294967295LL)
                                 .Real("real", 1.5)
                                 .Real("nan", std::nan(""))
                                 .Flag("yes", true)
                                 .Raw("none", "null")
                                 .Line();
    const nlohmann::json parsed = nlohmann::json::parse(line);
    EXPECT_EQ(parsed["big"], 4294967295LL);
    EXPECT_DOUBLE_EQ(parsed["real"].get<double>(), 1.5);
    EXPECT_TRUE(parsed["nan"].is_null());
    EXPECT_EQ(parsed["yes"], true);
    EXPECT_TRUE(parsed["none"].is_null());
}

TEST(FillTextTest, ConversionsTakeTheArgumentsInOrder)
{
    EXPECT_EQ(FillText("Abort %08Xh", {"06020000"}), "Abort 06020000h");
    EXPECT_EQ(FillText("%u of %u", {"3", "30"}), "3 of 30");
    EXPECT_EQ(FillText("100%% and %s", {"more"}), "100% and more");
    EXPECT_EQ(FillText("two\nlines %s", {}), "two lines ");  // a missing argument is empty
    EXPECT_EQ(FillText("%lu left", {"7"}), "7 left");
    EXPECT_EQ(FillText("dangling %", {"x"}), "dangling ");
}

TEST(FillTextTest, TheProgramsTextsInBothLanguages)
{
    TheConsole().language = TextLanguage::German;
    EXPECT_EQ(ProgramText(IDS_VALUE_OUT_OF_RANGE, {"0", "255"}), "Wert außerhalb des Bereichs! Erlaubt: 0 bis 255");
    EXPECT_EQ(CliMessage(CliText::NoAnswer, {"7"}), "Knoten 7 antwortet nicht.");
    TheConsole().language = TextLanguage::English;
    EXPECT_EQ(ProgramText(IDS_VALUE_OUT_OF_RANGE, {"0", "255"}), "Value out of range! Allowed: 0 to 255");
    EXPECT_EQ(CliMessage(CliText::NoAnswer, {"7"}), "Node 7 does not answer.");
}

TEST(CliTextTest, EveryTextInBothLanguagesWithTheSameConversions)
{
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(CliText::Count_); ++i) {
        const std::string english = CliTextIn(static_cast<CliText>(i), false);
        const std::string german = CliTextIn(static_cast<CliText>(i), true);
        EXPECT_FALSE(english.empty());
        EXPECT_NE(english, german) << english;
        auto conversions = [](const std::string& text) {
            std::size_t n = 0;
            for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(conversions(english), conversions(german)) << english;
    }
}

}  // namespace

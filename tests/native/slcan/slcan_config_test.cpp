// slcan.ini: the keys, their limits, and what makes the file unusable.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "slcan_config.h"

using namespace slcan;

namespace {

int Parse(const std::string& text, SlcanConfig& config)
{
    DefaultConfig(config);
    return ParseConfig(text.data(), text.size(), config);
}

TEST(SlcanConfig, ReadsTheKeysWhateverTheirCase)
{
    SlcanConfig c;
    ASSERT_EQ(
        Parse("\xEF\xBB\xBF; comment\r\n[serial]\r\n port = COM12 \r\nBAUD=921600\r\ntimeoutms=250\r\nlog=1\r\n", c),
        1);
    EXPECT_STREQ(c.port, "COM12");
    EXPECT_EQ(c.baud, 921600u);
    EXPECT_EQ(c.timeoutMs, 250u);
    EXPECT_EQ(c.log, 1);

    ASSERT_EQ(Parse("Port=/dev/ttyACM0\n", c), 1);  // no section: [Serial]
    EXPECT_STREQ(c.port, "/dev/ttyACM0");
    EXPECT_EQ(c.baud, kDefaultBaud);
    EXPECT_EQ(c.timeoutMs, kDefaultTimeoutMs);
    EXPECT_EQ(c.log, 0);
}

TEST(SlcanConfig, BadValuesAndAMissingPortMakeTheFileUnusable)
{
    const char* bad[] = {
        "",                         // no port
        "[Serial]\nBaud=115200\n",  // no port
        "[Other]\nPort=COM5\n",     // port in another section only
        "Port=\n",
        "Port=COM 5\n",
        "Port=COM5\nBaud=1199\n",
        "Port=COM5\nBaud=4000001\n",
        "Port=COM5\nBaud=fast\n",
        "Port=COM5\nTimeoutMs=0\n",
        "Port=COM5\nTimeoutMs=60001\n",
        "Port=COM5\nLog=2\n",
    };
    for (const char* text : bad) {
        SlcanConfig c;
        EXPECT_EQ(Parse(text, c), 0) << text;
    }
    SlcanConfig c;
    ASSERT_EQ(Parse("Port=COM5\nBaud=1200\nTimeoutMs=60000\n[Other]\nPort=COM9\nBaud=x\n", c), 1);
    EXPECT_STREQ(c.port, "COM5");
    EXPECT_EQ(c.baud, 1200u);
    const std::string longest = "Port=" + std::string(kMaxPortLength, 'x') + "\n";
    EXPECT_EQ(Parse(longest, c), 1);
    EXPECT_EQ(Parse("Port=" + std::string(kMaxPortLength + 1, 'x') + "\n", c), 0);
    EXPECT_EQ(ParseConfig(nullptr, 0, c), 0);
}

}  // namespace

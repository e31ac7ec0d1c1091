// netcan.ini: what is taken from it, what is left at the default, what is refused.
#include "netcan_config.h"

#include <gtest/gtest.h>

#include <string>

using namespace netcan;

namespace {

struct Parsed {
    int valid;
    NetcanConfig config;
};

Parsed Read(const std::string& text)
{
    Parsed p;
    DefaultConfig(p.config);
    p.valid = ParseConfig(text.data(), text.size(), p.config);
    return p;
}

}  // namespace

TEST(NetcanConfig, DefaultsWhenNothingIsGiven)
{
    const Parsed p = Read("");
    EXPECT_EQ(p.valid, 1);
    EXPECT_STREQ(p.config.host, "127.0.0.1");
    EXPECT_EQ(p.config.port, 29536);
    EXPECT_STREQ(p.config.interfaceName, "can0");
    EXPECT_EQ(p.config.timeoutMs, 2000u);
}

TEST(NetcanConfig, TakesTheConnectionSectionInAnySpelling)
{
    const Parsed p = Read("\xEF\xBB\xBF; written by an editor with a byte order mark\r\n"
                          "[Other]\r\nHost=elsewhere\r\nPort=1\r\n"
                          "[ connection ]\r\n"
                          "  HOST = raspberrypi.local \r\n"
                          "# a comment\r\n"
                          "port=12345\r\n"
                          "INTERFACE=vcan_1.x-2\r\n"
                          "TimeoutMs=250\r\n"
                          "Unknown=whatever\r\n"
                          "no equals sign here\r\n"
                          "[Later]\r\nInterface=ignored\r\n");
    EXPECT_EQ(p.valid, 1);
    EXPECT_STREQ(p.config.host, "raspberrypi.local");
    EXPECT_EQ(p.config.port, 12345);
    EXPECT_STREQ(p.config.interfaceName, "vcan_1.x-2");
    EXPECT_EQ(p.config.timeoutMs, 250u);
}

TEST(NetcanConfig, BadValuesAreRefusedAndNotTaken)
{
    struct Case {
        const char* line;
    };
    const Case cases[] = {
        {"Port=0"},          {"Port=65536"},
        {"Port=80a"},        {"Port="},
        {"Port=-1"},         {"TimeoutMs=0"},
        {"TimeoutMs=60001"}, {"TimeoutMs=99999999999"},
        {"Host="},           {"Host=two words"},
        {"Interface="},      {"Interface=can0 >< rawmode"},
        {"Interface=can<0"}, {"Interface=abcdefghijklmnopq"},  // 17 characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const Parsed p = Read(std::string("[Connection]\n") + c.line + "\n");
        EXPECT_EQ(p.valid, 0);
        NetcanConfig defaults;
        DefaultConfig(defaults);
        EXPECT_STREQ(p.config.host, defaults.host);
        EXPECT_EQ(p.config.port, defaults.port);
        EXPECT_STREQ(p.config.interfaceName, defaults.interfaceName);
        EXPECT_EQ(p.config.timeoutMs, defaults.timeoutMs);
    }
    // The longest interface name the server takes is accepted.
    EXPECT_EQ(Read("[Connection]\nInterface=abcdefghijklmnop\n").valid, 1);
}

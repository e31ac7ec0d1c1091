// The serial-line protocol text: frames both ways, answers, and the line parser fed as a
// port delivers bytes (split, joined, with noise between).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "slcan_codec.h"

using namespace slcan;

namespace {

DriverMsg Msg(std::uint32_t id, std::uint8_t type, std::vector<std::uint8_t> data)
{
    DriverMsg m;
    std::memset(&m, 0, sizeof m);
    m.id = id;
    m.msgType = type;
    m.length = static_cast<std::uint8_t>(data.size());
    for (std::size_t i = 0; i < data.size() && i < 8; ++i)
        m.data[i] = data[i];
    return m;
}

std::string Format(const DriverMsg& m)
{
    char text[kMaxFrameText];
    const std::size_t n = FormatFrame(m, text, sizeof text);
    return std::string(text, n);
}

std::vector<Line> Feed(LineParser& parser, const std::string& bytes)
{
    std::vector<Line> lines;
    Line line;
    for (char c : bytes) {
        if (FeedByte(parser, c, line))
            lines.push_back(line);
    }
    return lines;
}

TEST(SlcanCodec, FormatsEveryFrameForm)
{
    struct Case {
        DriverMsg msg;
        const char* text;
    };
    const Case cases[] = {
        {Msg(0x000, 0, {}), "t0000\r"},
        {Msg(0x7FF, 0, {0xFF}), "t7FF1FF\r"},
        {Msg(0x603, 0, {0x40, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00}), "t60384000100000000000\r"},
        {Msg(0x183, kMsgRemote, {0, 0, 0, 0}), "r1834\r"},
        {Msg(0x183, kMsgRemote, {}), "r1830\r"},
        {Msg(0x1FFFFFFF, kMsgExtended, {0xAB}), "T1FFFFFFF1AB\r"},
        {Msg(0x00000123, kMsgExtended | kMsgRemote, {0, 0, 0, 0, 0, 0, 0, 0}), "R000001238\r"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Format(c.msg), c.text);

    // No frame: nothing written.
    DriverMsg nine = Msg(0x123, 0, {});
    nine.length = 9;
    EXPECT_EQ(Format(nine), "");
    EXPECT_EQ(Format(Msg(0x800, 0, {})), "");
    EXPECT_EQ(Format(Msg(0x20000000, kMsgExtended, {})), "");
    EXPECT_EQ(Format(Msg(0x123, kMsgStatus, {})), "");
    char small[6];
    EXPECT_EQ(FormatFrame(Msg(0x123, 0, {}), small, sizeof small), 0u);  // "t1230\r" needs 7
    char exact[7];
    EXPECT_EQ(FormatFrame(Msg(0x123, 0, {}), exact, sizeof exact), 6u);
}

TEST(SlcanCodec, EveryLengthRoundTripsInEveryForm)
{
    for (std::uint8_t type : {std::uint8_t{0}, kMsgRemote, kMsgExtended, std::uint8_t(kMsgExtended | kMsgRemote)}) {
        for (std::uint8_t n = 0; n <= 8; ++n) {
            std::vector<std::uint8_t> data;
            for (std::uint8_t i = 0; i < n; ++i)
                data.push_back(static_cast<std::uint8_t>(0x5A ^ (i * 37)));
            const DriverMsg sent = Msg((type & kMsgExtended) ? 0x1234567u + n : 0x700u + n, type, data);
            const std::string text = Format(sent);
            ASSERT_FALSE(text.empty());
            for (const bool stamped : {false, true}) {
                const std::string line = text.substr(0, text.size() - 1) + (stamped ? "1F40" : "");
                DriverMsg got;
                std::uint8_t hasStamp = 9;
                std::uint16_t stamp = 0;
                ASSERT_TRUE(ParseFrame(line.data(), line.size(), got, hasStamp, stamp)) << line;
                EXPECT_EQ(got.id, sent.id);
                EXPECT_EQ(got.msgType, type);
                EXPECT_EQ(got.length, n);
                if ((type & kMsgRemote) == 0)
                    EXPECT_EQ(std::memcmp(got.data, sent.data, n), 0) << line;
                EXPECT_EQ(hasStamp, stamped ? 1 : 0);
                if (stamped)
                    EXPECT_EQ(stamp, 0x1F40);
            }
        }
    }
}

TEST(SlcanCodec, RefusesMalformedFrameLines)
{
    const char* bad[] = {
        "t",             // nothing after the letter
        "t12",           // short identifier
        "t1239",         // length above 8
        "t123A",         // length not a digit
        "t8000",         // 11-bit identifier above 0x7FF
        "T200000000",    // 29-bit identifier above 0x1FFFFFFF
        "t1232AA",       // one data byte short
        "t1231AAB",      // odd digit after the data
        "t1231AG",       // not hex
        "t1231AA12",     // two digits: neither nothing nor a time stamp
        "t1230EA60",     // time stamp above 0xEA5F
        "t1231AAFFFFF",  // five digits after the data
        "r1232AABBCC",   // a remote frame carries no data
        "x1230",
    };
    for (const char* text : bad) {
        DriverMsg msg;
        std::uint8_t stamped = 0;
        std::uint16_t stamp = 0;
        EXPECT_FALSE(ParseFrame(text, std::strlen(text), msg, stamped, stamp)) << text;
        EXPECT_EQ(ParseLine(text, std::strlen(text)).kind, LineKind::Malformed) << text;
    }
    // Lower-case hex from the device is fine.
    DriverMsg msg;
    std::uint8_t stamped = 0;
    std::uint16_t stamp = 0;
    ASSERT_TRUE(ParseFrame("t7ff1ab", 7, msg, stamped, stamp));
    EXPECT_EQ(msg.id, 0x7FFu);
    EXPECT_EQ(msg.data[0], 0xAB);
}

TEST(SlcanCodec, ClassifiesAnswers)
{
    LineParser parser;
    ClearParser(parser);
    const std::vector<Line> lines = Feed(parser, "\r\az\rZ\rF84\rV1013\rNA1B2\rFZZ\rV\r?\r");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0].kind, LineKind::Ok);
    EXPECT_EQ(lines[1].kind, LineKind::Error);
    EXPECT_EQ(lines[2].kind, LineKind::TransmitAck);
    EXPECT_EQ(lines[3].kind, LineKind::TransmitAck);
    EXPECT_EQ(lines[4].kind, LineKind::Flags);
    EXPECT_EQ(lines[4].flags, kFlagBusError | kFlagErrorWarning);
    EXPECT_EQ(lines[5].kind, LineKind::Version);
    EXPECT_STREQ(lines[5].text, "V1013");
    EXPECT_EQ(lines[6].kind, LineKind::Serial);
    EXPECT_STREQ(lines[6].text, "NA1B2");
    EXPECT_EQ(lines[7].kind, LineKind::Malformed);
    EXPECT_EQ(lines[8].kind, LineKind::Malformed);
    EXPECT_EQ(lines[9].kind, LineKind::Malformed);
}

TEST(SlcanCodec, ParserCopesWithSplitJoinedAndNoisyInput)
{
    LineParser parser;
    ClearParser(parser);
    // Byte by byte: nothing until the CR.
    const std::string frame = "t18324142";
    for (char c : frame)
        EXPECT_TRUE(Feed(parser, std::string(1, c)).empty());
    std::vector<Line> lines = Feed(parser, "\r");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].kind, LineKind::Frame);
    EXPECT_EQ(lines[0].msg.id, 0x183u);

    // Many in one read, LF after each (some firmware), noise between, a BEL cutting a
    // half line, an over-long line, and a frame straight after each of them.
    std::string bytes = "t1110\r\nt2221AA\r\n";
    bytes += "hello\rt3330\r";
    bytes += "t44\at5550\r";
    bytes += std::string(200, '7') + "\rt6660\r";
    bytes += std::string("\0\0", 2) + "t7770\r";
    lines = Feed(parser, bytes);
    std::vector<std::uint32_t> ids;
    std::vector<LineKind> kinds;
    for (const Line& l : lines) {
        kinds.push_back(l.kind);
        if (l.kind == LineKind::Frame)
            ids.push_back(l.msg.id);
    }
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{0x111, 0x222, 0x333, 0x555, 0x666, 0x777}));
    EXPECT_EQ(kinds, (std::vector<LineKind>{LineKind::Frame, LineKind::Frame, LineKind::Malformed, LineKind::Frame,
                                            LineKind::Error, LineKind::Frame, LineKind::Malformed, LineKind::Frame,
                                            LineKind::Frame}));

    // A line of exactly kMaxLineLength characters is still looked at; one more is not.
    std::string longest = "T1ABCDEF08" + std::string(16, '0') + "EA5F";
    longest += std::string(kMaxLineLength - longest.size(), '0');
    lines = Feed(parser, longest + "\r" + longest + "0\r");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].kind, LineKind::Malformed);  // parsed, and too long to be a frame
    EXPECT_EQ(lines[1].kind, LineKind::Malformed);  // dropped unparsed
    const std::string stamped = "T1ABCDEF08" + std::string(16, '0') + "EA5F";
    lines = Feed(parser, stamped + "\r");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].kind, LineKind::Frame);
    EXPECT_EQ(lines[0].hasTimestamp, 1);
    EXPECT_EQ(lines[0].timestamp, kMaxTimestamp);
}

}  // namespace

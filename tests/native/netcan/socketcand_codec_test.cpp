// The socketcand text both ways: the commands the driver writes for driver records, the
// records it makes of the server's elements, and how it cuts a byte stream into elements.
#include "socketcand_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace netcan;

namespace {

DriverMsg Msg(std::uint32_t id, std::uint8_t type, std::vector<std::uint8_t> data)
{
    DriverMsg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.id = id;
    msg.msgType = type;
    msg.length = static_cast<std::uint8_t>(data.size());
    for (std::size_t i = 0; i < data.size() && i < 8; ++i)
        msg.data[i] = data[i];
    return msg;
}

std::string Format(const DriverMsg& msg)
{
    char text[kMaxCommandLength];
    const std::size_t n = FormatSendCommand(msg, text, sizeof text);
    EXPECT_EQ(n, std::strlen(text));
    return text;
}

Element Parse(const std::string& inner)
{
    return ParseElement(inner.data(), inner.size());
}

std::string Bytes(const DriverMsg& msg)
{
    std::string s;
    char pair[4];
    for (int i = 0; i < msg.length; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", msg.data[i]);
        s += pair;
    }
    return s;
}

}  // namespace

TEST(SocketcandFormat, DataFramesCarryHexIdentifierDecimalLengthAndHexBytes)
{
    struct Case {
        DriverMsg msg;
        const char* expected;
    };
    const Case cases[] = {
        {Msg(0x000, 0, {0x01, 0x00}), "< send 000 2 01 00 >"},
        {Msg(0x123, 0, {}), "< send 123 0 >"},
        {Msg(0x603, 0, {0x40, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00}), "< send 603 8 40 00 10 00 00 00 00 00 >"},
        {Msg(0x7FF, 0, {0xAB}), "< send 7FF 1 AB >"},
        {Msg(0x5, 0, {0xFF, 0xEE, 0xDD}), "< send 005 3 FF EE DD >"},
        // Extended identifiers always take 8 digits, even small ones.
        {Msg(0x1AAAAAAA, kMsgExtended, {0x01, 0xF1}), "< send 1AAAAAAA 2 01 F1 >"},
        {Msg(0x123, kMsgExtended, {}), "< send 00000123 0 >"},
        // Remote frames ask for `length` bytes and carry none.
        {Msg(0x183, kMsgRemote, {0, 0, 0, 0}), "< sendrtr 183 4 >"},
        {Msg(0x1FFFFFFF, kMsgRemote | kMsgExtended, {}), "< sendrtr 1FFFFFFF 0 >"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Format(c.msg), c.expected);
}

TEST(SocketcandFormat, EveryLengthFromZeroToEight)
{
    std::string expected = "< send 181 0";
    for (std::uint8_t n = 0; n <= 8; ++n) {
        std::vector<std::uint8_t> data;
        for (std::uint8_t i = 0; i < n; ++i)
            data.push_back(static_cast<std::uint8_t>(0x10 * i + n));
        std::string want = "< send 181 " + std::to_string(n);
        for (std::uint8_t b : data) {
            char pair[4];
            std::snprintf(pair, sizeof pair, " %02X", b);
            want += pair;
        }
        EXPECT_EQ(Format(Msg(0x181, 0, data)), want + " >");
    }
}

TEST(SocketcandFormat, RecordsThatAreNoFrameAreRefused)
{
    char text[kMaxCommandLength] = "untouched";
    DriverMsg tooLong = Msg(0x100, 0, {});
    tooLong.length = 9;
    EXPECT_EQ(FormatSendCommand(tooLong, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(FormatSendCommand(Msg(0x800, 0, {1}), text, sizeof text), 0u);  // 12 bits, standard
    EXPECT_EQ(FormatSendCommand(Msg(0x20000000, kMsgExtended, {1}), text, sizeof text), 0u);
    EXPECT_EQ(FormatSendCommand(Msg(0x100, kMsgStatus, {1, 2, 3, 4}), text, sizeof text), 0u);
    // Too little room is refused rather than cut.
    char small[12];
    EXPECT_EQ(FormatSendCommand(Msg(0x100, 0, {1, 2, 3}), small, sizeof small), 0u);
    EXPECT_STREQ(small, "");
}

TEST(SocketcandParse, HandshakeAndOtherElements)
{
    EXPECT_EQ(Parse(" hi ").kind, ElementKind::Hi);
    EXPECT_EQ(Parse("ok").kind, ElementKind::Ok);
    EXPECT_EQ(Parse(" echo ").kind, ElementKind::Other);
    EXPECT_EQ(Parse(" stat 1 2 3 4 ").kind, ElementKind::Other);
    EXPECT_EQ(Parse(" hi there ").kind, ElementKind::Other);
    EXPECT_EQ(Parse("   ").kind, ElementKind::Malformed);

    const Element refused = Parse(" error unknown command ");
    EXPECT_EQ(refused.kind, ElementKind::Error);
    EXPECT_EQ(refused.hasErrorClass, 0);
    const Element busOff = Parse(" error 040 1700000000.000001 ");
    EXPECT_EQ(busOff.kind, ElementKind::Error);
    EXPECT_EQ(busOff.hasErrorClass, 1);
    EXPECT_EQ(busOff.errorClass, kErrorClassBusOff);
}

TEST(SocketcandParse, ReceivedFramesInTheFormsServersWrite)
{
    struct Case {
        const char* inner;
        std::uint32_t id;
        std::uint8_t type;
        std::uint8_t length;
        const char* data;
    };
    const Case cases[] = {
        // The server's own form: data as one run of hex pairs, maybe none (two blanks).
        {" frame 583 1700000000.123456 4B00100091000000 ", 0x583, 0, 8, "4B00100091000000"},
        {" frame 703 23.424242  ", 0x703, 0, 0, ""},
        {" frame 000 0.000000 0103 ", 0x000, 0, 2, "0103"},
        {" frame 7FF 1.5 aa ", 0x7FF, 0, 1, "AA"},
        // The documented form: one pair per word.
        {" frame 123 23.424242 11 22 33 44 ", 0x123, 0, 4, "11223344"},
        // 8 digits: an extended identifier.
        {" frame 1ABCDEF0 5.000001 01 ", 0x1ABCDEF0, kMsgExtended, 1, "01"},
        {" frame 00000123 5.000001 ", 0x123, kMsgExtended, 0, ""},
        // Remote frames: the length they ask for, no data.
        {" rtr 183 23.424242 4 ", 0x183, kMsgRemote, 4, ""},
        {" rtr 10000183 1.0 0 ", 0x10000183, kMsgRemote | kMsgExtended, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inner);
        const Element e = Parse(c.inner);
        ASSERT_EQ(e.kind, ElementKind::Frame);
        EXPECT_EQ(e.msg.id, c.id);
        EXPECT_EQ(e.msg.msgType, c.type);
        EXPECT_EQ(e.msg.length, c.length);
        if (c.type & kMsgRemote)
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.msg.data), 8), std::string(8, '\0'));
        else
            EXPECT_EQ(Bytes(e.msg), c.data);
        EXPECT_EQ(e.msg.reserved[0], 0);
        EXPECT_EQ(e.msg.reserved[1], 0);
    }
}

TEST(SocketcandParse, BrokenFramesAreMalformed)
{
    const char* const cases[] = {
        " frame ",                              // nothing after the keyword
        " frame 123 ",                          // no time stamp
        " frame 123 12:00 0102 ",               // time stamp not seconds.microseconds
        " frame 123 1.0.0 0102 ",               // two dots
        " frame 800 1.0 01 ",                   // 12 bits without 8 digits
        " frame 2FFFFFFF 1.0 01 ",              // more than 29 bits
        " frame 123456789 1.0 01 ",             // 9 digits
        " frame 12G 1.0 01 ",                   // not hex
        " frame 123 1.0 010 ",                  // half a byte
        " frame 123 1.0 0102030405060708 09 ",  // 9 bytes
        " frame 123 1.0 0x01 ",                 // not a hex pair
        " rtr 123 1.0 ",                        // no length
        " rtr 123 1.0 9 ",                      // more than 8
        " rtr 123 1.0 4 5 ",                    // extra word
    };
    for (const char* inner : cases) {
        SCOPED_TRACE(inner);
        EXPECT_EQ(Parse(inner).kind, ElementKind::Malformed);
    }
}

namespace {

// Feeds `stream` into a buffer in pieces of `piece` bytes and collects every element.
std::vector<std::string> Cut(const std::string& stream, std::size_t piece)
{
    ElementBuffer buffer;
    ClearElementBuffer(buffer);
    std::vector<std::string> elements;
    char text[kMaxElementLength + 1];
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const std::string part = stream.substr(at, piece);
        EXPECT_GE(Room(buffer), part.size());
        std::memcpy(RoomAt(buffer), part.data(), part.size());
        Commit(buffer, part.size());
        for (int n = TakeElement(buffer, text); n >= 0; n = TakeElement(buffer, text))
            elements.emplace_back(text, static_cast<std::size_t>(n));
    }
    return elements;
}

}  // namespace

TEST(SocketcandStream, ElementsBackToBackOrSeparatedInAnyPieces)
{
    // The server writes elements back to back; other servers put line ends between them.
    const std::string joined = "< hi >< ok >< frame 181 1.0 01 >< frame 182 1.0  >";
    const std::string spaced = "< hi >\n< ok >\r\n  < frame 181 1.0 01 >\n< frame 182 1.0  >\n";
    const std::vector<std::string> expected = {" hi ", " ok ", " frame 181 1.0 01 ", " frame 182 1.0  "};
    for (std::size_t piece = 1; piece <= joined.size(); ++piece) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(Cut(joined, piece), expected);
        EXPECT_EQ(Cut(spaced, piece), expected);
    }
}

TEST(SocketcandStream, GarbageTooLongAndInterruptedElementsAreDropped)
{
    const std::string tooLong = "< frame " + std::string(200, '1') + " >";
    const std::string stream = "noise before< ok >junk > more" + tooLong + "< half < frame 181 1.0 02 >tail";
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{64}, stream.size()}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(Cut(stream, piece), (std::vector<std::string>{" ok ", " frame 181 1.0 02 "}));
    }
}

TEST(SocketcandStream, AFullBufferOfOneUnclosedElementDoesNotStall)
{
    ElementBuffer buffer;
    ClearElementBuffer(buffer);
    std::memset(RoomAt(buffer), 'x', Room(buffer));
    RoomAt(buffer)[0] = '<';
    Commit(buffer, Room(buffer));
    char text[kMaxElementLength + 1];
    EXPECT_EQ(TakeElement(buffer, text), -1);
    EXPECT_GT(Room(buffer), 0u);  // room again for what follows
    const std::string next = "< ok >";
    std::memcpy(RoomAt(buffer), next.data(), next.size());
    Commit(buffer, next.size());
    EXPECT_EQ(TakeElement(buffer, text), 4);
    EXPECT_STREQ(text, " ok ");
}

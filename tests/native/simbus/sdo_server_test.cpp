// The virtual slaves' SDO server, frame by frame, on the default network (node 3 the
// I/O module, node 5 the drive).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_support.h"

namespace {

using simbus_test::Frame;
using simbus_test::SimBusTest;

using SdoServer = SimBusTest;

TEST_F(SdoServer, AnswersEachRequestAsADevice)
{
    struct Case {
        const char* what;
        std::uint8_t node;
        std::vector<std::uint8_t> request;
        const char* response;
    };
    const Case cases[] = {
        {"expedited upload", 3, {0x40, 0x00, 0x10, 0x00}, "583 8: 43 00 10 00 91 01 0F 00"},
        {"expedited upload, 1 byte", 3, {0x40, 0x18, 0x10, 0x00}, "583 8: 4F 18 10 00 04 00 00 00"},
        {"expedited upload, 2 bytes", 5, {0x40, 0x17, 0x10, 0x00}, "585 8: 4B 17 10 00 00 00 00 00"},
        {"object does not exist", 3, {0x40, 0x34, 0x12, 0x00}, "583 8: 80 34 12 00 00 00 02 06"},
        {"PDO of another node's layout", 5, {0x40, 0x01, 0x18, 0x01}, "585 8: 80 01 18 01 00 00 02 06"},
        {"subindex does not exist", 3, {0x40, 0x18, 0x10, 0x07}, "583 8: 80 18 10 07 11 00 09 06"},
        {"read of a write-only object", 5, {0x40, 0x01, 0x20, 0x00}, "585 8: 80 01 20 00 01 00 01 06"},
        {"write to read-only", 3, {0x23, 0x00, 0x10, 0x00, 1, 2, 3, 4}, "583 8: 80 00 10 00 02 00 01 06"},
        {"write to const", 3, {0x2F, 0x18, 0x10, 0x00, 1}, "583 8: 80 18 10 00 02 00 01 06"},
        {"write to const string, segmented", 3, {0x21, 0x08, 0x10, 0x00, 5}, "583 8: 80 08 10 00 02 00 01 06"},
        {"4 bytes into UNSIGNED16", 3, {0x23, 0x17, 0x10, 0x00, 1, 0, 0, 0}, "583 8: 80 17 10 00 12 00 07 06"},
        {"1 byte into UNSIGNED16", 3, {0x2F, 0x17, 0x10, 0x00, 1}, "583 8: 80 17 10 00 13 00 07 06"},
        {"2 bytes into UNSIGNED16", 3, {0x2B, 0x17, 0x10, 0x00, 0xE8, 0x03}, "583 8: 60 17 10 00 00 00 00 00"},
        {"no size: the object's own", 3, {0x22, 0x17, 0x10, 0x00, 0xE8, 0x03, 9, 9}, "583 8: 60 17 10 00 00 00 00 00"},
        {"master's 255 into 1400sub2", 3, {0x23, 0x00, 0x14, 0x02, 0xFF}, "583 8: 80 00 14 02 12 00 07 06"},
        {"segmented size mismatch", 3, {0x21, 0x17, 0x10, 0x00, 5}, "583 8: 80 17 10 00 12 00 07 06"},
        {"string longer than the room", 5, {0x21, 0x00, 0x20, 0x00, 0x01, 0x04}, "585 8: 80 00 20 00 12 00 07 06"},
        {"block upload", 3, {0xA0, 0x00, 0x10, 0x00}, "583 8: 80 00 10 00 01 00 04 05"},
        {"block download", 3, {0xC6, 0x00, 0x20, 0x00}, "583 8: 80 00 20 00 01 00 04 05"},
        {"command specifier 7", 3, {0xE0, 0x00, 0x10, 0x00}, "583 8: 80 00 10 00 01 00 04 05"},
        {"segment without a transfer", 3, {0x60}, "583 8: 80 17 10 00 01 00 04 05"},  // last index
        {"abort from the client", 3, {0x80, 0x00, 0x10, 0x00, 0, 0, 4, 5}, ""},
    };
    for (const Case& c : cases) {
        DriverMsg request = Frame(0x600u + c.node, {});
        request.length = 8;
        std::copy(c.request.begin(), c.request.end(), request.data);
        EXPECT_EQ(Exchange(request), c.response) << c.what;
    }
}

TEST_F(SdoServer, IgnoresRequestsThatAreNotEightBytes)
{
    for (const std::uint8_t length : std::initializer_list<std::uint8_t>{0, 4, 7}) {
        DriverMsg request = Frame(0x603, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0});
        request.length = length;
        EXPECT_EQ(Exchange(request), "") << int{length};
    }
    EXPECT_EQ(Exchange(simbus_test::Remote(0x603, 8)), "");
}

TEST_F(SdoServer, SegmentedUploadOfAString)
{
    EXPECT_EQ(Sdo(3, {0x40, 0x08, 0x10, 0x00}), "583 8: 41 08 10 00 15 00 00 00");  // 21 bytes
    EXPECT_EQ(Sdo(3, {0x60}), "583 8: 00 53 69 6D 49 4F 20 38");                    // "SimIO 8"
    EXPECT_EQ(Sdo(3, {0x70}), "583 8: 10 44 49 20 38 44 4F 20");                    // "DI 8DO "
    EXPECT_EQ(Sdo(3, {0x60}), "583 8: 01 32 41 49 20 32 41 4F");                    // "2AI 2AO", last
    EXPECT_EQ(Sdo(3, {0x70}), "583 8: 80 08 10 00 01 00 04 05");                    // over
    // The first segment request must carry toggle 0.
    EXPECT_EQ(Sdo(3, {0x40, 0x08, 0x10, 0x00}), "583 8: 41 08 10 00 15 00 00 00");
    EXPECT_EQ(Sdo(3, {0x70}), "583 8: 80 08 10 00 00 00 03 05");
    EXPECT_EQ(Sdo(3, {0x60}), "583 8: 80 08 10 00 01 00 04 05");  // the transfer is over
}

TEST_F(SdoServer, SegmentedUploadEndsWithAShortLastSegment)
{
    // 0x2000 of node 5: 119 characters, 17 segments, the last with 0 unused bytes.
    ASSERT_EQ(Sdo(5, {0x40, 0x00, 0x20, 0x00}), "585 8: 41 00 20 00 77 00 00 00");
    std::string text;
    for (int segment = 0; segment < 17; ++segment) {
        const std::uint8_t toggle = static_cast<std::uint8_t>((segment % 2) << 4);
        DriverMsg request = Frame(0x605, {static_cast<std::uint8_t>(0x60 | toggle), 0, 0, 0, 0, 0, 0, 0});
        ASSERT_EQ(Write(request), 0u);
        DriverMsg response{};
        ASSERT_EQ(simbus::AdapterRead(*world, &response, now), 0u);
        const std::uint8_t unused = (response.data[0] >> 1) & 7;
        EXPECT_EQ(response.data[0] & 0x10, toggle) << segment;
        EXPECT_EQ(response.data[0] & 1, segment == 16 ? 1 : 0) << segment;
        text.append(reinterpret_cast<const char*>(response.data + 1), 7u - unused);
    }
    EXPECT_EQ(text.size(), 119u);
    EXPECT_EQ(text.substr(0, 17), "SimDrive virtual ");
}

TEST_F(SdoServer, SegmentedDownloadThenUploadOfAString)
{
    // "Velomar!!" (9 bytes): initiate with size, segments of 7 and 2.
    EXPECT_EQ(Sdo(5, {0x21, 0x00, 0x20, 0x00, 9, 0, 0, 0}), "585 8: 60 00 20 00 00 00 00 00");
    EXPECT_EQ(Sdo(5, {0x00, 'V', 'e', 'l', 'o', 'm', 'a', 'r'}), "585 8: 20 00 00 00 00 00 00 00");
    EXPECT_EQ(Sdo(5, {0x1B, '!', '!'}), "585 8: 30 00 00 00 00 00 00 00");
    EXPECT_EQ(Sdo(5, {0x40, 0x00, 0x20, 0x00}), "585 8: 41 00 20 00 09 00 00 00");
    EXPECT_EQ(Sdo(5, {0x60}), "585 8: 00 56 65 6C 6F 6D 61 72");
    EXPECT_EQ(Sdo(5, {0x70}), "585 8: 1B 21 21 00 00 00 00 00");
    // Short strings go expedited both ways.
    EXPECT_EQ(Sdo(5, {0x27, 0x00, 0x20, 0x00, 'a', 'b', 'c'}), "585 8: 60 00 20 00 00 00 00 00");
    EXPECT_EQ(Sdo(5, {0x40, 0x00, 0x20, 0x00}), "585 8: 47 00 20 00 61 62 63 00");
}

TEST_F(SdoServer, SegmentedDownloadFaults)
{
    struct Step {
        std::vector<std::uint8_t> request;
        const char* response;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"announced 10, sent 9",
         {{{0x21, 0x00, 0x20, 0x00, 10}, "585 8: 60 00 20 00 00 00 00 00"},
          {{0x00, 1, 2, 3, 4, 5, 6, 7}, "585 8: 20 00 00 00 00 00 00 00"},
          {{0x1B, 8, 9}, "585 8: 80 00 20 00 10 00 07 06"}}},
        {"toggle not alternated",
         {{{0x21, 0x00, 0x20, 0x00, 14}, "585 8: 60 00 20 00 00 00 00 00"},
          {{0x00, 1, 2, 3, 4, 5, 6, 7}, "585 8: 20 00 00 00 00 00 00 00"},
          {{0x01, 1, 2, 3, 4, 5, 6, 7}, "585 8: 80 00 20 00 00 00 03 05"},
          {{0x11, 1, 2, 3, 4, 5, 6, 7}, "585 8: 80 00 20 00 01 00 04 05"}}},
        {"segmented number of the wrong size, no size given",
         {{{0x20, 0x17, 0x10, 0x00}, "585 8: 60 17 10 00 00 00 00 00"},
          {{0x07, 1, 2, 3, 4, 5, 6, 7}, "585 8: 80 17 10 00 12 00 07 06"}}},
        {"a new initiate replaces the transfer",
         {{{0x21, 0x00, 0x20, 0x00, 20}, "585 8: 60 00 20 00 00 00 00 00"},
          {{0x40, 0x00, 0x10, 0x00}, "585 8: 43 00 10 00 92 01 02 00"},
          {{0x00, 1, 2, 3, 4, 5, 6, 7}, "585 8: 80 00 10 00 01 00 04 05"}}},
    };
    for (const Case& c : cases) {
        for (const Step& step : c.steps) {
            DriverMsg request = Frame(0x605, {});
            request.length = 8;
            std::copy(step.request.begin(), step.request.end(), request.data);
            EXPECT_EQ(Exchange(request), step.response) << c.what;
        }
    }
    // None of the failed downloads changed the text.
    EXPECT_EQ(Sdo(5, {0x40, 0x00, 0x20, 0x00}), "585 8: 41 00 20 00 77 00 00 00");
}

TEST_F(SdoServer, LongestStringFitsAndOneMoreByteDoesNot)
{
    const std::uint32_t longest = simbus::kMaxValueBytes;
    for (const std::uint32_t size : {longest, longest + 1}) {
        ASSERT_EQ(
            Sdo(5, {0x21, 0x00, 0x20, 0x00, static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8)}),
            size > longest ? "585 8: 80 00 20 00 12 00 07 06" : "585 8: 60 00 20 00 00 00 00 00");
    }
    // Without a size the room runs out at the segment that overflows it.
    ASSERT_EQ(Sdo(5, {0x20, 0x00, 0x20, 0x00}), "585 8: 60 00 20 00 00 00 00 00");
    std::uint32_t sent = 0;
    std::string last;
    for (std::uint8_t toggle = 0; sent <= longest; toggle ^= 0x10, sent += 7)
        last = Sdo(5, {toggle, 'x', 'x', 'x', 'x', 'x', 'x', 'x'});
    EXPECT_EQ(last, "585 8: 80 00 20 00 12 00 07 06");
}

TEST_F(SdoServer, TestModesBendTheResponses)
{
    struct Case {
        std::uint32_t mode;
        std::uint32_t param;
        std::vector<std::uint8_t> request;
        const char* response;
    };
    const Case cases[] = {
        {kSimNodeNormal, 0, {0x40, 0x00, 0x10, 0x00}, "583 8: 43 00 10 00 91 01 0F 00"},
        {kSimNodeSdoLength7, 0, {0x40, 0x00, 0x10, 0x00}, "583 7: 43 00 10 00 91 01 0F"},
        {kSimNodeWrongIndex, 0, {0x40, 0x00, 0x10, 0x00}, "583 8: 43 01 10 00 91 01 0F 00"},
        {kSimNodeWrongIndex, 0, {0x40, 0x34, 0x12, 0x00}, "583 8: 80 35 12 00 00 00 02 06"},
        {kSimNodeAnnounce1001, 0, {0x40, 0x00, 0x10, 0x00}, "583 8: 41 00 10 00 E9 03 00 00"},
        {kSimNodeSizeMismatch, 0, {0x40, 0x00, 0x10, 0x00}, "583 8: 41 00 10 00 05 00 00 00"},
        {kSimNodeAbortAll, 0x08000020, {0x40, 0x00, 0x10, 0x00}, "583 8: 80 00 10 00 20 00 00 08"},
        {kSimNodeAbortAll, 0x06090030, {0x2B, 0x17, 0x10, 0x00, 1, 2}, "583 8: 80 17 10 00 30 00 09 06"},
        {kSimNodeSilent, 0, {0x40, 0x00, 0x10, 0x00}, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(simbus::SetNodeMode(*world, 3, c.mode, c.param), 0u);
        DriverMsg request = Frame(0x603, {});
        request.length = 8;
        std::copy(c.request.begin(), c.request.end(), request.data);
        EXPECT_EQ(Exchange(request), c.response) << "mode " << c.mode;
    }
    EXPECT_EQ(simbus::SetNodeMode(*world, 4, kSimNodeSilent, 0), kSimIllegalParameter);
    EXPECT_EQ(simbus::SetNodeMode(*world, 3, kSimNodeUnsizedUploads + 1, 0), kSimIllegalParameter);
}

TEST_F(SdoServer, SegmentModes)
{
    // Bad toggle: the first segment comes back with toggle 1.
    ASSERT_EQ(simbus::SetNodeMode(*world, 3, kSimNodeBadToggle, 0), 0u);
    ASSERT_EQ(Sdo(3, {0x40, 0x08, 0x10, 0x00}), "583 8: 41 08 10 00 15 00 00 00");
    EXPECT_EQ(Sdo(3, {0x60}), "583 8: 10 53 69 6D 49 4F 20 38");

    // Size mismatch: 22 announced, 21 sent, the last segment marked.
    ASSERT_EQ(simbus::SetNodeMode(*world, 3, kSimNodeSizeMismatch, 0), 0u);
    ASSERT_EQ(Sdo(3, {0x40, 0x08, 0x10, 0x00}), "583 8: 41 08 10 00 16 00 00 00");
    Sdo(3, {0x60});
    Sdo(3, {0x70});
    EXPECT_EQ(Sdo(3, {0x60}), "583 8: 01 32 41 49 20 32 41 4F");

    // Endless: 200 segments, none of them the last.
    ASSERT_EQ(simbus::SetNodeMode(*world, 3, kSimNodeEndlessSegments, 0), 0u);
    ASSERT_EQ(Sdo(3, {0x40, 0x00, 0x10, 0x00}), "583 8: 41 00 10 00 04 00 00 00");
    std::uint8_t toggle = 0;
    for (int i = 0; i < 200; ++i, toggle ^= 0x10) {
        const std::string response = Sdo(3, {static_cast<std::uint8_t>(0x60 | toggle)});
        ASSERT_EQ(response.substr(0, 8), toggle ? "583 8: 1" : "583 8: 0") << i;
        ASSERT_EQ(response.substr(8, 1), "0") << i;  // 7 bytes, not the last
    }
}

// A correct slave may leave the size out of a segmented upload: 0x40 and four zero
// bytes, then the same segments. Short objects still go expedited with their size.
TEST_F(SdoServer, UnsizedUploadsLeaveTheSizeOut)
{
    ASSERT_EQ(simbus::SetNodeMode(*world, 3, kSimNodeUnsizedUploads, 0), 0u);
    ASSERT_EQ(Sdo(3, {0x40, 0x08, 0x10, 0x00}), "583 8: 40 08 10 00 00 00 00 00");
    EXPECT_EQ(Sdo(3, {0x60}), "583 8: 00 53 69 6D 49 4F 20 38");
    Sdo(3, {0x70});
    EXPECT_EQ(Sdo(3, {0x60}), "583 8: 01 32 41 49 20 32 41 4F");
    EXPECT_EQ(Sdo(3, {0x40, 0x00, 0x10, 0x00}), "583 8: 43 00 10 00 91 01 0F 00");
}

TEST_F(SdoServer, DelayedNodeAnswersWhenDue)
{
    ASSERT_EQ(simbus::SetNodeMode(*world, 3, kSimNodeDelayed, 200), 0u);
    EXPECT_EQ(Sdo(3, {0x40, 0x00, 0x10, 0x00}), "");
    now += 199;
    EXPECT_TRUE(ReadAll().empty());
    // Node 5 answers at once, ahead of node 3's late answer.
    EXPECT_EQ(Sdo(5, {0x40, 0x00, 0x10, 0x00}), "585 8: 43 00 10 00 92 01 02 00");
    now += 1;
    EXPECT_EQ(ReadAll(), std::vector<std::string>{"583 8: 43 00 10 00 91 01 0F 00"});
}

}  // namespace

// The serial driver's receive parser on arbitrary bytes from the port: no line longer
// than its buffer, every frame it takes within the protocol's limits, and every frame
// formatted again and parsed back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "slcan_codec.h"

using namespace slcan;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckFrame(const Line& line)
{
    const DriverMsg& m = line.msg;
    Check(m.length <= 8);
    Check((m.msgType & ~(kMsgRemote | kMsgExtended)) == 0);
    Check(m.id <= ((m.msgType & kMsgExtended) != 0 ? 0x1FFFFFFFu : 0x7FFu));
    Check(!line.hasTimestamp || line.timestamp <= kMaxTimestamp);
    char text[kMaxFrameText];
    const std::size_t n = FormatFrame(m, text, sizeof text);
    Check(n >= 2 && n < sizeof text && text[n - 1] == kCr);
    DriverMsg again;
    std::uint8_t stamped = 1;
    std::uint16_t stamp = 0;
    Check(ParseFrame(text, n - 1, again, stamped, stamp));
    Check(stamped == 0);
    Check(again.id == m.id && again.msgType == m.msgType && again.length == m.length);
    if ((m.msgType & kMsgRemote) == 0)
        Check(std::memcmp(again.data, m.data, m.length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LineParser parser;
    ClearParser(parser);
    Line line;
    for (std::size_t i = 0; i < size; ++i) {
        const bool complete = FeedByte(parser, static_cast<char>(data[i]), line);
        Check(parser.used <= kMaxLineLength);
        if (!complete)
            continue;
        switch (line.kind) {
        case LineKind::Frame:
            CheckFrame(line);
            break;
        case LineKind::Version:
        case LineKind::Serial:
            Check(std::strlen(line.text) <= kMaxLineLength);
            break;
        default:
            break;
        }
    }
    return 0;
}

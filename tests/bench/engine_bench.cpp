// Engine micro-benchmarks: the cost of one idle cycle and of whole transfers, with the
// slave's answers fed straight back into the engine (no bus, no driver).
#include <benchmark/benchmark.h>

#include <cstring>

#include "emergency.h"
#include "error_control.h"
#include "frame_routing.h"
#include "node_table.h"
#include "sdo_client.h"

namespace {

NodeTable table;
CanFrame lastSent;

int KeepFrame(const CanFrame& frame)
{
    lastSent = frame;
    return 1;
}

CanFrame Response(std::initializer_list<std::uint8_t> bytes)
{
    CanFrame frame{};
    frame.id = 0x583;
    frame.length = 8;
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        frame.data[i++] = b;
    return frame;
}

void BM_IdleCycle(benchmark::State& state)
{
    ClearNodeTable(table);
    SetSendHook(KeepFrame);
    for (auto _ : state)
        benchmark::DoNotOptimize(RunEngineCycle(table, nullptr));
}
BENCHMARK(BM_IdleCycle);

// The same idle cycle with the consumers' step the bus pump adds to it: heartbeat
// supervision of one node and its emergency log, as the node monitor runs them. The
// difference to BM_IdleCycle is what the consumers cost.
void BM_IdleCycleWithConsumers(benchmark::State& state)
{
    ClearNodeTable(table);
    SetSendHook(KeepFrame);
    std::uint32_t now = 1000;
    WatchHeartbeat(MasterErrorControl(), 3, 1500, now);
    WatchEmergencies(MasterEmergencyLog(), 3);
    CanFrame heartbeat{};
    heartbeat.id = 0x703;
    heartbeat.length = 1;
    heartbeat.data[0] = 0x05;
    RouteToConsumers(heartbeat, now);
    for (auto _ : state) {
        benchmark::DoNotOptimize(RunEngineCycle(table, nullptr));
        benchmark::DoNotOptimize(StepConsumers(++now));
        // A heartbeat now and then keeps the supervision from reporting a loss.
        if ((now & 1023u) == 0)
            RouteToConsumers(heartbeat, now);
    }
    StopErrorControl(MasterErrorControl());
    WatchEmergencies(MasterEmergencyLog(), 0);
}
BENCHMARK(BM_IdleCycleWithConsumers);

// One received frame offered to the consumers: an emergency of the watched node.
void BM_RouteEmergency(benchmark::State& state)
{
    WatchEmergencies(MasterEmergencyLog(), 3);
    CanFrame emergency{};
    emergency.id = 0x083;
    emergency.length = 8;
    emergency.data[0] = 0x10;
    emergency.data[1] = 0x81;
    std::uint32_t now = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(RouteToConsumers(emergency, ++now));
    WatchEmergencies(MasterEmergencyLog(), 0);
}
BENCHMARK(BM_RouteEmergency);

// Request, initiate frame out through the hook, response in, fetch: what one pump loop
// of an expedited read costs the master.
void BM_ExpeditedUpload(benchmark::State& state)
{
    ClearNodeTable(table);
    SetSendHook(KeepFrame);
    const CanFrame response = Response({0x43, 0x00, 0x10, 0x00, 0x91, 0x01, 0x0F, 0x00});
    std::uint8_t buffer[4];
    std::uint32_t length = 0, abortCode = 0;
    std::uint8_t status = 0;
    for (auto _ : state) {
        RequestUpload(3, 500, table, 0x1000, 0);
        RunEngineCycle(table, nullptr);  // initiate upload goes out
        RunEngineCycle(table, &response);
        RunEngineCycle(table, nullptr);
        if (FetchSdoResult(3, table, buffer, sizeof buffer, length, status, abortCode) == 0)
            state.SkipWithError("transfer did not end");
    }
}
BENCHMARK(BM_ExpeditedUpload);

void BM_SegmentedUpload1000(benchmark::State& state)
{
    ClearNodeTable(table);
    SetSendHook(KeepFrame);
    const CanFrame initiate = Response({0x41, 0x00, 0x20, 0x00, 0xE8, 0x03, 0x00, 0x00});
    CanFrame segment = Response({0, 1, 2, 3, 4, 5, 6, 7});
    static std::uint8_t buffer[1000];
    std::uint32_t length = 0, abortCode = 0;
    std::uint8_t status = 0;
    for (auto _ : state) {
        RequestUpload(3, 500, table, 0x2000, 0);
        RunEngineCycle(table, nullptr);
        RunEngineCycle(table, &initiate);
        RunEngineCycle(table, nullptr);
        std::uint32_t offset = 0;
        std::uint8_t toggle = 0;
        while (offset < 1000) {
            const std::uint32_t count = 1000 - offset < 7 ? 1000 - offset : 7;
            const bool last = offset + count == 1000;
            segment.data[0] = static_cast<std::uint8_t>((toggle << 4) | ((7 - count) << 1) | (last ? 1 : 0));
            RunEngineCycle(table, &segment);
            RunEngineCycle(table, nullptr);
            offset += count;
            toggle ^= 1;
        }
        if (FetchSdoResult(3, table, buffer, sizeof buffer, length, status, abortCode) == 0 || length != 1000)
            state.SkipWithError("transfer did not end");
    }
}
BENCHMARK(BM_SegmentedUpload1000);

}  // namespace

BENCHMARK_MAIN();

// Engine micro-benchmarks: the cost of one idle cycle and of whole transfers, with the
// slave's answers fed straight back into the engine (no bus, no driver); and a Fastscan
// against a simulated device, on a simulated clock.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "byte_order.h"
#include "emergency.h"
#include "error_control.h"
#include "frame_routing.h"
#include "lss_master.h"
#include "network.h"
#include "node_table.h"
#include "object_dictionary.h"
#include "sdo_client.h"
#include "virtual_bus.h"

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

bool ReadEmbeddedEds(const std::string& name, void*, std::string& text)
{
    const std::string_view eds = simbus::FindEmbeddedEds(name);
    text.assign(eds.begin(), eds.end());
    return !eds.empty();
}

// One device without a node-ID on a simulated bus at 125 kbit/s: the I/O module's identity
// (mostly 0 bits, as small numbers have), or one with as many 1 bits as 0 bits, each of
// which costs a step without an answer.
std::unique_ptr<simbus::World> FastscanBus(bool halfOnes)
{
    auto world = std::make_unique<simbus::World>();
    simbus::ResetSimulation(*world);
    std::string errors;
    const simbus::NetworkDescription network =
        simbus::ParseNetwork("[NonConfigured]\ndevice=io_module.eds, 0x1003\n", errors);
    simbus::BuildNetwork(*world, network, ReadEmbeddedEds, nullptr, errors);
    if (halfOnes) {
        const std::uint32_t parts[4] = {0x5A5A5A5A, 0xA5A5A5A5, 0x0F0F0F0F, 0xF0F0F0F0};
        for (std::uint8_t sub = 1; sub <= 4; ++sub) {
            simbus::ObjectEntry* entry = simbus::FindDeviceEntry(*world, world->unconfigured[0], 0x1018, sub);
            std::uint8_t bytes[4];
            StoreLe32(bytes, parts[sub - 1]);
            simbus::StoreValue(*world, *entry, bytes, 4);
        }
    }
    simbus::AdapterInit(*world, 0x031C, 0, 0);
    return world;
}

// One Fastscan as the bus pump runs it: answers read and offered, then a step without a
// frame. While nothing arrives the clock jumps to the first tick past the step's time-out
// (where a pump reading it every millisecond would find it over), so the CPU time is the
// master's and the device's work alone. Returns the simulated milliseconds it took.
std::uint32_t RunFastscan(simbus::World& world, LssMaster& lss, std::uint32_t timeoutMs, std::uint32_t& now,
                          LssResult& result)
{
    const std::uint32_t start = now;
    if (StartLssService(lss, LssRequest{.service = LssService::Fastscan, .timeoutMs = timeoutMs}, now) == 0)
        return 0;
    while (!LssDone(lss)) {
        bool busy = false;
        DriverMsg msg{};
        while (simbus::AdapterRead(world, &msg, now) == 0) {
            CanFrame frame{};
            frame.id = msg.id;
            frame.length = msg.length;
            std::memcpy(frame.data.data(), msg.data, sizeof msg.data);
            StepLss(lss, &frame, now);
            busy = true;
        }
        if (const CanFrame* out = StepLss(lss, nullptr, now)) {
            DriverMsg request{};
            request.id = out->id;
            request.length = out->length;
            std::memcpy(request.data, out->data.data(), sizeof request.data);
            simbus::AdapterWrite(world, &request, now);
            busy = true;
        }
        if (!busy && !LssDone(lss))
            now = lss.sentTick + lss.request.timeoutMs + 1;
    }
    TakeLssResult(lss, result);
    return now - start;
}

// A full Fastscan of one device against the simulated LSS slave, its answers at once.
// Figures: steps (requests) of one scan, the bus time it takes on the simulated clock (only
// steps without an answer cost their time-out, plus 1 ms as the tick sees it over; the
// frames' own time on the wire, some 2 ms for a request and its answer at 125 kbit/s, is
// not counted), and the
// CPU time per step (master and simulated slave together). Arguments: the time-out in ms
// (50 is kLssDefaultTimeoutMs), and 1 for the identity with as many 1 bits as 0 bits.
void BM_FastscanOneDevice(benchmark::State& state)
{
    const auto timeoutMs = static_cast<std::uint32_t>(state.range(0));
    std::unique_ptr<simbus::World> world = FastscanBus(state.range(1) != 0);
    LssMaster lss{};
    std::uint32_t now = 1000;
    std::uint64_t steps = 0;
    std::uint64_t busMs = 0;
    const DriverMsg toWaiting = [] {
        DriverMsg msg{};
        msg.id = kLssRequestCobId;
        msg.length = 8;
        msg.data[0] = 0x04;  // switch state global: waiting
        return msg;
    }();
    for (auto _ : state) {
        LssResult result{};
        busMs += RunFastscan(*world, lss, timeoutMs, now, result);
        steps += result.steps;
        if (result.outcome != LssOutcome::Success || result.identity.vendor == 0) {
            state.SkipWithError("the device was not found");
            break;
        }
        // Found, the device is in configuration state: back to waiting for the next scan.
        simbus::AdapterWrite(*world, &toWaiting, now);
    }
    state.counters["steps"] = benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kAvgIterations);
    state.counters["bus_ms"] = benchmark::Counter(static_cast<double>(busMs), benchmark::Counter::kAvgIterations);
    state.counters["cpu_per_step"] =
        benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FastscanOneDevice)
    ->ArgNames({"timeout_ms", "half_ones"})
    ->Args({10, 0})
    ->Args({static_cast<std::int64_t>(kLssDefaultTimeoutMs), 0})
    ->Args({static_cast<std::int64_t>(kLssDefaultTimeoutMs), 1})
    ->Args({100, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// The EDS reader: a real device file (the default network's I/O module, 1200 lines) and
// a generated file of 10,000 sections, read from text already in memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "eds_reader.h"

namespace {

std::string ReadFile(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// 2000 records of 4 sub-objects each: 10,000 object sections, 8000 entries.
std::string TenThousandSections()
{
    std::string text = "[OptionalObjects]\n";
    char line[200];
    for (unsigned i = 0; i < 2000; ++i) {
        std::snprintf(line, sizeof line, "%u=0x%04X\n", i + 1, 0x2000 + i);
        text += line;
    }
    for (unsigned i = 0; i < 2000; ++i) {
        std::snprintf(line, sizeof line, "[%04X]\nParameterName=Block %u\nObjectType=0x9\nSubNumber=4\n", 0x2000 + i,
                      i);
        text += line;
        for (unsigned sub = 0; sub < 4; ++sub) {
            std::snprintf(line, sizeof line,
                          "[%04Xsub%X]\nParameterName=Value %u\nObjectType=0x7\nDataType=0x0007\nAccessType=rw\n"
                          "DefaultValue=$NODEID+0x%X\nPDOMapping=1\n",
                          0x2000 + i, sub, sub, i);
            text += line;
        }
    }
    return text;
}

void Read(benchmark::State& state, const std::string& text)
{
    eds::Device device;
    std::string error;
    for (auto _ : state) {
        if (!eds::ReadDevice(text, 3, device, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(device.entries.data());
    }
    state.counters["entries"] = static_cast<double>(device.entries.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

void BM_ReadIoModule(benchmark::State& state)
{
    static const std::string text = ReadFile(EDS_IO_MODULE);
    Read(state, text);
}
BENCHMARK(BM_ReadIoModule)->Unit(benchmark::kMicrosecond);

void BM_Read10000Sections(benchmark::State& state)
{
    static const std::string text = TenThousandSections();
    Read(state, text);
}
BENCHMARK(BM_Read10000Sections)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

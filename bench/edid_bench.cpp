// Decodes per second: all three reports plus the EDID summary of a 4K TV's
// EDID (HDMI 2.0, 4K VICs, deep colour, five audio formats).
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kUhdTvEdid = MC_TEST_DATA_DIR "/edid-samples/019-sony-sny2b05.bin";

mc::EdidImage loadSample() {
    const auto image = mc::readEdidFile(kUhdTvEdid);
    if (!image) {
        std::fprintf(stderr, "cannot read %s\n", kUhdTvEdid);
        std::exit(1);
    }
    return *image;
}

void decodeAndSummarise(benchmark::State& state) {
    const mc::EdidImage image = loadSample();
    for (auto _ : state) {
        const mc::EdidReports reports = mc::decodeEdid(image);
        std::string summary = mc::fillEdidSummary(reports);
        benchmark::DoNotOptimize(summary);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("decodes");
}
BENCHMARK(decodeAndSummarise);

} // namespace

BENCHMARK_MAIN();

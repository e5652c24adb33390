// Decodes per second: all three reports plus the EDID summary of a 4K TV's
// EDID (HDMI 2.0, 4K VICs, deep colour, five audio formats). Checks per
// second: the EDID check of the same EDID, sound and with four findings.
#include "edid/edid_check.h"
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

void checkSoundEdid(benchmark::State& state) {
    const mc::EdidImage image = loadSample();
    for (auto _ : state) {
        mc::EdidFindings findings = mc::checkEdid(image);
        benchmark::DoNotOptimize(findings);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("checks");
}
BENCHMARK(checkSoundEdid);

// Every finding costs a formatted text: a broken EDID is the slower case.
void checkBrokenEdid(benchmark::State& state) {
    mc::EdidImage image = loadSample();
    image[9] = 0;      // manufacturer letter 3 code 0
    image[126] = 2;    // one extension counted too many
    image[200] ^= 1;   // checksum of block 1
    image[253] = 0xAA; // padding after the timings
    if (mc::checkEdid(image).size() < 4) {
        std::fprintf(stderr, "the broken EDID has fewer findings than planned\n");
        std::exit(1);
    }
    for (auto _ : state) {
        mc::EdidFindings findings = mc::checkEdid(image);
        benchmark::DoNotOptimize(findings);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("checks");
}
BENCHMARK(checkBrokenEdid);

} // namespace

BENCHMARK_MAIN();

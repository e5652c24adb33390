// Bytes per second from a pseudo-terminal through the serial channel and the
// hand-over into the Qt event loop, one handler call per byte, as a multiple
// of the switcher's line rate.
#include "link/link_channel.h"
#include "support/pty_peer.h"
#include "widget_bench_main.h"
#include "window/byte_handover.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <thread>

namespace {

// 57600 baud at 10 bits per byte (start, 8 data, stop).
constexpr double kLineRateBytesPerSecond = 5760.0;
constexpr int kStallLimitMs = 10000;

void throughChannelIntoEventLoop(benchmark::State& state) {
    const auto total = static_cast<std::size_t>(state.range(0));
    mc::test::PortDirectory ports;
    ports.exportToEnvironment();
    auto peer = mc::test::PtyPeer::create();
    if (!peer || !peer->linkAs(ports.path(), 1)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    std::string payload(total, '\0');
    for (std::size_t i = 0; i < total; ++i) {
        payload[i] = static_cast<char>(i & 0xFF);
    }

    QEventLoop loop;
    std::size_t received = 0;
    bool inOrder = true;
    mc::ByteHandover handover([&](std::uint8_t byte, int /*linkNumber*/) {
        inOrder = inOrder && byte == static_cast<std::uint8_t>(received & 0xFF);
        if (++received == total) {
            loop.quit();
        }
    });
    mc::LinkChannel channel;
    if (!channel.openLink(handover, 1, mc::LineSettings{}) || !channel.startPortWorker()) {
        state.SkipWithError("cannot open the port");
        return;
    }
    QTimer stall;
    stall.setSingleShot(true);
    QObject::connect(&stall, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });

    for (auto _ : state) {
        received = 0;
        std::thread writer([&] { peer->write(payload); });
        stall.start(kStallLimitMs);
        const int stalled = loop.exec();
        stall.stop();
        writer.join();
        if (stalled != 0) {
            state.SkipWithError("bytes went missing");
            break;
        }
    }
    channel.closeLink();
    if (!inOrder) {
        state.SkipWithError("bytes out of order");
    }
    const auto bytes = static_cast<double>(total) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["x_line_rate"] = benchmark::Counter(bytes / kLineRateBytesPerSecond, benchmark::Counter::kIsRate);
}

BENCHMARK(throughChannelIntoEventLoop)->Arg(1 << 18)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return mc::bench::runWidgetBenchmarks(argc, argv);
}

// Reply bytes per second through the whole receiving side of a real console
// window: a pseudo-terminal, the serial channel, the hand-over, line assembly,
// the reply parser and the page refreshes, as a multiple of the switcher's line
// rate. The far end sends full status dumps, byte for byte what the emulator
// answers to the status query. The second run has the traffic monitor open
// beside the console, following the newest row.
#include "pages/routing_page.h"
#include "sim/reply_lines.h"
#include "sim/session.h"
#include "support/pty_peer.h"
#include "widget_bench_main.h"
#include "widgets/message_box.h"
#include "window/console_window.h"
#include "window/traffic_monitor.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <thread>

namespace {

// 57600 baud at 10 bits per byte (start, 8 data, stop).
constexpr double kLineRateBytesPerSecond = 5760.0;
constexpr int kStallLimitMs = 30000;
constexpr int kCom = 1;
// The sentinel after the dumps routes output 1 to the last input; the dumps
// themselves route output n to input n, so only the sentinel checks that radio.
constexpr int kSentinelInput = 16;

std::string statusDump() {
    mc::sim::Session switcher(mc::sim::SessionOptions{});
    std::string dump;
    for (const auto& exchange : switcher.receive("\r\nGET STA\r\n").exchanges) {
        dump += exchange.reply;
    }
    return dump;
}

void statusDumps(benchmark::State& state, bool withMonitor) {
    const auto dumps = static_cast<int>(state.range(0));
    // The console writes its address book into the working directory.
    QTemporaryDir work;
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(work.path());
    mc::test::PortDirectory ports;
    ports.exportToEnvironment();
    auto peer = mc::test::PtyPeer::create();
    if (!peer || !peer->linkAs(ports.path(), kCom)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }

    const std::string dump = statusDump();
    std::string stream;
    stream.reserve(dump.size() * static_cast<std::size_t>(dumps) + 32);
    for (int i = 0; i < dumps; ++i) {
        stream += dump;
    }
    stream += mc::sim::routeReply(1, kSentinelInput);

    mc::ConsoleWindow window;
    window.show();
    window.connection().portButtonClicked(); // COM1, the window's first choice
    if (!window.state().portOpen) {
        state.SkipWithError("cannot open the port");
        return;
    }
    if (withMonitor) {
        window.showTrafficMonitor();
    }
    mc::RoutingPage* routing = window.routingPage(0);
    QRadioButton* sentinel = routing->radio(0, kSentinelInput - 1);

    QEventLoop loop;
    QObject::connect(sentinel, &QAbstractButton::toggled, &loop, [&loop](bool on) {
        if (on) {
            loop.quit();
        }
    });
    QTimer stall;
    stall.setSingleShot(true);
    QObject::connect(&stall, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });

    for (auto _ : state) {
        // Clear the sentinel's row so its radio toggles again.
        routing->setRowSelection(0, std::nullopt);
        routing->refresh();
        std::thread writer([&] { peer->write(stream); });
        stall.start(kStallLimitMs);
        const int stalled = loop.exec();
        stall.stop();
        writer.join();
        if (stalled != 0) {
            state.SkipWithError("the console did not take every dump");
            break;
        }
    }
    // Every dump routed output n to input n, then the sentinel moved output 1.
    for (int output = 2; output <= 2 * mc::RoutingPage::kRows; ++output) {
        const int bank = (output - 1) / mc::RoutingPage::kRows;
        const int row = (output - 1) % mc::RoutingPage::kRows;
        if (window.routingPage(bank)->outputSelection(row) != output - 1) {
            state.SkipWithError("a route in the dumps went missing");
            break;
        }
    }
    window.connection().portButtonClicked(); // close
    QDir::setCurrent(previousDir);

    const auto bytes = static_cast<double>(stream.size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["dump_bytes"] = static_cast<double>(dump.size());
    if (withMonitor) {
        window.trafficMonitor()->refresh();
        state.counters["monitor_rows"] = static_cast<double>(window.trafficMonitor()->model().rowCount());
    }
    state.counters["x_line_rate"] = benchmark::Counter(bytes / kLineRateBytesPerSecond, benchmark::Counter::kIsRate);
}

void statusDumpsThroughConsole(benchmark::State& state) {
    statusDumps(state, false);
}

void statusDumpsThroughConsoleWithMonitor(benchmark::State& state) {
    statusDumps(state, true);
}

BENCHMARK(statusDumpsThroughConsole)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(statusDumpsThroughConsoleWithMonitor)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return mc::bench::runWidgetBenchmarks(argc, argv);
}

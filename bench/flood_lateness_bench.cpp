// How late the console's window thread gets to its own events while a far end
// floods it with status dumps at full speed for 5 s, over a pseudo-terminal
// and over a loopback TCP link: the worst lateness of a 20 ms timer and the
// longest wait of a queued click, in milliseconds.
#include "sim/session.h"
#include "support/flood_probe.h"
#include "support/pty_peer.h"
#include "support/tcp_peer.h"
#include "widget_bench_main.h"
#include "window/console_window.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kCom = 1;
constexpr auto kFlood = std::chrono::seconds(5);

std::string statusDump() {
    mc::sim::Session switcher(mc::sim::SessionOptions{});
    std::string dump;
    for (const auto& exchange : switcher.receive("\r\nGET STA\r\n").exchanges) {
        dump += exchange.reply;
    }
    return dump;
}

void report(benchmark::State& state, const mc::test::FloodLateness& seen) {
    state.counters["timer_late_ms"] = static_cast<double>(seen.worstTimerLateness.count());
    state.counters["click_wait_ms"] = static_cast<double>(seen.worstClickWait.count());
    state.counters["ticks"] = seen.timerTicks;
    state.counters["clicks"] = seen.clicks;
    state.SetBytesProcessed(static_cast<std::int64_t>(seen.bytesWritten));
}

void floodOverSerial(benchmark::State& state) {
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
    mc::ConsoleWindow window;
    window.show();
    window.connection().portButtonClicked(); // COM1, the window's first choice
    if (!window.state().portOpen) {
        state.SkipWithError("cannot open the port");
        return;
    }
    QPushButton button;
    mc::test::FloodLateness seen;
    for (auto _ : state) {
        seen = mc::test::measureDuringFlood(*peer, statusDump(), kFlood, button);
    }
    window.connection().portButtonClicked(); // close
    QDir::setCurrent(previousDir);
    report(state, seen);
}

void floodOverNetwork(benchmark::State& state) {
    QTemporaryDir work;
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(work.path());
    mc::test::TcpPeer peer;
    mc::ConsoleWindow window;
    window.show();
    window.connection().connectNetwork({"127.0.0.1", peer.port()});
    if (!peer.accept(std::chrono::seconds(5))) {
        state.SkipWithError("no connection");
        return;
    }
    QPushButton button;
    mc::test::FloodLateness seen;
    for (auto _ : state) {
        seen = mc::test::measureDuringFlood([&peer](const std::string& bytes) { return peer.send(bytes); },
                                            statusDump(), kFlood, button);
    }
    window.connection().portButtonClicked(); // close
    QDir::setCurrent(previousDir);
    report(state, seen);
}

BENCHMARK(floodOverSerial)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(floodOverNetwork)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return mc::bench::runWidgetBenchmarks(argc, argv);
}

// The network link into a real console window, over the loopback:
// - reply bytes per second through the TCP backend, the port worker, the
//   hand-over, line assembly, the parser and the page refreshes, as a
//   multiple of the serial line rate (the serial figure is
//   reply-throughput-bench's);
// - the time from "connect" to every page showing the status (the far end
//   answers the status query with the emulator's own dump).
#include "link/commands.h"
#include "pages/audio_page.h"
#include "pages/routing_page.h"
#include "sim/reply_lines.h"
#include "sim/session.h"
#include "support/tcp_peer.h"
#include "widget_bench_main.h"
#include "widgets/message_box.h"
#include "window/console_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <thread>

namespace {

using namespace std::chrono_literals;

// 57600 baud at 10 bits per byte (start, 8 data, stop).
constexpr double kLineRateBytesPerSecond = 5760.0;
constexpr int kStallLimitMs = 30000;
constexpr int kSentinelInput = 16;
constexpr char kProbe[] = "\r\nGET STA\r\n";

// The emulator's answer to the status query; with output 16 muted first when
// `mute16` is set.
std::string statusDump(bool mute16 = false) {
    mc::sim::Session switcher(mc::sim::SessionOptions{});
    if (mute16) {
        (void)switcher.receive(mc::audioCommand(16, mc::AudioState::Mute)->bytes());
    }
    std::string dump;
    for (const auto& exchange : switcher.receive(kProbe).exchanges) {
        dump += exchange.reply;
    }
    return dump;
}

// The console's working directory (its address book goes there) for the run.
class WorkDirectory {
public:
    WorkDirectory() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~WorkDirectory() { QDir::setCurrent(previous_); }
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;

private:
    QTemporaryDir dir_;
    QString previous_;
};

// Runs the event loop until `button` is checked; false when it stalls.
bool runUntilChecked(QAbstractButton* button) {
    QEventLoop loop;
    const auto toggled = QObject::connect(button, &QAbstractButton::toggled, &loop, [&loop](bool on) {
        if (on) {
            loop.quit();
        }
    });
    QTimer::singleShot(kStallLimitMs, &loop, [&loop] { loop.exit(1); });
    const bool done = button->isChecked() || loop.exec() == 0;
    QObject::disconnect(toggled);
    return done;
}

void statusDumpsOverTcp(benchmark::State& state) {
    const auto dumps = static_cast<int>(state.range(0));
    WorkDirectory work;
    mc::test::TcpPeer peer;
    const std::string dump = statusDump();
    std::string stream;
    stream.reserve(dump.size() * static_cast<std::size_t>(dumps) + 32);
    for (int i = 0; i < dumps; ++i) {
        stream += dump;
    }
    stream += mc::sim::routeReply(1, kSentinelInput);

    mc::ConsoleWindow window;
    window.show();
    window.connectOverNetwork({"127.0.0.1", peer.port()});
    if (!peer.accept(5s) || peer.receive(11, 5s) != kProbe) {
        state.SkipWithError("the console did not connect");
        return;
    }
    mc::RoutingPage* routing = window.routingPage(0);
    QRadioButton* sentinel = routing->radio(0, kSentinelInput - 1);
    for (auto _ : state) {
        routing->setRowSelection(0, std::nullopt); // so the sentinel toggles again
        routing->refresh();
        std::thread writer([&] { peer.send(stream); });
        const bool done = runUntilChecked(sentinel);
        writer.join();
        if (!done) {
            state.SkipWithError("the console did not take every dump");
            break;
        }
    }
    for (int output = 2; output <= 2 * mc::RoutingPage::kRows; ++output) {
        if (window.routingPage((output - 1) / mc::RoutingPage::kRows)
                ->outputSelection((output - 1) % mc::RoutingPage::kRows) != output - 1) {
            state.SkipWithError("a route in the dumps went missing");
            break;
        }
    }
    window.connection().portButtonClicked(); // close

    const auto bytes = static_cast<double>(stream.size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["x_line_rate"] = benchmark::Counter(bytes / kLineRateBytesPerSecond, benchmark::Counter::kIsRate);
}

// Connect, status query, the whole dump parsed and shown. Output 16's audio
// is the dump's last line; it alternates between runs so its radio toggles.
void connectToStatusShown(benchmark::State& state) {
    WorkDirectory work;
    mc::test::TcpPeer peer;
    const std::string dumps[] = {statusDump(false), statusDump(true)};
    std::atomic<int> served{0};
    std::atomic<bool> stop{false};
    std::thread far([&] {
        while (!stop.load()) {
            if (!peer.accept(200ms)) {
                continue;
            }
            if (peer.receive(11, 5s) == kProbe) {
                peer.send(dumps[served.fetch_add(1) % 2]);
            }
            (void)peer.receive(1, 5s); // until the console closes
        }
    });

    mc::ConsoleWindow window;
    window.show();
    std::vector<double> ms;
    int run = 0;
    for (auto _ : state) {
        QAbstractButton* last = run++ % 2 == 0 ? window.audioPage()->onRadio(16) : window.audioPage()->muteRadio(16);
        if (last->isChecked()) {
            state.SkipWithError("the radio to wait for is checked already");
            break;
        }
        QElapsedTimer took;
        took.start();
        window.connectOverNetwork({"127.0.0.1", peer.port()});
        const bool done = runUntilChecked(last) && window.state().portOpen;
        const double elapsed = static_cast<double>(took.nsecsElapsed()) / 1e6;
        state.SetIterationTime(elapsed / 1000.0);
        ms.push_back(elapsed);
        window.connection().portButtonClicked(); // close
        if (!done) {
            state.SkipWithError("the status did not show");
            break;
        }
    }
    stop.store(true);
    far.join();
    if (served.load() != static_cast<int>(state.iterations())) {
        state.SkipWithError("not every run asked for the status");
    }
    std::sort(ms.begin(), ms.end());
    if (!ms.empty()) {
        state.counters["median_ms"] = ms[ms.size() / 2];
        state.counters["max_ms"] = ms.back();
    }
}

BENCHMARK(statusDumpsOverTcp)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(connectToStatusShown)->Iterations(41)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    return mc::bench::runWidgetBenchmarks(argc, argv);
}

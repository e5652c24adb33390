// Time from the last byte of an EDID data line, written by the far end of a
// pseudo-terminal, to the decoded summary in the EDID page of a real console
// window: the channel, the hand-over, the EDID-to-file parser, the file write,
// the decoder and the summary. The read-back is ordered with the page's own
// button, as an operator does; the far end answers with the emulator's line
// for the display on output 1 or 2 (alternating, so the summary changes every
// time). The message presenter is replaced so that no modal box waits for a
// click. Runs in a temporary working directory, where the EDID files go.
#include "pages/edid_page.h"
#include "sim/reply_lines.h"
#include "sim/switcher_state.h"
#include "support/pty_peer.h"
#include "widget_bench_main.h"
#include "widgets/message_box.h"
#include "window/console_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kCom = 1;
constexpr int kWaitLimitMs = 5000;
constexpr int kRuns = 41;

// One console window on a pseudo-terminal, kept for all runs.
struct Rig {
    QTemporaryDir work;
    QString previousDir = QDir::currentPath();
    mc::test::PortDirectory ports;
    std::unique_ptr<mc::test::PtyPeer> peer = mc::test::PtyPeer::create();
    mc::sim::SwitcherState switcher;
    QStringList messages;
    std::unique_ptr<mc::ConsoleWindow> window;

    Rig() {
        QDir::setCurrent(work.path());
        ports.exportToEnvironment();
        mc::setMessagePresenter([this](QWidget*, const QString& text) { messages << text; });
        if (!peer || !peer->linkAs(ports.path(), kCom)) {
            return;
        }
        window = std::make_unique<mc::ConsoleWindow>();
        window->show();
        window->connection().portButtonClicked(); // COM1, the window's first choice
    }
    ~Rig() {
        window.reset();
        mc::setMessagePresenter({});
        QDir::setCurrent(previousDir);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    [[nodiscard]] bool ready() const { return window && window->state().portOpen; }

    // The read command as the switcher receives it: a blank line, then the command line.
    [[nodiscard]] bool takeReadCommand() const {
        std::string heard;
        QElapsedTimer waited;
        waited.start();
        while (std::count(heard.begin(), heard.end(), '\n') < 2) {
            if (waited.elapsed() > kWaitLimitMs) {
                return false;
            }
            heard += peer->read(1, 50ms);
        }
        return true;
    }

    // Pumps the window's events until `done` holds or the wait limit passes.
    template <typename Done> static bool pumpUntil(Done done) {
        QElapsedTimer waited;
        waited.start();
        while (!done()) {
            if (waited.elapsed() > kWaitLimitMs) {
                return false;
            }
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }
};

std::unique_ptr<Rig> rig;

void lastEdidByteToSummary(benchmark::State& state) {
    if (!rig) {
        rig = std::make_unique<Rig>();
    }
    if (!rig->ready()) {
        state.SkipWithError("cannot open the pseudo-terminal as COM1");
        return;
    }
    auto* edidPage = rig->window->edidPage();
    auto* readPort = edidPage->findChild<QComboBox*>(QStringLiteral("readPortSelector"));
    auto* readButton = edidPage->findChild<QPushButton*>(QStringLiteral("readButton"));
    auto* summary = edidPage->findChild<QPlainTextEdit*>(QStringLiteral("edidSummary"));
    static int run = 0;

    for (auto _ : state) {
        const int output = 1 + (run++ % 2);
        const std::string line = mc::sim::outputEdidReply(output, rig->switcher.display(output));
        const QString before = summary->toPlainText();
        rig->messages.clear();

        readPort->setCurrentIndex(output - 1); // "Out port N"
        readButton->click();
        if (!rig->takeReadCommand()) {
            state.SkipWithError("the read command did not arrive");
            break;
        }
        // Everything but the line feed, and wait until the console holds it.
        rig->peer->write(std::string_view(line).substr(0, line.size() - 1));
        if (!Rig::pumpUntil(
                [&] { return rig->window->session().replies()->pendingLine().size() == line.size() - 1; })) {
            state.SkipWithError("the console did not take the line");
            break;
        }

        QEventLoop loop;
        Clock::time_point shown{};
        const auto connection = QObject::connect(summary, &QPlainTextEdit::textChanged, &loop, [&] {
            if (summary->toPlainText() != before && !summary->toPlainText().isEmpty()) {
                shown = Clock::now();
                loop.quit();
            }
        });
        QTimer::singleShot(kWaitLimitMs, &loop, [&loop] { loop.exit(1); });
        const auto sent = Clock::now();
        rig->peer->write("\n");
        const int stalled = loop.exec();
        QObject::disconnect(connection);
        if (stalled != 0) {
            state.SkipWithError("no summary after the line");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(shown - sent).count());

        const QString saved = QStringLiteral("Matrix_EDID_out%1_00.bin").arg(output);
        if (rig->messages != QStringList{QStringLiteral("Save to file: ") + saved} || !QFile::exists(saved)) {
            state.SkipWithError("the EDID was not saved as expected");
            break;
        }
        // Each run starts from an empty directory, so the name search is the same.
        QFile::remove(saved);
    }
}

BENCHMARK(lastEdidByteToSummary)
    ->Iterations(1)
    ->Repetitions(kRuns)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
    ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); })
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return mc::bench::runWidgetBenchmarks(argc, argv, [] { rig.reset(); });
}

#pragma once

// How well the window thread keeps up with its own events while a far end
// floods the console with reply lines: a 20 ms timer's lateness and the wait
// of clicks posted from another thread, as an operator's clicks are queued.
#include "support/pty_peer.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace mc::test {

struct FloodLateness {
    std::chrono::milliseconds worstTimerLateness{0};
    std::chrono::milliseconds worstClickWait{0};
    int timerTicks = 0;
    int clicks = 0;
    int clicksPosted = 0;
    std::uint64_t bytesWritten = 0;
};

// Writes `chunk` to the far end (`write`, on a thread of its own) over and
// over for `duration` while the window thread runs its event loop; `button`
// is clicked through the event queue every 50 ms meanwhile. Returns once the
// writer has ended and every posted click has been handled.
inline FloodLateness measureDuringFlood(const std::function<bool(const std::string&)>& write, const std::string& chunk,
                                        std::chrono::milliseconds duration, QAbstractButton& button) {
    using namespace std::chrono_literals;
    constexpr auto kPeriod = 20ms;
    constexpr auto kClickEvery = 50ms;
    FloodLateness result;
    QElapsedTimer clock;
    clock.start();

    std::atomic<bool> writerDone{false};
    std::atomic<std::uint64_t> written{0};
    // The writer and the clicker keep their own time: a window thread that
    // never returns to its event loop must not keep the flood going.
    const auto floodEnds = std::chrono::steady_clock::now() + duration;
    std::thread writer([&] {
        while (std::chrono::steady_clock::now() < floodEnds) {
            if (!write(chunk)) {
                break;
            }
            written += chunk.size();
        }
        writerDone = true;
    });

    std::atomic<std::int64_t> clickPostedAt{-1};
    std::atomic<bool> clickerDone{false};
    const QMetaObject::Connection clicked = QObject::connect(&button, &QAbstractButton::clicked, [&] {
        const std::int64_t posted = clickPostedAt.exchange(-1);
        if (posted >= 0) {
            result.worstClickWait =
                std::max(result.worstClickWait, std::chrono::milliseconds(clock.elapsed() - posted));
        }
        ++result.clicks;
    });
    std::thread clicker([&] {
        while (std::chrono::steady_clock::now() < floodEnds) {
            std::this_thread::sleep_for(kClickEvery);
            // One click in the queue at a time, as a hand clicks.
            std::int64_t idle = -1;
            if (clickPostedAt.compare_exchange_strong(idle, clock.elapsed())) {
                ++result.clicksPosted;
                QMetaObject::invokeMethod(&button, &QAbstractButton::click, Qt::QueuedConnection);
            }
        }
        clickerDone = true;
    });

    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    qint64 lastTick = clock.elapsed();
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        const auto late = std::chrono::milliseconds(now - lastTick) - kPeriod;
        result.worstTimerLateness = std::max(result.worstTimerLateness, late);
        lastTick = now;
        ++result.timerTicks;
    });
    ticker.start(kPeriod);

    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
    ticker.stop();
    // The writer may wait in a write until the console reads on, and a click
    // may still be queued: the window thread keeps running its events until
    // both threads are done, so no wait is the harness's own.
    while (!writerDone.load() || !clickerDone.load() || clickPostedAt.load() >= 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    clicker.join();
    writer.join();
    QObject::disconnect(clicked);
    result.bytesWritten = written.load();
    return result;
}

// The same with a pseudo-terminal as the far end.
inline FloodLateness measureDuringFlood(const PtyPeer& peer, const std::string& chunk,
                                        std::chrono::milliseconds duration, QAbstractButton& button) {
    return measureDuringFlood([&peer](const std::string& bytes) { return peer.write(bytes); }, chunk, duration, button);
}

} // namespace mc::test

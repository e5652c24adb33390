#include "window/byte_handover.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

using mc::ByteHandover;

namespace {

// What the window thread saw, byte by byte.
struct Delivery {
    std::vector<std::uint8_t> bytes;
    std::vector<int> ports;
    int depth = 0;
    int maxDepth = 0;
    bool offWindowThread = false;

    ByteHandover::ByteHandler handler(std::function<void(std::uint8_t)> extra = {}) {
        return [this, extra = std::move(extra)](std::uint8_t byte, int comPort) {
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            offWindowThread |= QThread::currentThread() != qApp->thread();
            bytes.push_back(byte);
            ports.push_back(comPort);
            if (extra) {
                extra(byte);
            }
            --depth;
        };
    }
};

std::vector<std::uint8_t> pattern(std::size_t count) {
    std::vector<std::uint8_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
    }
    return out;
}

// Waits without processing events, so nothing is delivered meanwhile.
template <class Done> bool waitWithoutEvents(Done done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QThread::msleep(2);
    }
    return true;
}

} // namespace

class ByteHandoverTest : public QObject {
    Q_OBJECT

private slots:
    void burstsAreHandledOneByteAtATimeInOrderOnTheWindowThread() {
        Delivery seen;
        ByteHandover handover(seen.handler(), 1024);
        const std::vector<std::uint8_t> sent = pattern(50000);
        std::jthread worker([&](const std::stop_token& stop) {
            std::size_t at = 0;
            for (std::size_t burst = 1; at < sent.size(); burst = burst % 300 + 1) {
                const std::size_t count = std::min(burst, sent.size() - at);
                handover.receiveBytes({sent.data() + at, count}, at < sent.size() / 2 ? 3 : 4, stop);
                at += count;
            }
        });
        QTRY_COMPARE_WITH_TIMEOUT(seen.bytes.size(), sent.size(), 10000);
        worker.join();
        QVERIFY(seen.bytes == sent);
        QCOMPARE(seen.ports.front(), 3);
        QCOMPARE(seen.ports.back(), 4);
        QCOMPARE(seen.maxDepth, 1);
        QVERIFY(!seen.offWindowThread);
        QCOMPARE(handover.droppedCount(), std::size_t{0});
    }

    void aFullQueueHoldsTheWorkerBackUntilTheWindowThreadCatchesUp() {
        Delivery seen;
        ByteHandover handover(seen.handler(), 16);
        const std::vector<std::uint8_t> sent = pattern(1000);
        std::atomic<bool> done{false};
        std::jthread worker([&](const std::stop_token& stop) {
            handover.receiveBytes(sent, 1, stop);
            done = true;
        });
        // No events processed: the worker fills the queue and waits.
        QVERIFY(waitWithoutEvents([&] { return handover.pendingCount() == 16; }));
        QThread::msleep(100);
        QVERIFY(!done);
        QCOMPARE(handover.pendingCount(), std::size_t{16});
        QVERIFY(seen.bytes.empty());

        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
        worker.join();
        QTRY_COMPARE(seen.bytes.size(), sent.size());
        QVERIFY(seen.bytes == sent);
    }

    void bytesArrivingDuringAModalBoxWaitAndFollowInOrder() {
        Delivery seen;
        std::thread worker;
        std::stop_source stop;
        ByteHandover* handoverPtr = nullptr;
        // The first byte's handler opens a message box; more bytes come in
        // while the box runs its own event loop.
        auto openBox = [&](std::uint8_t byte) {
            if (byte != 'A') {
                return;
            }
            QMessageBox box(QMessageBox::NoIcon, QStringLiteral("t"), QStringLiteral("box"), QMessageBox::Ok);
            QTimer::singleShot(0, &box, [&] {
                worker = std::thread([&] {
                    const std::uint8_t more[] = {'C', 'D'};
                    handoverPtr->receiveBytes(more, 2, stop.get_token());
                });
                worker.join();
                // Let the nested loop see the wake-up before the box closes.
                QTimer::singleShot(50, &box, &QMessageBox::accept);
            });
            box.exec();
        };
        ByteHandover handover(seen.handler(openBox), 64);
        handoverPtr = &handover;
        std::thread first([&] {
            const std::uint8_t two[] = {'A', 'B'};
            handover.receiveBytes(two, 2, stop.get_token());
        });
        first.join();
        QTRY_COMPARE(seen.bytes.size(), std::size_t{4});
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(seen.bytes.data()), 4), QByteArray("ABCD"));
        QCOMPARE(seen.maxDepth, 1);
    }

    void aStopReleasesAWorkerWaitingForRoomAndDropsTheRest() {
        Delivery seen;
        ByteHandover handover(seen.handler(), 4);
        std::atomic<bool> done{false};
        std::jthread worker([&](const std::stop_token& stop) {
            const std::vector<std::uint8_t> ten = pattern(10);
            handover.receiveBytes(ten, 1, stop);
            done = true;
        });
        QVERIFY(waitWithoutEvents([&] { return handover.pendingCount() == 4; }));
        QThread::msleep(50);
        QVERIFY(!done);
        worker.request_stop();
        worker.join();
        QCOMPARE(handover.pendingCount(), std::size_t{4});
        QCOMPARE(handover.droppedCount(), std::size_t{6});
        QTRY_COMPARE(seen.bytes.size(), std::size_t{4});
    }

    void cancelReleasesAWaitingWorkerAndRefusesLaterBytes() {
        Delivery seen;
        ByteHandover handover(seen.handler(), 2);
        std::jthread worker([&](const std::stop_token& stop) {
            const std::vector<std::uint8_t> five = pattern(5);
            handover.receiveBytes(five, 1, stop);
        });
        QVERIFY(waitWithoutEvents([&] { return handover.pendingCount() == 2; }));
        handover.cancel();
        QVERIFY(waitWithoutEvents([&] { return handover.droppedCount() == 5; }));
        worker.join();
        const std::uint8_t late[] = {1};
        std::stop_source stop;
        handover.receiveBytes(late, 1, stop.get_token());
        QCoreApplication::processEvents();
        QVERIFY(seen.bytes.empty());
        QCOMPARE(handover.droppedCount(), std::size_t{6});
    }

    // The link's connect and its failure reach the window thread in their
    // place among the bytes, with the failure's reason, even when the worker
    // has to wait for room to queue them.
    void linkEventsKeepTheirPlaceAmongTheBytes() {
        std::string seen;
        ByteHandover handover(ByteHandover::BurstHandler([&](std::span<const std::uint8_t> bytes, int link, bool) {
                                  seen += std::to_string(link) + ":" + std::string(bytes.begin(), bytes.end()) + " ";
                              }),
                              {}, 2);
        handover.onLinkConnected([&](int link) { seen += "up" + std::to_string(link) + " "; });
        handover.onLinkFailed(
            [&](int link, const std::string& why) { seen += "failed" + std::to_string(link) + "(" + why + ") "; });
        std::jthread worker([&](const std::stop_token& stop) {
            handover.linkConnected(1, stop);
            const std::uint8_t ab[] = {'A', 'B'};
            handover.receiveBytes(ab, 1, stop);
            handover.linkFailed(1, "read: gone", stop);
            const std::uint8_t c[] = {'C'};
            handover.receiveBytes(c, 2, stop);
            handover.linkFailed(2, "hung up", stop);
        });
        QTRY_COMPARE(seen, std::string("up1 1:A 1:B failed1(read: gone) 2:C failed2(hung up) "));
        worker.join();
        QCOMPARE(handover.droppedCount(), std::size_t{0});
    }

    // While a worker keeps the queue full, a delivery hands the window thread
    // back to its event loop after a short slice: timers keep firing, and the
    // bytes still come in order.
    void aDeliveryYieldsToTheEventLoopWhileTheWorkerKeepsRefilling() {
        std::size_t next = 0;
        bool inOrder = true;
        ByteHandover handover(ByteHandover::BurstHandler([&](std::span<const std::uint8_t> bytes, int, bool) {
                                  for (const std::uint8_t byte : bytes) {
                                      inOrder = inOrder && byte == static_cast<std::uint8_t>(next++ & 0xFF);
                                  }
                                  // Slower than the worker, as the pages are.
                                  QElapsedTimer busy;
                                  busy.start();
                                  while (busy.nsecsElapsed() < 200'000) {
                                  }
                              }),
                              {}, 4096);
        std::atomic<bool> stopFlood{false};
        std::jthread worker([&](const std::stop_token& stop) {
            std::vector<std::uint8_t> burst(64);
            for (std::size_t sent = 0; !stopFlood && !stop.stop_requested();) {
                for (std::uint8_t& byte : burst) {
                    byte = static_cast<std::uint8_t>(sent++ & 0xFF);
                }
                handover.receiveBytes(burst, 1, stop);
            }
        });
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        qint64 worstGap = 0;
        int ticks = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        connect(&ticker, &QTimer::timeout, this, [&] {
            worstGap = std::max(worstGap, clock.elapsed() - last);
            last = clock.elapsed();
            ++ticks;
        });
        ticker.start(20);
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
        ticker.stop();
        stopFlood = true;
        handover.cancel();
        worker.join();
        QVERIFY2(ticks >= 30, qPrintable(QString::number(ticks)));
        QVERIFY2(worstGap < 120, qPrintable(QString::number(worstGap)));
        QVERIFY(next > 4096);
        QVERIFY(inOrder);
    }

    // The window thread reaches the bytes only after the flag has gone up (a
    // failed write): each byte must still carry the flag as it stood when it
    // came in.
    void portErrorTravelsWithTheBytesAsItStoodAtReceipt() {
        std::atomic<bool> portError{false};
        std::vector<std::pair<std::uint8_t, bool>> seen;
        ByteHandover handover([&](std::uint8_t byte, int, bool flagged) { seen.emplace_back(byte, flagged); },
                              [&] { return portError.load(); });
        std::jthread worker([&](const std::stop_token& stop) {
            const std::uint8_t reply[] = {'O', 'K', '\n'};
            handover.receiveBytes(reply, 1, stop);
            portError = true;
            const std::uint8_t after[] = {'\n'};
            handover.receiveBytes(after, 1, stop);
        });
        worker.join();
        QVERIFY(seen.empty());
        QTRY_COMPARE(seen.size(), std::size_t{4});
        const std::vector<std::pair<std::uint8_t, bool>> expected = {
            {'O', false}, {'K', false}, {'\n', false}, {'\n', true}};
        QVERIFY(seen == expected);
    }
};

QTEST_MAIN(ByteHandoverTest)
#include "byte_handover_test.moc"

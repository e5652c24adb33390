#include "window/byte_handover.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <atomic>
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

    // The window thread reaches the bytes only after the flag has gone up:
    // each byte must still carry the flag as it stood when it came in.
    void portErrorTravelsWithTheBytesAsItStoodAtReceipt() {
        std::atomic<bool> portError{false};
        std::vector<std::pair<std::uint8_t, bool>> seen;
        ByteHandover handover([&](std::uint8_t byte, int, bool flagged) { seen.emplace_back(byte, flagged); },
                              [&] { return portError.load(); });
        std::jthread worker([&](const std::stop_token& stop) {
            const std::uint8_t reply[] = {'O', 'K', '\n'};
            handover.receiveBytes(reply, 1, stop);
            portError = true;
            const std::uint8_t notice[] = {'\n'};
            handover.receiveBytes(notice, 1, stop);
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

#include "platform/AsyncSleep.h"
#include "platform/WeakGuard.h"
#include "support/TestSupport.h"

#include <QPointer>
#include <QTimer>

#include <memory>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

// Starts a sleep and records how it ended; `turns` counts event-loop turns seen meanwhile.
struct SleepProbe {
    bool finished = false;
    bool cancelled = false;
    int turnsWhenFinished = -1;
};

QCoro::Task<void> probeSleep(std::chrono::nanoseconds duration, CancellationToken token,
                             SleepProbe *probe, const int *turns) {
    try {
        co_await sleepFor(duration, token);
    } catch (const CancellationError &) {
        probe->cancelled = true;
    }
    probe->finished = true;
    probe->turnsWhenFinished = *turns;
}

} // namespace

class AsyncRuntimeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sleeps_data() {
        QTest::addColumn<int>("milliseconds");
        QTest::addColumn<bool>("cancelBefore");
        QTest::addColumn<bool>("cancelDuring");
        QTest::addColumn<bool>("yields");
        QTest::addColumn<bool>("cancelled");

        QTest::newRow("zero still yields") << 0 << false << false << true << false;
        QTest::newRow("one millisecond") << 1 << false << false << true << false;
        QTest::newRow("cancelled before fails at once") << 1 << true << false << false << true;
        QTest::newRow("cancelled during ends early") << 600000 << false << true << true << true;
    }

    void sleeps() {
        QFETCH(int, milliseconds);
        QFETCH(bool, cancelBefore);
        QFETCH(bool, cancelDuring);
        QFETCH(bool, yields);
        QFETCH(bool, cancelled);

        int turns = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++turns; });
        ticker.start(0);
        CancellationToken token;
        if (cancelBefore)
            token.cancel();

        SleepProbe probe;
        auto task = probeSleep(std::chrono::milliseconds(milliseconds), token, &probe, &turns);
        // A sleep never finishes inside the call that starts it, unless it fails at once.
        QCOMPARE(probe.finished, !yields);
        if (cancelDuring) {
            QTest::qWait(5);
            token.cancel();
        }
        QVERIFY(test::waitUntil([&] { return probe.finished; }));
        QCOMPARE(probe.cancelled, cancelled);
        QCOMPARE(probe.turnsWhenFinished > 0, yields);
    }

    void cancellationCallbacks() {
        CancellationToken token;
        QList<int> calls;
        token.onCancel([&] { calls.append(1); });
        const auto removed = token.onCancel([&] { calls.append(2); });
        token.removeCallback(removed);
        CancellationToken copy = token;
        copy.cancel();
        token.cancel();
        QVERIFY(token.isCancelled());
        token.onCancel([&] { calls.append(3); });
        QCOMPARE(calls, (QList<int>{1, 3}));
        QVERIFY_THROWS_EXCEPTION(CancellationError, token.throwIfCancelled());
    }

    void weakCallbacks() {
        auto owner = std::make_unique<QObject>();
        owner->setObjectName(QStringLiteral("owner"));
        const auto name = weakCallback(
            owner.get(), [](QObject *o, int n) { return o->objectName() + QString::number(n); });
        QCOMPARE(name(1), QStringLiteral("owner1"));
        owner.reset();
        QCOMPARE(name(2), QString());

        auto other = std::make_unique<QObject>();
        const auto orElse = weakCallback(
            other.get(), [](QObject *, int n) { return n; }, [](int n) { return -n; });
        QCOMPARE(orElse(3), 3);
        other.reset();
        QCOMPARE(orElse(3), -3);

        auto shared = std::make_shared<int>(41);
        const auto next = weakCallback(shared, [](int *value) { return *value + 1; });
        QCOMPARE(next(), 42);
        shared.reset();
        QCOMPARE(next(), 0);
    }
};

VELMORA_TEST_MAIN(AsyncRuntimeTest)
#include "tst_asyncruntime.moc"

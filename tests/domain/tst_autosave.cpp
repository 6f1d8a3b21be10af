#include "domain/DraftAutosaveCoordinator.h"
#include "platform/AsyncSleep.h"
#include "support/TestSupport.h"

#include <QPointer>

#include <memory>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

// A coordinator over a scripted save operation: each save takes `saveDelay` on a real timer and
// throws the next scripted error, if any.
struct Harness {
    struct Call {
        QString content;
        qint64 sequence = 0;
    };

    QList<Call> calls;
    QList<DiarySaveResult> acknowledged;
    // Whether a save was still counted in flight when its acknowledgement ran.
    QList<bool> inFlightWhenAcknowledged;
    QList<DiarySaveState> states;
    QList<std::exception_ptr> failures;
    std::chrono::milliseconds saveDelay{0};
    std::unique_ptr<DraftAutosaveCoordinator> coordinator;

    explicit Harness(DraftAutosaveTiming timing = {40ms, 150ms}) {
        coordinator = std::make_unique<DraftAutosaveCoordinator>(
            timing.idle, timing.maximum,
            [this](DiaryDraftDTO draft, qint64 sequence) -> QCoro::Task<DiarySaveResult> {
                return save(std::move(draft), sequence);
            },
            [this](const DiarySaveResult &result) {
                acknowledged.append(result);
                inFlightWhenAcknowledged.append(coordinator->inFlight());
            });
        coordinator->setStateDidChange(
            [this](const DiarySaveState &state) { states.append(state); });
    }

    QCoro::Task<DiarySaveResult> save(DiaryDraftDTO draft, qint64 sequence) {
        calls.append({draft.content, sequence});
        co_await sleepFor(saveDelay);
        if (!failures.isEmpty())
            std::rethrow_exception(failures.takeFirst());
        DiaryEntryDTO entry;
        entry.dayKey = draft.dayKey;
        entry.content = draft.content;
        entry.revision = DiaryRevision{qint64(calls.size())};
        co_return DiarySaveResult{entry, sequence, DiarySaveDisposition::updated};
    }

    static DiaryDraftDTO draft(const QString &content) {
        DiaryDraftDTO draft;
        draft.dayKey = *DayKey::fromRawValue(QStringLiteral("2024-03-15"));
        draft.content = content;
        return draft;
    }

    void type(const QString &content) { coordinator->schedule(draft(content)); }

    bool idle() {
        return velmora::test::waitUntil(
            [&] { return !coordinator->inFlight() && !coordinator->pendingEdit(); });
    }
};

} // namespace

class AutosaveTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aBurstOfEditsGivesOneSave() {
        Harness h;
        h.type(QStringLiteral("a"));
        h.type(QStringLiteral("ab"));
        h.type(QStringLiteral("abc"));
        QCOMPARE(h.coordinator->state(), DiarySaveState::pending(3));
        QVERIFY(h.idle());
        QCOMPARE(h.calls.size(), 1);
        // The save ends once it is acknowledged, so nothing sees it over before its owner has.
        QCOMPARE(h.inFlightWhenAcknowledged, QList<bool>{true});
        QCOMPARE(h.calls.first().content, QStringLiteral("abc"));
        QCOMPARE(h.coordinator->state(), DiarySaveState::saved(DiaryRevision{1}, 3));
        QCOMPARE(h.acknowledged.size(), 1);
    }

    void continuousTypingStillSaves() {
        // Typing stops well before the idle delay could pass; only the maximum delay can save.
        Harness h({5s, 100ms});
        for (int i = 0; i < 40 && h.calls.isEmpty(); ++i) {
            h.type(QString(i + 1, u'x'));
            QTest::qWait(15);
        }
        QVERIFY(!h.calls.isEmpty());
    }

    void flushWithNothingPendingChangesNothing() {
        Harness h;
        QVERIFY(velmora::test::waitFor(h.coordinator->flush()));
        QCOMPARE(h.coordinator->state(), DiarySaveState::idle());
        QVERIFY(h.states.isEmpty());
    }

    void oneSaveInFlight() {
        Harness h;
        h.saveDelay = 60ms;
        h.type(QStringLiteral("first"));
        QVERIFY(velmora::test::waitUntil([&] { return h.coordinator->inFlight(); }));
        h.type(QStringLiteral("second"));
        // A flush during the save returns at once and starts nothing.
        QVERIFY(velmora::test::waitFor(h.coordinator->flush()));
        QCOMPARE(h.calls.size(), 1);
        QVERIFY(velmora::test::waitUntil([&] { return !h.coordinator->inFlight(); }));
        QCOMPARE(h.coordinator->state(), DiarySaveState::pending(2));
        QVERIFY(h.idle());

        QCOMPARE(h.calls.size(), 2);
        QCOMPARE(h.calls.last().content, QStringLiteral("second"));
        QVERIFY(!h.states.contains(DiarySaveState::saved(DiaryRevision{1}, 1)));
        QCOMPARE(h.coordinator->state(), DiarySaveState::saved(DiaryRevision{2}, 2));
    }

    void failureKeepsTheEdit_data() {
        QTest::addColumn<bool>("typeDuringSave");
        QTest::addColumn<bool>("persistenceError");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("retried");

        const QString conflict =
            PersistenceError::conflict(DiaryRevision{3}, DiaryRevision{4}).message();
        QTest::newRow("store error") << false << true << conflict << "kept";
        QTest::newRow("other error") << false << false << "Disk on fire"
                                     << "kept";
        QTest::newRow("newer edit wins") << true << true << conflict << "newer";
    }

    void failureKeepsTheEdit() {
        QFETCH(bool, typeDuringSave);
        QFETCH(bool, persistenceError);
        QFETCH(QString, message);
        QFETCH(QString, retried);

        Harness h({5s, 10s});
        h.saveDelay = 20ms;
        h.failures.append(persistenceError
                              ? std::make_exception_ptr(
                                    PersistenceError::conflict(DiaryRevision{3}, DiaryRevision{4}))
                              : std::make_exception_ptr(std::runtime_error("Disk on fire")));
        h.type(QStringLiteral("kept"));
        auto flush = h.coordinator->flush();
        if (typeDuringSave)
            h.type(QStringLiteral("newer"));
        QVERIFY(!velmora::test::waitFor(std::move(flush)));

        const qint64 pendingSequence = typeDuringSave ? 2 : 1;
        QCOMPARE(h.coordinator->state(), DiarySaveState::failed(message, pendingSequence));
        QCOMPARE(h.coordinator->lastFailure()->message(),
                 persistenceError ? message : PersistenceError::writeFailed(message).message());
        QCOMPARE(h.coordinator->pendingEdit()->draft.content, retried);

        QVERIFY(velmora::test::waitFor(h.coordinator->flush()));
        QCOMPARE(h.calls.last().content, retried);
        QVERIFY(!h.coordinator->lastFailure());
    }

    void enterSealedStateDropsThePendingEdit() {
        Harness h({30ms, 60ms});
        h.type(QStringLiteral("never saved"));
        h.coordinator->enterSealedState();
        QCOMPARE(h.coordinator->state(), DiarySaveState::sealed());
        QVERIFY(!h.coordinator->pendingEdit());
        QTest::qWait(100);
        QVERIFY(h.calls.isEmpty());
    }

    void timersOutliveNoCoordinator() {
        Harness h({20ms, 40ms});
        h.type(QStringLiteral("gone"));
        h.coordinator.reset();
        QTest::qWait(80);
        QVERIFY(h.calls.isEmpty());
    }
};

VELMORA_TEST_MAIN(AutosaveTest)
#include "tst_autosave.moc"

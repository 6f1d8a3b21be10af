#include "support/SessionFixture.h"

#include "domain/DiarySessionError.h"

#include <QSignalSpy>

using namespace velmora;
using namespace velmora::test;

namespace {

enum class Stored { none, draft, sealed };
enum class Refusal { none, sealed, pastDate, futureDate };

Refusal refusalOf(const std::function<void()> &edit) {
    try {
        edit();
    } catch (const PersistenceError &error) {
        return error.errorCase() == PersistenceError::Case::entryAlreadySealed ? Refusal::sealed
                                                                               : Refusal::none;
    } catch (const DiarySessionError &error) {
        return error.errorCase() == DiarySessionError::Case::pastDateConfirmationRequired
                   ? Refusal::pastDate
                   : Refusal::futureDate;
    }
    return Refusal::none;
}

} // namespace

Q_DECLARE_METATYPE(Stored)
Q_DECLARE_METATYPE(Refusal)

class SessionStoreTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsLoadingTheSystemDay() {
        SessionFixture f;
        const DayKey systemDay = DayKey::fromDate(QDateTime::currentDateTimeUtc(), f.calendar);
        QCOMPARE(f.session->selectedDay(), systemDay);
        QCOMPARE(f.session->phase(), DiarySessionPhase::loading(systemDay));
        QCOMPARE(f.session->saveState(), DiarySaveState::idle());
        QCOMPARE(f.repository->callCount(Operation::entry), 0);
    }

    void authoring_data() {
        QTest::addColumn<int>("dayOffset");
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<DiaryAuthoringAccess>("access");
        QTest::addColumn<DiarySessionPhase::Kind>("phase");
        QTest::addColumn<Refusal>("refusal");

        using A = DiaryAuthoringAccess;
        using P = DiarySessionPhase::Kind;
        QTest::newRow("blank today")
            << 0 << Stored::none << false << A::allowed << P::blank << Refusal::none;
        QTest::newRow("blank yesterday")
            << -1 << Stored::none << false << A::requiresPastDateConfirmation
            << P::authoringUnavailable << Refusal::pastDate;
        QTest::newRow("blank yesterday, confirmed")
            << -1 << Stored::none << true << A::allowed << P::blank << Refusal::none;
        QTest::newRow("blank tomorrow") << 1 << Stored::none << false << A::futureDateUnavailable
                                        << P::authoringUnavailable << Refusal::futureDate;
        QTest::newRow("blank tomorrow, confirmation ignored")
            << 1 << Stored::none << true << A::futureDateUnavailable << P::authoringUnavailable
            << Refusal::futureDate;
        QTest::newRow("draft last year") << -365 << Stored::draft << false << A::existingDraft
                                         << P::editingDraft << Refusal::none;
        QTest::newRow("draft in the future")
            << 3 << Stored::draft << false << A::existingDraft << P::editingDraft << Refusal::none;
        QTest::newRow("sealed today")
            << 0 << Stored::sealed << false << A::sealed << P::readingSealed << Refusal::sealed;
        QTest::newRow("sealed in the past, confirmed")
            << -2 << Stored::sealed << true << A::sealed << P::readingSealed << Refusal::sealed;
    }

    void authoring() {
        QFETCH(int, dayOffset);
        QFETCH(Stored, stored);
        QFETCH(bool, confirm);
        QFETCH(DiaryAuthoringAccess, access);
        QFETCH(DiarySessionPhase::Kind, phase);
        QFETCH(Refusal, refusal);

        SessionFixture f;
        const DayKey day =
            DayKey::fromDate(f.calendar.startOfDayAdding(dayOffset, f.clock->now()), f.calendar);
        if (stored != Stored::none)
            f.seed(day, QStringLiteral("Stored words"),
                   stored == Stored::sealed ? DiaryEntryStatus::sealed : DiaryEntryStatus::draft);
        f.open(day);
        if (confirm)
            f.session->confirmWritingForPastDay();

        QCOMPARE(f.session->authoringAccess(), access);
        QCOMPARE(f.session->phase().kind, phase);
        QCOMPARE(f.session->phase().day, day);
        if (phase == DiarySessionPhase::Kind::authoringUnavailable)
            QCOMPARE(f.session->phase().access, access);
        QCOMPARE(f.session->saveState(),
                 stored == Stored::sealed ? DiarySaveState::sealed() : DiarySaveState::idle());

        // The confirmation lasts only until the day is decided again.
        if (confirm && stored == Stored::none && dayOffset < 0) {
            f.open(SessionFixture::today);
            f.open(day);
            QCOMPARE(f.session->authoringAccess(),
                     DiaryAuthoringAccess::requiresPastDateConfirmation);
            f.session->confirmWritingForPastDay();
        }
        QCOMPARE(refusalOf([&] { f.session->updateDraft(QStringLiteral("New words")); }), refusal);
        QCOMPARE(f.session->pendingDraft().has_value(), refusal == Refusal::none);
    }

    void selectTodayFollowsTheClockInTheCalendarZone() {
        SessionFixture f;
        // 23:30 UTC is already the next day in Paris.
        f.clock->set(QDateTime(QDate(2024, 3, 15), QTime(23, 30), Qt::UTC));
        velmora::test::waitFor(f.session->selectToday());
        QCOMPARE(f.session->selectedDay(), SessionFixture::tomorrow);
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::allowed);
    }

    void refreshAfterMidnightAsksForConfirmation() {
        SessionFixture f;
        f.open(SessionFixture::today);
        f.clock->advance(24h);
        velmora::test::waitFor(f.session->refreshAuthoringAccess());
        QCOMPARE(f.session->phase(),
                 DiarySessionPhase::authoringUnavailable(
                     SessionFixture::today, DiaryAuthoringAccess::requiresPastDateConfirmation));
        QCOMPARE(f.session->saveState(), DiarySaveState::idle());
    }

    void firstEditOfABlankDayCreatesTheEntry() {
        SessionFixture f;
        f.open(SessionFixture::today);
        f.session->updateDraft(QStringLiteral("Morning"));

        const DiaryDraftDTO draft = *f.session->pendingDraft();
        QVERIFY(!draft.id.isNull());
        QCOMPARE(draft.dayKey, SessionFixture::today);
        QCOMPARE(draft.revision, DiaryRevision{});
        QCOMPARE(draft.originTimeZone, QStringLiteral("Europe/Paris"));
        QCOMPARE(draft.createdAt, f.clock->now());
        QCOMPARE(draft.updatedAt, f.clock->now());
        QCOMPARE(draft.fontName, QStringLiteral("Georgia"));
        QCOMPARE(draft.bodyPointSize, 16.0);
        // Until the first save the new day still reads as blank.
        QCOMPARE(f.session->phase(), DiarySessionPhase::blank(SessionFixture::today));
        QVERIFY(f.session->hasPendingLocalWriting());

        QVERIFY(f.settled());
        QCOMPARE(f.repository->saveCalls().size(), 1);
        QCOMPARE(f.repository->saveCalls().first().expectedRevision, std::nullopt);
        QCOMPARE(f.session->currentEntry()->content, QStringLiteral("Morning"));
        QCOMPARE(f.session->currentEntry()->revision, DiaryRevision{1});
        QCOMPARE(f.session->currentEntry()->id, draft.id);
        QCOMPARE(f.session->saveState(), DiarySaveState::saved(DiaryRevision{1}, 1));
        QCOMPARE(f.session->phase(), DiarySessionPhase::editingDraft(SessionFixture::today));
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::existingDraft);
        QVERIFY(!f.session->pendingDraft());
        QVERIFY(!f.session->hasPendingLocalWriting());
    }

    void editOfAStoredEntryKeepsItsIdentity() {
        SessionFixture f;
        const DiaryEntryDTO stored =
            f.seed(SessionFixture::yesterday, QStringLiteral("Old"), DiaryEntryStatus::draft, 7);
        f.open(SessionFixture::yesterday);
        f.session->updateDraft(QStringLiteral("Old and new"));
        QVERIFY(f.settled());

        const auto &call = f.repository->saveCalls().first();
        QCOMPARE(call.draft.id, stored.id);
        QCOMPARE(call.draft.createdAt, stored.createdAt);
        QCOMPARE(call.draft.revision, stored.revision);
        QCOMPARE(call.expectedRevision, std::optional(stored.revision));
        QCOMPARE(call.draft.bodyPointSize, stored.bodyPointSize);
        QCOMPARE(f.repository->stored(SessionFixture::yesterday)->revision, DiaryRevision{8});
        QCOMPARE(f.session->currentText(), QStringLiteral("Old and new"));
    }

    void draftFontAndSize_data() {
        QTest::addColumn<bool>("withEntry");
        QTest::addColumn<std::optional<QString>>("font");
        QTest::addColumn<std::optional<double>>("size");
        QTest::addColumn<QString>("expectedFont");
        QTest::addColumn<double>("expectedSize");

        const auto none = std::optional<QString>();
        QTest::newRow("nothing given, no entry")
            << false << none << std::optional<double>() << "Baskerville" << 20.0;
        QTest::newRow("nothing given, entry")
            << true << none << std::optional<double>() << "Baskerville" << 18.0;
        QTest::newRow("blank font") << true << std::optional<QString>(" \n ") << std::optional(13.0)
                                    << "Baskerville" << 13.0;
        QTest::newRow("font trimmed") << false << std::optional<QString>("  Cochin\t")
                                      << std::optional<double>() << "Cochin" << 20.0;
    }

    void draftFontAndSize() {
        QFETCH(bool, withEntry);
        QFETCH(std::optional<QString>, font);
        QFETCH(std::optional<double>, size);
        QFETCH(QString, expectedFont);
        QFETCH(double, expectedSize);

        SessionFixture f;
        f.settings->setSelectedFont(QStringLiteral("Baskerville"));
        f.settings->setDefaultFontSize(20);
        if (withEntry)
            f.seed(SessionFixture::today, QStringLiteral("x"));
        f.open(SessionFixture::today);
        f.session->updateDraft(QStringLiteral("y"), font, size);
        QCOMPARE(f.session->pendingDraft()->fontName, expectedFont);
        QCOMPARE(f.session->pendingDraft()->bodyPointSize, expectedSize);
    }

    void typingDuringASaveStaysPending() {
        SessionFixture f;
        f.open(SessionFixture::today);
        f.repository->setDelay(Operation::save, 80ms);
        f.session->updateDraft(QStringLiteral("First"));
        QVERIFY(waitUntil([&] { return f.session->autosave().inFlight(); }));
        QCOMPARE(f.session->phase(), DiarySessionPhase::saving(SessionFixture::today));
        f.session->updateDraft(QStringLiteral("First and second"));
        QVERIFY(waitUntil([&] { return !f.session->autosave().inFlight(); }));

        QCOMPARE(f.session->currentEntry()->content, QStringLiteral("First"));
        QCOMPARE(f.session->pendingDraft()->content, QStringLiteral("First and second"));
        QVERIFY(f.session->hasPendingLocalWriting());
        QCOMPARE(f.session->saveState().kind, DiarySaveState::Kind::pending);
        QCOMPARE(f.session->currentText(), QStringLiteral("First and second"));

        QVERIFY(f.settled());
        QCOMPARE(f.repository->stored(SessionFixture::today)->content,
                 QStringLiteral("First and second"));
        QVERIFY(!f.session->hasPendingLocalWriting());
    }

    void failedSaveShowsTheMessageAndKeepsTheText() {
        SessionFixture f;
        f.open(SessionFixture::today);
        const auto error = PersistenceError::writeFailed(QStringLiteral("Disk full."));
        f.repository->failNext(Operation::save, error);
        f.session->updateDraft(QStringLiteral("Keep me"));
        QVERIFY(
            waitUntil([&] { return f.session->saveState().kind == DiarySaveState::Kind::failed; }));
        QCOMPARE(f.session->phase(),
                 DiarySessionPhase::saveFailed(SessionFixture::today, error.message()));
        QVERIFY(f.session->hasPendingLocalWriting());
        QCOMPARE(f.session->currentText(), QStringLiteral("Keep me"));

        QVERIFY(velmora::test::waitFor(f.session->flushPendingWriting()));
        QCOMPARE(f.repository->stored(SessionFixture::today)->content, QStringLiteral("Keep me"));
    }

    // The change-of-day protocol: flush first, load, then publish; a newer change owns the state.
    void overtakenChangeRestoresNothing() {
        SessionFixture f;
        f.seed(SessionFixture::yesterday, QStringLiteral("Yesterday"));
        f.open(SessionFixture::today);
        f.repository->script(Operation::entry, {60ms, {}});
        auto first = f.session->changeDay(SessionFixture::yesterday);
        QVERIFY(waitUntil([&] { return f.repository->inProgress(Operation::entry) == 1; }));
        QCOMPARE(f.session->phase(), DiarySessionPhase::loading(SessionFixture::yesterday));
        auto second = f.session->changeDay(SessionFixture::tomorrow);

        QSignalSpy days(f.session.get(), &DiarySessionStore::selectedDayChanged);
        QVERIFY(failureOf<CancellationError>(std::move(first)));
        velmora::test::waitFor(std::move(second));
        QCOMPARE(f.session->selectedDay(), SessionFixture::tomorrow);
        QCOMPARE(days.size(), 1);
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::futureDateUnavailable);
    }

    // The change that failed took its snapshot while an older, overtaken change was loading:
    // the older change's loading phase is not put back.
    void failedReadAfterAnOvertakenChangeLoadsNothing() {
        SessionFixture f;
        f.open(SessionFixture::today);
        const auto phase = f.session->phase();
        f.repository->script(Operation::entry, {60ms, {}});
        f.repository->failNext(Operation::entry, PersistenceError::readFailed(QStringLiteral("x")),
                               10ms);
        auto first = f.session->changeDay(SessionFixture::yesterday);
        QVERIFY(waitUntil([&] { return f.repository->inProgress(Operation::entry) == 1; }));
        QVERIFY(failureOf<PersistenceError>(f.session->changeDay(SessionFixture::tomorrow)));
        QVERIFY(failureOf<CancellationError>(std::move(first)));
        QCOMPARE(f.session->selectedDay(), SessionFixture::today);
        QCOMPARE(f.session->phase(), phase);
    }

    void failedChangeRestoresExactly_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("read fails") << false;
        QTest::newRow("cancelled while loading") << true;
    }

    void failedChangeRestoresExactly() {
        QFETCH(bool, cancel);
        SessionFixture f;
        f.seed(SessionFixture::today, QStringLiteral("Today"));
        f.open(SessionFixture::today);
        f.session->updateDraft(QStringLiteral("Today, more"));
        QVERIFY(f.settled());
        const auto entry = f.session->currentEntry();
        const auto state = f.session->saveState();
        const auto access = f.session->authoringAccess();
        const auto phase = f.session->phase();

        CancellationToken token;
        const auto readError = PersistenceError::readFailed(QStringLiteral("Gone."));
        if (cancel)
            f.repository->beforeNext(Operation::entry, [&] { token.cancel(); });
        else
            f.repository->failNext(Operation::entry, readError, 10ms);
        QSignalSpy phases(f.session.get(), &DiarySessionStore::phaseChanged);
        auto change = f.session->changeDay(SessionFixture::yesterday, token);
        if (cancel)
            QVERIFY(failureOf<CancellationError>(std::move(change)));
        else
            QCOMPARE(failureOf<PersistenceError>(std::move(change)), std::optional(readError));

        QVERIFY(phases.size() >= 2); // loading was shown, then taken back
        QCOMPARE(f.session->selectedDay(), SessionFixture::today);
        QCOMPARE(f.session->currentEntry(), entry);
        QCOMPARE(f.session->saveState(), state);
        QCOMPARE(f.session->authoringAccess(), access);
        QCOMPARE(f.session->phase(), phase);
    }

    // The flush before loading is part of what is shown: a failed read does not bring back the
    // save state of writing that has been stored since.
    void failedReadAfterAFlushShowsTheSave() {
        SessionFixture f;
        f.open(SessionFixture::today);
        f.session->updateDraft(QStringLiteral("Saved on the way out"));
        f.repository->failNext(Operation::entry, PersistenceError::readFailed(QStringLiteral("x")));
        QVERIFY(failureOf<PersistenceError>(f.session->changeDay(SessionFixture::yesterday)));
        QCOMPARE(f.session->saveState(), DiarySaveState::saved(DiaryRevision{1}, 1));
        QCOMPARE(f.session->phase(), DiarySessionPhase::editingDraft(SessionFixture::today));
        QCOMPARE(f.session->currentEntry(), f.repository->stored(SessionFixture::today));
        QVERIFY(!f.session->hasPendingLocalWriting());
    }

    // Writing of the shown day saved while the next day loads is newer than what the change
    // found: a failed read takes back only its own loading phase, so the next save is no
    // conflict.
    void failedReadKeepsASaveMadeWhileLoading() {
        SessionFixture f;
        f.seed(SessionFixture::today, QStringLiteral("Today"));
        f.open(SessionFixture::today);
        f.repository->failNext(Operation::entry, PersistenceError::readFailed(QStringLiteral("x")),
                               150ms);
        auto change = f.session->changeDay(SessionFixture::yesterday);
        QCOMPARE(f.session->phase(), DiarySessionPhase::loading(SessionFixture::yesterday));
        f.session->updateDraft(QStringLiteral("Typed while loading"));
        QVERIFY(f.settled());
        QVERIFY(failureOf<PersistenceError>(std::move(change)));

        QCOMPARE(f.session->currentEntry(), f.repository->stored(SessionFixture::today));
        QCOMPARE(f.session->saveState(), DiarySaveState::saved(DiaryRevision{2}, 1));
        QCOMPARE(f.session->phase(), DiarySessionPhase::editingDraft(SessionFixture::today));
        f.session->updateDraft(QStringLiteral("And more"));
        QVERIFY(velmora::test::waitFor(f.session->flushPendingWriting()));
        QCOMPARE(f.repository->stored(SessionFixture::today)->content, QStringLiteral("And more"));
        QVERIFY(f.repository->recoveryRecords().isEmpty());
    }

    void changeWaitsForTheSaveInFlight() {
        SessionFixture f;
        f.open(SessionFixture::today);
        f.repository->setDelay(Operation::save, 60ms);
        f.session->updateDraft(QStringLiteral("Before leaving"));
        QVERIFY(waitUntil([&] { return f.session->autosave().inFlight(); }));
        f.open(SessionFixture::yesterday);
        QCOMPARE(f.repository->stored(SessionFixture::today)->content,
                 QStringLiteral("Before leaving"));
        QCOMPARE(f.repository->callCount(Operation::save), 1);
        QVERIFY(!f.session->pendingDraft());
        QCOMPARE(f.session->saveState(), DiarySaveState::idle());
    }

    void failedFlushStopsTheChange() {
        SessionFixture f;
        f.open(SessionFixture::today);
        f.repository->failNext(Operation::save,
                               PersistenceError::writeFailed(QStringLiteral("No.")));
        f.session->updateDraft(QStringLiteral("Unsaved"));
        const auto error =
            failureOf<PersistenceError>(f.session->changeDay(SessionFixture::yesterday));
        QVERIFY(error);
        QCOMPARE(error->message(),
                 QStringLiteral("The diary could not be saved: Pending writing could not be saved "
                                "before changing pages."));
        QCOMPARE(f.session->selectedDay(), SessionFixture::today);
        QCOMPARE(f.session->autosave().pendingEdit()->draft.content, QStringLiteral("Unsaved"));
        QCOMPARE(f.repository->callCount(Operation::entry), 1);
    }

    void entryDaysOfAMonth_data() {
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<QSet<int>>("days");
        QTest::newRow("middle of march")
            << QDateTime(QDate(2024, 3, 20), QTime(12, 0), Qt::UTC) << QSet<int>{1, 15, 31};
        QTest::newRow("first instant of march in Paris")
            << QDateTime(QDate(2024, 2, 29), QTime(23, 0), Qt::UTC) << QSet<int>{1, 15, 31};
        QTest::newRow("december") << QDateTime(QDate(2023, 12, 5), QTime(12, 0), Qt::UTC)
                                  << QSet<int>{31};
    }

    void entryDaysOfAMonth() {
        QFETCH(QDateTime, date);
        QFETCH(QSet<int>, days);
        SessionFixture f;
        for (const char *key :
             {"2023-12-31", "2024-02-29", "2024-03-01", "2024-03-15", "2024-03-31", "2024-04-01"})
            f.seed(SessionFixture::day(key), QStringLiteral("x"));
        QCOMPARE(velmora::test::waitFor(f.session->entryDays(date)), days);
    }

    void handleRecordsTheCommandOnly() {
        SessionFixture f;
        QSignalSpy changes(f.session.get(), &DiarySessionStore::objectWillChange);
        DiaryCommandRouter router;
        router.setHandler(f.session.get());
        router.send(DiaryCommand::seal);
        QCOMPARE(f.session->lastCommand(), std::optional(DiaryCommand::seal));
        QCOMPARE(changes.size(), 1);
    }
};

VELMORA_TEST_MAIN(SessionStoreTest)
#include "tst_sessionstore.moc"

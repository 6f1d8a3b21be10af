#include "support/SessionFixture.h"

#include <QSignalSpy>

using namespace velmora;
using namespace velmora::test;

class SessionWritingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sealSavesPendingWritingFirst() {
        SessionFixture f;
        f.seed(SessionFixture::today, QStringLiteral("Draft"));
        f.open(SessionFixture::today);
        f.session->updateDraft(QStringLiteral("Draft, finished"));
        const DiaryEntryDTO sealed = velmora::test::waitFor(f.session->seal());

        QCOMPARE(sealed.content, QStringLiteral("Draft, finished"));
        QVERIFY(f.repository->stored(SessionFixture::today)->isSealed());
        QCOMPARE(f.session->currentEntry(), std::optional(sealed));
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::sealed);
        QCOMPARE(f.session->phase(), DiarySessionPhase::readingSealed(SessionFixture::today));
        QCOMPARE(f.session->saveState(), DiarySaveState::sealed());
        QVERIFY(!f.session->hasPendingLocalWriting());
    }

    void sealRefusals_data() {
        QTest::addColumn<bool>("withEntry");
        QTest::addColumn<bool>("sealedAlready");
        QTest::addColumn<bool>("saveFails");
        QTest::addColumn<bool>("sealFails");
        QTest::addColumn<QString>("message");
        QTest::addColumn<DiarySessionPhase::Kind>("phase");

        using P = DiarySessionPhase::Kind;
        QTest::newRow("pending writing not saved")
            << true << false << true << false
            << "The diary could not be saved: The latest writing could not be saved before "
               "sealing."
            << P::editingDraft;
        QTest::newRow("no entry") << false << false << false << false
                                  << "The diary contains invalid data: There is no draft for the "
                                     "selected day."
                                  << P::blank;
        QTest::newRow("already sealed")
            << true << true << false << false << "This diary entry is already sealed."
            << P::readingSealed;
        QTest::newRow("store refuses") << true << false << false << true
                                       << "The diary backup failed: Busy." << P::editingDraft;
    }

    void sealRefusals() {
        QFETCH(bool, withEntry);
        QFETCH(bool, sealedAlready);
        QFETCH(bool, saveFails);
        QFETCH(bool, sealFails);
        QFETCH(QString, message);
        QFETCH(DiarySessionPhase::Kind, phase);

        SessionFixture f;
        if (withEntry)
            f.seed(SessionFixture::today, QStringLiteral("Words"),
                   sealedAlready ? DiaryEntryStatus::sealed : DiaryEntryStatus::draft);
        f.open(SessionFixture::today);
        if (saveFails) {
            f.repository->failNext(Operation::save, PersistenceError::writeFailed("Disk full."));
            f.session->updateDraft(QStringLiteral("More words"));
        }
        if (sealFails)
            f.repository->failNext(Operation::seal, PersistenceError::backupFailed("Busy."));

        const auto error = failureOf<PersistenceError>(f.session->seal());
        QVERIFY(error);
        QCOMPARE(error->message(), message);
        QCOMPARE(f.session->phase().kind, phase);
        QCOMPARE(f.repository->stored(SessionFixture::today).has_value(), withEntry);
        if (withEntry)
            QCOMPARE(f.repository->stored(SessionFixture::today)->isSealed(), sealedAlready);
        if (sealFails)
            QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::existingDraft);
        if (saveFails)
            QCOMPARE(f.session->currentText(), QStringLiteral("More words"));
    }

    // An edit belongs to the day it was typed on, even when a change of day is loading.
    void editWhileTheNextDayLoads_data() {
        QTest::addColumn<DayKey>("target");
        QTest::addColumn<bool>("targetStored");
        QTest::addColumn<DiaryAuthoringAccess>("access");

        QTest::newRow("to a stored day with the same revision")
            << SessionFixture::yesterday << true << DiaryAuthoringAccess::existingDraft;
        QTest::newRow("to a blank past day") << SessionFixture::yesterday << false
                                             << DiaryAuthoringAccess::requiresPastDateConfirmation;
        QTest::newRow("to a blank future day")
            << SessionFixture::tomorrow << false << DiaryAuthoringAccess::futureDateUnavailable;
        QTest::newRow("reloading the same day")
            << SessionFixture::today << false << DiaryAuthoringAccess::existingDraft;
    }

    void editWhileTheNextDayLoads() {
        QFETCH(DayKey, target);
        QFETCH(bool, targetStored);
        QFETCH(DiaryAuthoringAccess, access);

        SessionFixture f;
        const DiaryEntryDTO today = f.seed(SessionFixture::today, QStringLiteral("Today"));
        std::optional<DiaryEntryDTO> other;
        if (targetStored)
            other = f.seed(target, QStringLiteral("The other day"));
        f.open(SessionFixture::today);

        // Typed just before the read returns, so the edit is still pending when it does.
        f.repository->beforeNext(Operation::entry, [&] {
            QCOMPARE(f.session->phase(), DiarySessionPhase::loading(target));
            f.session->updateDraft(QStringLiteral("Typed while loading"));
        });
        velmora::test::waitFor(f.session->changeDay(target));

        const auto storedToday = f.repository->stored(SessionFixture::today);
        QCOMPARE(storedToday->content, QStringLiteral("Typed while loading"));
        QCOMPARE(storedToday->id, today.id);
        QCOMPARE(f.repository->stored(target),
                 target == SessionFixture::today ? storedToday : other);
        QCOMPARE(f.session->selectedDay(), target);
        QCOMPARE(f.session->currentEntry(), f.repository->stored(target));
        QCOMPARE(f.session->currentText(),
                 f.session->currentEntry() ? f.session->currentEntry()->content : QString());
        QCOMPARE(f.session->authoringAccess(), access);
        QVERIFY(!f.session->hasPendingLocalWriting());
    }

    // A save that arrives for a day no longer shown keeps that day's own identity and leaves
    // the open day alone.
    void saveOfAnotherDayKeepsItsOwnIdentity() {
        SessionFixture f;
        const DiaryEntryDTO earlier = f.seed(SessionFixture::yesterday, QStringLiteral("Then"));
        const DiaryEntryDTO shown = f.seed(SessionFixture::today, QStringLiteral("Now"));
        f.open(SessionFixture::today);

        DiaryDraftDTO draft{earlier.id,
                            earlier.dayKey,
                            QStringLiteral("Then, again"),
                            earlier.fontName,
                            18,
                            earlier.originTimeZone,
                            earlier.createdAt,
                            f.clock->now(),
                            earlier.revision};
        const DiarySaveResult result = velmora::test::waitFor(f.session->performAutosave(draft, 1));
        QCOMPARE(f.repository->saveCalls().last().expectedRevision,
                 std::optional(earlier.revision));
        QCOMPARE(result.entry.id, earlier.id);
        f.session->acknowledgeSave(result);
        QCOMPARE(f.session->currentEntry(), std::optional(shown));
        QCOMPARE(f.repository->stored(SessionFixture::today), std::optional(shown));
    }

    // While the seal is stored edits are refused (the page is about to become read-only); a
    // seal by the other device meanwhile leaves the day shown as sealed.
    void whileSealing_data() {
        QTest::addColumn<bool>("sealedElsewhere");
        QTest::newRow("typing") << false;
        QTest::newRow("sealed by the other device meanwhile") << true;
    }

    void whileSealing() {
        QFETCH(bool, sealedElsewhere);
        SessionFixture f;
        f.seed(SessionFixture::today, QStringLiteral("Final words"));
        f.open(SessionFixture::today);
        f.repository->setDelay(Operation::seal, 60ms);
        auto seal = f.session->seal();
        QVERIFY(waitUntil([&] { return f.repository->inProgress(Operation::seal) == 1; }));
        QCOMPARE(f.session->phase(), DiarySessionPhase::sealing(SessionFixture::today));
        QVERIFY_THROWS_EXCEPTION(PersistenceError,
                                 f.session->updateDraft(QStringLiteral("Too late")));
        QVERIFY(!f.session->pendingDraft());

        if (sealedElsewhere) {
            DiaryEntryDTO synced = *f.repository->stored(SessionFixture::today);
            synced.status = DiaryEntryStatus::sealed;
            synced = velmora::test::waitFor(
                f.repository->applyRemote(synced, synced.revision, std::nullopt));
            velmora::test::waitFor(f.session->applySyncedEntry(synced));
            QVERIFY(failureOf<PersistenceError>(std::move(seal)));
            QCOMPARE(f.session->currentEntry(), std::optional(synced));
        } else {
            velmora::test::waitFor(std::move(seal));
        }
        QCOMPARE(f.repository->stored(SessionFixture::today)->content,
                 QStringLiteral("Final words"));
        QCOMPARE(f.repository->callCount(Operation::save), 0);
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::sealed);
        QCOMPARE(f.session->phase(), DiarySessionPhase::readingSealed(SessionFixture::today));
    }

    // Whatever the editor holds is stored as saved: saving the same words again changes
    // nothing and leaves nothing pending.
    void theSameTextSavedAgainIsUnchanged_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("leading U+FEFF") << QString(QChar(0xFEFF)) + QStringLiteral("Dear diary");
        QTest::newRow("unpaired surrogate") << QStringLiteral("half ") + QChar(0xD83D);
    }

    void theSameTextSavedAgainIsUnchanged() {
        QFETCH(QString, typed);
        SessionFixture f;
        f.open(SessionFixture::today);
        for (int save = 0; save < 4; ++save) {
            f.session->updateDraft(typed);
            QVERIFY(f.settled());
        }
        QCOMPARE(f.repository->stored(SessionFixture::today)->revision, DiaryRevision{1});
        QCOMPARE(f.repository->stored(SessionFixture::today)->content, f.session->currentText());
        QVERIFY(!f.session->pendingDraft());
        QVERIFY(!f.session->hasPendingLocalWriting());
    }

    // Edits stay refused while any seal of the day runs: one seal failing while another still
    // runs must not reopen the page, or the landing seal drops what was typed meanwhile.
    void overlappingSealsKeepTheDayClosed_data() {
        QTest::addColumn<bool>("refused");
        QTest::newRow("first refused") << true;
        QTest::newRow("first failed to write") << false;
    }

    void overlappingSealsKeepTheDayClosed() {
        QFETCH(bool, refused);
        const PersistenceError firstFailure =
            refused ? PersistenceError::conflict(DiaryRevision{1}, DiaryRevision{2})
                    : PersistenceError::writeFailed("Disk full.");
        SessionFixture f;
        f.seed(SessionFixture::today, QStringLiteral("Stored draft"));
        f.open(SessionFixture::today);
        f.repository->failNext(Operation::seal, firstFailure, 50ms);
        f.repository->script(Operation::seal, {300ms, nullptr});
        auto first = f.session->seal();
        auto second = f.session->seal();
        QVERIFY(waitUntil([&] { return f.repository->inProgress(Operation::seal) == 2; }));
        QVERIFY(failureOf<PersistenceError>(std::move(first)));
        QCOMPARE(f.repository->inProgress(Operation::seal), 1);
        QVERIFY_THROWS_EXCEPTION(PersistenceError, f.session->updateDraft(QStringLiteral("Lost?")));

        const DiaryEntryDTO sealed = velmora::test::waitFor(std::move(second));
        QCOMPARE(sealed.content, QStringLiteral("Stored draft"));
        QCOMPARE(f.session->currentText(), QStringLiteral("Stored draft"));
        QVERIFY(!f.session->hasPendingLocalWriting());
        QCOMPARE(f.session->phase(), DiarySessionPhase::readingSealed(SessionFixture::today));
    }

    // A seal refused because the other device sealed the day re-reads it; edits typed during
    // that read would be shown over the sealed page and lost, so they are refused too.
    void editsWaitForTheReadAfterARefusedSeal() {
        SessionFixture f;
        const DiaryEntryDTO mine = f.seed(SessionFixture::today, QStringLiteral("Mine"));
        f.open(SessionFixture::today);
        DiaryEntryDTO other = mine;
        other.content = QStringLiteral("Other device");
        other.status = DiaryEntryStatus::sealed;
        velmora::test::waitFor(f.repository->applyRemote(other, mine.revision, std::nullopt));
        f.repository->setDelay(Operation::entry, 100ms);

        auto seal = f.session->seal();
        QVERIFY(waitUntil([&] { return f.repository->inProgress(Operation::entry) == 1; }));
        QVERIFY_THROWS_EXCEPTION(PersistenceError, f.session->updateDraft(QStringLiteral("Lost?")));
        QCOMPARE(failureOf<PersistenceError>(std::move(seal))->errorCase(),
                 PersistenceError::Case::entryAlreadySealed);
        QCOMPARE(f.session->currentText(), QStringLiteral("Other device"));
        QVERIFY(!f.session->hasPendingLocalWriting());
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::sealed);
    }

    // A seal refused because the stored entry moved on shows what is stored, so sealing again
    // seals those words instead of failing the same way for ever.
    void sealRefusedByAConflictShowsTheStoredEntry_data() {
        QTest::addColumn<DiaryEntryStatus>("storedStatus");
        QTest::addColumn<PersistenceError::Case>("refusal");
        QTest::newRow("written elsewhere")
            << DiaryEntryStatus::draft << PersistenceError::Case::conflict;
        QTest::newRow("sealed elsewhere")
            << DiaryEntryStatus::sealed << PersistenceError::Case::entryAlreadySealed;
    }

    void sealRefusedByAConflictShowsTheStoredEntry() {
        QFETCH(DiaryEntryStatus, storedStatus);
        QFETCH(PersistenceError::Case, refusal);
        SessionFixture f;
        const DiaryEntryDTO mine = f.seed(SessionFixture::today, QStringLiteral("Mine"));
        f.open(SessionFixture::today);
        DiaryEntryDTO other = mine;
        other.content = QStringLiteral("Other device");
        other.status = storedStatus;
        const DiaryEntryDTO stored =
            velmora::test::waitFor(f.repository->applyRemote(other, mine.revision, std::nullopt));

        const auto failure = failureOf<PersistenceError>(f.session->seal());
        QVERIFY(failure);
        QCOMPARE(failure->errorCase(), refusal);
        QCOMPARE(f.session->currentEntry(), std::optional(stored));
        if (storedStatus == DiaryEntryStatus::sealed) {
            QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::sealed);
            QCOMPARE(f.session->phase(), DiarySessionPhase::readingSealed(SessionFixture::today));
            return;
        }
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::existingDraft);
        const DiaryEntryDTO sealed = velmora::test::waitFor(f.session->seal());
        QCOMPARE(sealed.content, QStringLiteral("Other device"));
        QVERIFY(sealed.isSealed());
    }

    // A save refused because the stored entry moved on is brought up to date, so a retry works
    // and nothing typed or stored is lost.
    void rejectedSaveRecovers_data() {
        QTest::addColumn<bool>("openedBlank");
        QTest::addColumn<DiaryEntryStatus>("storedStatus");
        QTest::addColumn<QString>("recovered");
        QTest::addColumn<DiarySaveState::Kind>("stateAfterFailure");
        QTest::addColumn<QString>("storedAfterRetry");
        QTest::addColumn<bool>("diaryReplaced");

        QTest::newRow("draft changed elsewhere")
            << false << DiaryEntryStatus::draft << "Other device" << DiarySaveState::Kind::failed
            << "Mine" << false;
        QTest::newRow("blank day written elsewhere")
            << true << DiaryEntryStatus::draft << "Other device" << DiarySaveState::Kind::failed
            << "Mine" << false;
        QTest::newRow("sealed elsewhere")
            << false << DiaryEntryStatus::sealed << "Mine" << DiarySaveState::Kind::sealed
            << "Other device" << false;
        // A restore or an import replaced the diary under a page that was not held, with the
        // same entry at the same revision: the words typed on the old page are kept aside, never
        // saved over the new one, which the page then shows.
        QTest::newRow("diary replaced, same revision")
            << false << DiaryEntryStatus::draft << "Mine" << DiarySaveState::Kind::idle
            << "Other device" << true;
        QTest::newRow("diary replaced, blank day written")
            << true << DiaryEntryStatus::draft << "Mine" << DiarySaveState::Kind::idle
            << "Other device" << true;
    }

    void rejectedSaveRecovers() {
        QFETCH(bool, openedBlank);
        QFETCH(DiaryEntryStatus, storedStatus);
        QFETCH(QString, recovered);
        QFETCH(DiarySaveState::Kind, stateAfterFailure);
        QFETCH(QString, storedAfterRetry);
        QFETCH(bool, diaryReplaced);

        SessionFixture f;
        if (!openedBlank)
            f.seed(SessionFixture::today, QStringLiteral("Base"));
        f.open(SessionFixture::today);
        DiaryEntryDTO elsewhere =
            f.storedEntry(SessionFixture::today, QStringLiteral("Other device"), storedStatus,
                          openedBlank || diaryReplaced ? 1 : 2);
        if (!openedBlank)
            elsewhere.id = f.session->currentEntry()->id;
        if (diaryReplaced) {
            DiarySnapshotDTO diary = velmora::test::waitFor(f.repository->snapshot());
            diary.entries = {elsewhere};
            velmora::test::waitFor(f.repository->replaceAll(diary));
        } else {
            f.repository->put(elsewhere);
        }

        f.session->updateDraft(QStringLiteral("Mine"));
        QVERIFY(waitUntil([&] { return f.session->saveState().kind == stateAfterFailure; }));
        QCOMPARE(contents(f.repository->recoveredEntries()), QStringList{recovered});
        QCOMPARE(f.session->currentEntry()->revision, elsewhere.revision);

        // Retry, as the page screen does before leaving.
        QVERIFY(velmora::test::waitFor(f.session->flushPendingWriting()));
        QCOMPARE(f.repository->stored(SessionFixture::today)->content, storedAfterRetry);
        QCOMPARE(f.repository->stored(SessionFixture::today)->id, elsewhere.id);
        QCOMPARE(f.session->currentText(), storedAfterRetry);
        QVERIFY(!f.session->hasPendingLocalWriting());
        f.open(SessionFixture::yesterday);
        QCOMPARE(f.session->selectedDay(), SessionFixture::yesterday);
    }

    // When the stored version cannot be kept aside, nothing is overwritten: the text stays
    // pending and the next retry tries again.
    void rejectedSaveWithoutRecoveryOverwritesNothing() {
        SessionFixture f;
        f.seed(SessionFixture::today, QStringLiteral("Base"));
        f.open(SessionFixture::today);
        DiaryEntryDTO elsewhere = *f.repository->stored(SessionFixture::today);
        elsewhere.content = QStringLiteral("Other device");
        elsewhere.revision = DiaryRevision{2};
        f.repository->put(elsewhere);
        f.repository->failNext(Operation::preserveRecovery,
                               PersistenceError::writeFailed(QStringLiteral("Full.")));

        f.session->updateDraft(QStringLiteral("Mine"));
        QVERIFY(
            waitUntil([&] { return f.session->saveState().kind == DiarySaveState::Kind::failed; }));
        QVERIFY(f.repository->recoveryRecords().isEmpty());
        QCOMPARE(f.session->currentEntry()->revision, DiaryRevision{1});
        QVERIFY(!velmora::test::waitFor(f.session->flushPendingWriting()));
        QCOMPARE(f.repository->stored(SessionFixture::today), std::optional(elsewhere));
        QVERIFY(velmora::test::waitFor(f.session->flushPendingWriting()));
        QCOMPARE(contents(f.repository->recoveredEntries()), QStringList{"Other device"});
        QCOMPARE(f.repository->stored(SessionFixture::today)->content, QStringLiteral("Mine"));
    }

    // Local writing that a synced entry replaces is kept first.
    void syncedEntryOverLocalWriting_data() {
        QTest::addColumn<DayKey>("syncedDay");
        QTest::addColumn<DiaryEntryStatus>("syncedStatus");
        QTest::addColumn<QString>("syncedContent");
        QTest::addColumn<QStringList>("recovered");
        QTest::addColumn<int>("countChange");

        QTest::newRow("synced draft") << SessionFixture::today << DiaryEntryStatus::draft
                                      << "From the tablet" << QStringList{"Typed here"} << 1;
        QTest::newRow("synced sealed entry") << SessionFixture::today << DiaryEntryStatus::sealed
                                             << "From the tablet" << QStringList{"Typed here"} << 1;
        QTest::newRow("same text") << SessionFixture::today << DiaryEntryStatus::draft
                                   << "Typed here" << QStringList{} << 1;
        QTest::newRow("another day") << SessionFixture::yesterday << DiaryEntryStatus::draft
                                     << "From the tablet" << QStringList{} << 0;
    }

    void syncedEntryOverLocalWriting() {
        QFETCH(DayKey, syncedDay);
        QFETCH(DiaryEntryStatus, syncedStatus);
        QFETCH(QString, syncedContent);
        QFETCH(QStringList, recovered);
        QFETCH(int, countChange);

        SessionFixture f;
        f.seed(SessionFixture::today, QStringLiteral("Base"));
        f.seed(SessionFixture::yesterday, QStringLiteral("Yesterday"));
        f.open(SessionFixture::today);
        f.session->updateDraft(QStringLiteral("Typed here"));

        // What the sync does: store the page, then hand it over.
        DiaryEntryDTO synced = *f.repository->stored(syncedDay);
        synced.content = syncedContent;
        synced.status = syncedStatus;
        synced = velmora::test::waitFor(
            f.repository->applyRemote(synced, synced.revision, std::nullopt));
        velmora::test::waitFor(f.session->applySyncedEntry(synced));

        // Whatever the autosave did meanwhile, the text typed here was kept somewhere.
        QVERIFY(f.settled());
        QStringList kept = contents(f.repository->recoveredEntries());
        kept.removeAll(syncedContent);
        QCOMPARE(kept, recovered);
        QCOMPARE(f.session->syncedChangeCount(), countChange);
        if (countChange == 0) {
            QCOMPARE(f.session->currentText(), QStringLiteral("Typed here"));
            return;
        }
        QCOMPARE(f.session->currentEntry(), f.repository->stored(SessionFixture::today));
        QCOMPARE(f.session->currentText(), syncedContent);
        QCOMPARE(f.repository->stored(SessionFixture::today)->content, syncedContent);
        QVERIFY(!f.session->hasPendingLocalWriting());
        QCOMPARE(f.session->authoringAccess(), syncedStatus == DiaryEntryStatus::sealed
                                                   ? DiaryAuthoringAccess::sealed
                                                   : DiaryAuthoringAccess::existingDraft);
    }

    // Waiting for a save in flight yields to the event loop on every look, and a change whose
    // task is already cancelled still lets that save complete rather than spinning.
    void flushWaitYieldsToTheEventLoop_data() {
        QTest::addColumn<bool>("cancelledChange");
        QTest::newRow("flush") << false;
        QTest::newRow("cancelled change of day") << true;
    }

    void flushWaitYieldsToTheEventLoop() {
        QFETCH(bool, cancelledChange);
        SessionFixture f;
        f.open(SessionFixture::today);
        f.repository->setDelay(Operation::save, 50ms);
        f.session->updateDraft(QStringLiteral("In flight"));
        QVERIFY(waitUntil([&] { return f.session->autosave().inFlight(); }));

        int turns = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++turns; });
        ticker.start(0);
        if (cancelledChange) {
            CancellationToken token;
            token.cancel();
            QVERIFY(failureOf<CancellationError>(
                f.session->changeDay(SessionFixture::yesterday, token)));
            QCOMPARE(f.session->selectedDay(), SessionFixture::today);
        } else {
            QVERIFY(velmora::test::waitFor(f.session->flushPendingWriting()));
        }
        QVERIFY(turns > 1);
        QVERIFY(!f.session->autosave().inFlight());
        QCOMPARE(f.repository->stored(SessionFixture::today)->content, QStringLiteral("In flight"));
        QCOMPARE(f.repository->callCount(Operation::save), 1);
    }

    void releasingTheStoreMidSaveIsSafe() {
        SessionFixture f;
        f.open(SessionFixture::today);
        f.repository->setDelay(Operation::save, 30ms);
        f.session->updateDraft(QStringLiteral("Orphan"));
        const QString typed = f.session->autosave().pendingEdit()->draft.content;
        QVERIFY(waitUntil([&] { return f.session->autosave().inFlight(); }));
        // Released mid-save: the save still finishes without touching the store object.
        f.session.reset();
        QVERIFY(waitUntil([&] { return f.repository->inProgress(Operation::save) == 0; }));
        QTest::qWait(20);
        QCOMPARE(f.repository->stored(SessionFixture::today)->content, typed);
    }
};

VELMORA_TEST_MAIN(SessionWritingTest)
#include "tst_sessionwriting.moc"

#include "PageScreenFixture.h"

#include "support/GuiTestMain.h"

#include <QFile>

Q_DECLARE_METATYPE(velmora::DiaryReplacementKind)

using namespace velmora;
using namespace velmora::test;

namespace {

const QString diskFull = QStringLiteral("The diary could not be saved: The disk is full.");

// How many times the saved note came up.
int shownCount(const QSignalSpy &spy) {
    int count = 0;
    for (const auto &arguments : spy)
        count += arguments.at(0).toBool() ? 1 : 0;
    return count;
}

} // namespace

class PageControllerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void opensTodayAndFocusesTheEditor() {
        PageScreenFixture f;
        QVERIFY(f.open());
        QCOMPARE(f.session->selectedDay(), PageScreenFixture::today);
        QCOMPARE(f.page->entryText(), QString());
        QCOMPARE(f.page->pageContentKind(), PageContentKind::editor);
        QVERIFY(waitUntil([&] { return f.page->focusRequest() == 1; }));
        QCOMPARE(f.defaults->stringValue(UserDefaultsSettingsStore::lastOpenedDaySetting.key),
                 QStringLiteral("2024-03-15"));
        // The page system lays out to the page's writing area from the first layout on.
        QCOMPARE(f.pages->metrics().width, 696.0);
        QCOMPARE(f.pages->metrics().height, 840.0);
    }

    void typingAutosavesAndTheFooterFollows() {
        PageScreenFixture f;
        QVERIFY(f.open());
        QCOMPARE(f.page->saveStateNote(), std::nullopt);
        f.page->setEntryTextFromEditor(QStringLiteral("Dear diary"));
        QCOMPARE(f.page->saveStateNote(), QStringLiteral("Saving…"));
        QVERIFY(
            waitUntil([&] { return f.page->saveStateNote() == QStringLiteral("Draft saved"); }));
        QCOMPARE(f.stored(PageScreenFixture::today)->content, QStringLiteral("Dear diary"));
        // The same text again sends nothing.
        const int saves = f.repository->saveCount;
        f.page->setEntryTextFromEditor(QStringLiteral("Dear diary"));
        QVERIFY(!f.session->autosave().pendingEdit());
        QCOMPARE(f.repository->saveCount, saves);
    }

    void deletedTextStaysDeleted_data() {
        QTest::addColumn<bool>("whileSaving");
        QTest::newRow("before the first save") << false;
        QTest::newRow("while the first save runs") << true;
    }

    void deletedTextStaysDeleted() {
        QFETCH(bool, whileSaving);
        PageScreenFixture f;
        QVERIFY(f.open());
        f.repository->holdSaves = whileSaving;
        f.page->setEntryTextFromEditor(QStringLiteral("Something I regret"));
        if (whileSaving)
            QVERIFY(waitUntil([&] { return f.session->autosave().inFlight(); }));
        f.page->setEntryTextFromEditor(QString());
        f.repository->holdSaves = false;
        QVERIFY(f.settled());
        QTest::qWait(2 * int(PageScreenFixture::autosave.maximum.count() / 1000000));
        QVERIFY(f.settled());
        const auto entry = f.stored(PageScreenFixture::today);
        QVERIFY(entry);
        QCOMPARE(entry->content, QString());
        QCOMPARE(f.page->persistenceError(), std::nullopt);
    }

    void saveShowsTheNoteOnceEvenDuringASave() {
        PageScreenFixture f;
        QVERIFY(f.open());
        QSignalSpy note(f.page.get(), &VuzIvoduPageView::showSavedNoteChanged);
        f.repository->holdSaves = true;
        f.page->setEntryTextFromEditor(QStringLiteral("first"));
        QVERIFY(waitUntil([&] { return f.session->autosave().inFlight(); }));
        f.page->setEntryTextFromEditor(QStringLiteral("first and second"));
        f.router.send(DiaryCommand::save);
        QTest::qWait(20);
        QVERIFY(!f.page->showSavedNote());
        f.repository->holdSaves = false;
        QVERIFY(waitUntil([&] { return f.page->showSavedNote(); }));
        QCOMPARE(f.stored(PageScreenFixture::today)->content, QStringLiteral("first and second"));
        QVERIFY(waitUntil([&] { return !f.page->showSavedNote(); }));
        QTest::qWait(50);
        QCOMPARE(shownCount(note), 1);
    }

    // Sealing right after Save: the card is never drawn under the note, whether the save
    // ended before the card was asked for or after.
    void theSavedNoteMakesWayForTheSealCard_data() {
        QTest::addColumn<bool>("saveEndsFirst");
        QTest::newRow("note shown, then the card") << true;
        QTest::newRow("card shown, then the save ends") << false;
    }

    void theSavedNoteMakesWayForTheSealCard() {
        QFETCH(bool, saveEndsFirst);
        PageScreenFixture f;
        QVERIFY(f.open());
        bool noteOverCard = false;
        const auto look = [&] {
            noteOverCard =
                noteOverCard || (f.page->showSavedNote() && f.page->showSealConfirmation());
        };
        connect(f.page.get(), &VuzIvoduPageView::showSavedNoteChanged, this, look);
        connect(f.page.get(), &VuzIvoduPageView::showSealConfirmationChanged, this, look);
        f.repository->holdSaves = !saveEndsFirst;
        f.page->setEntryTextFromEditor(QStringLiteral("Done for today"));
        f.router.send(DiaryCommand::save);
        if (saveEndsFirst)
            QVERIFY(waitUntil([&] { return f.page->showSavedNote(); }));
        else
            QVERIFY(waitUntil([&] { return f.session->autosave().inFlight(); }));
        f.router.send(DiaryCommand::seal);
        QVERIFY(f.page->showSealConfirmation());
        f.repository->holdSaves = false;
        QVERIFY(waitUntil([&] {
            return f.stored(PageScreenFixture::today) &&
                   f.stored(PageScreenFixture::today)->content ==
                       QStringLiteral("Done for today") &&
                   !f.session->autosave().inFlight();
        }));
        QTest::qWait(30);
        QVERIFY(f.page->showSealConfirmation());
        QVERIFY(!noteOverCard);
        QVERIFY(!f.page->showSavedNote());
    }

    void saveWithAnEmptyEditorDoesNothing() {
        PageScreenFixture f;
        QVERIFY(f.open());
        QSignalSpy note(f.page.get(), &VuzIvoduPageView::showSavedNoteChanged);
        int syncRequests = 0;
        f.page->setSyncScheduler([&](std::chrono::nanoseconds) { ++syncRequests; });
        f.router.send(DiaryCommand::save);
        QTest::qWait(30);
        QCOMPARE(note.count(), 0);
        QCOMPARE(syncRequests, 0);
        QCOMPARE(f.repository->saveCount, 0);
    }

    void sealAsksOnlyWhenAllowed_data() {
        QTest::addColumn<QString>("dayText");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("asks");
        QTest::newRow("written today") << "2024-03-15"
                                       << "" << false << "Done for today" << true;
        QTest::newRow("spaces count") << "2024-03-15"
                                      << "" << false << "   " << true;
        QTest::newRow("empty editor") << "2024-03-15"
                                      << "" << false << "" << false;
        QTest::newRow("sealed entry") << "2024-03-12"
                                      << "Old words" << true << "" << false;
        QTest::newRow("past day not confirmed") << "2024-03-11"
                                                << "" << false << "" << false;
    }

    void sealAsksOnlyWhenAllowed() {
        QFETCH(QString, dayText);
        QFETCH(QString, stored);
        QFETCH(bool, sealed);
        QFETCH(QString, typed);
        QFETCH(bool, asks);
        PageScreenFixture f;
        if (!stored.isEmpty())
            f.seed(dayText.toLatin1().constData(), stored, sealed);
        QVERIFY(f.openDay(*DayKey::fromRawValue(dayText)));
        if (!typed.isEmpty())
            f.page->setEntryTextFromEditor(typed);
        f.router.send(DiaryCommand::seal);
        QCOMPARE(f.page->showSealConfirmation(), asks);
        if (!asks)
            return;

        f.page->confirmSeal();
        QVERIFY(!f.page->showSealConfirmation());
        QVERIFY(waitUntil([&] { return f.page->showSealAcknowledgement(); }));
        const auto entry = f.stored(PageScreenFixture::today);
        QVERIFY(entry && entry->isSealed());
        QCOMPARE(entry->content, typed);
        QCOMPARE(f.pages->selectedLeafIndex(), 0);
        QCOMPARE(f.pages->selectedDescriptor()->kind, PageKind::sealed);
        QCOMPARE(f.page->pageContentKind(), PageContentKind::nothing);
        QVERIFY(waitUntil([&] { return !f.page->showSealAcknowledgement(); }));
        // A sealed page takes no more writing and asks nothing.
        f.page->setEntryTextFromEditor(typed + QStringLiteral(" more"));
        QCOMPARE(f.page->persistenceError(), std::nullopt);
        f.router.send(DiaryCommand::seal);
        QVERIFY(!f.page->showSealConfirmation());
    }

    void aFailingSaveRaisesTheAlertAndRetryClearsIt() {
        PageScreenFixture f;
        QVERIFY(f.open());
        f.repository->failSaves = true;
        f.page->setEntryTextFromEditor(QStringLiteral("Words worth keeping"));
        QVERIFY(waitUntil([&] { return f.page->isPersistenceErrorPresented(); }));
        QCOMPARE(f.page->persistenceAlertMessage(), diskFull);
        QCOMPARE(f.page->saveStateNote(), QStringLiteral("Not saved"));
        QCOMPARE(f.page->entryText(), QStringLiteral("Words worth keeping"));

        f.page->retry();
        QVERIFY(waitUntil([&] {
            return f.page->persistenceError() ==
                   QStringLiteral("The draft still could not be saved. Keep this page open or "
                                  "save a separate copy.");
        }));

        f.repository->failSaves = false;
        f.page->retry();
        QVERIFY(!f.page->isPersistenceErrorPresented());
        QVERIFY(f.settled());
        QCOMPARE(f.page->persistenceError(), std::nullopt);
        QCOMPARE(f.stored(PageScreenFixture::today)->content,
                 QStringLiteral("Words worth keeping"));
        QCOMPARE(f.page->persistenceAlertMessage(), QStringLiteral("Please try again."));
    }

    void aFailingSaveNowShowsTheSavesOwnMessage() {
        PageScreenFixture f;
        QVERIFY(f.open());
        f.repository->failSaves = true;
        f.page->setEntryTextFromEditor(QStringLiteral("x"));
        f.page->dismissPersistenceError();
        f.router.send(DiaryCommand::save);
        QVERIFY(waitUntil([&] { return f.page->persistenceError() == diskFull; }));
        QVERIFY(!f.page->showSavedNote());
    }

    void leavingDrainsFirst_data() {
        QTest::addColumn<bool>("failing");
        QTest::newRow("saved, then closed") << false;
        QTest::newRow("failing, stays open") << true;
    }

    void leavingDrainsFirst() {
        QFETCH(bool, failing);
        PageScreenFixture f;
        QVERIFY(f.open());
        QSignalSpy closed(f.page.get(), &VuzIvoduPageView::closeDiaryRequested);
        const QString text = QStringLiteral("Unsaved thought");
        f.page->setEntryTextFromEditor(text);
        f.repository->failSaves = failing;
        f.page->handleEscape();
        QVERIFY(f.page->showLeavePrompt());
        f.page->leaveAndComeBack();
        QVERIFY(!f.page->showLeavePrompt());
        if (!failing) {
            QVERIFY(waitUntil([&] { return closed.count() == 1; }));
            QCOMPARE(f.stored(PageScreenFixture::today)->content, text);
            return;
        }
        QVERIFY(waitUntil([&] {
            return f.page->persistenceError() ==
                   QStringLiteral("Your latest writing could not be saved. The diary will remain "
                                  "open so nothing is discarded.");
        }));
        QCOMPARE(closed.count(), 0);
        QCOMPARE(f.page->entryText(), text);
        QCOMPARE(f.session->currentText(), text);
    }

    void lockThisPageSealsThenLeaves() {
        PageScreenFixture f;
        QVERIFY(f.open());
        QSignalSpy closed(f.page.get(), &VuzIvoduPageView::closeDiaryRequested);
        f.page->setEntryTextFromEditor(QStringLiteral("Final words"));
        f.page->requestClose();
        QVERIFY(f.page->showLeavePrompt());
        f.page->lockPageAndLeave();
        QVERIFY(waitUntil([&] { return closed.count() == 1; }));
        QVERIFY(f.stored(PageScreenFixture::today)->isSealed());
        QVERIFY(!f.page->showSealAcknowledgement());
    }

    void closingABlankOrWhitespacePageAsksNothing() {
        PageScreenFixture f;
        QVERIFY(f.open());
        QSignalSpy closed(f.page.get(), &VuzIvoduPageView::closeDiaryRequested);
        f.page->setEntryTextFromEditor(QStringLiteral(" \n "));
        f.page->requestClose();
        QVERIFY(!f.page->showLeavePrompt());
        QVERIFY(waitUntil([&] { return closed.count() == 1; }));
    }

    void disappearingWithAFailingSaveKeepsTheText() {
        PageScreenFixture f;
        QVERIFY(f.open());
        f.repository->failSaves = true;
        f.page->setEntryTextFromEditor(QStringLiteral("Kept"));
        f.page->dismissPersistenceError();
        f.page->disappear();
        QVERIFY(waitUntil([&] {
            return f.page->persistenceError() ==
                   QStringLiteral(
                       "Your latest writing is still on this page but could not be saved to disk.");
        }));
        QCOMPARE(f.session->currentText(), QStringLiteral("Kept"));
    }

    void reopensTheLastPage_data() {
        QTest::addColumn<bool>("reopens");
        QTest::addColumn<QString>("lastOpened");
        QTest::addColumn<QString>("expected");
        QTest::newRow("on") << true << "2024-03-10"
                            << "2024-03-10";
        QTest::newRow("on, not a day") << true << "2024-02-30"
                                       << "2024-03-15";
        QTest::newRow("on, today") << true << "2024-03-15"
                                   << "2024-03-15";
        QTest::newRow("off") << false << "2024-03-10"
                             << "2024-03-15";
    }

    void reopensTheLastPage() {
        QFETCH(bool, reopens);
        QFETCH(QString, lastOpened);
        QFETCH(QString, expected);
        PageScreenFixture f;
        f.seed("2024-03-10", QStringLiteral("A Sunday"));
        f.defaults->setBool(UserDefaultsSettingsStore::reopensLastPageSetting.key, reopens);
        f.defaults->setString(UserDefaultsSettingsStore::lastOpenedDaySetting.key, lastOpened);
        QVERIFY(f.open());
        QVERIFY(waitUntil([&] { return f.session->selectedDay().rawValue() == expected; }));
        QVERIFY(waitUntil([&] { return f.pages->transition() == PageTransitionState::idle(); }));
        QCOMPARE(f.page->entryText(),
                 expected == QStringLiteral("2024-03-10") ? QStringLiteral("A Sunday") : QString());
        QCOMPARE(f.defaults->stringValue(UserDefaultsSettingsStore::lastOpenedDaySetting.key),
                 expected);
    }

    void theNotices_data() {
        QTest::addColumn<QString>("dayText");
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("action");
        QTest::newRow("earlier blank page")
            << "2024-03-01" << false << int(PageContentKind::notice) << "Write for this date?"
            << "Write for this date";
        QTest::newRow("future blank page") << "2024-03-20" << false << int(PageContentKind::notice)
                                           << "This page is waiting for its day."
                                           << "";
        QTest::newRow("sealed page") << "2024-03-02" << true << int(PageContentKind::nothing) << ""
                                     << "";
    }

    void theNotices() {
        QFETCH(QString, dayText);
        QFETCH(bool, sealed);
        QFETCH(int, kind);
        QFETCH(QString, title);
        QFETCH(QString, action);
        PageScreenFixture f;
        if (sealed)
            f.seed(dayText.toLatin1().constData(), QStringLiteral("Sealed words"), true);
        QVERIFY(f.openDay(*DayKey::fromRawValue(dayText)));
        QCOMPARE(int(f.page->pageContentKind()), kind);
        const auto notice = f.page->pageNotice();
        QCOMPARE(notice.has_value(), !title.isEmpty());
        if (notice) {
            QCOMPARE(notice->title, title);
            QCOMPARE(notice->actionTitle.value_or(QString()), action);
        }
        // Typing is refused where the page may not be written, with the session's reason.
        const int focus = f.page->focusRequest();
        f.page->setEntryTextFromEditor(QStringLiteral("x"));
        QCOMPARE(f.page->isPersistenceErrorPresented(), !sealed);
        if (action.isEmpty())
            return;
        f.page->dismissPersistenceError();
        f.page->confirmPastDateWriting();
        QCOMPARE(f.page->pageContentKind(), PageContentKind::editor);
        QCOMPARE(f.page->focusRequest(), focus + 1);
        f.page->setEntryTextFromEditor(QStringLiteral("Remembered"));
        QVERIFY(f.settled());
        QCOMPARE(f.stored(*DayKey::fromRawValue(dayText))->content, QStringLiteral("Remembered"));
    }

    void theCivilDateMovesOnWhileOpen() {
        PageScreenFixture f;
        QVERIFY(f.openDay(day("2024-03-16")));
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::futureDateUnavailable);
        QSignalSpy dateChanged(f.page.get(), &VuzIvoduPageView::civilDateChanged);
        // Midnight in Paris.
        f.clock->set(QDateTime(QDate(2024, 3, 15), QTime(23, 0, 1), QTimeZone::utc()));
        f.page->reevaluateCivilDate();
        QCOMPARE(dateChanged.count(), 1);
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::allowed);

        // The page that was today stays writable the next morning.
        f.page->navigate(day("2024-03-15"));
        QVERIFY(waitUntil([&] { return f.session->selectedDay() == day("2024-03-15"); }));
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::requiresPastDateConfirmation);
        f.page->confirmPastDateWriting();
        f.clock->set(QDateTime(QDate(2024, 3, 16), QTime(23, 0, 1), QTimeZone::utc()));
        f.page->reevaluateCivilDate();
        QCOMPARE(dateChanged.count(), 2);
        QCOMPARE(f.session->authoringAccess(), DiaryAuthoringAccess::allowed);
    }

    void sealedLongEntryHasItsPageCountOnFirstOpen() {
        PageScreenFixture f;
        QString longText;
        for (int paragraph = 0; paragraph < 40; ++paragraph)
            longText += QStringLiteral("Paragraph %1: ").arg(paragraph) +
                        QStringLiteral("the rain kept on and the lamp burned low, ").repeated(7) +
                        QLatin1Char('\n');
        f.seed("2024-03-15", longText, true);
        QVERIFY(f.open());
        const auto firstOpen = f.pages->descriptors().size();
        QVERIFY(firstOpen > 1);
        f.settings->setReadingScale(1.3);
        QVERIFY(f.pages->descriptors().size() != firstOpen);
        f.settings->setReadingScale(1.0);
        QCOMPARE(f.pages->descriptors().size(), firstOpen);
    }

    void readingScaleIsBounded_data() {
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("applied");
        QTest::newRow("too large") << 2.0 << 1.4;
        QTest::newRow("too small") << 0.5 << 0.8;
        QTest::newRow("in range") << 1.1 << 1.1;
    }

    void readingScaleIsBounded() {
        QFETCH(double, scale);
        QFETCH(double, applied);
        PageScreenFixture f;
        QVERIFY(f.open());
        f.settings->setReadingScale(scale);
        QCOMPARE(f.pages->metrics().readingScale, applied);
    }

    void aPageCopyHoldsExactlyTheEditorsText() {
        PageScreenFixture f;
        QVERIFY(f.open());
        const QString text =
            QStringLiteral("Caf\u00e9 \u2014 \u201cnot yet stored\u201d\n\U0001F600");
        f.repository->holdSaves = true;
        f.page->setEntryTextFromEditor(text);
        QCOMPARE(f.page->proposedCopyName(), QStringLiteral("Velmora - 2024-03-15.txt"));
        const QString path = f.store.dir.filePath(f.page->proposedCopyName());
        test::waitFor(f.page->saveCopy(path));
        QFile copy(path);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), text.toUtf8());
        QCOMPARE(f.page->persistenceError(), std::nullopt);

        test::waitFor(
            f.page->saveCopy(f.store.dir.filePath(QStringLiteral("missing/folder/copy.txt"))));
        QVERIFY(f.page->isPersistenceErrorPresented());
        f.repository->holdSaves = false;
        QVERIFY(f.settled());
    }

    // The page is on its way from the moment the book opens or a turn starts until it rests on
    // its day with the turn drawn; only then, and with nothing over it, does typing write.
    void settlingAndWhatTypingMayDo() {
        PageScreenFixture f;
        f.seed("2024-03-14", QStringLiteral("Yesterday"));
        QSignalSpy settling(f.page.get(), &VuzIvoduPageView::settlingChanged);
        f.page->appear();
        QVERIFY(f.page->isSettling());
        QVERIFY(!f.page->acceptsTyping());
        QVERIFY(waitUntil([&] { return !f.page->isSettling(); }));
        QCOMPARE(settling.count(), 2);
        QVERIFY(f.page->acceptsTyping());

        f.repository->heldReads = day("2024-03-14");
        f.page->turnToPreviousPage();
        QVERIFY(f.page->isSettling());
        QVERIFY(!f.page->acceptsTyping());
        f.repository->heldReads.reset();
        QVERIFY(waitUntil([&] { return !f.page->isSettling(); }));
        QCOMPARE(f.session->selectedDay(), day("2024-03-14"));
        QVERIFY(f.page->acceptsTyping());
        // A turn is settled once the page system's turn is drawn too.
        PageTransitionState drawn;
        drawn.phase = PageTransitionPhase::animating;
        f.pages->setTransition(drawn);
        QVERIFY(f.page->isSettling());
        f.page->finishPageTurn();
        QVERIFY(!f.page->isSettling());
        QCOMPARE(settling.count(), 6);

        f.page->setShowCalendar(true);
        QVERIFY(f.page->isPageCovered());
        QVERIFY(!f.page->acceptsTyping());
        f.page->setShowCalendar(false);
        f.page->handleCommand(DiaryCommand::seal);
        QVERIFY(f.page->isPageCovered());
        f.page->hideSealConfirmation();
        QVERIFY(!f.page->isPageCovered());
    }

    // Under the seal card nothing takes the page away from the question; saving still works and
    // the search card may still open over it. Once answered, the card that says so holds nothing.
    void theSealCardHoldsThePage_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("leavesTheDay");
        QTest::newRow("go to today") << int(DiaryCommand::goToToday) << false << false;
        QTest::newRow("new entry") << int(DiaryCommand::newEntry) << false << false;
        QTest::newRow("find") << int(DiaryCommand::find) << false << false;
        QTest::newRow("sealed, go to today") << int(DiaryCommand::goToToday) << true << true;
        QTest::newRow("sealed, new entry") << int(DiaryCommand::newEntry) << true << true;
    }

    void theSealCardHoldsThePage() {
        QFETCH(int, command);
        QFETCH(bool, answered);
        QFETCH(bool, leavesTheDay);
        PageScreenFixture f;
        f.seed("2024-03-14", QStringLiteral("Yesterday"));
        QVERIFY(f.openDay(day("2024-03-14")));
        f.page->handleCommand(DiaryCommand::seal);
        QVERIFY(f.page->showSealConfirmation());
        if (answered) {
            f.page->confirmSeal();
            QVERIFY(waitUntil([&] { return f.page->showSealAcknowledgement(); }));
        }
        f.page->handleCommand(DiaryCommand(command));
        if (leavesTheDay)
            QVERIFY(
                waitUntil([&] { return f.session->selectedDay() == PageScreenFixture::today; }));
        QTest::qWait(50);
        QCOMPARE(f.session->selectedDay() != day("2024-03-14"), leavesTheDay);
        QCOMPARE(f.page->showSealConfirmation(), !answered);
        QCOMPARE(f.page->showSearch(), DiaryCommand(command) == DiaryCommand::find);
    }

    // While the diary is replaced underneath it, the page says so, takes no writing and does not
    // turn; a seal card or leave prompt it showed goes, since it asked about the page being
    // replaced. Afterwards the page takes writing again.
    void aReplacedDiaryHoldsThePage_data() {
        QTest::addColumn<DiaryReplacementKind>("kind");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("note");
        QTest::newRow("restore") << DiaryReplacementKind::restore << ""
                                 << "Restoring…";
        QTest::newRow("import") << DiaryReplacementKind::import << ""
                                << "Importing…";
        QTest::newRow("restore under the seal card") << DiaryReplacementKind::restore << "seal card"
                                                     << "Restoring…";
        QTest::newRow("import under the leave prompt")
            << DiaryReplacementKind::import << "leave prompt"
            << "Importing…";
        // Agreed to just before: the seal still waiting on the page's last save must not seal
        // the page shown once the hold ends.
        QTest::newRow("restore as the seal is confirmed")
            << DiaryReplacementKind::restore << "seal confirmed"
            << "Restoring…";
    }

    void aReplacedDiaryHoldsThePage() {
        QFETCH(DiaryReplacementKind, kind);
        QFETCH(QString, shown);
        QFETCH(QString, note);
        PageScreenFixture f;
        f.seed("2024-03-14", QStringLiteral("Yesterday"));
        QVERIFY(f.openDay(day("2024-03-14")));
        if (shown.startsWith(u"seal"))
            f.page->handleCommand(DiaryCommand::seal);
        if (shown == u"leave prompt")
            f.page->requestClose();
        QVERIFY(f.page->isPageCovered() == !shown.isEmpty());
        if (shown == u"seal confirmed")
            f.page->confirmSeal();

        QVERIFY(test::waitFor(f.session->beginReplacement(kind)));
        QCOMPARE(f.page->saveStateNote(), note);
        QVERIFY(!f.page->showSealConfirmation() && !f.page->showLeavePrompt());
        QVERIFY(!f.page->acceptsTyping());
        f.page->turnToNextPage();
        f.page->handleCommand(DiaryCommand::seal);
        QVERIFY(!f.page->showSealConfirmation());
        f.page->requestClose();
        QVERIFY(!f.page->showLeavePrompt());
        QVERIFY(!f.page->isSettling());

        test::waitFor(f.session->endReplacement());
        if (shown == u"seal confirmed")
            QVERIFY(waitUntil([&] {
                return f.page->persistenceError() || f.stored(day("2024-03-14"))->isSealed();
            }));
        QVERIFY(!f.stored(day("2024-03-14"))->isSealed());
        QCOMPARE(f.session->selectedDay(), day("2024-03-14"));
        if (shown != u"seal confirmed")
            QCOMPARE(f.page->saveStateNote(), std::nullopt);
        if (shown == u"seal confirmed") {
            // Said, not done.
            QVERIFY(f.page->persistenceError()->contains(u"cannot be sealed"));
            f.page->dismissPersistenceError();
        }
        QVERIFY(f.page->acceptsTyping());
        QCOMPARE(f.repository->saveCount, shown == u"seal confirmed" ? 1 : 0);
    }

    void aCommandIsHandledOncePerEvent() {
        PageScreenFixture f;
        f.router.send(DiaryCommand::find);
        QVERIFY(f.open());
        QVERIFY(f.page->showSearch());
        f.page->disappear();
        // A new appearance does not replay what was handled.
        f.page->appear();
        QVERIFY(f.page->showSearch());
        f.router.send(DiaryCommand::find);
        QVERIFY(!f.page->showSearch());
    }

    void aFailedSaveStateAtOpeningRaisesTheAlertAtOnce() {
        PageScreenFixture f;
        QVERIFY(f.open());
        f.repository->failSaves = true;
        f.page->setEntryTextFromEditor(QStringLiteral("x"));
        QVERIFY(waitUntil([&] { return f.page->isPersistenceErrorPresented(); }));
        f.page->disappear();
        QVERIFY(waitUntil([&] { return !f.session->autosave().inFlight(); }));
        f.page->dismissPersistenceError();
        QSignalSpy raised(f.page.get(), &VuzIvoduPageView::persistenceErrorChanged);
        f.page->appear();
        QVERIFY(!raised.isEmpty());
        QCOMPARE(raised.first().at(0).value<std::optional<QString>>(), diskFull);
    }
};

VELMORA_GUI_TEST_MAIN(PageControllerTest)
#include "tst_pagecontroller.moc"

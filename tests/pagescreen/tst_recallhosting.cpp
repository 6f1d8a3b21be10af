#include "PageScreenFixture.h"

#include "book/MacRuledTextView.h"
#include "book/PaperSealRitualView.h"
#include "pagescreen/MacPageTools.h"
#include "pagescreen/PageOverlayMotion.h"
#include "pagescreen/VuzIvoduPageArea.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "pagescreen/VuzIvoduRecallCards.h"
#include "recall/DiaryHandwritingIndex.h"
#include "support/GuiTestMain.h"

#include <QAction>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListView>

using namespace velmora;
using namespace velmora::test;

namespace {

// On this day as a test scripts it: every question is written down with the civil date it was
// asked for, and each answer waits until the test lets it go.
struct ScriptedOnThisDay {
    struct Call {
        QDate date;
        bool released = false;
        bool finished = false;
        DiaryOnThisDay answer;
    };
    QList<std::shared_ptr<Call>> calls;
    bool holdAnswers = false;
    DiaryOnThisDay answer;

    VuzIvoduPageView::OnThisDayQuery query() {
        return [this](QDateTime date, GregorianCalendar calendar) {
            auto call =
                std::make_shared<Call>(Call{calendar.civilDate(date), !holdAnswers, false, answer});
            calls.append(call);
            return answerWhenReleased(call);
        };
    }

    static QCoro::Task<DiaryOnThisDay> answerWhenReleased(std::shared_ptr<Call> call) {
        while (!call->released)
            co_await sleepFor(std::chrono::milliseconds(2), CancellationToken());
        call->finished = true;
        co_return call->answer;
    }

    QList<QDate> dates() const {
        QList<QDate> asked;
        for (const auto &call : calls)
            asked.append(call->date);
        return asked;
    }
};

DiaryOnThisDay answerFrom(int firstYear, const QStringList &days = {}) {
    DiaryOnThisDay answer;
    if (firstYear)
        answer.firstYear = firstYear;
    for (const QString &key : days)
        answer.items.append(DiaryOnThisDayItem{*DayKey::fromRawValue(key), 1, key});
    return answer;
}

QDateTime utcAt(const char *text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

// What a menu bar item does with its key: the command goes through the router.
void addMenuKey(QWidget &window, DiaryCommandRouter &router, const QKeySequence &keys,
                DiaryCommand command) {
    auto *item = new QAction(&window);
    item->setShortcut(keys);
    item->setShortcutContext(Qt::WindowShortcut);
    window.addAction(item);
    QObject::connect(item, &QAction::triggered, &router,
                     [&router, command] { router.send(command); });
}

// The widget a click at a point of the page meets, as the page's own tree sees it.
QWidget *topAt(VuzIvoduPageWidget &widget, const QPoint &pagePoint) {
    return widget.pageArea()->childAt(pagePoint);
}

// Shows the page and waits until it has answered its first focus request; false if it did not.
bool showSettled(VuzIvoduPageWidget &widget) {
    widget.show();
    widget.activateWindow();
    if (!QTest::qWaitForWindowActive(&widget) || !waitUntil([&] {
            return widget.controller().focusRequest() == 1 && widget.editor()->hasFocus();
        }))
        return false;
    // The editor's own answer to that request, queued behind it.
    QTest::qWait(10);
    return true;
}

} // namespace

class RecallHostingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theYearMenuSpansTheWritingTheMonthAndNextYear_data() {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("firstYear"); // 0: nothing written
        QTest::addColumn<QString>("month");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        const QDateTime in2025 = utcAt("2025-03-10T12:00:00Z");
        QTest::newRow("nothing written") << in2025 << 0 << "2025-03-10" << 2025 << 2026;
        QTest::newRow("written since 2019, May 2023")
            << in2025 << 2019 << "2023-05-20" << 2019 << 2026;
        QTest::newRow("a month years ahead") << in2025 << 0 << "2030-01-01" << 2025 << 2030;
        QTest::newRow("a month before the first writing")
            << in2025 << 2019 << "2012-07-04" << 2012 << 2026;
        QTest::newRow("writing dated after this year")
            << in2025 << 2027 << "2025-03-10" << 2025 << 2026;
        QTest::newRow("December of next year") << in2025 << 0 << "2026-12-31" << 2025 << 2026;
        QTest::newRow("this year is the diary's, not UTC's")
            << utcAt("2025-12-31T23:30:00Z") << 0 << "2026-01-01" << 2026 << 2027;
    }
    void theYearMenuSpansTheWritingTheMonthAndNextYear() {
        QFETCH(QDateTime, now);
        QFETCH(int, firstYear);
        QFETCH(QString, month);
        QFETCH(int, first);
        QFETCH(int, last);
        PageScreenFixture f;
        f.clock->set(now);
        ScriptedOnThisDay onThisDay;
        onThisDay.answer = answerFrom(firstYear);
        f.page->setOnThisDayQuery(onThisDay.query());
        test::waitFor(f.page->reloadOnThisDay());
        QCOMPARE(f.page->firstYear().value_or(0), firstYear);
        f.page->changeCalendarMonth(*DayKey::fromRawValue(month));
        QCOMPARE(f.pages->calendarMonth().firstDay.rawValue(), month.left(8) + "01");
        QCOMPARE(f.page->calendarYears(), std::make_pair(first, last));
    }

    void monthChangesMarkOnlyTheMonthShown_data() {
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QStringList>("steps"); // days handed to the month change, quickly
        QTest::addColumn<QString>("month");
        QTest::addColumn<QList<int>>("marks");
        const QStringList written{"2023-12-24", "2023-12-31", "2024-01-02",
                                  "2024-03-10", "2024-12-25", "2025-01-01"};
        QTest::newRow("back over new year")
            << written << QStringList{"2023-12-05"} << "2023-12-01" << QList<int>{24, 31};
        QTest::newRow("forward over new year")
            << written << QStringList{"2024-12-31", "2025-01-15"} << "2025-01-01" << QList<int>{1};
        QTest::newRow("paging quickly lands on the last")
            << written << QStringList{"2024-02-10", "2024-01-10", "2023-12-10"} << "2023-12-01"
            << QList<int>{24, 31};
        QTest::newRow("a month without writing")
            << written << QStringList{"2024-11-30"} << "2024-11-01" << QList<int>{};
    }
    void monthChangesMarkOnlyTheMonthShown() {
        QFETCH(QStringList, written);
        QFETCH(QStringList, steps);
        QFETCH(QString, month);
        QFETCH(QList<int>, marks);
        PageScreenFixture f;
        for (const QString &key : written)
            f.seed(key.toLatin1().constData(), QStringLiteral("Words of ") + key);
        QVERIFY(f.open());
        f.page->openCalendar();
        QVERIFY(waitUntil([&] { return f.page->calendarEntryDays() == QSet<int>{10}; }));

        // Whenever the marks change, they are marks of the month then shown.
        QStringList wrong;
        const auto check = [&] {
            const QString shown = f.pages->calendarMonth().firstDay.rawValue().left(8);
            for (const int dayOfMonth : f.page->calendarEntryDays()) {
                const QString key = shown + QString::number(dayOfMonth).rightJustified(2, '0');
                if (!written.contains(key))
                    wrong.append(key);
            }
        };
        connect(f.page.get(), &VuzIvoduPageView::entryDaysChanged, f.page.get(), check);
        connect(f.pages.get(), &DiaryPageSystemStore::calendarMonthChanged, f.page.get(), check);
        for (const QString &step : steps)
            f.page->changeCalendarMonth(*DayKey::fromRawValue(step));
        QCOMPARE(f.pages->calendarMonth().firstDay.rawValue(), month);
        const QSet<int> expected(marks.begin(), marks.end());
        QVERIFY(waitUntil([&] { return f.page->calendarEntryDays() == expected; }));
        QTest::qWait(50);
        QCOMPARE(f.page->calendarEntryDays(), expected);
        QCOMPARE(wrong, QStringList{});
    }

    void escapeClosesOneThingInOrder_data() {
        QTest::addColumn<bool>("seal");
        QTest::addColumn<bool>("search");
        QTest::addColumn<bool>("calendar");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("after"); // what is open after one Escape
        QTest::addColumn<int>("focus");     // focus requests made by it
        const QString words = QStringLiteral("Words");
        QTest::newRow("seal over both cards")
            << true << true << true << words << "search calendar" << 0;
        QTest::newRow("search over calendar") << false << true << true << words << "calendar" << 1;
        QTest::newRow("calendar alone") << false << false << true << words << "" << 1;
        QTest::newRow("seal over calendar") << true << false << true << words << "calendar" << 0;
        QTest::newRow("search alone") << false << true << false << words << "" << 1;
        QTest::newRow("nothing, written page") << false << false << false << words << "prompt" << 0;
        QTest::newRow("nothing, blank page") << false << false << false << " \n"
                                             << "closed" << 0;
    }
    void escapeClosesOneThingInOrder() {
        QFETCH(bool, seal);
        QFETCH(bool, search);
        QFETCH(bool, calendar);
        QFETCH(QString, text);
        QFETCH(QString, after);
        QFETCH(int, focus);
        PageScreenFixture f;
        QVERIFY(f.open());
        // The opening's own focus request is in.
        QVERIFY(waitUntil([&] { return f.page->focusRequest() == 1; }));
        QSignalSpy closed(f.page.get(), &VuzIvoduPageView::closeDiaryRequested);
        f.page->setEntryTextFromEditor(text);
        if (seal)
            f.router.send(DiaryCommand::seal);
        QCOMPARE(f.page->showSealConfirmation(), seal);
        f.page->setShowSearch(search);
        if (calendar)
            f.page->openCalendar();
        const int before = f.page->focusRequest();
        f.page->handleEscape();
        if (after == QStringLiteral("closed"))
            QVERIFY(waitUntil([&] { return closed.count() == 1; }));
        QStringList open;
        if (f.page->showSealConfirmation())
            open << "seal";
        if (f.page->showSearch())
            open << "search";
        if (f.page->showCalendar())
            open << "calendar";
        if (f.page->showLeavePrompt())
            open << "prompt";
        if (!closed.isEmpty())
            open << "closed";
        QCOMPARE(open.join(' '), after);
        QCOMPARE(f.page->focusRequest() - before, focus);
    }

    void onlyTheCardsOwnClosesGiveTheKeyboardBack_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("focus");
        QTest::newRow("calendar card's close") << "closeCalendar" << 1;
        QTest::newRow("search card's close") << "closeSearch" << 1;
        QTest::newRow("toolbar's search toggle") << "toggleSearch" << 0;
        QTest::newRow("find command") << "find" << 0;
    }
    void onlyTheCardsOwnClosesGiveTheKeyboardBack() {
        QFETCH(QString, action);
        QFETCH(int, focus);
        PageScreenFixture f;
        f.page->setShowSearch(true);
        f.page->setShowCalendar(true);
        const int before = f.page->focusRequest();
        if (action == QStringLiteral("closeCalendar"))
            f.page->closeCalendar();
        else if (action == QStringLiteral("closeSearch"))
            f.page->closeSearch();
        else if (action == QStringLiteral("toggleSearch"))
            f.page->toggleSearch();
        else
            f.page->handleCommand(DiaryCommand::find);
        QCOMPARE(f.page->showCalendar(), action != QStringLiteral("closeCalendar"));
        QCOMPARE(f.page->showSearch(), action == QStringLiteral("closeCalendar"));
        QCOMPARE(f.page->focusRequest() - before, focus);
    }

    void onThisDayLooksBackFromTheClocksToday_data() {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QList<QDate>>("asked");
        const QDate today(2024, 3, 15);
        const QDate tomorrow(2024, 3, 16);
        QTest::newRow("opening the book") << QStringList{} << QList<QDate>{today};
        QTest::newRow("the calendar card") << QStringList{"calendar"} << QList<QDate>{today, today};
        QTest::newRow("another day shown")
            << QStringList{"navigate", "calendar"} << QList<QDate>{today, today};
        QTest::newRow("a sync pass") << QStringList{"sync"} << QList<QDate>{today, today};
        QTest::newRow("midnight in the diary's zone")
            << QStringList{"midnight", "calendar"} << QList<QDate>{today, tomorrow, tomorrow};
        QTest::newRow("an hour on, the same day") << QStringList{"hour"} << QList<QDate>{today};
    }
    void onThisDayLooksBackFromTheClocksToday() {
        QFETCH(QStringList, events);
        QFETCH(QList<QDate>, asked);
        PageScreenFixture f;
        ScriptedOnThisDay onThisDay;
        f.page->setOnThisDayQuery(onThisDay.query());
        QVERIFY(f.open());
        for (const QString &event : events) {
            if (event == QStringLiteral("calendar")) {
                f.page->openCalendar();
            } else if (event == QStringLiteral("navigate")) {
                f.page->navigate(day("2024-03-10"));
                QVERIFY(waitUntil([&] { return f.session->selectedDay() == day("2024-03-10"); }));
            } else if (event == QStringLiteral("sync")) {
                f.page->handleCloudSyncChange();
            } else if (event == QStringLiteral("midnight")) {
                // 00:30 on the 16th in Paris.
                f.clock->set(utcAt("2024-03-15T23:30:00Z"));
                f.page->reevaluateCivilDate();
            } else if (event == QStringLiteral("hour")) {
                f.clock->advance(std::chrono::hours(1));
                f.page->reevaluateCivilDate();
            }
        }
        QVERIFY(waitUntil([&] { return onThisDay.calls.size() >= asked.size(); }));
        QTest::qWait(20);
        QCOMPARE(onThisDay.dates(), asked);
    }

    void theNewestOnThisDayAnswerStays() {
        PageScreenFixture f;
        ScriptedOnThisDay onThisDay;
        onThisDay.holdAnswers = true;
        f.page->setOnThisDayQuery(onThisDay.query());
        onThisDay.answer = answerFrom(2001, {"2023-03-15"});
        auto older = f.page->reloadOnThisDay();
        onThisDay.answer = answerFrom(2002, {"2022-03-15"});
        auto newer = f.page->reloadOnThisDay();
        QCOMPARE(onThisDay.calls.size(), 2);
        onThisDay.calls.at(1)->released = true;
        test::waitFor(std::move(newer));
        QCOMPARE(f.page->firstYear(), std::optional<int>(2002));
        // The older question answers last, with what was true before: it is not shown.
        onThisDay.calls.at(0)->released = true;
        test::waitFor(std::move(older));
        QCOMPARE(f.page->firstYear(), std::optional<int>(2002));
        QCOMPARE(f.page->onThisDay().constFirst().day, day("2022-03-15"));
    }

    void aSyncPassRefreshesAnOpenCalendar() {
        PageScreenFixture f;
        ScriptedOnThisDay onThisDay;
        f.page->setOnThisDayQuery(onThisDay.query());
        QVERIFY(f.open());
        f.page->openCalendar();
        QVERIFY(waitUntil([&] { return onThisDay.calls.size() == 2; }));
        QVERIFY(f.page->calendarEntryDays().isEmpty());
        // Pages that arrived from the other device.
        f.seed("2024-03-02", QStringLiteral("From the tablet"));
        onThisDay.answer = answerFrom(2023, {"2023-03-15"});
        QSignalSpy listed(f.page.get(), &VuzIvoduPageView::onThisDayChanged);
        f.page->handleCloudSyncChange();
        QVERIFY(waitUntil([&] { return f.page->calendarEntryDays() == QSet<int>{2}; }));
        QVERIFY(waitUntil([&] { return listed.count() == 1; }));
        QCOMPARE(f.page->onThisDay().size(), 1);
        QCOMPARE(f.page->firstYear(), std::optional<int>(2023));
    }

    // The whole road by keyboard: Ctrl+F opens the card, typing finds, Return opens the day and
    // gives the keyboard back to its editor.
    void findByKeyboardOpensTheDay() {
        PageScreenFixture f;
        f.seed("2024-03-02", QStringLiteral("The bakery on the corner opened again"));
        f.seed("2024-03-09", QStringLiteral("Nothing about bread"));
        const DiaryHandwritingStore handwriting(
            f.store.dir.filePath(QStringLiteral("Handwriting")));
        DiaryHandwritingIndex index(handwriting);
        f.page.reset();
        VuzIvoduPageWidget widget(*f.session, *f.pages, f.router, *f.settings,
                                  PageScreenFixture::timings);
        widget.controller().setRecall(handwriting, index);
        // What the menu bar's Find… item does (its key is checked with the menus).
        addMenuKey(widget, f.router, QKeySequence(Qt::CTRL | Qt::Key_F), DiaryCommand::find);

        QVERIFY(showSettled(widget));

        QTest::keyClick(widget.editor(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(widget.controller().showSearch());
        MacSearchCard *card = widget.recallCards()->searchCard();
        QVERIFY(card);
        QVERIFY(waitUntil([&] { return card->field()->hasFocus(); }));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("bakery"));
        QVERIFY(waitUntil([&] { return card->controller().results().size() == 1; }));
        QCOMPARE(card->list()->model()->rowCount(), 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

        QVERIFY(!widget.controller().showSearch());
        QVERIFY(waitUntil([&] { return f.session->selectedDay() == day("2024-03-02"); }));
        QVERIFY(waitUntil([&] { return widget.editor()->hasFocus(); }));
        QCOMPARE(widget.editor()->text(), QStringLiteral("The bakery on the corner opened again"));
        QVERIFY(!widget.recallCards()->searchCard());
        widget.hide();
    }

    void theCalendarButtonOpensTheCardAndADayOpensItsPage() {
        PageScreenFixture f;
        f.seed("2024-03-05", QStringLiteral("Tuesday's page"));
        f.page.reset();
        VuzIvoduPageWidget widget(*f.session, *f.pages, f.router, *f.settings,
                                  PageScreenFixture::timings);
        QVERIFY(showSettled(widget));

        QTest::mouseClick(widget.tools()->button(QStringLiteral("diary-toolbar-calendar")),
                          Qt::LeftButton);
        MacCalendarCard *card = widget.recallCards()->calendarCard();
        QVERIFY(card && card->isVisible());
        QVERIFY(!widget.editor()->hasFocus());
        QVERIFY(waitUntil([&] { return widget.controller().calendarEntryDays() == QSet<int>{5}; }));
        // Escape is the page's: it reaches it with the card holding the keyboard.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!widget.controller().showCalendar());
        QVERIFY(waitUntil([&] { return widget.editor()->hasFocus(); }));

        widget.controller().openCalendar();
        card = widget.recallCards()->calendarCard();
        QVERIFY(card);
        CalendarView *grid = card->grid();
        QTest::mouseClick(grid, Qt::LeftButton, {},
                          grid->cellRect(QDate(2024, 3, 5)).center().toPoint());
        QVERIFY(!widget.controller().showCalendar());
        QVERIFY(waitUntil([&] { return f.session->selectedDay() == day("2024-03-05"); }));
        QVERIFY(
            waitUntil([&] { return widget.editor()->text() == QStringLiteral("Tuesday's page"); }));
        widget.hide();
    }

    // The page's delayed first focus, after the book opens or a day is shown, must not take the
    // keyboard from a card the user opened in the meantime.
    void aCardOpenedBeforeThePageSettlesKeepsTheKeyboard_data() {
        QTest::addColumn<QString>("card");
        QTest::addColumn<bool>("turn"); // while a day is shown rather than while the book opens
        QTest::newRow("find while the book opens") << "find" << false;
        QTest::newRow("calendar while the book opens") << "calendar" << false;
        QTest::newRow("find while a day is shown") << "find" << true;
        QTest::newRow("calendar while a day is shown") << "calendar" << true;
    }
    void aCardOpenedBeforeThePageSettlesKeepsTheKeyboard() {
        QFETCH(QString, card);
        QFETCH(bool, turn);
        PageScreenFixture f;
        const QString page = turn ? QStringLiteral("Yesterday's page") : QString();
        f.seed("2024-03-14", QStringLiteral("Yesterday's page"));
        f.page.reset();
        VuzIvoduPageWidget widget(*f.session, *f.pages, f.router, *f.settings,
                                  PageScreenFixture::timings);
        addMenuKey(widget, f.router, QKeySequence(Qt::CTRL | Qt::Key_F), DiaryCommand::find);
        // The page's focus comes once its day is read: the test lets it be read after the card.
        f.repository->holdReads = !turn;
        widget.show();
        widget.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&widget));
        if (turn) {
            QVERIFY(waitUntil([&] {
                return widget.controller().focusRequest() == 1 && widget.editor()->hasFocus();
            }));
            QTest::qWait(10);
            f.repository->holdReads = true;
            widget.controller().navigate(day("2024-03-14"));
        }
        const int before = widget.controller().focusRequest();
        if (card == QStringLiteral("find"))
            QTest::keyClick(&widget, Qt::Key_F, Qt::ControlModifier);
        else
            QTest::mouseClick(widget.tools()->button(QStringLiteral("diary-toolbar-calendar")),
                              Qt::LeftButton);
        QWidget *opened = card == QStringLiteral("find")
                              ? static_cast<QWidget *>(widget.recallCards()->searchCard())
                              : widget.recallCards()->calendarCard();
        QVERIFY(opened);
        const auto keyboardInCard = [&] {
            QWidget *focused = QApplication::focusWidget();
            return focused && (focused == opened || opened->isAncestorOf(focused));
        };
        QVERIFY(waitUntil(keyboardInCard));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ab"));

        f.repository->holdReads = false;
        QVERIFY(waitUntil([&] {
            return widget.controller().focusRequest() == before + 1 &&
                   widget.editor()->isVisible() && widget.editor()->text() == page;
        }));
        // Whatever answer to that request was queued has run.
        QTest::qWait(30);
        QVERIFY(keyboardInCard());
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("cd"));
        if (auto *search = widget.recallCards()->searchCard())
            QCOMPARE(search->field()->text(), QStringLiteral("abcd"));
        QCOMPARE(widget.editor()->text(), page);
        QCOMPARE(widget.controller().entryText(), page);

        // Closing the card gives the keyboard back to the page.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(waitUntil([&] { return widget.editor()->hasFocus(); }));
        widget.hide();
    }

    // The search card stays over everything the page raises after it opened: the seal
    // confirmation, the toolbar and arrows a page turn lifts.
    void theSearchCardStaysOnTop_data() {
        QTest::addColumn<QString>("then");
        QTest::newRow("seal confirmation after search") << "seal";
        QTest::newRow("search after seal confirmation") << "search";
        QTest::newRow("page turn under search") << "turn";
    }
    void theSearchCardStaysOnTop() {
        QFETCH(QString, then);
        PageScreenFixture f;
        f.seed("2024-03-14", QStringLiteral("Yesterday's page"));
        f.page.reset();
        VuzIvoduPageWidget widget(*f.session, *f.pages, f.router, *f.settings,
                                  PageScreenFixture::timings);
        addMenuKey(widget, f.router, QKeySequence(Qt::CTRL | Qt::Key_F), DiaryCommand::find);
        addMenuKey(widget, f.router, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L),
                   DiaryCommand::seal);
        QVERIFY(showSettled(widget));
        QTest::keyClicks(widget.editor(), QStringLiteral("Words"));
        VuzIvoduPageView &page = widget.controller();

        const auto seal = [&] {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_L,
                            Qt::ControlModifier | Qt::ShiftModifier);
            QVERIFY(page.showSealConfirmation());
        };
        if (then == QStringLiteral("search"))
            seal();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
        MacSearchCard *card = widget.recallCards()->searchCard();
        QVERIFY(card);
        QVERIFY(waitUntil([&] { return card->field()->hasFocus(); }));
        if (then == QStringLiteral("seal")) {
            seal();
        } else if (then == QStringLiteral("turn")) {
            // Keys turn no page under a card; the page still turns beneath it (a synced change,
            // a reminder's new entry).
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
            QCOMPARE(f.session->selectedDay(), PageScreenFixture::today);
            page.turnToPreviousPage();
            QVERIFY(waitUntil([&] { return f.session->selectedDay() == day("2024-03-14"); }));
        }
        QVERIFY(waitUntil([&] {
            return (!page.showSealConfirmation() || widget.sealCard()->isVisible()) &&
                   !widget.sealCardMotion()->isVisible() &&
                   f.pages->transition().phase == PageTransitionPhase::idle;
        }));
        // Where the card covers the seal card, the toolbar and the arrows, the card is met.
        for (QWidget *under :
             std::initializer_list<QWidget *>{widget.sealCard(), widget.tools(), widget.arrows()}) {
            const QPoint centre = under->geometry().center();
            QWidget *met = topAt(widget, centre);
            QVERIFY2(met && (met == card || card->isAncestorOf(met)),
                     qPrintable(under->metaObject()->className()));
        }
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("wor"));
        QCOMPARE(card->field()->text(), QStringLiteral("wor"));

        if (!page.showSealConfirmation())
            return;
        // Escape still closes the seal confirmation first, then the search card.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!page.showSealConfirmation());
        QVERIFY(page.showSearch());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!page.showSearch());
        QVERIFY(waitUntil([&] { return widget.editor()->hasFocus(); }));
        widget.hide();
    }
};

VELMORA_GUI_TEST_MAIN(RecallHostingTest)
#include "tst_recallhosting.moc"

#include "PageScreenFixture.h"

#include "pagescreen/PageCards.h"
#include "pagescreen/PageMotion.h"
#include "support/GuiTestMain.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// The cards on their own over the fixture's session and page system.
struct Cards {
    PageScreenFixture &f;
    PageMotion motion{PageScreenFixture::timings.animationScale};
    PageCards cards{*f.session, *f.pages, motion};
    QSignalSpy marks{&cards, &PageCards::entryDaysChanged};
    QSignalSpy focus{&cards, &PageCards::focusWanted};
    QSignalSpy failed{&cards, &PageCards::failed};

    explicit Cards(PageScreenFixture &fixture)
        : f(fixture) {}
};

// An on-this-day query that answers with the given first years, one per call, each after its
// own delay.
PageCards::OnThisDayQuery answering(QList<std::pair<std::optional<int>, int>> answers) {
    auto calls = std::make_shared<int>(0);
    return [answers, calls](QDateTime, GregorianCalendar) -> QCoro::Task<DiaryOnThisDay> {
        const auto [firstYear, delay] = answers.at(std::min<int>((*calls)++, answers.size() - 1));
        co_await sleepFor(std::chrono::milliseconds(delay));
        co_return DiaryOnThisDay{firstYear, {}};
    };
}

} // namespace

class PageCardsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Escape closes the search card before the calendar card, and gives the keyboard back.
    void escapeClosesTheTopCard_data() {
        QTest::addColumn<bool>("search");
        QTest::addColumn<bool>("calendar");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("searchAfter");
        QTest::addColumn<bool>("calendarAfter");
        QTest::newRow("none") << false << false << false << false << false;
        QTest::newRow("search") << true << false << true << false << false;
        QTest::newRow("calendar") << false << true << true << false << false;
        QTest::newRow("both") << true << true << true << false << true;
    }

    void escapeClosesTheTopCard() {
        QFETCH(bool, search);
        QFETCH(bool, calendar);
        QFETCH(bool, closed);
        QFETCH(bool, searchAfter);
        QFETCH(bool, calendarAfter);
        PageScreenFixture f;
        Cards c(f);
        c.cards.setShowSearch(search);
        c.cards.setShowCalendar(calendar);
        QCOMPARE(c.cards.closeTopCard(), closed);
        QCOMPARE(c.cards.showSearch(), searchAfter);
        QCOMPARE(c.cards.showCalendar(), calendarAfter);
        QCOMPARE(c.focus.size(), closed ? 1 : 0);
    }

    // The marks are read while the calendar card is open, for the month it shows; a closed card
    // asks the store nothing.
    void theMarksFollowTheOpenCalendar() {
        PageScreenFixture f;
        f.seed("2024-03-10", QStringLiteral("Sunday"));
        f.seed("2024-03-12", QStringLiteral("Tuesday"));
        f.seed("2024-02-02", QStringLiteral("February"));
        QVERIFY(f.selectToday());
        Cards c(f);
        c.cards.refreshMarks();
        QTest::qWait(40);
        QCOMPARE(c.marks.size(), 0);

        c.cards.openCalendar();
        QVERIFY(waitUntil([&] { return c.cards.calendarEntryDays() == QSet<int>{10, 12}; }));
        c.cards.changeCalendarMonth(day("2024-02-20"));
        // The March marks are not February's, even before February's arrive.
        QCOMPARE(c.cards.calendarEntryDays(), QSet<int>());
        QVERIFY(waitUntil([&] { return c.cards.calendarEntryDays() == QSet<int>{2}; }));

        c.cards.closeCalendar();
        const auto asked = c.marks.size();
        f.seed("2024-02-05", QStringLiteral("Monday"));
        c.cards.refreshMarks();
        QTest::qWait(40);
        QCOMPARE(c.marks.size(), asked);
        QCOMPARE(c.failed.size(), 0);
    }

    void aFailedReadOfTheMarksIsReported() {
        PageScreenFixture f;
        QVERIFY(f.selectToday());
        Cards c(f);
        f.repository->failReads = true;
        c.cards.openCalendar();
        QVERIFY(waitUntil([&] { return c.failed.size() == 1; }));
        QVERIFY(c.failed.first().at(0).toString().contains(QStringLiteral("cannot be read")));
        QCOMPARE(c.cards.entryDays(), QSet<int>());
    }

    // Only the newest look back answers, however late an older one comes back.
    void onThisDayTakesTheNewestAnswer() {
        PageScreenFixture f;
        Cards c(f);
        QSignalSpy changed(&c.cards, &PageCards::onThisDayChanged);
        c.cards.setOnThisDayQuery(answering({{2019, 80}, {2021, 0}}));
        auto older = c.cards.reloadOnThisDay();
        auto newer = c.cards.reloadOnThisDay();
        test::waitFor(std::move(newer));
        QCOMPARE(c.cards.firstYear(), 2021);
        // The older answer comes last, and is dropped.
        test::waitFor(std::move(older));
        QCOMPARE(c.cards.firstYear(), 2021);
        QCOMPARE(changed.size(), 1);
    }

    // The year menu runs from the first year written (or the month shown, if earlier) to the
    // year after this one (or the month shown, if later). Today is in 2024.
    void theCalendarsYears_data() {
        // 0: nothing written yet.
        QTest::addColumn<int>("firstYear");
        QTest::addColumn<QString>("month");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("nothing written") << 0 << "2024-03-01" << 2024 << 2025;
        QTest::newRow("written since 2019") << 2019 << "2024-03-01" << 2019 << 2025;
        QTest::newRow("showing an earlier month") << 2019 << "2012-07-01" << 2012 << 2025;
        QTest::newRow("showing a later month") << 0 << "2027-01-01" << 2024 << 2027;
    }

    void theCalendarsYears() {
        QFETCH(int, firstYear);
        QFETCH(QString, month);
        QFETCH(int, first);
        QFETCH(int, last);
        PageScreenFixture f;
        Cards c(f);
        c.cards.setOnThisDayQuery(
            answering({{firstYear ? std::optional(firstYear) : std::nullopt, 0}}));
        test::waitFor(c.cards.reloadOnThisDay());
        c.cards.changeCalendarMonth(*DayKey::fromRawValue(month));
        QCOMPARE(c.cards.calendarYears(), std::pair(first, last));
    }
};

VELMORA_GUI_TEST_MAIN(PageCardsTest)
#include "tst_pagecards.moc"

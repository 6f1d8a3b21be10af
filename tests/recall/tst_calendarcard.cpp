#include "recall/views/MacCalendarCard.h"
#include "support/GuiTestMain.h"

using namespace velmora;
using namespace velmora::test;

namespace {

DayKey day(int year, int month, int dayOfMonth) {
    return DayKey::fromCivilDate(year, month, dayOfMonth);
}

QList<DiaryOnThisDayItem> items(int count) {
    QList<DiaryOnThisDayItem> result;
    for (int k = 1; k <= count; ++k)
        result.append(DiaryOnThisDayItem{day(2026 - k, 5, 17), k,
                                         k % 2 ? std::optional<QString>("A walk by the river")
                                               : std::nullopt});
    return result;
}

struct Card {
    MacCalendarCard card{GregorianCalendar::utc()};
    QStringList calls;

    Card() {
        card.grid()->setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        card.setDisplayedMonth(DiaryCalendarMonth{day(2026, 5, 1)});
        card.setSelectedDay(day(2026, 5, 17));
        card.setYears({2019, 2027});
        card.resize(700, 1000);
        card.onClose = [this] { calls.append("close"); };
        card.onSelect = [this](const DayKey &key) { calls.append("select " + key.rawValue()); };
        card.onMonthChanged = [this](const DayKey &key) {
            calls.append("month " + key.rawValue());
        };
    }
};

} // namespace

class CalendarCardTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesItsTexts() {
        QCOMPARE(MacCalendarCard::ageText(1), QStringLiteral("A year ago"));
        QCOMPARE(MacCalendarCard::ageText(2), QStringLiteral("2 years ago"));
        QCOMPARE(MacCalendarCard::previewText(DiaryOnThisDayItem{day(2025, 5, 17), 1, {}}),
                 QStringLiteral("A handwritten page"));
        QCOMPARE(MacCalendarCard::previewText(DiaryOnThisDayItem{day(2025, 5, 17), 1, "Rain"}),
                 QStringLiteral("Rain"));
        QCOMPARE(MacCalendarCard::countText(1, "May"), QStringLiteral("1 page written in May"));
        QCOMPARE(MacCalendarCard::countText(12, "May"), QStringLiteral("12 pages written in May"));
    }

    void listsTheFirstFourYears() {
        Card card;
        QVERIFY(card.card.onThisDayRowRects().isEmpty());
        card.card.setOnThisDay(items(6));
        QCOMPARE(card.card.onThisDayRowRects().size(), 4);
        QCOMPARE(card.card.grid()->cellRect(QDate(2026, 5, 1)).size(), QSizeF(44, 56));
    }

    // A chosen day closes the card before it is opened; the backdrop only closes it.
    void closesBeforeOpeningADay() {
        Card card;
        card.card.setOnThisDay(items(3));
        QWidget *grid = card.card.grid();
        QTest::mouseClick(grid, Qt::LeftButton, {},
                          card.card.grid()->cellRect(QDate(2026, 5, 9)).center().toPoint());
        QTest::mouseClick(&card.card, Qt::LeftButton, {},
                          card.card.onThisDayRowRects().at(1).center().toPoint());
        QTest::mouseClick(&card.card, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseClick(&card.card, Qt::LeftButton, {},
                          card.card.closeButtonRect().center().toPoint());
        QTest::mouseClick(grid, Qt::LeftButton, {},
                          card.card.grid()->nextMonthRect().center().toPoint());
        QCOMPARE(card.calls,
                 (QStringList{"close", "select 2026-05-09", "close", "select 2024-05-17", "close",
                              "close", "month 2026-06-01"}));
    }
};

VELMORA_GUI_TEST_MAIN(CalendarCardTest)
#include "tst_calendarcard.moc"

#include "recall/views/MacCalendarCard.h"
#include "support/GuiTestMain.h"

#include <QAccessible>

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

    // After the grid: the title, the close button, the list of up to four years under its
    // heading and the count line, each pressed as it is clicked and found by its identifier.
    void readsItsPartsToAssistiveTechnology_data() {
        QTest::addColumn<int>("years");
        QTest::addColumn<int>("written");
        QTest::addColumn<QStringList>("parts"); // "identifier=name|value"
        QTest::addColumn<int>("press");         // the part pressed, among the parts
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("nothing listed")
            << 0 << 0 << QStringList{"=Calendar|", "calendar-close=Close Calendar|"} << 1
            << QStringList{"close"};
        QTest::newRow("two years and one page")
            << 2 << 1
            << QStringList{"=Calendar|",
                           "calendar-close=Close Calendar|",
                           "on-this-day=On this day|",
                           "on-this-day-1=A year ago|A walk by the river",
                           "on-this-day-2=2 years ago|A handwritten page",
                           "=1 page written in May|"}
            << 4 << QStringList{"close", "select 2024-05-17"};
        QTest::newRow("six years, four listed")
            << 6 << 3
            << QStringList{"=Calendar|",
                           "calendar-close=Close Calendar|",
                           "on-this-day=On this day|",
                           "on-this-day-1=A year ago|A walk by the river",
                           "on-this-day-2=2 years ago|A handwritten page",
                           "on-this-day-3=3 years ago|A walk by the river",
                           "on-this-day-4=4 years ago|A handwritten page",
                           "=3 pages written in May|"}
            << 7 << QStringList{};
    }
    void readsItsPartsToAssistiveTechnology() {
        QFETCH(int, years);
        QFETCH(int, written);
        QFETCH(QStringList, parts);
        QFETCH(int, press);
        QFETCH(QStringList, calls);
        ScopedLocale locale(QStringLiteral("en_US"));
        Card card;
        card.card.setOnThisDay(items(years));
        QSet<int> days;
        for (int d = 1; d <= written; ++d)
            days.insert(d);
        card.card.setEntryDays(days);
        QAccessibleInterface *root = QAccessible::queryAccessibleInterface(&card.card);
        QVERIFY(root);
        QCOMPARE(root->childCount(), 1 + parts.size());
        QCOMPARE(root->child(0)->text(QAccessible::Name), QStringLiteral("Diary calendar"));
        QStringList read;
        for (int i = 1; i < root->childCount(); ++i) {
            const QObject *object = root->child(i)->object();
            read.append((object ? object->objectName() : QString()) + '=' +
                        root->child(i)->text(QAccessible::Name) + '|' +
                        root->child(i)->text(QAccessible::Value));
        }
        QCOMPARE(read, parts);
        QAccessibleInterface *pressed = root->child(1 + press);
        if (pressed->actionInterface() && !pressed->actionInterface()->actionNames().isEmpty())
            pressed->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(card.calls, calls);
    }
};

VELMORA_GUI_TEST_MAIN(CalendarCardTest)
#include "tst_calendarcard.moc"

#include "recall/views/CalendarMonthGrid.h"
#include "recall/views/CalendarView.h"
#include "support/GuiTestMain.h"

#include <QAccessible>
#include <QMouseEvent>

using namespace velmora;
using namespace velmora::test;

namespace {

DiaryCalendarMonth month(int year, int monthOfYear) {
    return DiaryCalendarMonth{DayKey::fromCivilDate(year, monthOfYear, 1)};
}

void click(QWidget &widget, QPointF at) {
    QTest::mouseClick(&widget, Qt::LeftButton, {}, at.toPoint());
}

} // namespace

class CalendarViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // First of all, before any other calendar of the process: the accessible interface is made
    // while the calendar is built, and is kept; it must already be the one that reads the parts.
    void theFirstCalendarReadsItsParts() {
        ScopedLocale locale(QStringLiteral("en_US"));
        CalendarView view(GregorianCalendar::utc());
        view.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        view.setDisplayedMonth(month(2026, 6));
        QAccessibleInterface *grid = QAccessible::queryAccessibleInterface(&view);
        QVERIFY(grid);
        QCOMPARE(grid->childCount(), 3 + 30);
        QCOMPARE(grid->child(grid->childCount() - 1)->text(QAccessible::Name),
                 QStringLiteral("June 30, 2026"));
    }

    // Blanks before the first day put it under its weekday; blanks after fill the last week.
    void laysOutTheMonth_data() {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("monthOfYear");
        QTest::addColumn<int>("firstWeekday");
        QTest::addColumn<int>("leading");
        QTest::addColumn<int>("trailing");
        // Months starting on each weekday, Sunday first and Monday first.
        QTest::newRow("Sunday start, Sunday first") << 2026 << 2 << 7 << 0 << 0;
        QTest::newRow("Sunday start, Monday first") << 2026 << 2 << 1 << 6 << 1;
        QTest::newRow("Monday start, Monday first") << 2026 << 6 << 1 << 0 << 5;
        QTest::newRow("Tuesday start, Sunday first") << 2025 << 7 << 7 << 2 << 2;
        QTest::newRow("Wednesday start, Monday first") << 2025 << 10 << 1 << 2 << 2;
        QTest::newRow("Thursday start, Sunday first") << 2026 << 1 << 7 << 4 << 0;
        QTest::newRow("Friday start, Monday first") << 2026 << 5 << 1 << 4 << 0;
        QTest::newRow("Saturday start, Sunday first") << 2026 << 8 << 7 << 6 << 5;
        QTest::newRow("28-day February on the first weekday") << 2015 << 2 << 7 << 0 << 0;
        QTest::newRow("leap February") << 2024 << 2 << 1 << 3 << 3;
    }
    void laysOutTheMonth() {
        QFETCH(int, year);
        QFETCH(int, monthOfYear);
        QFETCH(int, firstWeekday);
        QFETCH(int, leading);
        QFETCH(int, trailing);
        const auto cells = CalendarMonthGrid::cells(
            month(year, monthOfYear), GregorianCalendar::utc(), Qt::DayOfWeek(firstWeekday));
        const int days = QDate(year, monthOfYear, 1).daysInMonth();
        QCOMPARE(cells.size(), leading + days + trailing);
        QCOMPARE(cells.size() % 7, 0);
        for (int i = 0; i < leading; ++i)
            QVERIFY(!cells.at(i));
        QCOMPARE(cells.at(leading), std::optional<QDate>(QDate(year, monthOfYear, 1)));
        QCOMPARE(cells.at(leading + days - 1),
                 std::optional<QDate>(QDate(year, monthOfYear, days)));
        for (int i = leading + days; i < cells.size(); ++i)
            QVERIFY(!cells.at(i));
    }

    void namesWeekdaysFromTheLocalesFirstDay_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QStringList>("symbols");
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates)
                               << QStringList{"S", "M", "T", "W", "T", "F", "S"};
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany)
                               << QStringList{"M", "D", "M", "D", "F", "S", "S"};
        // C.UTF-8 has numbers for names; its week still starts on Monday.
        QTest::newRow("C") << QLocale::c() << QStringList{"M", "T", "W", "T", "F", "S", "S"};
    }

    void namesWeekdaysFromTheLocalesFirstDay() {
        QFETCH(QLocale, locale);
        QFETCH(QStringList, symbols);
        QCOMPARE(CalendarMonthGrid::weekdaySymbols(locale), symbols);
    }

    void stepsMonthsAndYears() {
        const auto calendar = GregorianCalendar::utc();
        QCOMPARE(CalendarMonthGrid::steppedMonth(month(2026, 1), -1, calendar),
                 std::optional<DayKey>(DayKey::fromCivilDate(2025, 12, 1)));
        QCOMPARE(CalendarMonthGrid::steppedMonth(month(2026, 12), 1, calendar),
                 std::optional<DayKey>(DayKey::fromCivilDate(2027, 1, 1)));
        QCOMPARE(CalendarMonthGrid::monthInYear(month(2026, 5), 2019, calendar),
                 std::optional<DayKey>(DayKey::fromCivilDate(2019, 5, 1)));
        QCOMPARE(CalendarMonthGrid::monthInYear(month(2026, 5), 2026, calendar),
                 std::optional<DayKey>(DayKey::fromCivilDate(2026, 5, 1)));
        QVERIFY(CalendarMonthGrid::cells(DiaryCalendarMonth{}, calendar, Qt::Sunday).isEmpty());
        QVERIFY(!CalendarMonthGrid::steppedMonth(DiaryCalendarMonth{}, 1, calendar));
    }

    // Clicks leave through the callbacks; the view changes nothing itself.
    void reportsChoices() {
        CalendarView view(GregorianCalendar::utc());
        view.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        view.setDisplayedMonth(month(2026, 5));
        view.setSelectedDay(DayKey::fromCivilDate(2026, 5, 17));
        view.setYears(std::pair{2019, 2026});
        view.resize(view.sizeHint());
        QStringList calls;
        view.onDateSelected = [&](const DayKey &day) { calls.append("day " + day.rawValue()); };
        view.onMonthChanged = [&](const DayKey &day) { calls.append("month " + day.rawValue()); };
        click(view, view.cellRect(QDate(2026, 5, 30)).center());
        // The blank before 1 May, a Friday: no call.
        click(view, view.cellRect(QDate(2026, 5, 3)).center() - QPointF(0, 30));
        click(view, view.previousMonthRect().center());
        click(view, view.nextMonthRect().center());
        view.chooseYear(2019);
        QCOMPARE(calls, (QStringList{"day 2026-05-30", "month 2026-04-01", "month 2026-06-01",
                                     "month 2019-05-01"}));
        QCOMPARE(view.menuYears().first(), 2026);
        QCOMPARE(view.menuYears().size(), 8);
        view.setYears(std::pair{2026, 2026});
        QVERIFY(!view.hasYearMenu());
    }

    // What a screen reader finds: the arrows, the title, then each day by its date and whether
    // it holds writing; pressing a part does what clicking it does.
    void readsEachPartToAssistiveTechnology_data() {
        QTest::addColumn<int>("monthOfYear");
        QTest::addColumn<bool>("yearMenu");
        QTest::addColumn<int>("child");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("pressed"); // the call a press makes
        const int button = QAccessible::Button;
        QTest::newRow("previous month") << 5 << true << 0 << button << "Previous month"
                                        << ""
                                        << "month 2026-04-01";
        QTest::newRow("next month over new year") << 12 << true << 1 << button << "Next month"
                                                  << ""
                                                  << "month 2027-01-01";
        QTest::newRow("the title without a menu")
            << 5 << false << 2 << int(QAccessible::StaticText) << "May 2026"
            << ""
            << "";
        QTest::newRow("the year menu")
            << 5 << true << 2 << int(QAccessible::ButtonMenu) << "May 2026"
            << ""
            << "";
        QTest::newRow("first day, written") << 5 << true << 3 << button << "May 1, 2026"
                                            << "Has diary entry"
                                            << "day 2026-05-01";
        QTest::newRow("a blank day") << 5 << true << 4 << button << "May 2, 2026"
                                     << "Blank day"
                                     << "day 2026-05-02";
        QTest::newRow("last day of a 31-day month") << 5 << true << 33 << button << "May 31, 2026"
                                                    << "Blank day"
                                                    << "day 2026-05-31";
        QTest::newRow("past the last day") << 5 << true << 34 << 0 << ""
                                           << ""
                                           << "";
        QTest::newRow("30 days in June") << 6 << true << 32 << button << "June 30, 2026"
                                         << "Has diary entry"
                                         << "day 2026-06-30";
    }
    void readsEachPartToAssistiveTechnology() {
        QFETCH(int, monthOfYear);
        QFETCH(bool, yearMenu);
        QFETCH(int, child);
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, pressed);
        ScopedLocale locale(QStringLiteral("en_US"));
        CalendarView view(GregorianCalendar::utc());
        view.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        view.setDisplayedMonth(month(2026, monthOfYear));
        view.setEntryDays({1, 30});
        view.setYears(yearMenu ? std::optional(std::pair{2024, 2027}) : std::nullopt);
        QStringList calls;
        view.onDateSelected = [&](const DayKey &day) { calls.append("day " + day.rawValue()); };
        view.onMonthChanged = [&](const DayKey &day) { calls.append("month " + day.rawValue()); };

        QAccessibleInterface *grid = QAccessible::queryAccessibleInterface(&view);
        QVERIFY(grid);
        QCOMPARE(grid->text(QAccessible::Name), QStringLiteral("Diary calendar"));
        QCOMPARE(grid->childCount(), 3 + QDate(2026, monthOfYear, 1).daysInMonth());
        QAccessibleInterface *part = grid->child(child);
        if (!role) {
            QVERIFY(!part);
            return;
        }
        QVERIFY(part);
        QCOMPARE(int(part->role()), role);
        QCOMPARE(part->text(QAccessible::Name), name);
        QCOMPARE(part->text(QAccessible::Value), value);
        QCOMPARE(grid->indexOfChild(part), child);
        QCOMPARE(part->parent(), grid);
        QCOMPARE(part->text(QAccessible::Description), role == QAccessible::ButtonMenu
                                                           ? QStringLiteral("Go to another year")
                                                           : QString());
        if (pressed.isEmpty())
            return;
        part->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(calls, QStringList{pressed});
    }
};

VELMORA_GUI_TEST_MAIN(CalendarViewTest)
#include "tst_calendarview.moc"

#include "recall/views/CalendarView.h"
#include "recall/views/MacCalendarCard.h"
#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

using namespace velmora;
using namespace velmora::test;

class RecallScreensTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void monthGrid() {
        CalendarView view(GregorianCalendar::utc());
        view.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        view.setScale(2);
        view.setDisplayedMonth(DiaryCalendarMonth{DayKey::fromCivilDate(2026, 5, 1)});
        view.setSelectedDay(DayKey::fromCivilDate(2026, 5, 17));
        view.setToday(QDate(2026, 5, 20));
        view.setEntryDays({3, 17, 20, 28});
        view.setYears(std::pair{2019, 2026});
        view.setAutoFillBackground(true);
        QPalette palette = view.palette();
        palette.setColor(QPalette::Window, diaryPaperColor());
        view.setPalette(palette);
        view.resize(view.sizeHint());
        QVERIFY(saveScreenshot(grabWidget(&view), "calendar-view-may-2026"));
    }

    void calendarCardWithOnThisDay() {
        QWidget page;
        page.resize(768, 1024);
        page.setAutoFillBackground(true);
        QPalette palette = page.palette();
        palette.setColor(QPalette::Window, diaryPaperColor());
        page.setPalette(palette);
        MacCalendarCard card(GregorianCalendar::utc(), &page);
        card.grid()->setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        card.grid()->setToday(QDate(2026, 5, 20));
        card.setDisplayedMonth(DiaryCalendarMonth{DayKey::fromCivilDate(2026, 5, 1)});
        card.setSelectedDay(DayKey::fromCivilDate(2026, 5, 17));
        card.setEntryDays({3, 17, 20, 28});
        card.setYears({2019, 2027});
        card.setOnThisDay(
            {{DayKey::fromCivilDate(2025, 5, 20), 1, "We planted the tomatoes before the rain"},
             {DayKey::fromCivilDate(2023, 5, 20), 3, std::nullopt},
             {DayKey::fromCivilDate(2021, 5, 20), 5,
              "A very long first line that runs on far past the edge of the card, to be cut"},
             {DayKey::fromCivilDate(2020, 5, 20), 6, "Six"},
             {DayKey::fromCivilDate(2019, 5, 20), 7, "Seven is not listed"}});
        card.resize(page.size());
        QVERIFY(saveScreenshot(grabWidget(&page), "calendar-card-on-this-day"));
    }
};

VELMORA_GUI_TEST_MAIN(RecallScreensTest)
#include "tst_screens_recall.moc"

#include "recall/views/CalendarView.h"
#include "recall/views/MacCalendarCard.h"
#include "recall/views/MacSearchCard.h"
#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QScreen>

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
        // Laid out from the leading edge of the card's column: the month's title and the grid's
        // first column start where the card's title does, and the header spans the column, so
        // that its next-month arrow ends under the close button.
        const double column = card.accessibleItems().first().rect.left();
        const CalendarView *grid = card.grid();
        const QPointF origin = grid->geometry().topLeft();
        QCOMPARE(grid->titleRect().translated(origin).left(), column);
        QCOMPARE(grid->cellRect(QDate(2026, 5, 3)).translated(origin).left(), column);
        QCOMPARE(grid->nextMonthRect().translated(origin).right(), card.closeButtonRect().right());
    }

    // Writing since 1975 on a 1920×1080 screen, the card shown through a graphics view as the book
    // is: every year of its menu is on the screen, where the view lets it show.
    void calendarCardYearMenuOnALargeScreen() {
        QGraphicsScene scene(QRectF(0, 0, 780, 1024));
        auto *page = new QWidget;
        page->resize(780, 1024);
        page->setAutoFillBackground(true);
        QPalette palette = page->palette();
        palette.setColor(QPalette::Window, diaryPaperColor());
        page->setPalette(palette);
        auto *card = new MacCalendarCard(GregorianCalendar::utc(), page);
        card->setDisplayedMonth(DiaryCalendarMonth{DayKey::fromCivilDate(2026, 5, 1)});
        card->setSelectedDay(DayKey::fromCivilDate(2026, 5, 17));
        card->setYears({1975, 2027});
        card->resize(page->size());
        scene.addWidget(page);
        QGraphicsView view(&scene);
        view.setFrameShape(QFrame::NoFrame);
        view.setBackgroundBrush(Qt::black);
        view.setGeometry(548, 50, 823, 1030);
        view.setTransform(QTransform::fromScale(1030.0 / 1024, 1030.0 / 1024));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QRect screen = view.screen()->availableGeometry();
        QCOMPARE(screen, QRect(0, 0, 1920, 1080));

        card->grid()->pressAccessibleItem(2);
        auto *menu = card->grid()->findChild<QMenu *>(QStringLiteral("calendar-year-menu"));
        QVERIFY(menu && waitUntil([&] { return menu->isVisible(); }));
        QCOMPARE(menu->actions().size(), 2027 - 1975 + 1);
        for (QAction *year : menu->actions()) {
            // Where it shows: through the view if it is an item of the scene, else in its window.
            QRect shown = menu->actionGeometry(year);
            if (const QGraphicsProxyWidget *item = menu->graphicsProxyWidget()) {
                const QRect inView =
                    view.mapFromScene(item->mapToScene(QRectF(shown))).boundingRect();
                QVERIFY2(view.viewport()->rect().contains(inView), qPrintable(year->text()));
                shown = QRect(view.viewport()->mapToGlobal(inView.topLeft()), inView.size());
            } else {
                shown.moveTopLeft(menu->mapToGlobal(shown.topLeft()));
            }
            QVERIFY2(screen.contains(shown), qPrintable(year->text()));
        }
        QImage shot(screen.size(), QImage::Format_ARGB32_Premultiplied);
        shot.fill(Qt::black);
        QPainter painter(&shot);
        painter.drawImage(view.geometry().topLeft(), grabWidget(&view, 1));
        if (!menu->graphicsProxyWidget())
            painter.drawImage(menu->geometry().topLeft(), grabWidget(menu, 1));
        painter.end();
        QVERIFY(saveScreenshot(shot, "calendar-card-year-menu-1920x1080"));
        menu->close();
    }

    void searchCard_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("name");
        QTest::addColumn<DiaryColorScheme>("scheme");
        QTest::newRow("typed and handwritten") << "bakery"
                                               << "search-card-results" << DiaryColorScheme::light;
        QTest::newRow("nothing found") << "zebra"
                                       << "search-card-nothing-found" << DiaryColorScheme::light;
        QTest::newRow("typed and handwritten, dark")
            << "bakery"
            << "search-card-results-dark" << DiaryColorScheme::dark;
    }
    void searchCard() {
        QFETCH(QString, query);
        QFETCH(QString, name);
        QFETCH(DiaryColorScheme, scheme);
        QWidget page;
        page.resize(768, 1024);
        page.setAutoFillBackground(true);
        QPalette palette = page.palette();
        palette.setColor(QPalette::Window, diaryNamedColor(DiaryNamedColor::paper, scheme));
        page.setPalette(palette);
        bool answered = false;
        const auto find = [&answered](QString text) -> QCoro::Task<QList<DiaryFindResult>> {
            answered = true;
            if (text != "bakery")
                co_return QList<DiaryFindResult>{};
            co_return QList<DiaryFindResult>{
                {DayKey::fromCivilDate(2026, 5, 14),
                 "Call the bakery about the cake for Saturday, and ask whether they can write "
                 "the names in blue icing this time, since last year the letters ran together "
                 "and nobody could read them.",
                 false},
                {DayKey::fromCivilDate(2025, 11, 2), "call the bakery", true},
                {DayKey::fromCivilDate(2024, 3, 9), "The bakery on the corner closed.", false}};
        };
        MacSearchCard card(find, GregorianCalendar::utc(), &page);
        card.setTheme(DiaryTheme{scheme});
        card.resize(page.size());
        card.field()->setText(query);
        QVERIFY(waitUntil([&] { return answered; }));
        QTest::qWait(50);
        QVERIFY(waitUntil(
            [&] { return card.list()->model()->rowCount() == (query == "bakery" ? 3 : 0); }));
        QVERIFY(saveScreenshot(grabWidget(&page), name));
    }
};

VELMORA_GUI_TEST_MAIN_ON_SCREEN(RecallScreensTest, QSize(1920, 1080))
#include "tst_screens_recall.moc"

#pragma once

#include "book/theme/DiaryTheme.h"
#include "domain/DayKey.h"
#include "pages/DiaryCalendarMonth.h"
#include "platform/GregorianCalendar.h"
#include "recall/views/PaintedAccessibleItems.h"

#include <QDate>
#include <QSet>
#include <QWidget>

#include <functional>
#include <optional>
#include <utility>

class QMenu;

namespace velmora {

// The month grid: the month's name with arrows (and a year menu when there are years to choose
// from), a row of weekday letters, and one button per day showing whether it is the selected day,
// today, and whether it holds writing. It keeps nothing of its own: its owner sets what it shows
// and answers its two callbacks.
class CalendarView : public QWidget, public PaintedAccessibleItems {
    Q_OBJECT

public:
    explicit CalendarView(GregorianCalendar calendar, QWidget *parent = nullptr);

    void setSelectedDay(const DayKey &day);
    void setDisplayedMonth(const DiaryCalendarMonth &month);
    // Day-of-month numbers of the displayed month that hold writing.
    void setEntryDays(const QSet<int> &days);
    // The years the year menu offers, first and last; none, or a single year, shows no menu.
    void setYears(std::optional<std::pair<int, int>> years);
    void setScale(double scale);
    void setTheme(const DiaryTheme &theme);
    // The day drawn as today; the calendar's current day unless set.
    void setToday(QDate today);
    void setLocale(const QLocale &locale);

    std::function<void(const DayKey &)> onDateSelected;
    // Called with the first day of the month to show next.
    std::function<void(const DayKey &)> onMonthChanged;

    QSize sizeHint() const override;

    // Where things are, for input scripts: the day's cell, and the two arrows.
    QRectF cellRect(QDate day) const;
    QRectF previousMonthRect() const;
    QRectF nextMonthRect() const;
    QRectF titleRect() const;
    bool hasYearMenu() const;
    // The years the menu lists, newest first.
    QList<int> menuYears() const;
    void chooseYear(int year);

    // The arrows, the title (a year menu when there is one), then one button per day.
    QList<Item> accessibleItems() const override;
    void pressAccessibleItem(int index) override;

protected:
    void paintEvent(QPaintEvent *event) override;
    // Takes every press, so that its release comes here too: the book is shown through a
    // graphics scene, which hands a release only to the widget that accepted the press.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    double s(double size) const { return size * m_scale; }
    QDate today() const;
    QList<std::optional<QDate>> cellDates() const;
    double gridWidth() const;
    QRectF gridCellRect(int index) const;
    double gridTop() const;
    QString title() const;
    void stepMonth(int delta);
    QMenu *yearMenu();

    GregorianCalendar m_calendar;
    DayKey m_selectedDay;
    DiaryCalendarMonth m_month;
    QSet<int> m_entryDays;
    std::optional<std::pair<int, int>> m_years;
    double m_scale = 1;
    DiaryTheme m_theme;
    std::optional<QDate> m_today;
    QLocale m_locale;
};

} // namespace velmora

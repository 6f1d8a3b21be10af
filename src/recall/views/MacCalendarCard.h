#pragma once

#include "book/theme/DiaryTheme.h"
#include "recall/DiaryOnThisDayItem.h"
#include "recall/views/CalendarView.h"
#include "recall/views/PaintedAccessibleItems.h"

#include <QList>
#include <QSet>
#include <QWidget>

#include <functional>
#include <utility>

namespace velmora {

// The calendar overlay: a dimmed backdrop and a paper card with the month grid at double size,
// the first four earlier years written on this date, and how many pages the month holds. It
// keeps nothing of its own; the page screen sets what it shows and answers its callbacks.
class MacCalendarCard : public QWidget, public PaintedAccessibleItems {
    Q_OBJECT

public:
    explicit MacCalendarCard(GregorianCalendar calendar, QWidget *parent = nullptr);

    void setSelectedDay(const DayKey &day);
    void setDisplayedMonth(const DiaryCalendarMonth &month);
    void setEntryDays(const QSet<int> &days);
    void setYears(std::pair<int, int> years);
    void setOnThisDay(const QList<DiaryOnThisDayItem> &items);
    void setTheme(const DiaryTheme &theme);

    // A day chosen closes the card first, then opens the day.
    std::function<void(const DayKey &)> onSelect;
    std::function<void(const DayKey &)> onMonthChanged;
    std::function<void()> onClose;

    CalendarView *grid() const { return m_grid; }

    // The texts the card shows.
    static QString ageText(int yearsAgo);
    static QString previewText(const DiaryOnThisDayItem &item);
    // "1 page written in May" or "<N> pages written in May"; the month abbreviated.
    static QString countText(qsizetype pages, const QString &monthName);

    // Where things are, for input scripts.
    QRectF cardRect() const;
    QRectF closeButtonRect() const;
    // The rows of the first four items, in order.
    QList<QRectF> onThisDayRowRects() const;

    // After the grid: the title, the close button, the "On this day" rows and the count line.
    QList<Item> accessibleItems() const override;
    void pressAccessibleItem(int index) override;

protected:
    void paintEvent(QPaintEvent *event) override;
    // Takes every press, so that its release comes here too: the book is shown through a
    // graphics scene, which hands a release only to the widget that accepted the press.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void relayout();
    QSizeF cardSize() const;
    double boxHeight() const;
    QString monthName() const;
    void choose(const DayKey &day);

    GregorianCalendar m_calendar;
    CalendarView *m_grid;
    DiaryCalendarMonth m_month;
    QSet<int> m_entryDays;
    QList<DiaryOnThisDayItem> m_onThisDay;
    DiaryTheme m_theme;
};

} // namespace velmora

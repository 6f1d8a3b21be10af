#pragma once

#include "book/theme/DiaryTheme.h"
#include "recall/views/MacCalendarCard.h"
#include "recall/views/MacSearchCard.h"

#include <QObject>
#include <QPointer>

class QWidget;

namespace velmora {

class VuzIvoduPageView;

// The calendar card over the whole spread and the search card over the page, each present while
// the page controller's flag is set, filled from its state and answering into it. Both fade in
// and out as the controller says; a closing card is gone at once and only its picture fades.
class VuzIvoduRecallCards : public QObject {
    Q_OBJECT

public:
    // The calendar card goes under `calendarCeiling` (the saved note stays on top of it).
    VuzIvoduRecallCards(VuzIvoduPageView &page, QWidget *spread, QWidget *pageArea,
                        QWidget *calendarCeiling);

    void setTheme(const DiaryTheme &theme);

    MacCalendarCard *calendarCard() const { return m_calendar; }
    MacSearchCard *searchCard() const { return m_search; }

private:
    void showCalendar(bool show);
    void fillCalendar();
    void showSearch(bool show);

    VuzIvoduPageView &m_page;
    QWidget *m_spread;
    QWidget *m_pageArea;
    QPointer<QWidget> m_calendarCeiling;
    DiaryTheme m_theme;
    QPointer<MacCalendarCard> m_calendar;
    QPointer<MacSearchCard> m_search;
};

} // namespace velmora

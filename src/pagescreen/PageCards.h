#pragma once

#include "domain/DayKey.h"
#include "pagescreen/VuzIvoduPageAnimation.h"
#include "platform/Cancellation.h"
#include "platform/GregorianCalendar.h"
#include "recall/DiaryOnThisDayItem.h"
#include "recall/views/MacSearchCardController.h"
#include "store/DiaryHandwritingStore.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QSet>

#include <functional>
#include <optional>
#include <utility>

namespace velmora {

class DiaryHandwritingIndex;
class DiaryPageSystemStore;
class DiarySessionStore;
class PageMotion;

// The calendar and search cards the open book hosts: whether each is open, the calendar's marks
// of the month it shows, "On this day" and the search over typed and handwritten pages. They
// look into the drawings and the index of recognised handwriting once given them; until then on
// this day asks nothing and the search finds nothing.
class PageCards : public QObject {
    Q_OBJECT

public:
    using OnThisDayQuery =
        std::function<QCoro::Task<DiaryOnThisDay>(QDateTime date, GregorianCalendar calendar)>;

    PageCards(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
              const PageMotion &motion, QObject *parent = nullptr);
    ~PageCards() override;

    bool showSearch() const { return m_showSearch; }
    bool showCalendar() const { return m_showCalendar; }
    void setShowSearch(bool show);
    void toggleSearch();
    void setShowCalendar(bool show);
    void openCalendar();
    // The cards' own close: the keyboard goes back to the page.
    void closeCalendar();
    void closeSearch();
    // Escape closes the search card, else the calendar card; false when neither is open.
    bool closeTopCard();
    // How the cards come and go: both fade, the search card in and out, the calendar out.
    VuzIvoduPageAnimation searchCardAnimation() const;
    VuzIvoduPageAnimation calendarCardAnimation() const;

    void setRecall(DiaryHandwritingStore handwriting, DiaryHandwritingIndex &index);
    void setOnThisDayQuery(OnThisDayQuery query) { m_onThisDayQuery = std::move(query); }
    MacSearchCardController::Find searchFind() const;
    const std::optional<int> &firstYear() const { return m_firstYear; }
    const QList<DiaryOnThisDayItem> &onThisDay() const { return m_onThisDay; }
    // Looks back from the clock's today, whatever day the book shows.
    QCoro::Task<void> reloadOnThisDay();

    const QSet<int> &entryDays() const { return m_entryDays; }
    // The marks of the displayed month: none while they belong to another month.
    QSet<int> calendarEntryDays() const;
    // The years the calendar's year menu offers, first and last.
    std::pair<int, int> calendarYears() const;
    void changeCalendarMonth(const DayKey &day);
    // Reads the marks of the month shown again; only while the calendar card is open.
    void refreshMarks();
    // The book left the screen: a refresh of the marks under way ends.
    void stop();

Q_SIGNALS:
    void showSearchChanged(bool show);
    void showCalendarChanged(bool show);
    void entryDaysChanged(const QSet<int> &days);
    void onThisDayChanged();
    void failed(const QString &message);
    void focusWanted();

private:
    void setEntryDays(QSet<int> days);
    void setCalendarMarks(const DayKey &month, QSet<int> days);
    QCoro::Task<void> refreshMarksTask(QDateTime monthDate, DayKey firstDay,
                                       CancellationToken token);

    DiarySessionStore &m_session;
    DiaryPageSystemStore &m_pageSystem;
    const PageMotion &m_motion;
    bool m_showSearch = false;
    bool m_showCalendar = false;
    QSet<int> m_entryDays;
    DayKey m_entryDaysMonth;
    std::optional<CancellationToken> m_marksTask;

    DiaryHandwritingIndex *m_handwritingIndex = nullptr;
    OnThisDayQuery m_onThisDayQuery;
    std::optional<int> m_firstYear;
    QList<DiaryOnThisDayItem> m_onThisDay;
    // Only the newest reload answers: an older one may finish later with yesterday's list.
    quint64 m_onThisDayGeneration = 0;
};

} // namespace velmora

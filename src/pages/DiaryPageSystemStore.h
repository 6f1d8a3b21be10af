#pragma once

#include "domain/DiarySessionStore.h"
#include "pages/DiaryCalendarMonth.h"
#include "pages/PageLayoutService.h"
#include "pages/PageTransitionState.h"
#include "platform/Cancellation.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

namespace velmora {

// The open book's pages: the leaves of the day the session has open, the leaf shown, the month
// the calendar shows and the page turn in progress. Lives on the GUI thread for the whole run.
// Day changes are numbered, and only the latest one publishes what it loaded.
class DiaryPageSystemStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        QList<velmora::PageDescriptor> descriptors READ descriptors NOTIFY descriptorsChanged)
    Q_PROPERTY(qint64 selectedLeafIndex READ selectedLeafIndex NOTIFY selectedLeafIndexChanged)
    Q_PROPERTY(velmora::DiaryCalendarMonth calendarMonth READ calendarMonth WRITE setCalendarMonth
                   NOTIFY calendarMonthChanged)
    Q_PROPERTY(velmora::PageTransitionState transition READ transition WRITE setTransition NOTIFY
                   transitionChanged)

public:
    // The geometry used until the page screen reports its own.
    static constexpr LeafLayoutMetrics initialMetrics{560, 520, 36, 18, 3, 1};

    // Lays nothing out: the page screen asks for the first layout.
    DiaryPageSystemStore(DiarySessionStore *session,
                         std::shared_ptr<PageLayoutService> layoutService,
                         QObject *parent = nullptr);

    const QList<PageDescriptor> &descriptors() const { return m_descriptors; }
    qint64 selectedLeafIndex() const { return m_selectedLeafIndex; }
    const DiaryCalendarMonth &calendarMonth() const { return m_calendarMonth; }
    const PageTransitionState &transition() const { return m_transition; }
    const LeafLayoutMetrics &metrics() const { return m_metrics; }
    quint64 navigationGeneration() const { return m_navigationGeneration; }
    std::optional<PageDescriptor> selectedDescriptor() const;

    // The page screen browses months and ends turns by writing these.
    void setCalendarMonth(const DiaryCalendarMonth &month);
    void setTransition(const PageTransitionState &transition);
    // For navigation that starts elsewhere (the page screen) and must overtake a running change.
    void advanceNavigationGeneration() { ++m_navigationGeneration; }

    // Lays out the session's selected day again and shows the leaf, clamped to the day's leaves.
    void reloadDescriptors(qint64 leafIndex);
    void updateMetrics(const LeafLayoutMetrics &metrics);

    // Turn a leaf, or past the day's last (first) leaf into the next (previous) civil day. They
    // fail as the session's change of day fails, and with CancellationError when cancelled or
    // overtaken by a newer change of day.
    QCoro::Task<void> turnForward(PageTransitionMode mode, CancellationToken token = {});
    QCoro::Task<void> turnBackward(PageTransitionMode mode, CancellationToken token = {});

    // Moves by date (calendar, search, today, the reopened last page), always cross-fading.
    QCoro::Task<void> navigate(DayKey day, CancellationToken token = {});

    QCoro::Task<void> turnToDay(DayKey day, PageTurnDirection direction, bool selectingLastLeaf,
                                PageTransitionMode mode, CancellationToken token = {});

    // The leaf a turn into `day` lands on, as the turn will lay it out: its first leaf turning
    // forward, its last turning backward. The day is read and a sealed entry laid out off the
    // GUI thread, and that layout is kept for the turn. Fails as reading the day fails.
    QCoro::Task<PageDescriptor> arrivingLeaf(DayKey day, PageTurnDirection direction);

Q_SIGNALS:
    void descriptorsChanged(const QList<velmora::PageDescriptor> &descriptors);
    void selectedLeafIndexChanged(qint64 index);
    void calendarMonthChanged(const velmora::DiaryCalendarMonth &month);
    void transitionChanged(const velmora::PageTransitionState &transition);

private:
    void resetActiveTransition();
    void turnToLeaf(qint64 index, PageTurnDirection direction, PageTransitionMode mode);
    QCoro::Task<void> turnToAdjacentDay(int offset, PageTurnDirection direction,
                                        PageTransitionMode mode, CancellationToken token);
    QList<PageDescriptor> layOut(const DayKey &day) const;
    void setDescriptors(QList<PageDescriptor> descriptors);
    void setSelectedLeafIndex(qint64 index);
    PageTransitionState animating(const std::optional<PageDescriptor> &source,
                                  const std::optional<PageDescriptor> &target,
                                  PageTurnDirection direction, PageTransitionMode mode) const;

    QPointer<DiarySessionStore> m_session;
    std::shared_ptr<PageLayoutService> m_layoutService;
    QList<PageDescriptor> m_descriptors;
    qint64 m_selectedLeafIndex = 0;
    DiaryCalendarMonth m_calendarMonth;
    PageTransitionState m_transition = PageTransitionState::idle();
    LeafLayoutMetrics m_metrics = initialMetrics;
    quint64 m_navigationGeneration = 0;
};

} // namespace velmora

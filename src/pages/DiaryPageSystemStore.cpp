#include "pages/DiaryPageSystemStore.h"

#include "domain/PersistenceError.h"

#include <QCoreApplication>

#include <algorithm>
#include <exception>

namespace velmora {

DiaryPageSystemStore::DiaryPageSystemStore(DiarySessionStore *session,
                                           std::shared_ptr<PageLayoutService> layoutService,
                                           QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_layoutService(std::move(layoutService))
    , m_calendarMonth(DiaryCalendarMonth::containing(session->selectedDay(), session->calendar())) {
}

std::optional<PageDescriptor> DiaryPageSystemStore::selectedDescriptor() const {
    if (m_selectedLeafIndex < 0 || m_selectedLeafIndex >= m_descriptors.size())
        return std::nullopt;
    return m_descriptors.at(m_selectedLeafIndex);
}

void DiaryPageSystemStore::setCalendarMonth(const DiaryCalendarMonth &month) {
    if (m_calendarMonth == month)
        return;
    m_calendarMonth = month;
    Q_EMIT calendarMonthChanged(m_calendarMonth);
}

void DiaryPageSystemStore::setTransition(const PageTransitionState &transition) {
    if (m_transition == transition)
        return;
    m_transition = transition;
    Q_EMIT transitionChanged(m_transition);
}

void DiaryPageSystemStore::setDescriptors(QList<PageDescriptor> descriptors) {
    if (m_descriptors == descriptors)
        return;
    m_descriptors = std::move(descriptors);
    Q_EMIT descriptorsChanged(m_descriptors);
}

void DiaryPageSystemStore::setSelectedLeafIndex(qint64 index) {
    if (m_selectedLeafIndex == index)
        return;
    m_selectedLeafIndex = index;
    Q_EMIT selectedLeafIndexChanged(m_selectedLeafIndex);
}

QList<PageDescriptor> DiaryPageSystemStore::layOut(const DayKey &day) const {
    const auto &settings = m_session->settings();
    return m_layoutService->descriptors(day, m_session->currentEntry(), m_metrics,
                                        settings->selectedFont(), settings->defaultFontSize());
}

void DiaryPageSystemStore::reloadDescriptors(qint64 leafIndex) {
    const DayKey day = m_session->selectedDay();
    setDescriptors(layOut(day));
    const qint64 last = std::max<qint64>(m_descriptors.size() - 1, 0);
    setSelectedLeafIndex(std::min(last, std::max<qint64>(leafIndex, 0)));
    setCalendarMonth(DiaryCalendarMonth::containing(day, m_session->calendar()));
}

void DiaryPageSystemStore::updateMetrics(const LeafLayoutMetrics &metrics) {
    if (metrics == m_metrics)
        return;
    setTransition(PageTransitionState::idle());
    const qint64 leafIndex = m_selectedLeafIndex;
    m_metrics = metrics;
    reloadDescriptors(leafIndex);
}

void DiaryPageSystemStore::resetActiveTransition() {
    if (m_transition.phase != PageTransitionPhase::idle)
        setTransition(PageTransitionState::idle());
}

PageTransitionState DiaryPageSystemStore::animating(const std::optional<PageDescriptor> &source,
                                                    const std::optional<PageDescriptor> &target,
                                                    PageTurnDirection direction,
                                                    PageTransitionMode mode) const {
    return PageTransitionState{
        PageTransitionPhase::animating, source, target, direction, mode, 0, 0};
}

void DiaryPageSystemStore::turnToLeaf(qint64 index, PageTurnDirection direction,
                                      PageTransitionMode mode) {
    if (index < 0 || index >= m_descriptors.size())
        return;
    const auto source = selectedDescriptor();
    setSelectedLeafIndex(index);
    setTransition(animating(source, m_descriptors.at(index), direction, mode));
}

QCoro::Task<void> DiaryPageSystemStore::turnForward(PageTransitionMode mode,
                                                    CancellationToken token) {
    resetActiveTransition();
    if (m_selectedLeafIndex + 1 < m_descriptors.size()) {
        turnToLeaf(m_selectedLeafIndex + 1, PageTurnDirection::forward, mode);
        co_return;
    }
    co_await turnToAdjacentDay(1, PageTurnDirection::forward, mode, std::move(token));
}

QCoro::Task<void> DiaryPageSystemStore::turnBackward(PageTransitionMode mode,
                                                     CancellationToken token) {
    resetActiveTransition();
    if (m_selectedLeafIndex >= 1) {
        turnToLeaf(m_selectedLeafIndex - 1, PageTurnDirection::backward, mode);
        co_return;
    }
    co_await turnToAdjacentDay(-1, PageTurnDirection::backward, mode, std::move(token));
}

QCoro::Task<void> DiaryPageSystemStore::turnToAdjacentDay(int offset, PageTurnDirection direction,
                                                          PageTransitionMode mode,
                                                          CancellationToken token) {
    const GregorianCalendar &calendar = m_session->calendar();
    const auto start = m_session->selectedDay().date(calendar);
    const QDateTime adjacent = start ? calendar.startOfDayAdding(offset, *start) : QDateTime();
    if (!adjacent.isValid()) {
        throw PersistenceError::invalidData(QCoreApplication::translate(
            "DiaryPageSystemStore", "The adjacent civil day could not be calculated."));
    }
    co_await turnToDay(DayKey::fromDate(adjacent, calendar), direction,
                       direction == PageTurnDirection::backward, mode, std::move(token));
}

QCoro::Task<void> DiaryPageSystemStore::turnToDay(DayKey day, PageTurnDirection direction,
                                                  bool selectingLastLeaf, PageTransitionMode mode,
                                                  CancellationToken token) {
    resetActiveTransition();
    const quint64 generation = ++m_navigationGeneration;
    const auto source = selectedDescriptor();
    setTransition(PageTransitionState{PageTransitionPhase::loading, source, std::nullopt, direction,
                                      mode, 0, 0});

    const QPointer<DiaryPageSystemStore> self(this);
    std::exception_ptr failure;
    try {
        co_await m_session->changeDay(day, token);
    } catch (...) {
        failure = std::current_exception();
    }
    // The store may have gone while the day loaded; then nothing is left to publish into.
    if (!self || !m_session)
        throw CancellationError();
    const bool current = generation == m_navigationGeneration;
    if (failure || token.isCancelled()) {
        if (current)
            setTransition(PageTransitionState::idle());
        if (failure)
            std::rethrow_exception(failure);
        throw CancellationError();
    }
    if (!current)
        throw CancellationError();

    setDescriptors(layOut(day));
    setSelectedLeafIndex(selectingLastLeaf ? std::max<qint64>(m_descriptors.size() - 1, 0) : 0);
    setCalendarMonth(DiaryCalendarMonth::containing(day, m_session->calendar()));
    const auto target = selectedDescriptor();
    if (!target) {
        setTransition(PageTransitionState::idle());
        co_return;
    }
    // A day change turns like paper only from one sealed leaf to another; anything else fades.
    const bool physical = mode == PageTransitionMode::physical && source &&
                          source->kind == PageKind::sealed && target->kind == PageKind::sealed;
    setTransition(
        animating(source, target, direction,
                  physical ? PageTransitionMode::physical : PageTransitionMode::crossFade));
}

QCoro::Task<PageDescriptor> DiaryPageSystemStore::arrivingLeaf(DayKey day,
                                                               PageTurnDirection direction) {
    const std::shared_ptr<PageLayoutService> service = m_layoutService;
    const LeafLayoutMetrics metrics = m_metrics;
    const auto &settings = m_session->settings();
    const QString fontName = settings->selectedFont();
    const double bodyPointSize = settings->defaultFontSize();
    // Held while the day is read, and the service while it is laid out: the store may go first.
    const std::shared_ptr<DiaryRepository> repository = m_session->repository();
    auto reading = repository->entry(day);
    std::optional<DiaryEntryDTO> entry = co_await reading;
    auto laying =
        service->descriptorsInBackground(day, std::move(entry), metrics, fontName, bodyPointSize);
    const QList<PageDescriptor> leaves = co_await laying;
    co_return direction == PageTurnDirection::backward ? leaves.constLast() : leaves.constFirst();
}

QCoro::Task<void> DiaryPageSystemStore::navigate(DayKey day, CancellationToken token) {
    const DayKey shown = m_session->selectedDay();
    if (day == shown) {
        if (m_selectedLeafIndex != 0 && !m_descriptors.isEmpty()) {
            const auto source = selectedDescriptor();
            setSelectedLeafIndex(0);
            setTransition(animating(source, m_descriptors.constFirst(), PageTurnDirection::backward,
                                    PageTransitionMode::crossFade));
        }
        co_return;
    }
    if (day > shown)
        co_await turnToDay(day, PageTurnDirection::forward, false, PageTransitionMode::crossFade,
                           std::move(token));
    else
        co_await turnToDay(day, PageTurnDirection::backward, true, PageTransitionMode::crossFade,
                           std::move(token));
}

} // namespace velmora

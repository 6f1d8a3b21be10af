#include "pagescreen/PageNavigation.h"

#include "domain/DiarySessionStore.h"
#include "domain/SettingsStore.h"
#include "pagescreen/PageMotion.h"
#include "pagescreen/PageTaskFailure.h"
#include "platform/AsyncSleep.h"

#include <QPointer>
#include <QScopeGuard>
#include <QTimeZone>

namespace velmora {

PageNavigation::PageNavigation(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                               const SettingsStore &settings, const PageMotion &motion,
                               std::chrono::nanoseconds crossFadeSettle, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_pageSystem(pageSystem)
    , m_settings(settings)
    , m_motion(motion)
    , m_crossFadeSettle(crossFadeSettle) {
    connect(&m_pageSystem, &DiaryPageSystemStore::transitionChanged, this,
            &PageNavigation::updateSettling);
}

PageNavigation::~PageNavigation() {
    if (m_running)
        m_running->cancel();
}

void PageNavigation::navigate(const DayKey &day) {
    start([this, day](CancellationToken token) {
        return m_pageSystem.navigate(day, std::move(token));
    });
}

void PageNavigation::turnToNextPage() {
    start([this](CancellationToken token) {
        return m_pageSystem.turnForward(m_motion.mode(), std::move(token));
    });
}

void PageNavigation::turnToPreviousPage() {
    start([this](CancellationToken token) {
        return m_pageSystem.turnBackward(m_motion.mode(), std::move(token));
    });
}

void PageNavigation::start(Operation operation) {
    // The page stays where it is while the diary is replaced underneath it; the new diary is
    // read for the day shown.
    if (m_session.replacement())
        return;
    if (m_running)
        m_running->cancel();
    m_pageSystem.advanceNavigationGeneration();
    m_session.advanceSelectionGeneration();
    const CancellationToken token;
    m_running = token;
    resetTransition();
    updateSettling();
    launchPageTask(navigationTask(std::move(operation), token));
}

QCoro::Task<void> PageNavigation::navigationTask(Operation operation, CancellationToken token) {
    const QPointer<PageNavigation> self(this);
    // A navigation overtaken by a newer one leaves the newer one running.
    const auto ended = qScopeGuard([self, token] {
        if (!self || self->m_running != token)
            return;
        self->m_running.reset();
        self->updateSettling();
    });
    std::exception_ptr failure;
    try {
        co_await operation(token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        resetEdgeInteraction();
        if (!isCancellation(failure))
            Q_EMIT failed(describePageFailure(failure));
        co_return;
    }
    if (token.isCancelled())
        co_return;

    Q_EMIT arrived();
    resetEdgeInteraction();

    if (m_pageSystem.transition().mode == PageTransitionMode::crossFade) {
        try {
            co_await sleepFor(m_crossFadeSettle, token);
        } catch (const CancellationError &) {
            // A newer navigation took over; it settles the page itself.
        }
        if (!self || token.isCancelled())
            co_return;
        resetTransition();
    }
    Q_EMIT settled();
}

void PageNavigation::stop() {
    if (m_running)
        m_running->cancel();
    m_pageSystem.advanceNavigationGeneration();
    m_session.advanceSelectionGeneration();
    resetTransition();
}

void PageNavigation::resetTransition() {
    m_pageSystem.setTransition(PageTransitionState::idle());
}

void PageNavigation::loadStarted() {
    ++m_loadsRunning;
    updateSettling();
}

void PageNavigation::loadEnded() {
    --m_loadsRunning;
    updateSettling();
}

bool PageNavigation::isSettling() const {
    return m_loadsRunning > 0 || m_running ||
           m_pageSystem.transition().phase != PageTransitionPhase::idle;
}

void PageNavigation::updateSettling() {
    const bool settling = isSettling();
    if (settling == m_settling)
        return;
    m_settling = settling;
    Q_EMIT settlingChanged(settling);
}

// --- The edge drag ------------------------------------------------------------------------------

std::optional<PageDescriptor>
PageNavigation::adjacentDescriptor(PageTurnDirection direction) const {
    const auto &descriptors = m_pageSystem.descriptors();
    const qint64 index = m_pageSystem.selectedLeafIndex();
    if (direction == PageTurnDirection::backward && index >= 1 && index - 1 < descriptors.size())
        return descriptors.at(index - 1);
    if (direction == PageTurnDirection::forward && index >= 0 && index + 1 < descriptors.size())
        return descriptors.at(index + 1);

    const GregorianCalendar &calendar = m_session.calendar();
    const auto date = m_session.selectedDay().date(calendar);
    if (!date)
        return std::nullopt;
    const QDateTime neighbour =
        calendar.startOfDayAdding(direction == PageTurnDirection::backward ? -1 : 1, *date);
    if (!neighbour.isValid())
        return std::nullopt;
    const DayKey day = DayKey::fromDate(neighbour, calendar);
    PageDescriptor preview;
    preview.id = PageDescriptorID{day, std::nullopt, 0};
    preview.dayKey = day;
    preview.leafIndex = 0;
    preview.leafCount = 1;
    preview.fontName = m_settings.selectedFont();
    preview.bodyPointSize = m_settings.defaultFontSize();
    preview.kind = PageKind::blank;
    preview.originTimeZone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    return preview;
}

bool PageNavigation::isPhysicalTurnRunning() const {
    const PageTransitionState &transition = m_pageSystem.transition();
    return transition.phase == PageTransitionPhase::animating &&
           transition.mode == PageTransitionMode::physical &&
           m_motion.mode() == PageTransitionMode::physical;
}

bool PageNavigation::showsUnderLeaf() const {
    const auto phase = m_edgeInteraction.state.phase;
    return m_motion.mode() == PageTransitionMode::physical &&
           (phase == PageTransitionPhase::interactive || phase == PageTransitionPhase::animating) &&
           !isPhysicalTurnRunning();
}

double PageNavigation::edgeTurnAngle() const {
    if (!showsUnderLeaf())
        return 0;
    const double angle = m_edgeInteraction.state.progress * 52;
    return m_edgeInteraction.state.direction == PageTurnDirection::forward ? -angle : angle;
}

void PageNavigation::edgeDragChanged(double translation, double predictedEndTranslation,
                                     PageTurnDirection direction) {
    const auto source = m_pageSystem.selectedDescriptor();
    if (!source)
        return;
    const auto target = adjacentDescriptor(direction);
    if (!target)
        return;
    if (m_edgeInteraction.state.phase == PageTransitionPhase::idle)
        m_edgeInteraction.begin(source, target, direction, m_motion.mode());
    m_edgeInteraction.update(translation, edgeDragPageWidth,
                             (predictedEndTranslation - translation) * edgeDragVelocityFactor);
    Q_EMIT edgeInteractionChanged();
}

void PageNavigation::edgeDragEnded(double predictedEndTranslation) {
    const auto direction = m_edgeInteraction.state.direction;
    const bool committed = m_edgeInteraction.finish(predictedEndTranslation, edgeDragPageWidth);
    Q_EMIT edgeInteractionChanged();
    if (!committed || !direction) {
        resetEdgeInteraction();
        return;
    }
    if (*direction == PageTurnDirection::backward)
        turnToPreviousPage();
    else
        turnToNextPage();
}

void PageNavigation::resetEdgeInteraction() {
    if (m_edgeInteraction.state == PageTransitionState::idle())
        return;
    m_edgeInteraction.state = PageTransitionState::idle();
    Q_EMIT edgeInteractionChanged();
}

} // namespace velmora

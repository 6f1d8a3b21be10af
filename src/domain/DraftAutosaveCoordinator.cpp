#include "domain/DraftAutosaveCoordinator.h"

#include "platform/AsyncSleep.h"

#include <QPointer>

#include <limits>

namespace velmora {

namespace {

QCoro::Task<void> runTimer(QPointer<DraftAutosaveCoordinator> coordinator,
                           std::chrono::nanoseconds delay, CancellationToken token) {
    try {
        co_await sleepFor(delay, token);
    } catch (const CancellationError &) {
    }
    if (token.isCancelled() || !coordinator)
        co_return;
    co_await coordinator->flush();
}

} // namespace

DraftAutosaveCoordinator::DraftAutosaveCoordinator(std::chrono::nanoseconds idle,
                                                   std::chrono::nanoseconds maximum,
                                                   SaveOperation saveOperation,
                                                   Acknowledgement acknowledgement, QObject *parent)
    : QObject(parent)
    , m_idle(idle)
    , m_maximum(maximum)
    , m_saveOperation(std::move(saveOperation))
    , m_acknowledgement(std::move(acknowledgement)) {}

DraftAutosaveCoordinator::~DraftAutosaveCoordinator() {
    cancelTimers();
}

void DraftAutosaveCoordinator::schedule(const DiaryDraftDTO &draft) {
    if (m_nextSequence == std::numeric_limits<qint64>::max())
        throw PersistenceError::revisionOverflow();
    const qint64 sequence = ++m_nextSequence;
    m_pendingEdit = PendingEdit{draft, sequence};
    m_lastFailure.reset();
    setState(DiarySaveState::pending(sequence));
    restartIdleTimer();
    if (!m_maximumTask && !m_inFlight)
        startMaximumTimer();
}

QCoro::Task<bool> DraftAutosaveCoordinator::flush() {
    if (m_inFlight || !m_pendingEdit)
        co_return true;

    const PendingEdit edit = *std::exchange(m_pendingEdit, std::nullopt);
    cancelTimers();
    m_inFlight = true;
    setState(DiarySaveState::saving(edit.sequence));

    QPointer<DraftAutosaveCoordinator> self(this);
    std::optional<DiarySaveResult> result;
    std::optional<PersistenceError> failure;
    QString message;
    try {
        result = co_await m_saveOperation(edit.draft, edit.sequence);
    } catch (const PersistenceError &error) {
        failure = error;
        message = error.message();
    } catch (const DiaryError &error) {
        message = error.message();
        failure = PersistenceError::writeFailed(message);
    } catch (const std::exception &error) {
        message = QString::fromUtf8(error.what());
        failure = PersistenceError::writeFailed(message);
    }
    if (!self)
        co_return result.has_value();

    if (result) {
        // Over only once its owner has taken the result in.
        if (m_acknowledgement)
            m_acknowledgement(*result);
        if (!self)
            co_return true;
        m_inFlight = false;
        m_lastFailure.reset();
        if (m_pendingEdit) {
            setState(DiarySaveState::pending(m_pendingEdit->sequence));
            restartIdleTimer();
            startMaximumTimer();
        } else {
            setState(DiarySaveState::saved(result->entry.revision, result->editSequence));
        }
        co_return true;
    }

    m_inFlight = false;
    m_lastFailure = failure;
    if (!m_pendingEdit)
        m_pendingEdit = edit;
    // The owner may react to the failure by changing the state again; nothing may follow it.
    setState(DiarySaveState::failed(message, m_pendingEdit->sequence));
    co_return false;
}

void DraftAutosaveCoordinator::cancelTimers() {
    for (auto *slot : {&m_idleTask, &m_maximumTask}) {
        if (*slot)
            (*slot)->cancel();
        slot->reset();
    }
}

void DraftAutosaveCoordinator::enterSealedState() {
    m_pendingEdit.reset();
    cancelTimers();
    setState(DiarySaveState::sealed());
}

void DraftAutosaveCoordinator::discardPendingEdit() {
    m_pendingEdit.reset();
    cancelTimers();
    setState(DiarySaveState::idle());
}

void DraftAutosaveCoordinator::setState(DiarySaveState state) {
    m_state = std::move(state);
    if (m_stateDidChange)
        m_stateDidChange(m_state);
}

void DraftAutosaveCoordinator::restartIdleTimer() {
    startTimer(m_idleTask, this, m_idle);
}

void DraftAutosaveCoordinator::startMaximumTimer() {
    startTimer(m_maximumTask, this, m_maximum);
}

void DraftAutosaveCoordinator::startTimer(std::optional<CancellationToken> &slot,
                                          DraftAutosaveCoordinator *coordinator,
                                          std::chrono::nanoseconds delay) {
    if (slot)
        slot->cancel();
    slot = CancellationToken();
    // The timer runs on its own; it holds the coordinator weakly and its token stops it.
    runTimer(coordinator, delay, *slot);
}

} // namespace velmora

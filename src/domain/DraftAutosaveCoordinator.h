#pragma once

#include "domain/DiaryEntryDTO.h"
#include "domain/DiarySaveState.h"
#include "domain/PersistenceError.h"
#include "platform/Cancellation.h"

#include <QCoroTask>
#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

namespace velmora {

// How long the autosave waits: `idle` after the last edit, `maximum` after the edit that started
// an unsaved run.
struct DraftAutosaveTiming {
    std::chrono::nanoseconds idle = std::chrono::milliseconds(500);
    std::chrono::nanoseconds maximum = std::chrono::seconds(2);
};

// Turns the stream of edits into few, ordered saves: every edit is numbered, only the newest
// unsaved draft is kept, a save runs `idle` after the last edit and at the latest `maximum`
// after the edit that started an unsaved run, and at most one save is in flight. It knows
// nothing of the store: its owner gives it the save operation and hears of each result.
class DraftAutosaveCoordinator : public QObject {
    Q_OBJECT

public:
    using SaveOperation = std::function<QCoro::Task<DiarySaveResult>(DiaryDraftDTO, qint64)>;
    using Acknowledgement = std::function<void(const DiarySaveResult &)>;
    using StateCallback = std::function<void(const DiarySaveState &)>;

    struct PendingEdit {
        DiaryDraftDTO draft;
        qint64 sequence = 0;
    };

    DraftAutosaveCoordinator(std::chrono::nanoseconds idle, std::chrono::nanoseconds maximum,
                             SaveOperation saveOperation, Acknowledgement acknowledgement,
                             QObject *parent = nullptr);
    ~DraftAutosaveCoordinator() override;

    void setStateDidChange(StateCallback callback) { m_stateDidChange = std::move(callback); }

    // Records a new edit. Throws PersistenceError::revisionOverflow when the numbering is
    // exhausted; nothing changes then.
    void schedule(const DiaryDraftDTO &draft);

    // Saves the pending edit now. True when nothing is left to do, when the save succeeded, or
    // at once when a save is already in flight (callers that must be sure wait for it first);
    // false when the save failed. Never throws.
    QCoro::Task<bool> flush();

    void cancelTimers();

    // Forgets any pending edit and reports `sealed`.
    void enterSealedState();

    // Forgets the pending edit without saving it and reports `idle`; for an owner that has
    // already kept its text elsewhere.
    void discardPendingEdit();

    bool inFlight() const { return m_inFlight; }
    const std::optional<PendingEdit> &pendingEdit() const { return m_pendingEdit; }
    const DiarySaveState &state() const { return m_state; }
    const std::optional<PersistenceError> &lastFailure() const { return m_lastFailure; }

private:
    void setState(DiarySaveState state);
    void restartIdleTimer();
    void startMaximumTimer();
    static void startTimer(std::optional<CancellationToken> &slot,
                           DraftAutosaveCoordinator *coordinator, std::chrono::nanoseconds delay);

    std::chrono::nanoseconds m_idle;
    std::chrono::nanoseconds m_maximum;
    SaveOperation m_saveOperation;
    Acknowledgement m_acknowledgement;
    std::optional<CancellationToken> m_idleTask;
    std::optional<CancellationToken> m_maximumTask;
    std::optional<PendingEdit> m_pendingEdit;
    bool m_inFlight = false;
    qint64 m_nextSequence = 0;
    DiarySaveState m_state;
    std::optional<PersistenceError> m_lastFailure;
    StateCallback m_stateDidChange;
};

} // namespace velmora

#pragma once

#include "domain/DiaryRepository.h"

#include <QList>

#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace velmora::test {

// Wraps any repository so a test can script it: each operation can be made to take time on a
// real timer, to fail, or to run an action first, and every call is counted. The work itself is
// the wrapped repository's. The reads for assertions (`stored`, `recoveryRecords`, …) go to the
// wrapped repository directly, unscripted and uncounted.
class ScriptedDiaryRepository final : public DiaryRepository {
public:
    enum class Operation {
        entry,
        entries,
        search,
        dayKeys,
        save,
        seal,
        snapshot,
        replaceAll,
        revisionsByDay,
        applyRemote,
        preserveRecovery,
    };

    // One scripted call: how long it waits before the work, and what it throws instead of it.
    struct Step {
        std::chrono::milliseconds delay{0};
        std::exception_ptr error;
    };

    struct SaveCall {
        DiaryDraftDTO draft;
        std::optional<DiaryRevision> expectedRevision;
        qint64 editSequence = 0;
    };

    explicit ScriptedDiaryRepository(std::shared_ptr<DiaryRepository> inner);

    const std::shared_ptr<DiaryRepository> &inner() const { return m_inner; }

    // Seeds an entry exactly as given (identity and revision included), replacing the day's.
    void put(const DiaryEntryDTO &entry);
    std::optional<DiaryEntryDTO> stored(const DayKey &day) const;
    QList<DiaryEntryDTO> storedEntries() const;
    QList<DiaryRecoveryDTO> recoveryRecords() const;
    // The entries kept as recovery records, decoded from their payloads.
    QList<DiaryEntryDTO> recoveredEntries() const;

    // The delay of every call of the operation that has no scripted step.
    void setDelay(Operation operation, std::chrono::milliseconds delay);
    // Steps are used one per call, in order; then the default delay applies again.
    void script(Operation operation, Step step);
    template <typename Error>
    void failNext(Operation operation, Error error, std::chrono::milliseconds delay = {}) {
        script(operation, Step{delay, std::make_exception_ptr(std::move(error))});
    }
    // Runs before the next call of the operation does its work (after its delay), for tests
    // that change the store behind the caller's back at an exact moment.
    void beforeNext(Operation operation, std::function<void()> action);

    int callCount(Operation operation) const;
    // Calls begun and not yet finished, their delay included.
    int inProgress(Operation operation) const;
    const QList<SaveCall> &saveCalls() const { return m_saveCalls; }

    QCoro::Task<std::optional<DiaryEntryDTO>> entry(DayKey day) override;
    QCoro::Task<QList<DiaryEntryDTO>> entries(DayKey from, DayKey to, int limit) override;
    QCoro::Task<QList<DiaryEntryDTO>> search(QString query, int limit) override;
    QCoro::Task<QList<DayKey>> dayKeys(DayKey from, DayKey to, int limit) override;
    quint64 generation() const override { return m_inner->generation(); }
    DiaryWriteGate::Hold holdWrites() override { return m_inner->holdWrites(); }
    QCoro::Task<DiarySaveResult>
    save(DiaryDraftDTO draft, std::optional<DiaryRevision> expectedRevision, qint64 editSequence,
         std::optional<quint64> readInGeneration = std::nullopt) override;
    QCoro::Task<DiaryEntryDTO>
    seal(QUuid entryID, DiaryRevision expectedRevision,
         std::optional<quint64> readInGeneration = std::nullopt) override;
    QCoro::Task<DiarySnapshotDTO> snapshot() override;
    QCoro::Task<void> replaceAll(DiarySnapshotDTO snapshot) override;
    QCoro::Task<QHash<DayKey, DiaryRevision>> revisionsByDay() override;
    QCoro::Task<DiaryEntryDTO>
    applyRemote(DiaryEntryDTO entry, std::optional<DiaryRevision> expectedRevision,
                std::optional<DiaryEntryDTO> preserving,
                std::optional<quint64> readInGeneration = std::nullopt) override;
    QCoro::Task<void> preserveRecovery(DiaryEntryDTO entry) override;

private:
    // Counts the call, waits out its delay, runs its action, throws its scripted error.
    QCoro::Task<void> begin(Operation operation);
    // Runs `work` as one scripted call of `operation`.
    template <typename T, typename Work> QCoro::Task<T> run(Operation operation, Work work);

    std::shared_ptr<DiaryRepository> m_inner;
    std::map<Operation, std::chrono::milliseconds> m_delays;
    std::map<Operation, QList<Step>> m_steps;
    std::map<Operation, std::function<void()>> m_actions;
    std::map<Operation, int> m_callCounts;
    std::map<Operation, int> m_inProgress;
    QList<SaveCall> m_saveCalls;
};

} // namespace velmora::test

#pragma once

#include "domain/Clock.h"
#include "domain/DiaryRepository.h"

#include <QHash>
#include <QList>
#include <QMap>

#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace velmora::test {

// A repository kept in memory for tests that are not about the store. Its writes follow the
// store's rules (revision checks, created/updated/unchanged, sealed entries, revision overflow,
// recovery records), and each operation can be scripted to take time on a real timer, to fail,
// or both. Every operation suspends at least once, through the event loop, like the real store.
class InMemoryDiaryRepository final : public DiaryRepository {
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

    // One scripted call: how long it takes, and what it throws instead of doing its work.
    struct Step {
        std::chrono::milliseconds delay{0};
        std::exception_ptr error;
    };

    struct SaveCall {
        DiaryDraftDTO draft;
        std::optional<DiaryRevision> expectedRevision;
        qint64 editSequence = 0;
    };

    explicit InMemoryDiaryRepository(std::shared_ptr<const Clock> clock = nullptr);

    // Seeds an entry as stored, replacing the day's entry.
    void put(const DiaryEntryDTO &entry);
    std::optional<DiaryEntryDTO> stored(const DayKey &day) const;
    QList<DiaryEntryDTO> storedEntries() const { return m_entries.values(); }
    const QList<DiaryRecoveryDTO> &recoveryRecords() const { return m_recoveries; }
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
    int inProgress(Operation operation) const;
    const QList<SaveCall> &saveCalls() const { return m_saveCalls; }

    QCoro::Task<std::optional<DiaryEntryDTO>> entry(DayKey day) override;
    QCoro::Task<QList<DiaryEntryDTO>> entries(DayKey from, DayKey to, int limit) override;
    QCoro::Task<QList<DiaryEntryDTO>> search(QString query, int limit) override;
    QCoro::Task<QList<DayKey>> dayKeys(DayKey from, DayKey to, int limit) override;
    QCoro::Task<DiarySaveResult> save(DiaryDraftDTO draft,
                                      std::optional<DiaryRevision> expectedRevision,
                                      qint64 editSequence) override;
    QCoro::Task<DiaryEntryDTO> seal(QUuid entryID, DiaryRevision expectedRevision) override;
    QCoro::Task<DiarySnapshotDTO> snapshot() override;
    QCoro::Task<void> replaceAll(DiarySnapshotDTO snapshot) override;
    QCoro::Task<QHash<DayKey, DiaryRevision>> revisionsByDay() override;
    QCoro::Task<DiaryEntryDTO> applyRemote(DiaryEntryDTO entry,
                                           std::optional<DiaryRevision> expectedRevision,
                                           std::optional<DiaryEntryDTO> preserving) override;
    QCoro::Task<void> preserveRecovery(DiaryEntryDTO entry) override;

    // The store's own rules, usable without the repository.
    static double clampedBodyPointSize(double size);
    static DiaryRecoveryDTO makeCompetingRecovery(const DiaryEntryDTO &entry,
                                                  const QDateTime &createdAt);

private:
    // Waits out the operation's delay, then throws its scripted error, if any.
    QCoro::Task<void> begin(Operation operation);
    void end(Operation operation);
    QList<DiaryEntryDTO> range(const DayKey &from, const DayKey &to, int limit, int cap) const;

    std::shared_ptr<const Clock> m_clock;
    DiaryMetadataDTO m_metadata;
    QMap<DayKey, DiaryEntryDTO> m_entries;
    QList<DiaryRecoveryDTO> m_recoveries;
    std::map<Operation, std::chrono::milliseconds> m_delays;
    std::map<Operation, QList<Step>> m_steps;
    std::map<Operation, std::function<void()>> m_actions;
    std::map<Operation, int> m_callCounts;
    std::map<Operation, int> m_inProgress;
    QList<SaveCall> m_saveCalls;
};

} // namespace velmora::test

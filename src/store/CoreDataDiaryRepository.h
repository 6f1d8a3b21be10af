#pragma once

#include "domain/Clock.h"
#include "domain/DiaryRepository.h"
#include "domain/DiaryRepositoryFaultPoint.h"
#include "store/DiaryPersistenceStack.h"

#include <memory>

namespace velmora {

// The diary over its SQLite store. Each operation is entered on the GUI thread, reads the clock
// there when it stamps a time, runs its body on the stack's context inside one transaction
// (rolled back when the body throws), and resumes on the GUI thread. The store is the only
// state; the revision checks keep two writers from overwriting each other.
class CoreDataDiaryRepository final : public DiaryRepository {
public:
    CoreDataDiaryRepository(std::shared_ptr<DiaryPersistenceStack> stack,
                            std::shared_ptr<const Clock> clock,
                            std::shared_ptr<PersistenceFaultInjecting> faultInjector =
                                std::make_shared<NoPersistenceFaultInjector>());

    const std::shared_ptr<DiaryPersistenceStack> &stack() const { return m_stack; }

    quint64 generation() const override { return m_generation; }
    DiaryWriteGate::Hold holdWrites() override { return m_writes->hold(); }

    QCoro::Task<std::optional<DiaryEntryDTO>> entry(DayKey day) override;
    QCoro::Task<QList<DiaryEntryDTO>> entries(DayKey from, DayKey to, int limit) override;
    QCoro::Task<QList<DiaryEntryDTO>> search(QString query, int limit) override;
    QCoro::Task<QList<DayKey>> dayKeys(DayKey from, DayKey to, int limit) override;
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
    // Waits while the writes are held, then tells whether a replacement began since the caller
    // read its expectation.
    QCoro::Task<bool> enterWrite(std::optional<quint64> readInGeneration);

    std::shared_ptr<DiaryPersistenceStack> m_stack;
    std::shared_ptr<const Clock> m_clock;
    std::shared_ptr<PersistenceFaultInjecting> m_faultInjector;
    quint64 m_generation = 0;
    // Shared with the writes waiting on it, which may outlive the repository.
    std::shared_ptr<DiaryWriteGate> m_writes = std::make_shared<DiaryWriteGate>();
};

} // namespace velmora

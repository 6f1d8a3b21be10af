#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryEntryDTO.h"
#include "domain/DiarySnapshotDTO.h"
#include "domain/PersistenceError.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace velmora {

// Every read and write of the diary goes through this contract. Operations are entered on the
// GUI thread and resume there; an implementation does its work wherever it likes. Ranges are
// half-open, oldest day first, and empty unless `from` orders before `to` and the limit is at
// least 1.
class DiaryRepository {
public:
    static constexpr int entriesLimitCap = 500;
    static constexpr int searchLimitCap = 500;
    static constexpr int dayKeysLimitCap = 42;

    virtual ~DiaryRepository() = default;

    virtual QCoro::Task<std::optional<DiaryEntryDTO>> entry(DayKey day) = 0;
    virtual QCoro::Task<QList<DiaryEntryDTO>> entries(DayKey from, DayKey to, int limit) = 0;
    // Content containing the trimmed query, ignoring case and diacritics; newest day first.
    virtual QCoro::Task<QList<DiaryEntryDTO>> search(QString query, int limit) = 0;
    virtual QCoro::Task<QList<DayKey>> dayKeys(DayKey from, DayKey to, int limit) = 0;
    // `expectedRevision` is none when the caller believes the day has no entry.
    virtual QCoro::Task<DiarySaveResult> save(DiaryDraftDTO draft,
                                              std::optional<DiaryRevision> expectedRevision,
                                              qint64 editSequence) = 0;
    virtual QCoro::Task<DiaryEntryDTO> seal(QUuid entryID, DiaryRevision expectedRevision) = 0;
    virtual QCoro::Task<DiarySnapshotDTO> snapshot() = 0;
    virtual QCoro::Task<void> replaceAll(DiarySnapshotDTO snapshot) = 0;
    virtual QCoro::Task<QHash<DayKey, DiaryRevision>> revisionsByDay() = 0;
    virtual QCoro::Task<DiaryEntryDTO> applyRemote(DiaryEntryDTO entry,
                                                   std::optional<DiaryRevision> expectedRevision,
                                                   std::optional<DiaryEntryDTO> preserving) = 0;
    virtual QCoro::Task<void> preserveRecovery(DiaryEntryDTO entry) = 0;
};

// Stands in for the store when it cannot be opened, so the rest of the program can be built and
// show the failure instead of crashing.
class UnavailableDiaryRepository final : public DiaryRepository {
public:
    explicit UnavailableDiaryRepository(PersistenceError error)
        : m_error(std::move(error)) {}

    const PersistenceError &error() const { return m_error; }

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

private:
    PersistenceError m_error;
};

} // namespace velmora

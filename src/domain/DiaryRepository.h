#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryEntryDTO.h"
#include "domain/DiarySnapshotDTO.h"
#include "domain/PersistenceError.h"
#include "platform/OwnerClaim.h"
#include "platform/WaitQueue.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace velmora {

// Holds the writes back while the whole diary is replaced (a restore, an import), so nothing is
// stored between the diary being taken and being replaced, where the replacement would wipe it.
// Used on the GUI thread only.
class DiaryWriteGate : public QObject {
    Q_OBJECT

public:
    // The gate stays shut while any hold lives.
    using Hold = OwnerClaim<DiaryWriteGate>;

    Hold hold() {
        ++m_holds;
        return Hold(this);
    }
    bool isShut() const { return m_holds > 0; }
    // Returns at once while the gate is open, without suspending.
    QCoro::Task<void> waitUntilOpen();

private:
    friend Hold;
    void letGo();

    int m_holds = 0;
    WaitQueue m_waiters;
};

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

    // Counts the replacements of the whole diary (replaceAll) since the store was opened. What
    // was read in an earlier generation came from another diary, however equal its ids and
    // revision numbers (a backup of the same diary carries the same ones): a save, seal or
    // remote apply given the generation its expectation was read in is refused as a conflict
    // once another replacement has begun.
    virtual quint64 generation() const = 0;
    // Until the hold is released, save, seal, applyRemote and preserveRecovery wait before they
    // reach the store; snapshot and replaceAll go ahead.
    virtual DiaryWriteGate::Hold holdWrites() = 0;

    virtual QCoro::Task<std::optional<DiaryEntryDTO>> entry(DayKey day) = 0;
    virtual QCoro::Task<QList<DiaryEntryDTO>> entries(DayKey from, DayKey to, int limit) = 0;
    // Content containing the trimmed query, ignoring case and diacritics; newest day first.
    virtual QCoro::Task<QList<DiaryEntryDTO>> search(QString query, int limit) = 0;
    virtual QCoro::Task<QList<DayKey>> dayKeys(DayKey from, DayKey to, int limit) = 0;
    // `expectedRevision` is none when the caller believes the day has no entry.
    virtual QCoro::Task<DiarySaveResult>
    save(DiaryDraftDTO draft, std::optional<DiaryRevision> expectedRevision, qint64 editSequence,
         std::optional<quint64> readInGeneration = std::nullopt) = 0;
    virtual QCoro::Task<DiaryEntryDTO>
    seal(QUuid entryID, DiaryRevision expectedRevision,
         std::optional<quint64> readInGeneration = std::nullopt) = 0;
    virtual QCoro::Task<DiarySnapshotDTO> snapshot() = 0;
    virtual QCoro::Task<void> replaceAll(DiarySnapshotDTO snapshot) = 0;
    virtual QCoro::Task<QHash<DayKey, DiaryRevision>> revisionsByDay() = 0;
    virtual QCoro::Task<DiaryEntryDTO>
    applyRemote(DiaryEntryDTO entry, std::optional<DiaryRevision> expectedRevision,
                std::optional<DiaryEntryDTO> preserving,
                std::optional<quint64> readInGeneration = std::nullopt) = 0;
    virtual QCoro::Task<void> preserveRecovery(DiaryEntryDTO entry) = 0;
};

// Stands in for the store when it cannot be opened, so the rest of the program can be built and
// show the failure instead of crashing.
class UnavailableDiaryRepository final : public DiaryRepository {
public:
    explicit UnavailableDiaryRepository(PersistenceError error)
        : m_error(std::move(error)) {}

    const PersistenceError &error() const { return m_error; }

    quint64 generation() const override { return 0; }
    DiaryWriteGate::Hold holdWrites() override { return m_writes.hold(); }

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
    PersistenceError m_error;
    DiaryWriteGate m_writes;
};

} // namespace velmora

#pragma once

#include "backup/DiaryOpenDayReloader.h"
#include "domain/Clock.h"
#include "domain/DiaryRepository.h"
#include "platform/Cancellation.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace velmora {

class SerialExecutor;

struct DiaryRestoreResult {
    qint64 restoredEntryCount = 0;
    QString quarantineSnapshotURL;

    friend bool operator==(const DiaryRestoreResult &, const DiaryRestoreResult &) = default;
};

// The points a restore passes once it has taken the current diary; a test stops a process there,
// or acts there.
enum class DiaryRestoreStep { snapshotTaken, safetyBackupWritten, replaced };

// Replaces the whole diary with a backup package so that it can be undone: validate the
// package, keep the current diary as a safety backup "Before-Restore-<UUID>.velmorabackup",
// replace, read back and compare, and put the previous diary back from memory on any failure.
// A restore resumed after the coordinator is gone fails with CancellationError (putting the
// previous diary back when it had been replaced) without touching the coordinator.
class DiaryRestoreCoordinator {
public:
    DiaryRestoreCoordinator(std::shared_ptr<DiaryRepository> repository,
                            std::shared_ptr<const Clock> clock,
                            DiaryOpenDayReloader openDay = DiaryOpenDayReloader());
    ~DiaryRestoreCoordinator();
    DiaryRestoreCoordinator(const DiaryRestoreCoordinator &) = delete;
    DiaryRestoreCoordinator &operator=(const DiaryRestoreCoordinator &) = delete;

    void setOpenDayReloader(DiaryOpenDayReloader openDay) { m_openDay = openDay; }
    void setStepObserver(std::function<void(DiaryRestoreStep)> observer) {
        m_stepObserver = std::move(observer);
    }
    // Told once a restore replaced the diary, for what keeps its own record of the diary's
    // revisions (the sync's marks).
    void setDiaryReplaced(std::function<void()> replaced) { m_diaryReplaced = std::move(replaced); }

    // When it returns, the store holds exactly the package's diary; when it throws, the diary
    // as it was. Whenever the replacement was attempted, a validated safety backup of the
    // previous diary is in the quarantine folder.
    QCoro::Task<DiaryRestoreResult> restore(QString packageURL, QString quarantineDirectory);
    // The same for the newest valid backup of the folder, chosen with the open page already held
    // (choosing reads every backup in full, which takes a while); none when there is none.
    QCoro::Task<std::optional<DiaryRestoreResult>> restoreNewest(QString backupsDirectory,
                                                                 QString quarantineDirectory);

    // Snapshot equality with the entries compared by day and the recovery records by id, since
    // the package and the store keep the records in different orders.
    static bool sameDiary(DiarySnapshotDTO a, DiarySnapshotDTO b);

private:
    // The restore while the open page is held.
    QCoro::Task<DiaryRestoreResult> replace(QString packageURL, QString quarantineDirectory);
    QCoro::Task<std::optional<DiaryRestoreResult>> replaceWithNewest(QString backupsDirectory,
                                                                     QString quarantineDirectory);

    std::shared_ptr<DiaryRepository> m_repository;
    std::shared_ptr<const Clock> m_clock;
    DiaryOpenDayReloader m_openDay;
    std::function<void(DiaryRestoreStep)> m_stepObserver;
    std::function<void()> m_diaryReplaced;
    std::unique_ptr<SerialExecutor> m_files;
    // Cancelled when the coordinator goes; its work keeps a copy and checks it after each
    // suspension.
    CancellationToken m_lifetime;
};

} // namespace velmora

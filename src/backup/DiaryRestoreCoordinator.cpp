#include "backup/DiaryRestoreCoordinator.h"

#include "backup/BackupLogging.h"
#include "backup/DiarySnapshotService.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"
#include "platform/SerialExecutor.h"
#include "platform/UuidText.h"

#include <QCoreApplication>

#include <algorithm>

namespace velmora {

DiaryRestoreCoordinator::DiaryRestoreCoordinator(std::shared_ptr<DiaryRepository> repository,
                                                 std::shared_ptr<const Clock> clock,
                                                 DiaryOpenDayReloader openDay)
    : m_repository(std::move(repository))
    , m_clock(std::move(clock))
    , m_openDay(openDay)
    , m_files(std::make_unique<SerialExecutor>(QStringLiteral("DiaryRestoreFiles"))) {}

DiaryRestoreCoordinator::~DiaryRestoreCoordinator() {
    m_lifetime.cancel();
}

bool DiaryRestoreCoordinator::sameDiary(DiarySnapshotDTO a, DiarySnapshotDTO b) {
    for (DiarySnapshotDTO *diary : {&a, &b}) {
        std::stable_sort(
            diary->entries.begin(), diary->entries.end(),
            [](const DiaryEntryDTO &x, const DiaryEntryDTO &y) { return x.dayKey < y.dayKey; });
        std::stable_sort(diary->recoveryRecords.begin(), diary->recoveryRecords.end(),
                         [](const DiaryRecoveryDTO &x, const DiaryRecoveryDTO &y) {
                             return uuidText(x.recoveryID) < uuidText(y.recoveryID);
                         });
    }
    return a == b;
}

// The open page is held from the start: nothing typed meanwhile is saved over the restored diary,
// or typed only to vanish with the diary it replaces, and a quit meanwhile waits for the restore
// to end or to be undone. The hold is kept here, so that it ends even when the coordinator went
// away meanwhile.
QCoro::Task<DiaryRestoreResult> DiaryRestoreCoordinator::restore(QString packageURL,
                                                                 QString quarantineDirectory) {
    const CancellationToken lifetime = m_lifetime;
    DiaryOpenDayReloader openDay = m_openDay;
    auto restoring = openDay.whileHeld(DiaryReplacementKind::restore, [&] {
        lifetime.throwIfCancelled();
        return replace(std::move(packageURL), std::move(quarantineDirectory));
    });
    co_return co_await restoring;
}

QCoro::Task<std::optional<DiaryRestoreResult>>
DiaryRestoreCoordinator::restoreNewest(QString backupsDirectory, QString quarantineDirectory) {
    const CancellationToken lifetime = m_lifetime;
    DiaryOpenDayReloader openDay = m_openDay;
    auto restoring = openDay.whileHeld(DiaryReplacementKind::restore, [&] {
        lifetime.throwIfCancelled();
        return replaceWithNewest(std::move(backupsDirectory), std::move(quarantineDirectory));
    });
    co_return co_await restoring;
}

QCoro::Task<std::optional<DiaryRestoreResult>>
DiaryRestoreCoordinator::replaceWithNewest(QString backupsDirectory, QString quarantineDirectory) {
    const CancellationToken lifetime = m_lifetime;
    auto listing = m_files->run(
        [backupsDirectory] { return DiarySnapshotService::listSnapshots(backupsDirectory); });
    const QList<SnapshotSummary> snapshots = co_await listing;
    lifetime.throwIfCancelled();
    if (snapshots.isEmpty())
        co_return std::nullopt;
    auto replacing = replace(snapshots.first().packageURL, std::move(quarantineDirectory));
    co_return co_await replacing;
}

QCoro::Task<DiaryRestoreResult> DiaryRestoreCoordinator::replace(QString packageURL,
                                                                 QString quarantineDirectory) {
    const CancellationToken lifetime = m_lifetime;
    auto read =
        m_files->run([packageURL] { return DiarySnapshotService::readPackage(packageURL); });
    const DiarySnapshotDTO restored = (co_await read).diary;
    lifetime.throwIfCancelled();

    const auto repository = m_repository;
    // Nothing else is stored from the moment the diary is taken until it is replaced or put
    // back: the safety backup holds everything, and the replacement wipes nothing saved since.
    DiaryWriteGate::Hold writes = repository->holdWrites();
    const DiarySnapshotDTO previous = co_await repository->snapshot();
    lifetime.throwIfCancelled();
    if (m_stepObserver)
        m_stepObserver(DiaryRestoreStep::snapshotTaken);

    const QString quarantine = standardizedPath(quarantineDirectory);
    const QString safetyURL = quarantine + QStringLiteral("/Before-Restore-") +
                              uuidText(QUuid::createUuid()) + QStringLiteral(".velmorabackup");
    auto writeSafety = m_files->run([quarantine, previous, safetyURL, createdAt = m_clock->now()] {
        createDirectories(quarantine);
        DiarySnapshotService::writePackage(previous, safetyURL, createdAt);
    });
    co_await writeSafety;
    lifetime.throwIfCancelled();
    if (m_stepObserver)
        m_stepObserver(DiaryRestoreStep::safetyBackupWritten);

    std::exception_ptr failure;
    try {
        co_await repository->replaceAll(restored);
        // From here a coordinator gone meanwhile has the previous diary put back, as for any
        // failure, with nothing but what this restore holds itself.
        lifetime.throwIfCancelled();
        if (m_stepObserver)
            m_stepObserver(DiaryRestoreStep::replaced);
        const DiarySnapshotDTO stored = co_await repository->snapshot();
        lifetime.throwIfCancelled();
        if (!sameDiary(stored, restored))
            throw PersistenceError::backupFailed(QCoreApplication::translate(
                "DiaryRestoreCoordinator",
                "Restored data did not pass the post-write verification."));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        try {
            co_await repository->replaceAll(previous);
        } catch (const std::exception &error) {
            qCCritical(lcBackup) << "The previous diary could not be put back; the safety backup"
                                 << safetyURL << "holds it:" << error.what();
        }
        std::rethrow_exception(failure);
    }
    // Before anything else may write: the sync learns of the new diary first.
    if (m_diaryReplaced)
        m_diaryReplaced();
    writes.release();
    co_return DiaryRestoreResult{restored.entries.size(), safetyURL};
}

} // namespace velmora

#include "app/DiaryLoadFailureRecovery.h"

#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"
#include "platform/FileSystemError.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryPersistenceStack.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimeZone>
#include <QtConcurrent>

#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace velmora {

namespace {

// Moves the store and its companions into a folder of their own inside the quarantine. Answers
// the failure, if any; files already moved stay moved, as nothing is ever deleted here.
std::optional<QString> setStoreAside(const QString &storeURL, const QString &quarantine,
                                     const QString &stamp) {
    const QString folder = quarantine + QStringLiteral("/Unopenable-") + stamp;
    try {
        createDirectories(folder);
    } catch (const FileSystemError &error) {
        qCWarning(lcApp) << "could not make" << folder << ":" << error.message();
        return QCoreApplication::translate("VuzIvoduRootView",
                                           "The damaged diary could not be set aside in %1.")
            .arg(folder);
    }
    const QString name = QFileInfo(storeURL).fileName();
    for (const QString &suffix :
         {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")}) {
        const QString source = storeURL + suffix;
        if (!QFileInfo::exists(source))
            continue;
        const QString destination = folder + QLatin1Char('/') + name + suffix;
        // The store may date from a run that left it readable by everyone.
        restrictToOwner(source);
        if (!QFile::rename(source, destination)) {
            qCWarning(lcApp) << "could not move" << source << "into" << folder;
            return QCoreApplication::translate("VuzIvoduRootView",
                                               "The damaged diary could not be set aside in %1.")
                .arg(folder);
        }
    }
    return std::nullopt;
}

} // namespace

QCoro::Task<QString> restoreFromNewestBackup(DiaryStoreRecovery recovery) {
    const QString backups = recovery.persistenceDirectory + QStringLiteral("/Backups");
    const QString quarantine =
        recovery.persistenceDirectory + QStringLiteral("/Recovery/Quarantine");
    // Reading every package checks it completely: off the GUI thread.
    QFuture<QList<SnapshotSummary>> listing =
        QtConcurrent::run([backups] { return DiarySnapshotService::listSnapshots(backups); });
    const QList<SnapshotSummary> snapshots = co_await listing;
    if (snapshots.isEmpty())
        co_return QCoreApplication::translate("VuzIvoduRootView",
                                              "No validated backup is available.");

    const QString stamp = recovery.clock->now().toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QFuture<std::optional<QString>> moving =
        QtConcurrent::run([storeURL = recovery.storeURL, quarantine, stamp] {
            return setStoreAside(storeURL, quarantine, stamp);
        });
    if (const std::optional<QString> failure = co_await moving)
        co_return *failure;

    try {
        // A fresh, empty store: as small as a launch's own preparation of a new diary.
        DiaryMigrationCoordinator(recovery.clock)
            .prepareStore(recovery.storeURL, *recovery.defaults, QTimeZone::systemTimeZone());
        auto repository = std::make_shared<CoreDataDiaryRepository>(
            std::make_shared<DiaryPersistenceStack>(
                recovery.storeURL,
                DiaryModelProvider::model(DiaryModelProvider::currentVersionName)),
            recovery.clock);
        DiaryRestoreCoordinator coordinator(repository, recovery.clock);
        QCoro::Task<DiaryRestoreResult> restoring =
            coordinator.restore(snapshots.first().packageURL, quarantine);
        const DiaryRestoreResult result = co_await restoring;
        co_return QCoreApplication::translate("VuzIvoduRootView",
                                              "Restored %1 entries. Reopen the diary to continue.")
            .arg(result.restoredEntryCount);
    } catch (const DiaryError &error) {
        qCWarning(lcApp) << "restore from backup failed:" << error.message();
        co_return error.message();
    } catch (const std::exception &error) {
        qCWarning(lcApp) << "restore from backup failed:" << error.what();
        co_return QString::fromUtf8(error.what());
    }
}

} // namespace velmora

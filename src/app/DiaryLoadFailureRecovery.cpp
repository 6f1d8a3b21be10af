#include "app/DiaryLoadFailureRecovery.h"

#include "backup/DiarySnapshotService.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QLoggingCategory>
#include <QtConcurrent>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace velmora {

QCoro::Task<QString> restoreFromNewestBackup(QString persistenceDirectory,
                                             DiaryRestoreCoordinator &restoreCoordinator) {
    const QString backups = persistenceDirectory + QStringLiteral("/Backups");
    const QString quarantine = persistenceDirectory + QStringLiteral("/Recovery/Quarantine");
    // Reading every package checks it completely: off the GUI thread.
    QFuture<QList<SnapshotSummary>> listing =
        QtConcurrent::run([backups] { return DiarySnapshotService::listSnapshots(backups); });
    const QList<SnapshotSummary> snapshots = co_await listing;
    if (snapshots.isEmpty())
        co_return QCoreApplication::translate("VuzIvoduRootView",
                                              "No validated backup is available.");
    try {
        const DiaryRestoreResult result =
            co_await restoreCoordinator.restore(snapshots.first().packageURL, quarantine);
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

#include "app/DiaryLoadFailureRecovery.h"

#include "app/AppLogging.h"
#include "backup/DiarySnapshotService.h"
#include "backup/DiaryStoreRestore.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QDateTime>
#include <QUuid>
#include <QtConcurrent>

namespace velmora {

QCoro::Task<QString> restoreFromNewestBackup(DiaryStoreRecovery recovery) {
    const QString backups = recovery.persistenceDirectory + QStringLiteral("/Backups");
    const QString setAside =
        recovery.persistenceDirectory + QStringLiteral("/Recovery/Quarantine/Unopenable-") +
        recovery.clock->now().toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss-")) +
        QUuid::createUuid().toString(QUuid::Id128).left(8).toUpper();
    // Reading every package checks it completely, and the restore writes a whole store: both
    // off the GUI thread.
    QFuture<QString> restoring =
        QtConcurrent::run([backups, setAside, recovery = std::move(recovery)]() -> QString {
            const QList<SnapshotSummary> snapshots = DiarySnapshotService::listSnapshots(backups);
            if (snapshots.isEmpty())
                return QCoreApplication::translate("VuzIvoduRootView",
                                                   "No validated backup is available.");
            try {
                const qint64 restored =
                    restoreUnopenableStore(recovery.storeURL, snapshots.first().packageURL,
                                           setAside, {}, recovery.claims.get());
                return QCoreApplication::translate(
                           "VuzIvoduRootView", "Restored %1 entries. Reopen the diary to continue.")
                    .arg(restored);
            } catch (const DiaryError &error) {
                qCWarning(lcApp) << "restore from backup failed:" << error.message();
                return error.message();
            } catch (const std::exception &error) {
                qCWarning(lcApp) << "restore from backup failed:" << error.what();
                return QString::fromUtf8(error.what());
            }
        });
    co_return co_await restoring;
}

} // namespace velmora

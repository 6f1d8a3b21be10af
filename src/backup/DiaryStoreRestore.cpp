#include "backup/DiaryStoreRestore.h"

#include "backup/BackupLogging.h"
#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"
#include "domain/PersistenceError.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"
#include "platform/UuidText.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryStoreRows.h"
#include "store/StoreFile.h"

#include <QCoreApplication>

namespace velmora {

namespace {

// Opened, written or read in one transaction, and closed again, so that the file is whole and
// alone on disk afterwards.
template <typename F> auto withStore(const QString &path, SqliteTransactionKind kind, F body) {
    const auto database =
        openStore(path, DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
    return database->transaction(kind, [&] { return body(*database); });
}

} // namespace

qint64 restoreUnopenableStore(const QString &storeURL, const QString &packageURL,
                              const QString &setAsideDirectory,
                              const std::function<void(StoreReplacementStep)> &observer,
                              FileClaims *claims) {
    const DiarySnapshotDTO restored = DiarySnapshotService::readPackage(packageURL).diary;
    const QString store = standardizedPath(storeURL);
    const QString folder = storeReplacementDirectory(store);
    createDirectories(folder);
    removeStagedStores(store);
    const QString staged = folder + QStringLiteral("/Restored-") + uuidText(QUuid::createUuid()) +
                           QStringLiteral(".sqlite");
    try {
        withStore(staged, SqliteTransactionKind::immediate,
                  [&](SqliteDatabase &database) { writeDiarySnapshot(database, restored); });
        const DiarySnapshotDTO stored =
            withStore(staged, SqliteTransactionKind::deferred, &readDiarySnapshot);
        if (!DiaryRestoreCoordinator::sameDiary(stored, restored))
            throw PersistenceError::backupFailed(QCoreApplication::translate(
                "DiaryRestoreCoordinator",
                "Restored data did not pass the post-write verification."));
        syncDirectory(folder);
    } catch (...) {
        try {
            DiaryMigrationCoordinator::removeStoreFiles(staged);
        } catch (const std::exception &error) {
            qCWarning(lcBackup) << "Could not remove the unfinished store" << staged << ":"
                                << error.what();
        }
        throw;
    }
    if (claims)
        claims->claim(staged);
    if (observer)
        observer(StoreReplacementStep::staged);
    replaceStore({store, staged, setAsideDirectory}, observer);
    return restored.entries.size();
}

} // namespace velmora

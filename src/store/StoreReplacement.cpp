#include "store/StoreReplacement.h"

#include "domain/PersistenceError.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"
#include "platform/JsonCoding.h"
#include "store/StoreFile.h"
#include "store/StoreLogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace velmora {

namespace {

const QString journalName = QStringLiteral("active-restore.json");
const QString stagedPrefix = QStringLiteral("Restored-");

QByteArray nativePath(const QString &path) {
    return QFile::encodeName(path);
}

bool pathExists(const QString &path) {
    struct stat status {};
    return ::lstat(nativePath(path).constData(), &status) == 0;
}

QString recoveryDirectory(const QString &storeURL) {
    return QFileInfo(storeURL).absolutePath() + QStringLiteral("/Recovery");
}

QString journalURL(const QString &storeURL) {
    return storeReplacementDirectory(storeURL) + QLatin1Char('/') + journalName;
}

bool isInside(const QString &path, const QString &directory) {
    return path.startsWith(directory + QLatin1Char('/'));
}

PersistenceError journalFailure(const char *text) {
    return PersistenceError::readFailed(QCoreApplication::translate("StoreReplacement", text));
}

// Moves `source` into `folder` under its own name, or a numbered one when that is taken: nothing
// already set aside is ever overwritten.
void moveAside(const QString &source, const QString &folder) {
    const QString name = QFileInfo(source).fileName();
    // The store may date from a run that left it readable by everyone.
    restrictToOwner(source);
    for (int attempt = 0;; ++attempt) {
        const QString target = folder + QLatin1Char('/') + name +
                               (attempt ? QStringLiteral(".%1").arg(attempt) : QString());
        if (::renameat2(AT_FDCWD, nativePath(source).constData(), AT_FDCWD,
                        nativePath(target).constData(), RENAME_NOREPLACE) == 0)
            return;
        if (errno != EEXIST)
            throw FileSystemError(QStringLiteral("Could not move the file into place"), target,
                                  errno);
    }
}

// The moves and the rename; each step can be taken again after a kill.
void complete(const StoreReplacementPlan &plan,
              const std::function<void(StoreReplacementStep)> &observer) {
    const QString storeFolder = QFileInfo(plan.storeURL).absolutePath();
    if (pathExists(plan.stagedStoreURL)) {
        createDirectories(plan.setAsideDirectory);
        // The side files first: a "-wal" or "-journal" left beside the new store would be
        // played into it.
        QStringList files = storeFilePaths(plan.storeURL);
        files.move(0, files.size() - 1);
        for (const QString &file : std::as_const(files)) {
            if (pathExists(file))
                moveAside(file, plan.setAsideDirectory);
        }
        syncDirectory(plan.setAsideDirectory);
        syncDirectory(storeFolder);
        if (observer)
            observer(StoreReplacementStep::setAside);
        if (::renameat2(AT_FDCWD, nativePath(plan.stagedStoreURL).constData(), AT_FDCWD,
                        nativePath(plan.storeURL).constData(), RENAME_NOREPLACE) != 0)
            throw FileSystemError(QStringLiteral("Could not move the file into place"),
                                  plan.storeURL, errno);
        syncDirectory(storeFolder);
        syncDirectory(QFileInfo(plan.stagedStoreURL).absolutePath());
    }
    if (observer)
        observer(StoreReplacementStep::replaced);
    removeFileDurably(journalURL(plan.storeURL));
}

} // namespace

QString storeReplacementDirectory(const QString &storeURL) {
    return recoveryDirectory(standardizedPath(storeURL)) + QStringLiteral("/Restores");
}

void removeStagedStores(const QString &storeURL) {
    const QDir folder(storeReplacementDirectory(storeURL));
    for (const QString &name :
         folder.entryList({stagedPrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden)) {
        if (!QFile::remove(folder.filePath(name)))
            qCWarning(lcStore) << "Could not remove the staged store" << folder.filePath(name);
    }
}

void replaceStore(const StoreReplacementPlan &given,
                  const std::function<void(StoreReplacementStep)> &observer) {
    StoreReplacementPlan plan{standardizedPath(given.storeURL),
                              standardizedPath(given.stagedStoreURL),
                              standardizedPath(given.setAsideDirectory)};
    try {
        const QStringList stagedFiles = storeFilePaths(plan.stagedStoreURL);
        for (qsizetype i = 1; i < stagedFiles.size(); ++i) {
            if (pathExists(stagedFiles[i]))
                throw PersistenceError::backupFailed(QCoreApplication::translate(
                    "StoreReplacement", "The restored store was not closed cleanly."));
        }
        const QJsonObject journal{{QStringLiteral("storePath"), plan.storeURL},
                                  {QStringLiteral("stagedStorePath"), plan.stagedStoreURL},
                                  {QStringLiteral("setAsidePath"), plan.setAsideDirectory}};
        writeFileAtomically(journalURL(plan.storeURL), writeJson(journal));
    } catch (...) {
        // Nothing was changed: the staged store is only scratch now.
        for (const QString &file : storeFilePaths(plan.stagedStoreURL)) {
            if (pathExists(file) && !QFile::remove(file))
                qCWarning(lcStore) << "Could not remove the staged store" << file;
        }
        throw;
    }
    if (observer)
        observer(StoreReplacementStep::journalWritten);
    complete(plan, observer);
}

bool settleInterruptedStoreReplacement(const QString &storeURL) {
    const QString store = standardizedPath(storeURL);
    const QString journal = journalURL(store);
    if (!pathExists(journal))
        return false;
    StoreReplacementPlan plan;
    try {
        const JsonObjectReader reader(parseJson(readRegularFile(journal, journalByteLimit)));
        plan = {standardizedPath(reader.string(QStringLiteral("storePath"))),
                standardizedPath(reader.string(QStringLiteral("stagedStorePath"))),
                standardizedPath(reader.string(QStringLiteral("setAsidePath")))};
    } catch (const DiaryError &error) {
        qCWarning(lcStore) << "The interrupted restore journal" << journal
                           << "cannot be read:" << error.message();
        throw journalFailure(QT_TRANSLATE_NOOP("StoreReplacement",
                                               "The interrupted restore journal is unreadable."));
    }
    if (plan.storeURL != store)
        throw journalFailure(QT_TRANSLATE_NOOP(
            "StoreReplacement", "The interrupted restore journal targets another store."));
    if (QFileInfo(plan.stagedStoreURL).absolutePath() != storeReplacementDirectory(store) ||
        !isInside(plan.setAsideDirectory, recoveryDirectory(store)))
        throw journalFailure(QT_TRANSLATE_NOOP(
            "StoreReplacement", "The interrupted restore journal contains an unsafe path."));
    qCInfo(lcStore) << "Finishing the restore that was interrupted: the store" << store << "becomes"
                    << plan.stagedStoreURL;
    complete(plan, {});
    return true;
}

} // namespace velmora

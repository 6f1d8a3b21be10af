#include "sync/DiaryCloudSyncRoot.h"

#include "platform/FilePaths.h"
#include "sync/DiaryCloudSyncManifest.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

bool isInside(const QString &path, const QString &folder) {
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

DiaryCloudSyncFolderChoice::DiaryCloudSyncFolderChoice(std::shared_ptr<UserDefaults> defaults)
    : m_defaults(std::move(defaults)) {
    const std::optional<QString> folder = m_defaults->stringValue(folderKey);
    if (!folder || folder->isEmpty())
        return;
    Choice choice{*folder, std::nullopt};
    if (m_defaults->contains(folderDeviceKey))
        choice.device = quint64(m_defaults->integerValue(folderDeviceKey));
    m_choice = std::move(choice);
}

std::optional<DiaryCloudSyncFolderChoice::Choice> DiaryCloudSyncFolderChoice::current() const {
    const std::lock_guard lock(m_mutex);
    return m_choice;
}

void DiaryCloudSyncFolderChoice::set(const Choice &choice) {
    m_defaults->setString(folderKey, choice.folder);
    if (choice.device)
        m_defaults->setInteger(folderDeviceKey, qint64(*choice.device));
    else
        m_defaults->remove(folderDeviceKey);
    const std::lock_guard lock(m_mutex);
    m_choice = choice;
}

std::variant<DiaryCloudSyncFolderChoice::Choice, DiaryCloudSyncFolderChoice::Refusal>
DiaryCloudSyncFolderChoice::examine(const QString &picked, const QString &diaryFolder) {
    const QString folder = standardizedPath(picked);
    struct stat status {};
    if (folder.isEmpty() || ::stat(QFile::encodeName(folder).constData(), &status) != 0 ||
        !S_ISDIR(status.st_mode))
        return Refusal::notAFolder;
    // Compared as spelled and as resolved, so a link to the diary's folder is refused too.
    const QString diary = standardizedPath(diaryFolder);
    const QString realFolder = canonicalPathOfPossiblyMissing(folder);
    const QString realDiary = canonicalPathOfPossiblyMissing(diary);
    if (isInside(folder, diary) || isInside(diary, folder) || isInside(realFolder, realDiary) ||
        isInside(realDiary, realFolder))
        return Refusal::diaryFolder;
    return Choice{folder, quint64(status.st_dev)};
}

QString DiaryCloudSyncFolderChoice::refusalMessage(Refusal refusal) {
    switch (refusal) {
    case Refusal::notAFolder:
        return QCoreApplication::translate("DiaryCloudSyncFolderChoice",
                                           "The sync folder must be a folder you can open.");
    case Refusal::diaryFolder:
        break;
    }
    return QCoreApplication::translate(
        "DiaryCloudSyncFolderChoice",
        "The sync folder must lie outside the diary’s own folder, and not hold it.");
}

std::optional<QString> DiaryCloudSyncFolderChoice::rootIn(const Choice &choice) {
    const QByteArray native = QFile::encodeName(choice.folder);
    struct stat status {};
    if (choice.folder.isEmpty() || ::stat(native.constData(), &status) != 0 ||
        !S_ISDIR(status.st_mode) || ::access(native.constData(), R_OK | W_OK | X_OK) != 0)
        return std::nullopt;
    if (choice.device && quint64(status.st_dev) != *choice.device)
        return std::nullopt;
    return DiaryCloudSyncManifest::rootPath(choice.folder + QLatin1Char('/') + rootFolderName);
}

std::function<std::optional<QString>()> DiaryCloudSyncFolderChoice::chosenFolderSyncRoot(
    std::shared_ptr<const DiaryCloudSyncFolderChoice> choice) {
    return [choice = std::move(choice)]() -> std::optional<QString> {
        const std::optional<Choice> current = choice->current();
        if (!current)
            return std::nullopt;
        return rootIn(*current);
    };
}

std::function<std::optional<QString>()>
DiaryCloudSyncFolderChoice::fixedFolderSyncRoot(const QString &folder) {
    return [folder] { return rootIn(Choice{folder, std::nullopt}); };
}

} // namespace velmora

// The profile step of a pass: the user's name travels through "profile.json", and the side whose
// name changed later wins.
#include "sync/DiaryCloudSync.h"

#include "sync/DiaryCloudSyncWork.h"
#include "sync/SyncLogging.h"

#include <limits>

namespace velmora {

namespace {

// Canonically equivalent names are the same name.
bool sameName(const QString &a, const QString &b) {
    return a == b ||
           a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

} // namespace

QCoro::Task<bool> DiaryCloudSync::reconcileProfile(const DiaryCloudSyncFolder &folder) {
    const std::shared_ptr<UserDefaultsSettingsStore> settings = m_services.settings;
    if (!settings)
        co_return false;
    auto reading = folderWork([folder] { return folder.readProfile(); });
    const std::optional<DiaryCloudSyncFolder::Profile> remote = co_await reading;
    if (!m_isEnabled || passInterrupted())
        co_return false;

    const QString localName = settings->userName();
    const std::optional<QDateTime> localChangedAt = settings->userNameChangedAt();
    // The file carries seconds as a double: times compare in whole milliseconds, as both sides
    // store them, so an unchanged name is never taken for a newer one.
    const qint64 localMs =
        localChangedAt ? localChangedAt->toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
    if (remote && remote->changedAt.toMSecsSinceEpoch() > localMs) {
        if (sameName(remote->userName, localName))
            co_return false;
        settings->setUserName(remote->userName, remote->changedAt);
        co_return true;
    }
    if (!localChangedAt)
        co_return false;
    if (remote && remote->changedAt.toMSecsSinceEpoch() == localMs &&
        sameName(remote->userName, localName))
        co_return false;
    try {
        auto writing = folderWork(
            [folder, profile = DiaryCloudSyncFolder::Profile{localName, *localChangedAt}] {
                folder.writeProfile(profile);
            });
        co_await writing;
    } catch (const CancellationError &) {
        throw;
    } catch (const std::exception &error) {
        // The next pass tries again; the profile never fails a pass.
        qCWarning(lcSync) << "the synced profile could not be written:" << error.what();
    }
    co_return false;
}

} // namespace velmora

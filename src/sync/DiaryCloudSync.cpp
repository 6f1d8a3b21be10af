#include "sync/DiaryCloudSync.h"

#include "platform/FileFingerprint.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSync, "velmora.sync")

namespace velmora {

namespace {

bool enabledFrom(const UserDefaults &defaults) {
    const auto stored = defaults.object(DiaryCloudSync::enabledKey);
    if (!stored)
        return true;
    if (stored->typeId() == QMetaType::Bool)
        return stored->toBool();
    // The settings file keeps a flag as text once it has been written out.
    if (stored->typeId() == QMetaType::QString) {
        const QString text = stored->toString();
        if (text == u"true")
            return true;
        if (text == u"false")
            return false;
    }
    return true;
}

} // namespace

DiaryCloudSync::DiaryCloudSync(Services services, QString manifestURL, RootProvider rootProvider,
                               bool watchesICloud, std::chrono::seconds heartbeatInterval,
                               QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_manifestURL(std::move(manifestURL))
    , m_rootProvider(std::move(rootProvider))
    , m_watchesICloud(watchesICloud)
    , m_heartbeatInterval(heartbeatInterval) {
    if (m_services.defaults) {
        m_lastSync = m_services.defaults->dateValue(lastSyncKey);
        m_isEnabled = enabledFrom(*m_services.defaults);
    }
}

DiaryCloudSync::RootProvider DiaryCloudSync::noSyncRoot() {
    return [] { return std::optional<QString>(); };
}

DiaryCloudSync::RootProvider DiaryCloudSync::iCloudSyncRoot() {
    return [] { return std::optional<QString>(); };
}

void DiaryCloudSync::start() {
    qCDebug(lcSync) << "sync started without a sync folder; passes have nothing to do";
}

void DiaryCloudSync::schedule(std::chrono::nanoseconds) {}

QCoro::Task<void> DiaryCloudSync::syncNow(std::chrono::nanoseconds) {
    co_return;
}

std::optional<QString> DiaryCloudSyncFolder::fingerprint(const QString &fileURL) {
    return fileFingerprint(fileURL);
}

} // namespace velmora

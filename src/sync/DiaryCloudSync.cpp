#include "sync/DiaryCloudSync.h"

#include <QFileInfo>
#include <QLoggingCategory>

#include <cmath>

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

// Seconds from the Unix epoch to 2001-01-01 00:00:00 UTC, and from there back to the first day
// of year 1, which stands in for a file that reports no modification time.
constexpr qint64 referenceDateSinceEpochSeconds = 978307200;
constexpr double distantPastSinceReferenceSeconds = -63114076800.0;

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
    QFileInfo info(fileURL);
    info.setCaching(false);
    info.refresh();
    if (!info.exists())
        return std::nullopt;
    const QDateTime modified = info.lastModified().toUTC();
    double sinceReference = distantPastSinceReferenceSeconds;
    if (modified.isValid())
        sinceReference =
            double(modified.toMSecsSinceEpoch() - referenceDateSinceEpochSeconds * 1000) / 1000.0;
    const auto milliseconds = qint64(std::round(sinceReference * 1000.0));
    return QString::number(info.size()) + QLatin1Char('-') + QString::number(milliseconds);
}

} // namespace velmora

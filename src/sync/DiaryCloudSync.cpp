#include "sync/DiaryCloudSync.h"

#include "sync/SyncLogging.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroSignal>
#include <QLocale>
#include <QtConcurrent>

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <cmath>

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

// "5 minutes ago", "yesterday": the largest whole unit of the time since `date`.
QString relativeToNow(const QDateTime &date, const QDateTime &now) {
    const double seconds = double(date.msecsTo(now)) / 1000.0;
    struct Step {
        double seconds;
        URelativeDateTimeUnit unit;
    };
    static constexpr Step steps[] = {
        {365.0 * 86400, UDAT_REL_UNIT_YEAR}, {30.0 * 86400, UDAT_REL_UNIT_MONTH},
        {7.0 * 86400, UDAT_REL_UNIT_WEEK},   {86400, UDAT_REL_UNIT_DAY},
        {3600, UDAT_REL_UNIT_HOUR},          {60, UDAT_REL_UNIT_MINUTE},
    };
    double amount = std::trunc(std::abs(seconds));
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    for (const Step &step : steps) {
        if (std::abs(seconds) >= step.seconds) {
            amount = std::trunc(std::abs(seconds) / step.seconds);
            unit = step.unit;
            break;
        }
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale(QLocale().name().toUtf8().constData());
    icu::RelativeDateTimeFormatter formatter(locale, nullptr, UDAT_STYLE_LONG,
                                             UDISPCTX_CAPITALIZATION_NONE, status);
    icu::UnicodeString text;
    formatter.format(seconds >= 0 ? -amount : amount, unit, text, status);
    if (U_FAILURE(status)) {
        qCWarning(lcSync) << "the time of the last sync could not be put in words:"
                          << u_errorName(status);
        return QLocale().toString(date.toLocalTime(), QLocale::ShortFormat);
    }
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
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
    m_scheduled.setSingleShot(true);
    connect(&m_scheduled, &QTimer::timeout, this, &DiaryCloudSync::requestSync);
}

DiaryCloudSync::RootProvider DiaryCloudSync::noSyncRoot() {
    return [] { return std::optional<QString>(); };
}

DiaryCloudSync::RootProvider DiaryCloudSync::iCloudSyncRoot() {
    return [] { return std::optional<QString>(); };
}

void DiaryCloudSync::start() {
    qCDebug(lcSync) << "sync started";
    schedule(std::chrono::nanoseconds::zero());
}

void DiaryCloudSync::schedule(std::chrono::nanoseconds after) {
    if (!m_isEnabled)
        return;
    m_scheduled.start(std::chrono::ceil<std::chrono::milliseconds>(after));
}

void DiaryCloudSync::setEnabled(bool enabled) {
    if (enabled != m_isEnabled) {
        m_isEnabled = enabled;
        Q_EMIT isEnabledChanged(enabled);
    }
    if (m_services.defaults)
        m_services.defaults->setBool(enabledKey, enabled);
    if (enabled)
        schedule(std::chrono::nanoseconds::zero());
    else
        setStatus(DiaryCloudSyncStatus::off);
}

QCoro::Task<void> DiaryCloudSync::syncNow() {
    if (!m_isEnabled)
        co_return;
    m_scheduled.stop();
    requestSync();
    if (m_running)
        co_await qCoro(this, &DiaryCloudSync::syncLoopEnded);
}

QCoro::Task<void> DiaryCloudSync::syncNow(std::chrono::nanoseconds) {
    co_return;
}

void DiaryCloudSync::requestSync() {
    if (m_running) {
        m_rerunRequested = true;
        return;
    }
    m_running = true;
    runSyncLoop();
}

QCoro::Task<void> DiaryCloudSync::runSyncLoop() {
    const QPointer<DiaryCloudSync> self(this);
    do {
        m_rerunRequested = false;
        QCoro::Task<void> pass = runSyncOnce();
        co_await pass;
        if (!self)
            co_return;
    } while (m_rerunRequested && m_isEnabled);
    m_running = false;
    Q_EMIT syncLoopEnded();
}

QCoro::Task<void> DiaryCloudSync::runSyncOnce() {
    if (!m_isEnabled) {
        setStatus(DiaryCloudSyncStatus::off);
        co_return;
    }
    const QPointer<DiaryCloudSync> self(this);
    // Asking for the sync folder may wait on the file system.
    QFuture<std::optional<QString>> asking = QtConcurrent::run(m_rootProvider);
    const std::optional<QString> root = co_await asking;
    // Switched off meanwhile: "off" is already shown and stays.
    if (!self || !m_isEnabled)
        co_return;
    if (!root) {
        setStatus(DiaryCloudSyncStatus::unavailable);
        co_return;
    }
    qCWarning(lcSync) << "a sync folder is offered at" << *root
                      << "but this build exchanges nothing with it yet";
}

void DiaryCloudSync::setStatus(DiaryCloudSyncStatus status, const QString &failureMessage) {
    const QString message = status == DiaryCloudSyncStatus::failed ? failureMessage : QString();
    if (status == m_status && message == m_failureMessage)
        return;
    m_status = status;
    m_failureMessage = message;
    Q_EMIT statusChanged(status);
}

QString DiaryCloudSync::statusText() const {
    return statusText(m_status, m_failureMessage, m_lastSync, QDateTime::currentDateTimeUtc());
}

QString DiaryCloudSync::statusText(DiaryCloudSyncStatus status, const QString &failureMessage,
                                   const std::optional<QDateTime> &lastSync, const QDateTime &now) {
    switch (status) {
    case DiaryCloudSyncStatus::failed:
        return failureMessage;
    case DiaryCloudSyncStatus::off:
        return tr("Your pages stay only on this device.");
    case DiaryCloudSyncStatus::unavailable:
        return tr("Choose a sync folder to keep this computer and your tablet on the same diary.");
    case DiaryCloudSyncStatus::syncing:
        return tr("Syncing with your sync folder…");
    case DiaryCloudSyncStatus::upToDate:
        if (lastSync)
            return tr("Up to date in your sync folder, %1.").arg(relativeToNow(*lastSync, now));
        return tr("Up to date in your sync folder.");
    }
    return {};
}

} // namespace velmora

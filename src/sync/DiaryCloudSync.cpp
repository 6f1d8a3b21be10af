#include "sync/DiaryCloudSync.h"

#include "sync/DiaryCloudSyncWatcher.h"
#include "sync/DiaryCloudSyncWork.h"
#include "sync/SyncLogging.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <cmath>

namespace velmora {

namespace {

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

void DiaryCloudSyncLoopEnd::end() {
    if (m_ended)
        return;
    m_ended = true;
    Q_EMIT ended();
}

DiaryCloudSync::DiaryCloudSync(Services services, QString manifestURL, RootProvider rootProvider,
                               bool watchesICloud, std::chrono::seconds heartbeatInterval,
                               QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_manifestURL(std::move(manifestURL))
    , m_rootProvider(std::move(rootProvider))
    , m_watchesICloud(watchesICloud)
    , m_heartbeatInterval(heartbeatInterval) {
    if (!m_services.clock)
        m_services.clock = std::make_shared<SystemClock>();
    if (m_services.defaults) {
        m_lastSync = m_services.defaults->dateValue(lastSyncKey);
        m_isEnabled = UserDefaultsSettingsStore::syncEnabledSetting.read(*m_services.defaults);
    }
    m_timing.heartbeat = heartbeatInterval;
    m_scheduled.setSingleShot(true);
    connect(&m_scheduled, &QTimer::timeout, this, &DiaryCloudSync::requestSync);
    connect(&m_heartbeat, &QTimer::timeout, this, [this] {
        // While the switch is off the heartbeat keeps ticking and does nothing.
        if (m_isEnabled)
            schedule(std::chrono::nanoseconds::zero());
    });
}

DiaryCloudSync::~DiaryCloudSync() {
    // A pass suspended in a file operation resumes into nothing: it finds the engine gone and
    // unwinds. Whoever waits for its loop hears of the end on the next turn, not from in here.
    m_stopped = true;
    m_passToken.cancel();
    if (const std::shared_ptr<DiaryCloudSyncLoopEnd> end = m_loopEnd; end && !end->hasEnded())
        QMetaObject::invokeMethod(
            end.get(), [end] { end->end(); }, Qt::QueuedConnection);
}

DiaryCloudSync::RootProvider DiaryCloudSync::noSyncRoot() {
    return [] { return std::optional<QString>(); };
}

DiaryCloudSync::RootProvider
DiaryCloudSync::iCloudSyncRoot(std::shared_ptr<const DiaryCloudSyncFolderChoice> choice) {
    return DiaryCloudSyncFolderChoice::chosenFolderSyncRoot(std::move(choice));
}

void DiaryCloudSync::setTiming(const Timing &timing) {
    m_timing = timing;
    if (m_heartbeat.isActive())
        m_heartbeat.start(std::chrono::ceil<std::chrono::milliseconds>(m_timing.heartbeat));
}

QString DiaryCloudSync::unreadablePagesFolder() const {
    // The manifest lies in "Sync" in the diary's folder.
    QDir diary = QFileInfo(m_manifestURL).absoluteDir();
    diary.cdUp();
    return QDir::cleanPath(diary.absolutePath() + QLatin1Char('/') + unreadablePagesFolderName);
}

QDateTime DiaryCloudSync::now() const {
    return m_services.clock->now();
}

void DiaryCloudSync::start() {
    if (m_started || m_stopped)
        return;
    m_started = true;
    qCDebug(lcSync) << "sync started";
    if (DiarySessionStore *session = m_services.session) {
        connect(session, &DiarySessionStore::saveStateChanged, this,
                [this](const DiarySaveState &state) {
                    if (state.kind == DiarySaveState::Kind::saved ||
                        state.kind == DiarySaveState::Kind::sealed)
                        schedule(m_timing.afterSave);
                });
    }
    startWatching();
    m_heartbeat.start(std::chrono::ceil<std::chrono::milliseconds>(m_timing.heartbeat));
    schedule(std::chrono::nanoseconds::zero());
}

void DiaryCloudSync::startWatching() {
    if (!m_watchesICloud || m_watcher)
        return;
    m_watcher = new DiaryCloudSyncWatcher(this);
    connect(m_watcher, &DiaryCloudSyncWatcher::changed, this,
            [this] { schedule(m_timing.afterFolderChange); });
}

void DiaryCloudSync::schedule(std::chrono::nanoseconds after) {
    if (!m_isEnabled || m_stopped)
        return;
    m_scheduled.start(std::chrono::ceil<std::chrono::milliseconds>(
        std::max(after, std::chrono::nanoseconds::zero())));
}

void DiaryCloudSync::setEnabled(bool enabled) {
    if (enabled != m_isEnabled) {
        m_isEnabled = enabled;
        Q_EMIT isEnabledChanged(enabled);
    }
    if (m_services.defaults)
        UserDefaultsSettingsStore::syncEnabledSetting.write(*m_services.defaults, enabled);
    if (enabled)
        schedule(std::chrono::nanoseconds::zero());
    else
        setStatus(DiaryCloudSyncStatus::off);
}

QCoro::Task<void> DiaryCloudSync::syncNow() {
    if (!m_isEnabled || m_stopped)
        co_return;
    m_scheduled.stop();
    requestSync();
    QCoro::Task<void> waiting = waitForLoopEnd(std::nullopt);
    co_await std::move(waiting);
}

QCoro::Task<void> DiaryCloudSync::syncNow(std::chrono::nanoseconds atMost) {
    if (!m_isEnabled || m_stopped)
        co_return;
    m_scheduled.stop();
    requestSync();
    QCoro::Task<void> waiting = waitForLoopEnd(atMost);
    co_await std::move(waiting);
}

QCoro::Task<void> DiaryCloudSync::stop(std::chrono::nanoseconds atMost) {
    m_stopped = true;
    m_scheduled.stop();
    m_heartbeat.stop();
    m_passToken.cancel();
    QCoro::Task<void> waiting = waitForLoopEnd(atMost);
    co_await std::move(waiting);
}

QCoro::Task<void> DiaryCloudSync::waitForLoopEnd(std::optional<std::chrono::nanoseconds> atMost) {
    // Held here, so the end outlives the engine for as long as this waits.
    const std::shared_ptr<DiaryCloudSyncLoopEnd> end = m_loopEnd;
    if (!end || end->hasEnded())
        co_return;
    const auto limit = atMost ? std::chrono::ceil<std::chrono::milliseconds>(
                                    std::max(*atMost, std::chrono::nanoseconds::zero()))
                              : std::chrono::milliseconds(-1);
    auto ended = qCoro(end.get(), &DiaryCloudSyncLoopEnd::ended, limit);
    co_await std::move(ended);
}

void DiaryCloudSync::forgetLocalRevisions() {
    ++m_forgetRequests;
    // The pass that runs, or one started for this, forgets them in the marks and writes the
    // manifest; with the switch off it only writes the manifest.
    if (m_running)
        m_rerunRequested = true;
    else
        requestSync();
}

void DiaryCloudSync::requestSync() {
    if (m_stopped)
        return;
    if (m_running) {
        m_rerunRequested = true;
        return;
    }
    m_running = true;
    m_loopEnd = std::make_shared<DiaryCloudSyncLoopEnd>();
    m_passToken = CancellationToken();
    runSyncLoop();
}

bool DiaryCloudSync::passInterrupted() const {
    return m_passToken.isCancelled();
}

QCoro::Task<void> DiaryCloudSync::runSyncLoop() {
    const QPointer<DiaryCloudSync> self(this);
    const std::shared_ptr<DiaryCloudSyncLoopEnd> end = m_loopEnd;
    try {
        do {
            m_rerunRequested = false;
            QCoro::Task<void> pass = runSyncOnce();
            co_await std::move(pass);
        } while (m_rerunRequested && m_isEnabled && !passInterrupted());
    } catch (const CancellationError &) {
        // Only a pass whose engine went away ends this way; nothing of it may be touched.
        if (!self)
            co_return;
    }
    m_running = false;
    m_loopEnd.reset();
    Q_EMIT syncLoopEnded();
    // Last: a waiter resumed from here may let the engine go.
    end->end();
}

namespace {

// The message a failed pass shows; a cancellation goes on up.
QString messageOf(const std::exception_ptr &failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const CancellationError &) {
        throw;
    } catch (const DiaryError &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

} // namespace

void DiaryCloudSync::leaveBehind(const DiaryCloudSyncFolder::FolderError &error) {
    if (error.holdsDayBack() && m_passLeftBehind.isEmpty())
        m_passLeftBehind = error.message();
}

QCoro::Task<void> DiaryCloudSync::runSyncOnce() {
    m_passChanged = false;
    m_passLeftBehind.clear();
    QCoro::Task<void> pass = runPass();
    co_await std::move(pass);
    // What a pass stored stays stored however the pass ended (switched off, stopped, failed), and
    // whoever marks days or plans reminders from the diary must hear of it.
    if (m_passChanged) {
        ++m_changeCount;
        Q_EMIT changeCountChanged(m_changeCount);
    }
    QCoro::Task<void> settling = settleForgottenRevisions();
    co_await std::move(settling);
}

QCoro::Task<void> DiaryCloudSync::runPass() {
    if (!m_isEnabled) {
        setStatus(DiaryCloudSyncStatus::off);
        co_return;
    }
    auto asking = folderWork(m_rootProvider);
    const std::optional<QString> root = co_await asking;
    // Switched off meanwhile: "off" is already shown and stays.
    if (!m_isEnabled || passInterrupted())
        co_return;
    if (!root) {
        if (m_watcher)
            m_watcher->watch(QString());
        setStatus(DiaryCloudSyncStatus::unavailable);
        co_return;
    }
    setStatus(DiaryCloudSyncStatus::syncing);
    DiaryCloudSyncFolder folder(*root, m_downloads);
    folder.setWriteInterruption(m_writeInterruption);

    // The file is read again only when it is no longer the one this engine last read or wrote.
    auto loading =
        folderWork([url = m_manifestURL, root = folder.root(), known = m_manifestOnDisk] {
            const std::optional<QString> stamp = DiaryCloudSyncFolder::fingerprint(url);
            if (known && stamp == known->fingerprint && known->manifest.root == root)
                return *known;
            return ManifestFile{stamp, Manifest::load(url, root)};
        });
    const ManifestFile loaded = co_await loading;
    m_manifestOnDisk = loaded;
    PassManifest manifest;
    manifest.marks = loaded.manifest;
    manifest.onDisk = manifest.marks;
    manifest.forgottenThrough = m_forgottenOnDisk;
    if (m_forgetRequests > m_forgottenOnDisk) {
        manifest.marks.forgetLocalRevisions();
        manifest.forgottenThrough = m_forgetRequests;
    }
    m_passForgotten = m_forgetRequests;

    std::exception_ptr failure;
    try {
        auto creating = folderWork([folder, marks = manifest.marks] {
            folder.createFolders(marks);
            folder.removeLeftoverTemporaries();
            folder.takeBackSetAsideDrawings();
        });
        co_await creating;
    } catch (const CancellationError &) {
        // The engine is gone: nothing of it may be touched.
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    // Watched afresh after each pass, once the folders that can be there are there.
    if (m_watcher)
        m_watcher->watch(folder.root());
    if (failure) {
        setStatus(DiaryCloudSyncStatus::failed, messageOf(failure));
        co_return;
    }

    // Each step's marks are kept once it completed, never after one that threw. A switch turned
    // off meanwhile ends the pass there: nothing more is written and it does not count as a sync.
    using Step = QCoro::Task<bool> (DiaryCloudSync::*)(const DiaryCloudSyncFolder &, Manifest &);
    static constexpr Step steps[] = {&DiaryCloudSync::reconcilePages,
                                     &DiaryCloudSync::reconcileInk};
    for (const Step step : steps) {
        try {
            auto running = (this->*step)(folder, manifest.marks);
            if (co_await std::move(running))
                m_passChanged = true;
        } catch (const CancellationError &) {
            throw;
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            setStatus(DiaryCloudSyncStatus::failed, messageOf(failure));
            co_return;
        }
        auto keeping = keepStep(manifest);
        if (!co_await std::move(keeping))
            co_return;
    }
    auto profile = reconcileProfile(folder);
    if (co_await std::move(profile))
        m_passChanged = true;
    auto keeping = keepStep(manifest);
    if (!co_await std::move(keeping))
        co_return;
    if (!m_passLeftBehind.isEmpty()) {
        setStatus(DiaryCloudSyncStatus::failed, m_passLeftBehind);
        co_return;
    }

    m_lastSync = now();
    if (m_services.defaults)
        m_services.defaults->setDate(lastSyncKey, *m_lastSync);
    Q_EMIT lastSyncChanged();
    setStatus(DiaryCloudSyncStatus::upToDate);
}

QCoro::Task<bool> DiaryCloudSync::keepStep(PassManifest &manifest) {
    QCoro::Task<void> saving = saveManifest(manifest);
    co_await std::move(saving);
    if (!m_isEnabled) {
        setStatus(DiaryCloudSyncStatus::off);
        co_return false;
    }
    co_return !passInterrupted();
}

QCoro::Task<void> DiaryCloudSync::saveManifest(PassManifest &manifest) {
    if (m_forgetRequests > manifest.forgottenThrough) {
        manifest.marks.forgetLocalRevisions();
        manifest.forgottenThrough = m_forgetRequests;
    }
    // A pass that changed no mark leaves the file as it is.
    if (manifest.marks != manifest.onDisk) {
        auto saving = folderWork([url = m_manifestURL, marks = manifest.marks] {
            marks.save(url);
            return ManifestFile{DiaryCloudSyncFolder::fingerprint(url), marks};
        });
        m_manifestOnDisk = co_await saving;
        manifest.onDisk = manifest.marks;
    }
    m_forgottenOnDisk = std::max(m_forgottenOnDisk, manifest.forgottenThrough);
}

QCoro::Task<void> DiaryCloudSync::settleForgottenRevisions() {
    if (m_forgetRequests <= m_forgottenOnDisk)
        co_return;
    const quint64 through = m_forgetRequests;
    auto forgetting = folderWork([url = m_manifestURL] { Manifest::forgetLocalRevisions(url); });
    co_await forgetting;
    m_manifestOnDisk.reset();
    m_forgottenOnDisk = std::max(m_forgottenOnDisk, through);
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
    return statusText(m_status, m_failureMessage, m_lastSync, now());
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

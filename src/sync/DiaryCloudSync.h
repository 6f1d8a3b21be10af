#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryRepository.h"
#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "platform/UserDefaults.h"
#include "store/DiaryHandwritingStore.h"
#include "sync/DiaryCloudSyncFolder.h"
#include "sync/DiaryCloudSyncManifest.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace velmora {

// `failed` carries the failure's message (DiaryCloudSync::failureMessage).
enum class DiaryCloudSyncStatus { failed, off, unavailable, syncing, upToDate };

// The diary's sync with a sync folder. Until the engine exists this is the sync of a run that has
// no sync folder: it is built, configured, switched and asked for passes like the real one; a
// pass finds no sync folder and says so, so nothing local ever changes and `changeCount` stays
// where it is.
class DiaryCloudSync : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 changeCount READ changeCount NOTIFY changeCountChanged)
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY isEnabledChanged)

public:
    // The sync folder, when there is one.
    using RootProvider = std::function<std::optional<QString>()>;
    using InkChangedHandler = std::function<void(const QList<QPair<DayKey, qint64>> &)>;
    using Manifest = DiaryCloudSyncManifest;
    using Mark = DiaryCloudSyncMark;

    static inline const QString lastSyncKey = QStringLiteral("Velmora.sync.lastSync");
    static inline const QString enabledKey = QStringLiteral("Velmora.sync.enabled");

    struct Services {
        std::shared_ptr<DiaryRepository> repository;
        QPointer<DiarySessionStore> session;
        std::shared_ptr<UserDefaultsSettingsStore> settings;
        std::shared_ptr<DiaryHandwritingStore> handwriting;
        std::shared_ptr<UserDefaults> defaults;
    };

    DiaryCloudSync(Services services, QString manifestURL, RootProvider rootProvider,
                   bool watchesICloud, std::chrono::seconds heartbeatInterval,
                   QObject *parent = nullptr);

    // The root provider of a run that must never reach a real sync folder.
    static RootProvider noSyncRoot();
    // The desktop's sync folder; none while this computer offers none.
    static RootProvider iCloudSyncRoot();

    DiaryCloudSyncStatus status() const { return m_status; }
    // The message of a failed pass; empty in every other status.
    const QString &failureMessage() const { return m_failureMessage; }
    // The status line shown beside the sync switch.
    QString statusText() const;
    static QString statusText(DiaryCloudSyncStatus status, const QString &failureMessage,
                              const std::optional<QDateTime> &lastSync, const QDateTime &now);
    const std::optional<QDateTime> &lastSync() const { return m_lastSync; }
    bool isEnabled() const { return m_isEnabled; }
    qint64 changeCount() const { return m_changeCount; }
    const QString &manifestURL() const { return m_manifestURL; }
    const RootProvider &rootProvider() const { return m_rootProvider; }
    bool watchesICloud() const { return m_watchesICloud; }
    std::chrono::seconds heartbeatInterval() const { return m_heartbeatInterval; }
    const Services &services() const { return m_services; }

    InkChangedHandler onInkChanged;

    void start();
    // Asks for a pass after the delay, while the switch is on; a newer request replaces it.
    void schedule(std::chrono::nanoseconds after);
    // Stores the switch; off shows `off` at once, on asks for a pass at once.
    void setEnabled(bool enabled);
    // Runs a pass now, or one more behind a running one, and returns when the passes have ended.
    QCoro::Task<void> syncNow();
    // Never throws; returns when the pass ended or `atMost` passed.
    QCoro::Task<void> syncNow(std::chrono::nanoseconds atMost);

Q_SIGNALS:
    void changeCountChanged(qint64 count);
    void isEnabledChanged(bool isEnabled);
    void statusChanged(DiaryCloudSyncStatus status);
    void syncLoopEnded();

private:
    void requestSync();
    QCoro::Task<void> runSyncLoop();
    QCoro::Task<void> runSyncOnce();
    void setStatus(DiaryCloudSyncStatus status, const QString &failureMessage = {});

    Services m_services;
    QString m_manifestURL;
    RootProvider m_rootProvider;
    bool m_watchesICloud = false;
    std::chrono::seconds m_heartbeatInterval;
    DiaryCloudSyncStatus m_status = DiaryCloudSyncStatus::off;
    QString m_failureMessage;
    QTimer m_scheduled;
    bool m_running = false;
    bool m_rerunRequested = false;
    std::optional<QDateTime> m_lastSync;
    bool m_isEnabled = true;
    qint64 m_changeCount = 0;
};

} // namespace velmora

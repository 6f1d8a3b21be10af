#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryRepository.h"
#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "platform/UserDefaults.h"
#include "store/DiaryHandwritingStore.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace velmora {

enum class DiaryCloudSyncStatus { off };

// The diary's sync with a sync folder. Until the engine exists this is the sync of a run that has
// no sync folder: it is built, configured and asked for passes like the real one, and a pass has
// nothing to do, so nothing local ever changes and `changeCount` stays where it is.
class DiaryCloudSync : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 changeCount READ changeCount NOTIFY changeCountChanged)

public:
    // The sync folder, when there is one.
    using RootProvider = std::function<std::optional<QString>()>;
    using InkChangedHandler = std::function<void(const QList<QPair<DayKey, qint64>> &)>;

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
    void schedule(std::chrono::nanoseconds after);
    // Never throws; returns when the pass ended or `atMost` passed.
    QCoro::Task<void> syncNow(std::chrono::nanoseconds atMost);

Q_SIGNALS:
    void changeCountChanged(qint64 count);

private:
    Services m_services;
    QString m_manifestURL;
    RootProvider m_rootProvider;
    bool m_watchesICloud = false;
    std::chrono::seconds m_heartbeatInterval;
    DiaryCloudSyncStatus m_status = DiaryCloudSyncStatus::off;
    std::optional<QDateTime> m_lastSync;
    bool m_isEnabled = true;
    qint64 m_changeCount = 0;
};

class DiaryCloudSyncFolder {
public:
    // "<size in bytes>-<modification time in ms since 2001-01-01 UTC>", read afresh from the
    // disk; none when the file's attributes cannot be read. Changes whenever the size or the
    // modification time does.
    static std::optional<QString> fingerprint(const QString &fileURL);
};

} // namespace velmora

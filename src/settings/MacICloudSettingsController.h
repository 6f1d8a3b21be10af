#pragma once

#include "sync/DiaryCloudSync.h"

#include <QColor>
#include <QObject>

namespace velmora {

// The sync section over the sync: everything it shows is the sync's published state, and the
// switch and "Sync Now" call straight into it.
class MacICloudSettingsController : public QObject {
    Q_OBJECT

public:
    explicit MacICloudSettingsController(DiaryCloudSync &sync, QObject *parent = nullptr);

    bool isEnabled() const { return m_sync.isEnabled(); }
    QString statusText() const { return m_sync.statusText(); }
    QColor statusColor() const { return statusColor(m_sync.status()); }
    // "Sync Now" exists only while sync is on, and waits while a pass runs.
    bool showsSyncNow() const { return m_sync.isEnabled(); }
    bool syncNowEnabled() const { return m_sync.status() != DiaryCloudSyncStatus::syncing; }

    void setEnabled(bool enabled);
    void syncNow();

    static QColor statusColor(DiaryCloudSyncStatus status);

Q_SIGNALS:
    void changed();

private:
    DiaryCloudSync &m_sync;
};

} // namespace velmora

#pragma once

#include "sync/DiaryCloudSync.h"
#include "sync/DiaryCloudSyncRoot.h"

#include <QColor>
#include <QCoroTask>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace velmora {

// What the "Folder" row works with: the stored choice and the diary's own folder, which can never
// be the sync folder.
struct MacSyncFolderServices {
    std::shared_ptr<DiaryCloudSyncFolderChoice> choice;
    QString diaryFolder;
    // Asks for a folder, starting at the given one; the program's own folder dialog unless given.
    std::function<QString(QWidget *parent, const QString &current)> pickFolder;
};

// The sync section over the sync: everything it shows is the sync's published state, and the
// switch and "Sync Now" call straight into it.
class MacICloudSettingsController : public QObject {
    Q_OBJECT

public:
    explicit MacICloudSettingsController(DiaryCloudSync &sync,
                                         std::optional<MacSyncFolderServices> folder = {},
                                         QObject *parent = nullptr);

    bool isEnabled() const { return m_sync.isEnabled(); }
    QString statusText() const { return m_sync.statusText(); }
    QColor statusColor() const { return statusColor(m_sync.status()); }
    // "Sync Now" exists only while sync is on, and waits while a pass runs.
    bool showsSyncNow() const { return m_sync.isEnabled(); }
    bool syncNowEnabled() const { return m_sync.status() != DiaryCloudSyncStatus::syncing; }

    void setEnabled(bool enabled);
    void syncNow();

    // "5 minutes ago" ages while the section is shown: the line is worded again once a minute.
    static constexpr std::chrono::seconds statusRefreshInterval{60};
    void setShown(bool shown);
    void setStatusRefreshInterval(std::chrono::milliseconds interval) {
        m_statusRefresh.setInterval(interval);
    }

    bool hasFolderRow() const { return m_folder.has_value(); }
    // The chosen folder's path, empty while none is chosen.
    QString folderPath() const;
    // Why the last folder picked was not taken; empty when it was.
    const QString &folderRefusal() const { return m_folderRefusal; }
    const std::optional<MacSyncFolderServices> &folderServices() const { return m_folder; }
    // Looks at the picked folder off the GUI thread, then keeps it or says why not; a kept
    // folder is synced with at once.
    QCoro::Task<void> chooseFolder(QString picked);

    static QColor statusColor(DiaryCloudSyncStatus status);

Q_SIGNALS:
    void changed();

private:
    DiaryCloudSync &m_sync;
    QTimer m_statusRefresh;
    std::optional<MacSyncFolderServices> m_folder;
    QString m_folderRefusal;
};

} // namespace velmora

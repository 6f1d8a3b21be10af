#pragma once

#include "backup/DiaryDataOperationGuard.h"
#include "backup/DiarySnapshotManifest.h"
#include "backup/DiaryTransferFlows.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace velmora {

class DiaryRestoreCoordinator;
class DiarySnapshotService;

// What the data section works with. The panels and the export step are the shell's own, so the
// menus and the settings window share them.
struct MacDataSettingsServices {
    DiarySnapshotService *snapshots = nullptr;
    DiaryRestoreCoordinator *restore = nullptr;
    DiaryDataOperationGuard *guard = nullptr;
    // The folder of the store, which holds "Backups" and "Recovery/Quarantine".
    QString persistenceDirectory;
    // Asks where to export and runs the export flow: `started` once a destination was chosen,
    // `finished` when the flow has ended.
    std::function<void(std::function<void()> started, std::function<void()> finished)> exportDiary;
    // The import panel: the chosen file, or none when it was cancelled.
    std::function<std::optional<QString>()> chooseImportFile;
    std::function<DiaryTransferFlowContext()> transferContext;
};

// The "Your Data" section's state and operations: the backups listed, "Backup Now", restoring
// the newest backup after a confirmation, export and import through the shell's flows. Every
// backup, restore and import holds the shared data-operation guard; one started while another
// runs is refused with the guard's text in the section's alert.
class MacDataSettingsController : public QObject {
    Q_OBJECT

public:
    explicit MacDataSettingsController(MacDataSettingsServices services, QObject *parent = nullptr);

    // Newest first.
    const QList<QDateTime> &backupDates() const { return m_backupDates; }
    // True while any operation started here runs, until the last of them ends.
    bool isProcessing() const { return m_running > 0; }
    const std::optional<QString> &dataOperationError() const { return m_error; }
    bool showRestoreConfirmation() const { return m_showRestoreConfirmation; }
    // "Latest: " and the newest backup's time in the user's short format, or "No backups yet".
    QString backupStatusText() const;

    QString backupFolder() const;
    QString safetyFolder() const;

    // Lists the backup folder away from the GUI thread; an unreadable folder lists nothing.
    QCoro::Task<void> reloadBackupDates();
    QCoro::Task<void> backUpNow();
    void requestRestore();
    void cancelRestore();
    // The confirmed "Restore": the newest package replaces the diary. Nothing happens when no
    // backup is left.
    QCoro::Task<void> restoreLatestBackup();
    void exportDiary();
    QCoro::Task<void> importDiary();
    void dismissError();

Q_SIGNALS:
    void changed();

private:
    // Sets the dates from the listing and answers it.
    QCoro::Task<QList<SnapshotSummary>> listBackups();
    void beginProcessing();
    void endProcessing();
    void fail(const QString &message);
    // After a backup or restore has released the guard: its failure shown, or the latest-backup
    // line read again; then the spinner's count goes down.
    QCoro::Task<void> finishOperation(std::optional<QString> failure, const char *what);
    std::optional<DiaryDataOperationGuard::Ticket> begin(DiaryDataOperation operation);

    MacDataSettingsServices m_services;
    QList<QDateTime> m_backupDates;
    int m_running = 0;
    std::optional<QString> m_error;
    bool m_showRestoreConfirmation = false;
    // Drops a listing that a newer one overtook.
    quint64 m_listing = 0;
};

} // namespace velmora

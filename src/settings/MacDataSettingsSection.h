#pragma once

#include "settings/MacDataSettingsController.h"
#include "settings/MacSettingsKit.h"

class QMessageBox;

namespace velmora {

class MacSettingsSpinner;
class MacSettingsStatusDot;

// "Your Data": export and import, the backup line with "Backup Now" and "Restore", the spinner
// while an operation runs, the restore question and the "Data Operation Failed" alert.
class MacDataSettingsSection : public MacSettingsSection {
    Q_OBJECT

public:
    explicit MacDataSettingsSection(MacDataSettingsServices services, QWidget *parent = nullptr);

    MacDataSettingsController &controller() { return m_controller; }

    // Lists the backups again; the settings window calls it each time it is shown.
    void appear();

    QAbstractButton *exportButton() const { return m_export; }
    QAbstractButton *importButton() const { return m_import; }
    QAbstractButton *backupButton() const { return m_backup; }
    QAbstractButton *restoreButton() const { return m_restore; }
    QLabel *statusLabel() const { return m_status; }
    MacSettingsStatusDot *statusDot() const { return m_dot; }
    MacSettingsSpinner *spinner() const { return m_spinner; }
    // The restore question or the failure alert while one is showing.
    QMessageBox *restoreQuestion() const { return m_question; }
    QMessageBox *failureAlert() const { return m_alert; }

private:
    void refresh();

    MacDataSettingsController m_controller;
    QAbstractButton *m_export = nullptr;
    QAbstractButton *m_import = nullptr;
    QAbstractButton *m_backup = nullptr;
    QAbstractButton *m_restore = nullptr;
    QLabel *m_status = nullptr;
    MacSettingsStatusDot *m_dot = nullptr;
    MacSettingsSpinner *m_spinner = nullptr;
    QMessageBox *m_question = nullptr;
    QMessageBox *m_alert = nullptr;
};

} // namespace velmora

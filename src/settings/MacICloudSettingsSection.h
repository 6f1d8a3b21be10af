#pragma once

#include "settings/MacICloudSettingsController.h"
#include "settings/MacSettingsKit.h"

namespace velmora {

class MacSettingsStatusDot;

// The sync section: the switch, the sync's status line and "Sync Now" while sync is on.
class MacICloudSettingsSection : public MacSettingsSection {
    Q_OBJECT

public:
    explicit MacICloudSettingsSection(DiaryCloudSync &sync,
                                      std::optional<MacSyncFolderServices> folder = {},
                                      QWidget *parent = nullptr);

    MacICloudSettingsController &controller() { return m_controller; }

    QAbstractButton *syncSwitch() const { return m_switch; }
    QLabel *statusLabel() const { return m_status; }
    MacSettingsStatusDot *statusDot() const { return m_dot; }
    QAbstractButton *syncNowButton() const { return m_syncNow; }
    // The "Folder" row's parts; null without a folder row.
    QLabel *folderLabel() const { return m_folder; }
    QAbstractButton *chooseFolderButton() const { return m_chooseFolder; }
    QLabel *folderRefusalLabel() const { return m_folderRefusal; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refresh();
    void pickFolder();

    MacICloudSettingsController m_controller;
    QAbstractButton *m_switch = nullptr;
    MacSettingsStatusDot *m_dot = nullptr;
    QLabel *m_status = nullptr;
    QAbstractButton *m_syncNow = nullptr;
    QLabel *m_folder = nullptr;
    QAbstractButton *m_chooseFolder = nullptr;
    QLabel *m_folderRefusal = nullptr;
};

} // namespace velmora

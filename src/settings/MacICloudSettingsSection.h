#pragma once

#include "settings/MacICloudSettingsController.h"
#include "settings/MacSettingsKit.h"

namespace velmora {

class MacSettingsStatusDot;

// The sync section: the switch, the sync's status line and "Sync Now" while sync is on.
class MacICloudSettingsSection : public MacSettingsSection {
    Q_OBJECT

public:
    explicit MacICloudSettingsSection(DiaryCloudSync &sync, QWidget *parent = nullptr);

    MacICloudSettingsController &controller() { return m_controller; }

    QAbstractButton *syncSwitch() const { return m_switch; }
    QLabel *statusLabel() const { return m_status; }
    MacSettingsStatusDot *statusDot() const { return m_dot; }
    QAbstractButton *syncNowButton() const { return m_syncNow; }

private:
    void refresh();

    MacICloudSettingsController m_controller;
    QAbstractButton *m_switch = nullptr;
    MacSettingsStatusDot *m_dot = nullptr;
    QLabel *m_status = nullptr;
    QAbstractButton *m_syncNow = nullptr;
};

} // namespace velmora

#pragma once

#include "settings/MacReminderSettingsController.h"
#include "settings/MacSettingsKit.h"

class QTimeEdit;

namespace velmora {

// "Reminder": the daily reminder's switch, its time while it is on, and the line that says the
// desktop has turned notifications off.
class MacReminderSettingsSection : public MacSettingsSection {
    Q_OBJECT

public:
    explicit MacReminderSettingsSection(
        DiaryReminderCenter &reminders,
        MacReminderSettingsController::SettingsOpener openSettings =
            MacReminderSettingsController::desktopNotificationSettings(),
        QWidget *parent = nullptr);

    MacReminderSettingsController &controller() { return m_controller; }

    // Catches up with the desktop's permission; called each time the window is shown.
    void appear();

    QAbstractButton *reminderSwitch() const { return m_switch; }
    QWidget *timeRow() const { return m_timeRow; }
    QTimeEdit *timePicker() const { return m_time; }
    QWidget *deniedLine() const { return m_denied; }
    QAbstractButton *openSettingsButton() const { return m_openSettings; }

private:
    void refresh();

    MacReminderSettingsController m_controller;
    QAbstractButton *m_switch = nullptr;
    QWidget *m_timeRow = nullptr;
    QTimeEdit *m_time = nullptr;
    QWidget *m_denied = nullptr;
    QAbstractButton *m_openSettings = nullptr;
};

} // namespace velmora

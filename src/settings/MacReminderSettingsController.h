#pragma once

#include <QObject>
#include <QTime>

#include <functional>

namespace velmora {

class DiaryReminderCenter;

// The reminder section over the reminder centre: it shows the centre's state only, and each
// change of the switch or the time starts the centre's own operation.
class MacReminderSettingsController : public QObject {
    Q_OBJECT

public:
    // Opens the desktop's notification settings; false when this desktop offers none.
    using SettingsOpener = std::function<bool()>;

    explicit MacReminderSettingsController(
        DiaryReminderCenter &reminders, SettingsOpener openSettings = desktopNotificationSettings(),
        QObject *parent = nullptr);

    bool isEnabled() const;
    bool showsTime() const { return isEnabled(); }
    bool showsDeniedLine() const;
    QTime time() const;

    // The switch shows the outcome: it falls back to off when permission is refused.
    void setEnabled(bool enabled);
    // An invalid time stands for 21:00.
    void setTime(const QTime &time);
    // Catches up with a permission changed in the desktop's settings.
    void appear();
    void openNotificationSettings();

    static SettingsOpener desktopNotificationSettings();

Q_SIGNALS:
    void changed();

private:
    DiaryReminderCenter &m_reminders;
    SettingsOpener m_openSettings;
};

} // namespace velmora

#include "settings/MacReminderSettingsController.h"

#include "daily/DiaryReminderCenter.h"
#include "settings/SettingsLogging.h"

#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

namespace velmora {

namespace {

QCoro::Task<void> announceAfter(QCoro::Task<void> work,
                                QPointer<MacReminderSettingsController> controller) {
    co_await std::move(work);
    if (controller)
        Q_EMIT controller->changed();
}

} // namespace

MacReminderSettingsController::MacReminderSettingsController(DiaryReminderCenter &reminders,
                                                             SettingsOpener openSettings,
                                                             QObject *parent)
    : QObject(parent)
    , m_reminders(reminders)
    , m_openSettings(std::move(openSettings)) {
    connect(&reminders, &DiaryReminderCenter::isEnabledChanged, this,
            &MacReminderSettingsController::changed);
    connect(&reminders, &DiaryReminderCenter::isDeniedChanged, this,
            &MacReminderSettingsController::changed);
    connect(&reminders, &DiaryReminderCenter::hourChanged, this,
            &MacReminderSettingsController::changed);
    connect(&reminders, &DiaryReminderCenter::minuteChanged, this,
            &MacReminderSettingsController::changed);
}

bool MacReminderSettingsController::isEnabled() const {
    return m_reminders.isEnabled();
}

bool MacReminderSettingsController::showsDeniedLine() const {
    return m_reminders.isDenied();
}

QTime MacReminderSettingsController::time() const {
    return QTime(m_reminders.hour(), m_reminders.minute());
}

void MacReminderSettingsController::setEnabled(bool enabled) {
    // Announced when done, so a switch that was refused turns back off.
    announceAfter(enabled ? m_reminders.enableReminders() : m_reminders.disableReminders(), this);
}

void MacReminderSettingsController::setTime(const QTime &time) {
    announceAfter(
        m_reminders.setTime(time.isValid() ? time.hour() : 21, time.isValid() ? time.minute() : 0),
        this);
}

void MacReminderSettingsController::appear() {
    announceAfter(m_reminders.refreshAuthorization(), this);
}

void MacReminderSettingsController::openNotificationSettings() {
    if (!m_openSettings || !m_openSettings())
        qCInfo(lcSettings) << "no notification settings to open on this desktop";
}

MacReminderSettingsController::SettingsOpener
MacReminderSettingsController::desktopNotificationSettings() {
    return [] {
        struct Panel {
            const char *program;
            const char *argument;
        };
        static constexpr Panel panels[] = {{"gnome-control-center", "notifications"},
                                           {"systemsettings", "kcm_notifications"}};
        for (const Panel &panel : panels) {
            const QString program =
                QStandardPaths::findExecutable(QString::fromLatin1(panel.program));
            if (!program.isEmpty())
                return QProcess::startDetached(program, {QString::fromLatin1(panel.argument)});
        }
        return false;
    };
}

} // namespace velmora

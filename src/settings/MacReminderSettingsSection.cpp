#include "settings/MacReminderSettingsSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimeEdit>

namespace velmora {

MacReminderSettingsSection::MacReminderSettingsSection(
    DiaryReminderCenter &reminders, MacReminderSettingsController::SettingsOpener openSettings,
    QWidget *parent)
    : MacSettingsSection(tr("Reminder"), parent)
    , m_controller(reminders, std::move(openSettings)) {
    m_switch = new MacSettingsSwitch;
    m_switch->setObjectName(QStringLiteral("reminder-toggle"));
    m_switch->setAccessibleName(tr("A gentle reminder to write"));
    addContent(makeSettingsToggleRow(
        tr("A gentle reminder to write"),
        makeSettingsCaption(tr("Once a day, at a time you choose. Skipped on days you’ve already "
                               "written. Nothing you write ever appears in it.")),
        m_switch));

    m_time = new QTimeEdit;
    m_time->setDisplayFormat(QStringLiteral("HH:mm"));
    m_time->setFixedWidth(100);
    m_time->setFont(settingsSystemFont(13));
    m_timeRow = new MacSettingsRow(tr("Time"), m_time);
    addContent(m_timeRow);

    m_denied = new QWidget;
    auto *deniedLayout = new QHBoxLayout(m_denied);
    deniedLayout->setContentsMargins(0, 0, 0, 0);
    deniedLayout->addWidget(makeSettingsLabel(tr("Notifications for Velmora are turned off."),
                                              settingsSystemFont(11),
                                              withOpacity(settingsTheme().ink(), 0.7)));
    deniedLayout->addStretch(1);
    m_openSettings = new MacSettingsButton(tr("Open Settings"), MacSettingsButtonStyle{false});
    deniedLayout->addWidget(m_openSettings);
    addContent(m_denied);

    connect(m_switch, &QAbstractButton::toggled, &m_controller,
            &MacReminderSettingsController::setEnabled);
    connect(m_time, &QTimeEdit::timeChanged, &m_controller,
            &MacReminderSettingsController::setTime);
    connect(m_openSettings, &QAbstractButton::clicked, &m_controller,
            &MacReminderSettingsController::openNotificationSettings);
    connect(&m_controller, &MacReminderSettingsController::changed, this,
            &MacReminderSettingsSection::refresh);
    refresh();
}

void MacReminderSettingsSection::appear() {
    m_controller.appear();
}

void MacReminderSettingsSection::refresh() {
    {
        const QSignalBlocker blocker(m_switch);
        m_switch->setChecked(m_controller.isEnabled());
    }
    if (m_time->time() != m_controller.time()) {
        const QSignalBlocker blocker(m_time);
        m_time->setTime(m_controller.time());
    }
    m_timeRow->setVisible(m_controller.showsTime());
    m_denied->setVisible(m_controller.showsDeniedLine());
}

} // namespace velmora

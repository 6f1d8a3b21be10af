#include "settings/MacICloudSettingsSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

namespace velmora {

MacICloudSettingsSection::MacICloudSettingsSection(DiaryCloudSync &sync, QWidget *parent)
    : MacSettingsSection(tr("Sync Folder"), parent)
    , m_controller(sync) {
    m_switch = new MacSettingsSwitch;
    m_switch->setObjectName(QStringLiteral("icloud-sync-toggle"));
    m_switch->setAccessibleName(tr("Sync with Tablet"));
    addContent(makeSettingsToggleRow(
        tr("Sync with Tablet"),
        makeSettingsCaption(tr("Every page, typed or handwritten, on your computer and tablet "
                               "through your own sync folder.")),
        m_switch));

    auto *statusRow = new QWidget;
    auto *layout = new QHBoxLayout(statusRow);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_dot = new MacSettingsStatusDot;
    m_status =
        makeSettingsLabel(QString(), settingsSystemFont(11), withOpacity(settingsTheme.ink(), 0.7));
    m_status->setObjectName(QStringLiteral("icloud-sync-status"));
    m_status->setWordWrap(true);
    m_syncNow = new MacSettingsButton(tr("Sync Now"), MacSettingsButtonStyle{false});
    layout->addWidget(m_dot);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_syncNow);
    addContent(statusRow);

    connect(m_switch, &QAbstractButton::toggled, &m_controller,
            &MacICloudSettingsController::setEnabled);
    connect(m_syncNow, &QAbstractButton::clicked, &m_controller,
            &MacICloudSettingsController::syncNow);
    connect(&m_controller, &MacICloudSettingsController::changed, this,
            &MacICloudSettingsSection::refresh);
    refresh();
}

void MacICloudSettingsSection::refresh() {
    {
        const QSignalBlocker blocker(m_switch);
        m_switch->setChecked(m_controller.isEnabled());
    }
    m_dot->setColor(m_controller.statusColor());
    m_status->setText(m_controller.statusText());
    m_syncNow->setVisible(m_controller.showsSyncNow());
    m_syncNow->setEnabled(m_controller.syncNowEnabled());
}

} // namespace velmora

#include "settings/MacICloudSettingsController.h"

#include "book/theme/DiaryTheme.h"

namespace velmora {

MacICloudSettingsController::MacICloudSettingsController(DiaryCloudSync &sync, QObject *parent)
    : QObject(parent)
    , m_sync(sync) {
    connect(&sync, &DiaryCloudSync::isEnabledChanged, this, &MacICloudSettingsController::changed);
    connect(&sync, &DiaryCloudSync::statusChanged, this, &MacICloudSettingsController::changed);
}

void MacICloudSettingsController::setEnabled(bool enabled) {
    m_sync.setEnabled(enabled);
    // The switch follows the sync even when the value did not change.
    Q_EMIT changed();
}

void MacICloudSettingsController::syncNow() {
    // Its progress shows in the status; nothing waits for it.
    m_sync.syncNow();
}

QColor MacICloudSettingsController::statusColor(DiaryCloudSyncStatus status) {
    // The settings window is drawn on light paper.
    constexpr DiaryTheme theme{DiaryColorScheme::light};
    switch (status) {
    case DiaryCloudSyncStatus::off:
        return withOpacity(theme.leather(), 0.3);
    case DiaryCloudSyncStatus::syncing:
        return withOpacity(colorFromHex(QStringLiteral("C9A84C")), 0.7);
    case DiaryCloudSyncStatus::upToDate:
        return withOpacity(colorFromHex(QStringLiteral("6B8E6B")), 0.7);
    case DiaryCloudSyncStatus::unavailable:
    case DiaryCloudSyncStatus::failed:
        break;
    }
    return withOpacity(colorFromHex(QStringLiteral("B0503C")), 0.7);
}

} // namespace velmora

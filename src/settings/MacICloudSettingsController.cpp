#include "settings/MacICloudSettingsController.h"

#include "book/theme/DiaryTheme.h"

#include <QCoroFuture>
#include <QPointer>
#include <QtConcurrent>

namespace velmora {

MacICloudSettingsController::MacICloudSettingsController(
    DiaryCloudSync &sync, std::optional<MacSyncFolderServices> folder, QObject *parent)
    : QObject(parent)
    , m_sync(sync)
    , m_folder(std::move(folder)) {
    connect(&sync, &DiaryCloudSync::isEnabledChanged, this, &MacICloudSettingsController::changed);
    connect(&sync, &DiaryCloudSync::statusChanged, this, &MacICloudSettingsController::changed);
    connect(&sync, &DiaryCloudSync::lastSyncChanged, this, &MacICloudSettingsController::changed);
    m_statusRefresh.setInterval(statusRefreshInterval);
    connect(&m_statusRefresh, &QTimer::timeout, this, &MacICloudSettingsController::changed);
}

void MacICloudSettingsController::setShown(bool shown) {
    if (!shown) {
        m_statusRefresh.stop();
        return;
    }
    if (!m_statusRefresh.isActive())
        m_statusRefresh.start();
    // Shown again after a while: the line says how long ago as of now.
    Q_EMIT changed();
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

QString MacICloudSettingsController::folderPath() const {
    if (!m_folder || !m_folder->choice)
        return {};
    const auto current = m_folder->choice->current();
    return current ? current->folder : QString();
}

QCoro::Task<void> MacICloudSettingsController::chooseFolder(QString picked) {
    if (!m_folder || !m_folder->choice || picked.isEmpty())
        co_return;
    const QPointer<MacICloudSettingsController> self(this);
    QFuture<std::variant<DiaryCloudSyncFolderChoice::Choice, DiaryCloudSyncFolderChoice::Refusal>>
        examining =
            QtConcurrent::run(&DiaryCloudSyncFolderChoice::examine, picked, m_folder->diaryFolder);
    const auto examined = co_await examining;
    if (!self)
        co_return;
    if (const auto *refusal = std::get_if<DiaryCloudSyncFolderChoice::Refusal>(&examined)) {
        m_folderRefusal = DiaryCloudSyncFolderChoice::refusalMessage(*refusal);
    } else {
        m_folderRefusal.clear();
        m_folder->choice->set(std::get<DiaryCloudSyncFolderChoice::Choice>(examined));
        m_sync.schedule(std::chrono::nanoseconds::zero());
    }
    Q_EMIT changed();
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

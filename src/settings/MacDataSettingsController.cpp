#include "settings/MacDataSettingsController.h"

#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"
#include "platform/DiaryError.h"
#include "settings/SettingsLogging.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QLocale>
#include <QPointer>
#include <QtConcurrent>

namespace velmora {

namespace {

QString messageOf(const std::exception &error) {
    if (const auto *diaryError = dynamic_cast<const DiaryError *>(&error))
        return diaryError->message();
    return QString::fromUtf8(error.what());
}

} // namespace

MacDataSettingsController::MacDataSettingsController(MacDataSettingsServices services,
                                                     QObject *parent)
    : QObject(parent)
    , m_services(std::move(services)) {
    Q_ASSERT(m_services.snapshots && m_services.restore && m_services.guard);
}

QString MacDataSettingsController::backupStatusText() const {
    if (m_backupDates.isEmpty())
        return QCoreApplication::translate("MacDataSettingsSection", "No backups yet");
    return QCoreApplication::translate("MacDataSettingsSection", "Latest: %1")
        .arg(QLocale().toString(m_backupDates.first().toLocalTime(), QLocale::ShortFormat));
}

QString MacDataSettingsController::backupFolder() const {
    return m_services.persistenceDirectory + QStringLiteral("/Backups");
}

QString MacDataSettingsController::safetyFolder() const {
    return m_services.persistenceDirectory + QStringLiteral("/Recovery/Quarantine");
}

QCoro::Task<void> MacDataSettingsController::reloadBackupDates() {
    QCoro::Task<QList<SnapshotSummary>> listing = listBackups();
    co_await listing;
}

QCoro::Task<QList<SnapshotSummary>> MacDataSettingsController::listBackups() {
    const QPointer<MacDataSettingsController> self(this);
    const quint64 listing = ++m_listing;
    // Listing reads and checks every package.
    QFuture<QList<SnapshotSummary>> listed = QtConcurrent::run(
        [folder = backupFolder()] { return DiarySnapshotService::listSnapshots(folder); });
    const QList<SnapshotSummary> snapshots = co_await listed;
    if (self && listing == m_listing) {
        m_backupDates.clear();
        for (const SnapshotSummary &snapshot : snapshots)
            m_backupDates.append(snapshot.createdAt);
        Q_EMIT changed();
    }
    co_return snapshots;
}

QCoro::Task<void> MacDataSettingsController::backUpNow() {
    const QPointer<MacDataSettingsController> self(this);
    auto ticket = begin(DiaryDataOperation::backup);
    if (!ticket)
        co_return;
    beginProcessing();
    std::optional<QString> failure;
    try {
        QCoro::Task<SnapshotSummary> backup = m_services.snapshots->createSnapshot(backupFolder());
        co_await backup;
    } catch (const std::exception &error) {
        failure = messageOf(error);
    }
    ticket->release();
    if (self)
        co_await finishOperation(std::move(failure), "backup");
}

QCoro::Task<void> MacDataSettingsController::finishOperation(std::optional<QString> failure,
                                                             const char *what) {
    const QPointer<MacDataSettingsController> self(this);
    if (failure) {
        qCWarning(lcSettings) << what << "failed:" << *failure;
        fail(*failure);
    } else {
        co_await reloadBackupDates();
        if (!self)
            co_return;
    }
    endProcessing();
}

void MacDataSettingsController::requestRestore() {
    m_showRestoreConfirmation = true;
    Q_EMIT changed();
}

void MacDataSettingsController::cancelRestore() {
    m_showRestoreConfirmation = false;
    Q_EMIT changed();
}

QCoro::Task<void> MacDataSettingsController::restoreLatestBackup() {
    const QPointer<MacDataSettingsController> self(this);
    m_showRestoreConfirmation = false;
    Q_EMIT changed();
    auto ticket = begin(DiaryDataOperation::restore);
    if (!ticket)
        co_return;
    beginProcessing();
    std::optional<QString> failure;
    try {
        // The newest backup is chosen once the page is held: what is typed after the user agreed
        // to restore would otherwise be saved, only to vanish with the diary being replaced.
        QCoro::Task<std::optional<DiaryRestoreResult>> restoring =
            m_services.restore->restoreNewest(backupFolder(), safetyFolder());
        co_await restoring;
    } catch (const std::exception &error) {
        failure = messageOf(error);
    }
    ticket->release();
    if (self)
        co_await finishOperation(std::move(failure), "restore");
}

void MacDataSettingsController::exportDiary() {
    if (!m_services.exportDiary)
        return;
    const QPointer<MacDataSettingsController> self(this);
    m_services.exportDiary(
        [self] {
            if (self)
                self->beginProcessing();
        },
        [self] {
            if (self)
                self->endProcessing();
        });
}

QCoro::Task<void> MacDataSettingsController::importDiary() {
    const QPointer<MacDataSettingsController> self(this);
    const std::optional<QString> chosen =
        m_services.chooseImportFile ? m_services.chooseImportFile() : std::nullopt;
    if (!self || !chosen || chosen->isEmpty())
        co_return;
    auto ticket = begin(DiaryDataOperation::import);
    if (!ticket)
        co_return;
    beginProcessing();
    // The flow reports its own outcome and never throws.
    QCoro::Task<void> flow = runImportFlow(*chosen, m_services.transferContext(), safetyFolder());
    co_await flow;
    ticket->release();
    if (self)
        endProcessing();
}

void MacDataSettingsController::dismissError() {
    if (!m_error)
        return;
    m_error.reset();
    Q_EMIT changed();
}

void MacDataSettingsController::beginProcessing() {
    if (m_running++ == 0)
        Q_EMIT changed();
}

void MacDataSettingsController::endProcessing() {
    if (m_running > 0 && --m_running == 0)
        Q_EMIT changed();
}

void MacDataSettingsController::fail(const QString &message) {
    m_error = message;
    Q_EMIT changed();
}

std::optional<DiaryDataOperationGuard::Ticket>
MacDataSettingsController::begin(DiaryDataOperation operation) {
    auto ticket = m_services.guard->tryBegin(operation);
    // Once a quit has begun nothing starts, and nothing is said of it.
    if (!ticket && !m_services.guard->isQuitting())
        fail(DiaryDataOperationGuard::refusalText());
    return ticket;
}

} // namespace velmora

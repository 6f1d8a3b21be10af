#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"
#include "book/theme/DiaryTheme.h"
#include "daily/DiaryReminderCenter.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "settings/MacDataSettingsController.h"
#include "settings/MacICloudSettingsController.h"
#include "settings/MacReminderSettingsController.h"
#include "support/ScriptedAlerts.h"
#include "support/ScriptedNotificationCenter.h"
#include "support/SessionFixture.h"
#include "support/SyncEngineFixture.h"

#include <QDir>
#include <QSemaphore>
#include <QSignalSpy>

using namespace velmora;
using namespace velmora::test;

namespace {

// The data section over a real store: one backup of the page "kept" is made at the start, and
// the page "later" is written after it.
struct DataFixture : SessionFixture {
    QString importFile = QStringLiteral(VELMORA_TEST_DATA "/transfer/valid-v3.json");
    std::shared_ptr<ScriptedAlerts> alerts = std::make_shared<ScriptedAlerts>();
    DiarySnapshotService snapshots{repository, clock};
    DiaryRestoreCoordinator restore{repository, clock, DiaryOpenDayReloader(session.get())};
    DiaryDataOperationGuard guard;
    std::optional<QString> chosenImport = importFile;
    int exportsStarted = 0;
    std::function<void()> finishExport;
    MacDataSettingsController data{services(folder.path())};

    MacDataSettingsServices services(const QString &persistenceDirectory) {
        MacDataSettingsServices result;
        result.snapshots = &snapshots;
        result.restore = &restore;
        result.guard = &guard;
        result.persistenceDirectory = persistenceDirectory;
        result.exportDiary = [this](std::function<void()> started, std::function<void()> finished) {
            ++exportsStarted;
            started();
            finishExport = std::move(finished);
        };
        result.chooseImportFile = [this] { return chosenImport; };
        result.transferContext = [this] {
            return DiaryTransferFlowContext{repository, settings, clock, alerts,
                                            DiaryOpenDayReloader(session.get())};
        };
        return result;
    }

    void prepare() {
        seed(day("2024-03-10"), QStringLiteral("kept"));
        test::waitFor(data.backUpNow());
        seed(day("2024-03-11"), QStringLiteral("later"));
    }

    QStringList contents() const {
        QStringList result;
        for (const DiaryEntryDTO &entry : repository->storedEntries())
            result.append(entry.dayKey.rawValue() + QLatin1Char(' ') + entry.content);
        result.sort();
        return result;
    }

    int packages() const {
        return QDir(data.backupFolder())
            .entryList({QStringLiteral("*.velmorabackup")}, QDir::Dirs)
            .size();
    }

    QCoro::Task<void> start(const QString &operation) {
        if (operation == u"import") {
            alerts->answers = {2, 0}; // "Replace Diary", then confirmed
            return data.importDiary();
        }
        if (operation == u"restore")
            return data.restoreLatestBackup();
        return data.backUpNow();
    }
};

const QStringList keptDiary{QStringLiteral("2024-03-10 kept")};
const QStringList laterDiary{QStringLiteral("2024-03-10 kept"), QStringLiteral("2024-03-11 later")};
const QStringList importedDiary{QStringLiteral("2024-03-01 Words / more words"),
                                QStringLiteral("2024-03-02 Words / more words")};

} // namespace

class DataSettingsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void backupAndRestoreRoad() {
        const ScopedLocale locale(QStringLiteral("en_US"));
        const ScopedTimeZone zone("Europe/Paris");
        DataFixture f;
        test::waitFor(f.data.reloadBackupDates());
        QVERIFY(f.data.backupDates().isEmpty());
        QCOMPARE(f.data.backupStatusText(), QStringLiteral("No backups yet"));

        f.prepare();
        QCOMPARE(f.data.backupDates(), QList<QDateTime>{f.clock->now()});
        QCOMPARE(f.data.backupStatusText(), QStringLiteral("Latest: 3/15/24 11:00 AM"));
        QVERIFY(!f.data.isProcessing());

        f.data.requestRestore();
        QVERIFY(f.data.showRestoreConfirmation());
        f.data.cancelRestore();
        QVERIFY(!f.data.showRestoreConfirmation());
        QCOMPARE(f.contents(), laterDiary);

        f.open(SessionFixture::today);
        f.data.requestRestore();
        QCoro::Task<void> restoring = f.data.restoreLatestBackup();
        // Once the user agreed, the page takes nothing more: it would be saved only to vanish with
        // the diary the restore replaces.
        bool refused = false;
        try {
            f.session->updateDraft(QStringLiteral("typed right after agreeing"));
        } catch (const PersistenceError &) {
            refused = true;
        }
        QVERIFY(refused);
        test::waitFor(std::move(restoring));
        QVERIFY(!f.data.showRestoreConfirmation());
        QCOMPARE(f.contents(), keptDiary);
        QVERIFY(!f.data.dataOperationError());
        QVERIFY(!f.data.isProcessing());
        // The safety backup is kept apart and never listed.
        QCOMPARE(f.data.backupDates().size(), 1);
        QCOMPARE(QDir(f.data.safetyFolder())
                     .entryList({QStringLiteral("Before-Restore-*")}, QDir::Dirs)
                     .size(),
                 1);
    }

    void restoreWithoutBackupsDoesNothing() {
        DataFixture f;
        f.seed(SessionFixture::today, QStringLiteral("alone"));
        test::waitFor(f.data.restoreLatestBackup());
        QVERIFY(!f.data.dataOperationError());
        QCOMPARE(f.repository->callCount(Operation::replaceAll), 0);
        QVERIFY(!QDir(f.data.safetyFolder()).exists());
    }

    void failuresShowTheirMessage_data() {
        QTest::addColumn<QString>("operation");
        QTest::newRow("backup") << QStringLiteral("backup");
        QTest::newRow("restore") << QStringLiteral("restore");
    }
    // A failed backup or restore ends in the section's alert with the operation's own message,
    // and "OK" clears it for good.
    void failuresShowTheirMessage() {
        QFETCH(QString, operation);
        DataFixture f;
        f.prepare();
        const QString message = QStringLiteral("The disk is full.");
        f.repository->failNext(Operation::snapshot, std::runtime_error(message.toStdString()));
        test::waitFor(f.start(operation));
        QCOMPARE(f.data.dataOperationError().value_or(QString()), message);
        QVERIFY(!f.data.isProcessing());
        QCOMPARE(f.contents(), laterDiary);
        f.data.dismissError();
        QVERIFY(!f.data.dataOperationError());
    }

    void backupIntoUnwritableFolder() {
        DataFixture f;
        QFile blocker(f.folder.filePath(QStringLiteral("Backups")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QString expected;
        try {
            test::waitFor(f.snapshots.createSnapshot(f.data.backupFolder()));
        } catch (const DiaryError &error) {
            expected = error.message();
        }
        QVERIFY(!expected.isEmpty());
        test::waitFor(f.data.backUpNow());
        QCOMPARE(f.data.dataOperationError().value_or(QString()), expected);
        QVERIFY(f.data.backupDates().isEmpty());
    }

    void operationsNeverOverlap_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QStringList>("diary");
        QTest::addColumn<int>("replaces");
        QTest::addColumn<int>("packages");
        QTest::newRow("restore while an import replaces")
            << QStringLiteral("import") << QStringLiteral("restore") << importedDiary << 1 << 1;
        QTest::newRow("backup while an import replaces")
            << QStringLiteral("import") << QStringLiteral("backup") << importedDiary << 1 << 1;
        QTest::newRow("import while a restore replaces")
            << QStringLiteral("restore") << QStringLiteral("import") << keptDiary << 1 << 1;
        QTest::newRow("backup while a restore replaces")
            << QStringLiteral("restore") << QStringLiteral("backup") << keptDiary << 1 << 1;
        QTest::newRow("restore while a backup reads")
            << QStringLiteral("backup") << QStringLiteral("restore") << laterDiary << 0 << 2;
    }
    // A second backup, restore or import started while one runs is refused with a clear text
    // and never touches the diary, so the first one's outcome stands.
    void operationsNeverOverlap() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QStringList, diary);
        QFETCH(int, replaces);
        QFETCH(int, packages);
        DataFixture f;
        f.prepare();
        f.repository->setDelay(Operation::replaceAll, 300ms);
        f.repository->setDelay(Operation::snapshot, 300ms);

        QCoro::Task<void> running = f.start(first);
        QVERIFY(waitUntil([&] {
            return f.repository->inProgress(Operation::replaceAll) +
                       f.repository->inProgress(Operation::snapshot) >
                   0;
        }));
        QVERIFY(f.guard.isBusy());
        QVERIFY(f.data.isProcessing());
        QCoro::Task<void> overlapping = f.start(second);
        test::waitFor(std::move(running));
        test::waitFor(std::move(overlapping));
        QCOMPARE(f.contents(), diary);
        QCOMPARE(f.repository->callCount(Operation::replaceAll), replaces);
        QCOMPARE(f.packages(), packages);
        QCOMPARE(f.data.dataOperationError().value_or(QString()),
                 DiaryDataOperationGuard::refusalText());
        QVERIFY(!f.guard.isBusy());
        QVERIFY(!f.data.isProcessing());
        if (first == u"import")
            QCOMPARE(f.alerts->shown.last().title, QStringLiteral("Import Complete"));

        // Once it has ended, the next one runs.
        f.data.dismissError();
        f.repository->setDelay(Operation::replaceAll, 0ms);
        f.repository->setDelay(Operation::snapshot, 0ms);
        test::waitFor(f.data.backUpNow());
        QVERIFY(!f.data.dataOperationError());
        QCOMPARE(f.packages(), packages + 1);
    }

    void transfersKeepTheSpinnerUntilTheyEnd() {
        DataFixture f;
        f.data.exportDiary();
        QCOMPARE(f.exportsStarted, 1);
        QVERIFY(f.data.isProcessing());
        f.finishExport();
        QVERIFY(!f.data.isProcessing());

        // A cancelled panel starts nothing and shows nothing.
        f.chosenImport.reset();
        test::waitFor(f.data.importDiary());
        QVERIFY(!f.data.isProcessing());
        QVERIFY(f.alerts->shown.isEmpty());
        QVERIFY(!f.guard.isBusy());

        // Neither export nor import lists the backups again; the import's safety backup goes to
        // the safety folder.
        f.chosenImport = f.importFile;
        f.alerts->answers = {0};
        test::waitFor(f.data.importDiary());
        QCOMPARE(f.alerts->shown.last().title, QStringLiteral("Import Complete"));
        QVERIFY(f.data.backupDates().isEmpty());
        QCOMPARE(f.packages(), 0);
        QCOMPARE(importBackupsIn(f.data.safetyFolder()), 1);
    }

    void reminderSwitch_data() {
        QTest::addColumn<DiaryNotificationAuthorizationStatus>("permission");
        QTest::addColumn<bool>("grants");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("deniedLine");
        using S = DiaryNotificationAuthorizationStatus;
        QTest::newRow("allowed") << S::authorized << true << true << false;
        QTest::newRow("asked and allowed") << S::notDetermined << true << true << false;
        QTest::newRow("asked and refused") << S::notDetermined << false << false << false;
        QTest::newRow("turned off on the desktop") << S::denied << false << false << true;
    }
    // The switch only asks the centre, and shows the centre's answer.
    void reminderSwitch() {
        QFETCH(DiaryNotificationAuthorizationStatus, permission);
        QFETCH(bool, grants);
        QFETCH(bool, enabled);
        QFETCH(bool, deniedLine);
        QTemporaryDir folder;
        auto defaults = std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("d.ini")));
        auto notifications = std::make_shared<ScriptedNotificationCenter>();
        notifications->status = permission;
        notifications->grants = grants;
        DiaryReminderCenter reminders(defaults, notifications);
        int opened = 0;
        MacReminderSettingsController controller(reminders, [&opened] {
            ++opened;
            return true;
        });
        int changes = 0;
        connect(&controller, &MacReminderSettingsController::changed, [&changes] { ++changes; });

        controller.appear();
        QVERIFY(waitUntil([&] { return changes > 0; }));
        QCOMPARE(controller.showsDeniedLine(),
                 permission == DiaryNotificationAuthorizationStatus::denied);

        changes = 0;
        controller.setEnabled(true);
        QVERIFY(waitUntil([&] { return controller.isEnabled() == enabled && changes > 0; }));
        QCOMPARE(controller.showsTime(), enabled);
        QCOMPARE(controller.showsDeniedLine(), deniedLine);
        QCOMPARE(defaults->boolValue(UserDefaultsSettingsStore::reminderEnabledSetting.key),
                 enabled);
        QVERIFY(waitUntil([&] { return notifications->pending.isEmpty() == !enabled; }));

        controller.setTime(QTime(7, 30));
        QVERIFY(waitUntil([&] { return reminders.hour() == 7 && reminders.minute() == 30; }));
        QCOMPARE(controller.time(), QTime(7, 30));
        controller.setTime(QTime());
        QVERIFY(waitUntil([&] { return controller.time() == QTime(21, 0); }));

        controller.setEnabled(false);
        QVERIFY(
            waitUntil([&] { return !controller.isEnabled() && notifications->pending.isEmpty(); }));
        QVERIFY(!controller.showsTime());
        // The time chosen stays for the next time.
        QCOMPARE(defaults->integerValue(UserDefaultsSettingsStore::reminderHourSetting.key), 21);

        controller.openNotificationSettings();
        QCOMPARE(opened, 1);
    }

    void syncStatusColours_data() {
        QTest::addColumn<DiaryCloudSyncStatus>("status");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<double>("opacity");
        QTest::newRow("off") << DiaryCloudSyncStatus::off << QString() << 0.3;
        QTest::newRow("no sync folder")
            << DiaryCloudSyncStatus::unavailable << QStringLiteral("#b0503c") << 0.7;
        QTest::newRow("syncing") << DiaryCloudSyncStatus::syncing << QStringLiteral("#c9a84c")
                                 << 0.7;
        QTest::newRow("up to date")
            << DiaryCloudSyncStatus::upToDate << QStringLiteral("#6b8e6b") << 0.7;
        QTest::newRow("failed") << DiaryCloudSyncStatus::failed << QStringLiteral("#b0503c") << 0.7;
    }
    void syncStatusColours() {
        QFETCH(DiaryCloudSyncStatus, status);
        QFETCH(QString, colour);
        QFETCH(double, opacity);
        const QColor shown = MacICloudSettingsController::statusColor(status);
        const QColor leather = DiaryTheme{DiaryColorScheme::light}.leather();
        QCOMPARE(shown.name(), colour.isEmpty() ? leather.name() : colour);
        QCOMPARE(qRound(shown.alphaF() * 100), qRound(opacity * 100));
    }

    void syncStatusTexts_data() {
        QTest::addColumn<DiaryCloudSyncStatus>("status");
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<QString>("text");
        using S = DiaryCloudSyncStatus;
        QTest::newRow("off") << S::off << qint64(-1)
                             << QStringLiteral("Your pages stay only on this device.");
        QTest::newRow("no sync folder")
            << S::unavailable << qint64(-1)
            << QStringLiteral(
                   "Choose a sync folder to keep this computer and your tablet on the same diary.");
        QTest::newRow("syncing") << S::syncing << qint64(-1)
                                 << QStringLiteral("Syncing with your sync folder…");
        QTest::newRow("up to date, never synced")
            << S::upToDate << qint64(-1) << QStringLiteral("Up to date in your sync folder.");
        QTest::newRow("up to date, minutes ago")
            << S::upToDate << qint64(5 * 60 + 20)
            << QStringLiteral("Up to date in your sync folder, 5 minutes ago.");
        QTest::newRow("up to date, a day ago")
            << S::upToDate << qint64(26 * 3600)
            << QStringLiteral("Up to date in your sync folder, yesterday.");
        QTest::newRow("failed") << S::failed << qint64(-1) << QStringLiteral("The folder is gone.");
    }
    void syncStatusTexts() {
        QFETCH(DiaryCloudSyncStatus, status);
        QFETCH(qint64, secondsAgo);
        QFETCH(QString, text);
        const ScopedLocale locale(QStringLiteral("en_US"));
        const QDateTime now(QDate(2024, 3, 15), QTime(10, 0), Qt::UTC);
        const std::optional<QDateTime> lastSync =
            secondsAgo < 0 ? std::nullopt : std::optional(now.addSecs(-secondsAgo));
        QCOMPARE(DiaryCloudSync::statusText(status, QStringLiteral("The folder is gone."), lastSync,
                                            now),
                 text);
    }

    // Without a sync folder, switching sync on shows that none is chosen; switching it off
    // shows "off" at once and hides "Sync Now".
    void syncSwitch() {
        QTemporaryDir folder;
        auto defaults = std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("d.ini")));
        defaults->setBool(UserDefaultsSettingsStore::syncEnabledSetting.key, false);
        DiaryCloudSync sync(DiaryCloudSync::Services{{}, {}, {}, {}, defaults},
                            folder.filePath(QStringLiteral("Sync/manifest.json")),
                            DiaryCloudSync::noSyncRoot(), false, std::chrono::seconds(60));
        MacICloudSettingsController controller(sync);
        QVERIFY(!controller.isEnabled());
        QVERIFY(!controller.showsSyncNow());
        test::waitFor(sync.syncNow());
        QCOMPARE(sync.status(), DiaryCloudSyncStatus::off);

        controller.setEnabled(true);
        QVERIFY(controller.showsSyncNow());
        QVERIFY(defaults->boolValue(UserDefaultsSettingsStore::syncEnabledSetting.key));
        QVERIFY(waitUntil([&] { return sync.status() == DiaryCloudSyncStatus::unavailable; }));
        QVERIFY(controller.syncNowEnabled());
        QCOMPARE(
            controller.statusText(),
            QStringLiteral(
                "Choose a sync folder to keep this computer and your tablet on the same diary."));
        controller.syncNow();
        test::waitFor(sync.syncNow());
        QCOMPARE(sync.status(), DiaryCloudSyncStatus::unavailable);

        controller.setEnabled(false);
        QCOMPARE(sync.status(), DiaryCloudSyncStatus::off);
        QVERIFY(!controller.showsSyncNow());
        QVERIFY(!defaults->boolValue(UserDefaultsSettingsStore::syncEnabledSetting.key));
    }

    // "Up to date …, 5 minutes ago" ages while the section is shown, and rests while it is not.
    void syncStatusLineAgesWhileShown() {
        const ScopedLocale locale(QStringLiteral("en_US"));
        SyncEngineFixture f;
        f.pass();
        MacICloudSettingsController controller(*f.sync);
        controller.setStatusRefreshInterval(20ms);
        QSignalSpy changed(&controller, &MacICloudSettingsController::changed);
        controller.setShown(true);
        f.clock->advance(std::chrono::minutes(5));
        QVERIFY(waitUntil([&] {
            return controller.statusText() ==
                       QStringLiteral("Up to date in your sync folder, 5 minutes ago.") &&
                   changed.size() > 1;
        }));
        controller.setShown(false);
        const qsizetype resting = changed.size();
        QTest::qWait(100);
        QCOMPARE(changed.size(), resting);
        // A pass sets a new time, and the line follows at once.
        f.pass();
        QVERIFY(changed.size() > resting);
        QCOMPARE(controller.statusText(), QStringLiteral("Up to date in your sync folder, now."));
    }

    // Switched off while a pass still looks for the sync folder: the pass ends on "off".
    void syncSwitchedOffDuringPass() {
        QTemporaryDir folder;
        auto defaults = std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("d.ini")));
        QSemaphore folderAsked;
        QSemaphore answer;
        DiaryCloudSync sync(
            DiaryCloudSync::Services{{}, {}, {}, {}, defaults},
            folder.filePath(QStringLiteral("Sync/manifest.json")),
            [&] {
                folderAsked.release();
                answer.acquire();
                return std::optional<QString>();
            },
            false, std::chrono::seconds(60));
        MacICloudSettingsController controller(sync);
        QCoro::Task<void> pass = sync.syncNow();
        QVERIFY(folderAsked.tryAcquire(1, 60000));
        controller.setEnabled(false);
        answer.release();
        test::waitFor(std::move(pass));
        QCOMPARE(sync.status(), DiaryCloudSyncStatus::off);
        QCOMPARE(controller.statusText(), QStringLiteral("Your pages stay only on this device."));
    }

private:
    static int importBackupsIn(const QString &folder) {
        return QDir(folder).entryList({QStringLiteral("Before-Import-*")}, QDir::Dirs).size();
    }
};

VELMORA_TEST_MAIN(DataSettingsTest)
#include "tst_datasettings.moc"

#pragma once

#include "backup/DiaryDataOperationGuard.h"
#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"
#include "domain/AppRuntimeConfiguration.h"
#include "domain/Clock.h"
#include "domain/DiaryCommand.h"
#include "domain/DiaryRepository.h"
#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "pages/DiaryPageSystemStore.h"
#include "pages/LeafPaginating.h"
#include "platform/FileClaims.h"
#include "platform/UserDefaults.h"
#include "recall/DiaryHandwritingIndex.h"
#include "store/DiaryHandwritingStore.h"
#include "store/DiaryPersistenceStack.h"
#include "sync/DiaryCloudSync.h"
#include "sync/DiaryCloudSyncRoot.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace velmora {

// What a launch is given by the system: its arguments and the folders it may use.
struct DiaryProcessEnvironment {
    QStringList arguments;
    // None when the platform offers no per-user data folder.
    std::optional<QString> applicationSupportDirectory;
    QString temporaryDirectory;

    static DiaryProcessEnvironment current();
};

// Which store and settings a launch opens, decided before anything is opened, so that the store
// can be locked against a second process before it is prepared.
struct DiaryLaunchPlan {
    static inline const QString configurationErrorSuitePrefix =
        QStringLiteral("Velmora.ConfigurationError.");
    static inline const QString configurationErrorFolderPrefix =
        QStringLiteral("Velmora-ConfigurationError-");

    // Exactly one of the two is set.
    std::optional<AppRuntimeConfiguration> runtimeConfiguration;
    std::optional<QString> runtimeError;
    QString storeURL;
    // None for the standard settings of live mode.
    std::optional<QString> defaultsSuiteName;
    // This process's claims on the store file, while it holds the diary's lock.
    std::shared_ptr<FileClaims> storeClaims;
    // The folder of the throw-away diary of a launch without a configuration: made afresh in the
    // temporary folder, for the owner only, and removed whole when its last holder goes.
    std::shared_ptr<QTemporaryDir> throwAwayFolder;

    // Without a configuration the launch runs on a throw-away diary in a folder of its own and on
    // throw-away settings, each named afresh, so it never opens the real diary, nor writes in the
    // temporary folder that others share, nor reads what they put there.
    static DiaryLaunchPlan make(const DiaryProcessEnvironment &environment);

    bool isTestMode() const;
    // Live mode, or no configuration at all.
    bool isLiveMode() const { return !isTestMode(); }
    QString persistenceDirectory() const;
};

// Every long-lived service of one run, built once on the GUI thread in dependency order. Building
// never fails: a configuration or store that cannot be had becomes `runtimeError` or
// `persistenceError`, and everything is still built (over an unavailable repository) so the
// window can say what went wrong.
class DiaryDependencyGraph : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 pageCacheCostLimit = 64;
    static inline const QString defaultFontName = QStringLiteral("Georgia");
    static constexpr std::chrono::seconds syncHeartbeatInterval{60};

    DiaryDependencyGraph(const DiaryLaunchPlan &plan,
                         std::shared_ptr<const LeafPaginating> paginator,
                         QObject *parent = nullptr);
    ~DiaryDependencyGraph() override;

    const std::optional<AppRuntimeConfiguration> &runtimeConfiguration() const {
        return m_runtimeConfiguration;
    }
    const std::optional<QString> &runtimeError() const { return m_runtimeError; }
    const std::shared_ptr<UserDefaults> &defaults() const { return m_defaults; }
    const std::shared_ptr<const Clock> &clock() const { return m_clock; }
    const std::optional<QString> &persistenceError() const { return m_persistenceError; }
    // Another process claimed the store file that preparing the store put in place first: this
    // launch must end without opening it.
    bool storeHeldElsewhere() const { return m_storeHeldElsewhere; }
    const std::shared_ptr<UserDefaultsSettingsStore> &settingsStore() const {
        return m_settingsStore;
    }
    const std::shared_ptr<DiaryRepository> &repository() const { return m_repository; }
    DiarySessionStore &diarySession() const { return *m_diarySession; }
    DiaryPageSystemStore &pageSystem() const { return *m_pageSystem; }
    DiarySnapshotService &snapshotService() const { return *m_snapshotService; }
    DiaryRestoreCoordinator &restoreCoordinator() const { return *m_restoreCoordinator; }
    // Held by every backup, restore and import, from the settings, the menus and the
    // load-failure card alike, so that no two of them overlap.
    DiaryDataOperationGuard &dataOperations() const { return *m_dataOperations; }
    DiaryCommandRouter &commandRouter() const { return *m_commandRouter; }
    const QString &persistenceDirectory() const { return m_persistenceDirectory; }
    const QString &storeURL() const { return m_storeURL; }
    const std::shared_ptr<DiaryHandwritingStore> &handwriting() const { return m_handwriting; }
    DiaryHandwritingIndex &handwritingIndex() const { return *m_handwritingIndex; }
    DiaryCloudSync &cloudSync() const { return *m_cloudSync; }
    // The folder the user chose for sync; the live run's sync root lies in it.
    const std::shared_ptr<DiaryCloudSyncFolderChoice> &syncFolderChoice() const {
        return m_syncFolderChoice;
    }

    bool isTestMode() const;

    // What a restore or an import that replaced the whole diary calls afterwards: the sync's
    // page marks describe the diary that was replaced.
    std::function<void()> diaryReplacedHandler() const;

    // Re-indexes the handwriting pages a sync pass changed; returns at once, and the work is
    // never reported.
    static void startHandwritingIndexRefresh(const QList<QPair<DayKey, qint64>> &changedPages,
                                             DiaryHandwritingIndex &index);

private:
    void openRepository(const QString &storeURL, const std::shared_ptr<FileClaims> &claims);

    // Closes the store when everything else here is gone, whoever still holds the repository: a
    // task that was waiting on the store when the event loop stopped never resumes to let go of
    // it, and the files of the store must be closed before the diary's lock goes.
    struct StoreClosing {
        std::shared_ptr<DiaryPersistenceStack> stack;
        StoreClosing() = default;
        StoreClosing(const StoreClosing &) = delete;
        StoreClosing &operator=(const StoreClosing &) = delete;
        ~StoreClosing() {
            if (stack)
                stack->close();
        }
    };
    // The throw-away diary's folder and settings of a launch without a configuration, removed
    // when everything else here is gone, the store's files closed: nobody opens them again.
    struct ThrowAwayFiles {
        QStringList paths;
        // Let go after the paths are removed; the last holder (this or the launch's plan)
        // removes the folder whole.
        std::shared_ptr<QTemporaryDir> folder;
        ThrowAwayFiles() = default;
        ThrowAwayFiles(const ThrowAwayFiles &) = delete;
        ThrowAwayFiles &operator=(const ThrowAwayFiles &) = delete;
        ~ThrowAwayFiles();
    };
    // First, so that they go last, the files after the store is closed.
    ThrowAwayFiles m_throwAwayFiles;
    StoreClosing m_storeClosing;
    std::optional<AppRuntimeConfiguration> m_runtimeConfiguration;
    std::optional<QString> m_runtimeError;
    std::shared_ptr<UserDefaults> m_defaults;
    std::shared_ptr<const Clock> m_clock;
    std::optional<QString> m_persistenceError;
    bool m_storeHeldElsewhere = false;
    std::shared_ptr<UserDefaultsSettingsStore> m_settingsStore;
    std::shared_ptr<DiaryRepository> m_repository;
    QString m_persistenceDirectory;
    QString m_storeURL;
    std::unique_ptr<DiarySessionStore> m_diarySession;
    std::unique_ptr<DiaryPageSystemStore> m_pageSystem;
    std::unique_ptr<DiarySnapshotService> m_snapshotService;
    std::unique_ptr<DiaryRestoreCoordinator> m_restoreCoordinator;
    std::unique_ptr<DiaryDataOperationGuard> m_dataOperations;
    std::unique_ptr<DiaryCommandRouter> m_commandRouter;
    std::shared_ptr<DiaryHandwritingStore> m_handwriting;
    std::unique_ptr<DiaryHandwritingIndex> m_handwritingIndex;
    std::shared_ptr<DiaryCloudSyncFolderChoice> m_syncFolderChoice;
    std::unique_ptr<DiaryCloudSync> m_cloudSync;
};

} // namespace velmora

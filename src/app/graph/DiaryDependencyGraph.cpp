#include "app/graph/DiaryDependencyGraph.h"

#include "app/graph/GraphLogging.h"
#include "domain/PersistenceError.h"
#include "pages/BoundedPageCache.h"
#include "pages/PageLayoutService.h"
#include "platform/FilePaths.h"
#include "platform/GregorianCalendar.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryPersistenceStack.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimeZone>
#include <QUuid>

namespace velmora {

namespace {

QString uuidString() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

DiaryProcessEnvironment DiaryProcessEnvironment::current() {
    DiaryProcessEnvironment environment;
    environment.arguments = QCoreApplication::arguments();
    const QString dataLocation =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!dataLocation.isEmpty())
        environment.applicationSupportDirectory = dataLocation;
    environment.temporaryDirectory = QDir::tempPath();
    return environment;
}

DiaryLaunchPlan DiaryLaunchPlan::make(const DiaryProcessEnvironment &environment) {
    DiaryLaunchPlan plan;
    try {
        plan.runtimeConfiguration = AppRuntimeConfiguration::make(
            environment.arguments, environment.applicationSupportDirectory,
            environment.temporaryDirectory);
    } catch (const RuntimeConfigurationError &error) {
        plan.runtimeError = error.message();
    }
    if (!plan.runtimeConfiguration) {
        // Made by mkdtemp, for the owner only: nobody else can put anything at its names.
        plan.throwAwayFolder = std::make_shared<QTemporaryDir>(
            environment.temporaryDirectory + QLatin1Char('/') + configurationErrorFolderPrefix +
            QStringLiteral("XXXXXX"));
        // Where none can be made, the store's folder is one nothing can be made in, and the store
        // fails to open as it would in an unwritable folder.
        const QString folder = plan.throwAwayFolder->isValid()
                                   ? plan.throwAwayFolder->path()
                                   : QStringLiteral("/dev/null/") + configurationErrorFolderPrefix;
        plan.storeURL =
            standardizedPath(folder + QLatin1Char('/') + AppRuntimeConfiguration::storeFileName);
        plan.defaultsSuiteName = configurationErrorSuitePrefix + uuidString();
    } else if (plan.runtimeConfiguration->mode == RuntimeMode::test) {
        plan.storeURL = plan.runtimeConfiguration->storeURL;
        plan.defaultsSuiteName = plan.runtimeConfiguration->defaultsSuiteName;
    } else {
        plan.storeURL = plan.runtimeConfiguration->storeURL;
    }
    return plan;
}

bool DiaryLaunchPlan::isTestMode() const {
    return runtimeConfiguration && runtimeConfiguration->mode == RuntimeMode::test;
}

QString DiaryLaunchPlan::persistenceDirectory() const {
    return QFileInfo(storeURL).absolutePath();
}

DiaryDependencyGraph::DiaryDependencyGraph(const DiaryLaunchPlan &plan,
                                           std::shared_ptr<const LeafPaginating> paginator,
                                           QObject *parent)
    : QObject(parent)
    , m_runtimeConfiguration(plan.runtimeConfiguration)
    , m_runtimeError(plan.runtimeError)
    , m_clock(std::make_shared<SystemClock>())
    , m_persistenceDirectory(plan.persistenceDirectory())
    , m_storeURL(plan.storeURL) {
    m_defaults = plan.defaultsSuiteName ? UserDefaults::suite(*plan.defaultsSuiteName)
                                        : UserDefaults::standard();
    m_settingsStore = std::make_shared<UserDefaultsSettingsStore>(m_defaults, defaultFontName);
    if (!plan.runtimeConfiguration) {
        m_throwAwayFiles.paths = {m_defaults->filePath()};
        m_throwAwayFiles.folder = plan.throwAwayFolder;
        if (plan.throwAwayFolder && !plan.throwAwayFolder->isValid())
            qCWarning(lcGraph) << "no folder could be made for the throw-away diary:"
                               << plan.throwAwayFolder->errorString();
    }
    openRepository(plan.storeURL, plan.storeClaims);

    m_diarySession = std::make_unique<DiarySessionStore>(m_repository, m_settingsStore,
                                                         GregorianCalendar::autoupdatingCurrent());
    auto layoutService = std::make_shared<PageLayoutService>(
        std::move(paginator), std::make_shared<PageLayoutCache>(pageCacheCostLimit));
    m_pageSystem = std::make_unique<DiaryPageSystemStore>(m_diarySession.get(), layoutService);
    m_snapshotService = std::make_unique<DiarySnapshotService>(m_repository, m_clock);
    m_restoreCoordinator = std::make_unique<DiaryRestoreCoordinator>(
        m_repository, m_clock, DiaryOpenDayReloader(m_diarySession.get()));
    m_dataOperations = std::make_unique<DiaryDataOperationGuard>();
    m_commandRouter = std::make_unique<DiaryCommandRouter>();
    m_commandRouter->setHandler(m_diarySession.get());

    m_handwriting = std::make_shared<DiaryHandwritingStore>(m_persistenceDirectory +
                                                            QStringLiteral("/Handwriting"));
    m_handwritingIndex = std::make_unique<DiaryHandwritingIndex>(*m_handwriting);

    const bool testMode = isTestMode();
    m_syncFolderChoice = std::make_shared<DiaryCloudSyncFolderChoice>(m_defaults);
    // A run without a configuration works on a throw-away diary; it must never sync that diary
    // with the user's real sync folder. A test run syncs only through a folder it was given.
    DiaryCloudSync::RootProvider rootProvider = DiaryCloudSync::noSyncRoot();
    if (plan.runtimeConfiguration && !testMode)
        rootProvider = DiaryCloudSync::iCloudSyncRoot(m_syncFolderChoice);
    else if (testMode && plan.runtimeConfiguration->syncFolder)
        rootProvider =
            DiaryCloudSyncFolderChoice::fixedFolderSyncRoot(*plan.runtimeConfiguration->syncFolder);
    const bool watches =
        plan.runtimeConfiguration && (!testMode || plan.runtimeConfiguration->syncFolder);
    m_cloudSync = std::make_unique<DiaryCloudSync>(
        DiaryCloudSync::Services{m_repository, m_diarySession.get(), m_settingsStore, m_handwriting,
                                 m_defaults, m_clock},
        m_persistenceDirectory + QStringLiteral("/Sync/manifest.json"), std::move(rootProvider),
        watches, syncHeartbeatInterval);
    m_restoreCoordinator->setDiaryReplaced(diaryReplacedHandler());
    DiaryHandwritingIndex *index = m_handwritingIndex.get();
    m_cloudSync->onInkChanged = [index](const QList<QPair<DayKey, qint64>> &changedPages) {
        startHandwritingIndexRefresh(changedPages, *index);
    };
}

std::function<void()> DiaryDependencyGraph::diaryReplacedHandler() const {
    return [sync = QPointer<DiaryCloudSync>(m_cloudSync.get())] {
        if (sync)
            sync->forgetLocalRevisions();
    };
}

void DiaryDependencyGraph::startHandwritingIndexRefresh(
    const QList<QPair<DayKey, qint64>> &changedPages, DiaryHandwritingIndex &index) {
    QList<DiaryHandwritingIndex::PageRef> pages;
    pages.reserve(changedPages.size());
    for (const auto &[dayKey, leaf] : changedPages)
        pages.append({dayKey, leaf});
    // The index works on its own thread; nothing waits for it.
    index.refresh(std::move(pages));
}

DiaryDependencyGraph::~DiaryDependencyGraph() = default;

DiaryDependencyGraph::ThrowAwayFiles::~ThrowAwayFiles() {
    for (const QString &path : std::as_const(paths)) {
        if (QFile file(path); file.exists() && !file.remove())
            qCWarning(lcGraph) << "could not remove the throw-away file" << path << ":"
                               << file.errorString();
    }
}

bool DiaryDependencyGraph::isTestMode() const {
    return m_runtimeConfiguration && m_runtimeConfiguration->mode == RuntimeMode::test;
}

void DiaryDependencyGraph::openRepository(const QString &storeURL,
                                          const std::shared_ptr<FileClaims> &claims) {
    QString detail;
    try {
        StoreModel model = DiaryModelProvider::model(DiaryModelProvider::currentVersionName);
        DiaryMigrationCoordinator coordinator(m_clock);
        coordinator.prepareStore(storeURL, *m_defaults, QTimeZone::systemTimeZone());
        // Preparing may have put a new file at the store's name (a new diary, a restore that a
        // kill cut short): it is claimed before it opens.
        m_storeHeldElsewhere =
            claims && claims->claim(storeURL) == FileClaims::Outcome::heldElsewhere;
        if (!m_storeHeldElsewhere) {
            auto stack = std::make_shared<DiaryPersistenceStack>(storeURL, std::move(model));
            m_storeClosing.stack = stack;
            m_repository = std::make_shared<CoreDataDiaryRepository>(std::move(stack), m_clock);
            return;
        }
        detail = QCoreApplication::translate("DiaryDependencyGraph",
                                             "Another process has the diary open.");
    } catch (const DiaryError &error) {
        detail = error.message();
    } catch (const std::exception &error) {
        detail = QString::fromUtf8(error.what());
    }
    const PersistenceError error = PersistenceError::storeLoadFailed(detail);
    qCWarning(lcGraph) << "the diary store could not be opened:" << detail;
    m_persistenceError = error.message();
    m_repository = std::make_shared<UnavailableDiaryRepository>(error);
}

} // namespace velmora

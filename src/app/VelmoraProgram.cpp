#include "app/VelmoraProgram.h"

#include "app/AppLogging.h"
#include "app/DiaryBookStage.h"
#include "app/DiaryLoadFailureRecovery.h"
#include "app/DiaryLockCard.h"
#include "app/DiaryLockController.h"
#include "app/DiaryTransferPanels.h"
#include "app/MessageBoxAlertPresenter.h"
#include "app/WindowFocusReturn.h"
#include "book/AlertText.h"
#include "book/MacClosedCover.h"
#include "book/theme/DiaryTheme.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "settings/MacSettingsKit.h"
#include "settings/MacSettingsView.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QSessionManager>

#include <cstdio>
#include <malloc.h>

static void initIconResource() {
    Q_INIT_RESOURCE(VelmoraIcon);
}

namespace velmora {

namespace {

// The installed icon, found by the name the desktop entry gives; a run from the build folder
// shows the same picture built in.
QIcon applicationIcon() {
    initIconResource();
    return QIcon::fromTheme(QStringLiteral("org.velmora.Velmora"),
                            QIcon(QStringLiteral(":/org.velmora.Velmora.svg")));
}

class SessionManagerRequest final : public DiarySessionEndRequest {
public:
    explicit SessionManagerRequest(QSessionManager &manager)
        : m_manager(manager) {}
    bool allowsInteraction() override { return m_manager.allowsInteraction(); }
    void cancel() override {
        m_manager.cancel();
        m_manager.release();
    }

private:
    QSessionManager &m_manager;
};

void printLine(const QString &text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

} // namespace

VelmoraProgram::VelmoraProgram(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options)) {
    // The store, ink, index and painting workers would each get a malloc arena of their own, whose
    // touched pages stay resident; two arenas serve this program's few threads just as well.
    if (mallopt(M_ARENA_MAX, 2) != 1)
        qCWarning(lcApp) << "Could not limit the allocator's arenas";
    // Pictures of a few megabytes come and go (textures, what the swing and the cards take of the
    // page). Given pages of their own, they go back to the system when freed, rather than leave
    // the heap as large as its busiest moment; the allocator would otherwise raise this bound
    // after the first such picture.
    if (mallopt(M_MMAP_THRESHOLD, 256 * 1024) != 1)
        qCWarning(lcApp) << "Could not set the allocator's threshold for large blocks";
}

VelmoraProgram::~VelmoraProgram() {
    m_displayLoss.reset();
    // The window and its views go before the services they show.
    m_menus.reset();
    m_window.reset();
    m_delegate.reset();
    m_dependencies.reset();
}

std::optional<int> VelmoraProgram::start() {
    m_plan = DiaryLaunchPlan::make(m_options.environment);
    // Before anything else, so that a termination also ends a launch waiting on a message.
    if (m_options.watchTerminationSignals)
        m_signals = std::make_unique<TerminationSignalWatcher>();

    const bool liveMode = m_plan.runtimeConfiguration && !m_plan.isTestMode();
    if (liveMode && m_options.useSessionBus) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            m_busService = std::make_unique<DiaryInstanceService>(bus);
            if (!m_busService->registerOnBus()) {
                m_busService.reset();
                if (DiaryInstanceService::askRunningInstanceToShow(bus)) {
                    printLine(tr("Velmora is already running; its window is shown."));
                    return 0;
                }
            }
        }
    }

    // The throw-away store of a launch without configuration is its own; every other store is
    // locked before anything reads or migrates it.
    if (m_plan.runtimeConfiguration) {
        const DiaryInstanceLock::Outcome locked = m_lock.tryAcquire(m_plan.storeURL);
        if (locked != DiaryInstanceLock::Outcome::acquired) {
            reportAlreadyOpen(m_lock.refusal(locked));
            return 1;
        }
        m_plan.storeClaims = m_lock.storeClaims();
    }

    m_dependencies =
        std::make_unique<VuzIvoduAppDependencies>(m_plan, QDBusConnection::sessionBus());
    DiaryDependencyGraph &graph = m_dependencies->graph();
    if (graph.storeHeldElsewhere()) {
        reportAlreadyOpen(m_lock.refusal(DiaryInstanceLock::Outcome::heldByAnotherProcess));
        return 1;
    }

    m_delegate = std::make_unique<MacAppDelegate>();
    m_delegate->setSession(&graph.diarySession());
    m_delegate->setCloudSync(&graph.cloudSync());
    m_delegate->setForceMainWindowOntoPrimaryScreen(graph.isTestMode());
    m_delegate->setShowDiary([this] { showDiary(); });
    m_delegate->setReminders(&m_dependencies->reminders());
    m_delegate->setDataOperations(&graph.dataOperations());
    m_dependencies->setShowBookWindow([this] {
        // Closed, minimized or behind other windows, the book comes to the front.
        m_delegate->ensureMainWindowVisible();
        bringForward(*m_window);
    });

    m_desktopSettings = std::make_unique<DesktopSettingsReader>(QDBusConnection::sessionBus(),
                                                                m_options.environment.arguments);

    QGuiApplication::setWindowIcon(applicationIcon());
    m_window = std::make_unique<DiaryBookWindow>();
    m_dependencies->setBookWindow(m_window.get());
    qApp->installEventFilter(new WindowFocusReturn(*m_window, this));
    m_window->setDelegate(m_delegate.get());
    m_window->setFrameDefaults(graph.defaults());
    m_menus = std::make_unique<VelmoraMenuCommands>(
        graph.commandRouter(), VelmoraMenuCommands::Actions{
                                   [this] { showDiary(); },
                                   [this] { exportDiary(); },
                                   [this] { importDiary(); },
                                   [this] { openPreferences(); },
                                   [this] { toggleFullScreen(); },
                                   [this] { m_delegate->applicationShouldTerminate(); },
                               });
    m_menus->populate(*m_window->menuBar());
    // The leather is most of the closed cover's first frame: drawn on a pool thread while the views
    // are made, it is ready when the cover first paints.
    MacClosedCover::prepareTextures(m_window->configuredContentSize(graph.isTestMode()),
                                    m_window->configuredPixelRatio(graph.isTestMode()));
    // While a backup, restore, import or export runs, no other can start from the menus.
    for (const QString &name : {QStringLiteral("Import…"), QStringLiteral("Export…")}) {
        if (QAction *action = m_menus->action(name))
            connect(&graph.dataOperations(), &DiaryDataOperationGuard::isBusyChanged, action,
                    [this, action](bool busy) {
                        // A locked diary keeps them off whatever ends meanwhile.
                        action->setEnabled(!busy && !(m_rootView && m_rootView->isLocked()));
                    });
    }

    // The unlock asks its questions in a dialog over the book window, which owns it.
    auto *prompt = new DiaryPasswordDialog(m_window.get());
    m_menus->reachFrom(*prompt);
    m_authenticator = std::make_shared<PamAuthenticator>(prompt->conversation());
    m_rootView = new VuzIvoduRootView(
        VuzIvoduRootView::LaunchState{graph.runtimeError(), graph.persistenceError(),
                                      graph.isTestMode(), graph.settingsStore(), m_authenticator,
                                      DiaryLockRetryDelays{}, graph.clock()},
        graph.commandRouter(), [this](QWidget *parent) { return makeBookView(parent); });
    prompt->keepClearOf([root = QPointer<VuzIvoduRootView>(m_rootView)] {
        return root ? root->lockCard()->headingArea() : QRect();
    });
    followLock(*m_menus, *m_rootView->lock());
    m_rootView->setReduceMotion(m_desktopSettings->reduceMotion());
    connect(m_desktopSettings.get(), &DesktopSettingsReader::reduceMotionChanged, m_rootView,
            &VuzIvoduRootView::setReduceMotion);
    m_rootView->setRestoreAction(
        [this](std::function<void(QString)> done) { restoreFromBackup(std::move(done)); });
    m_window->setCentralWidget(m_rootView);
    connect(m_rootView, &VuzIvoduRootView::appeared, this, &VelmoraProgram::mainWindowDidAppear);
    connect(m_desktopSettings.get(), &DesktopSettingsReader::prefersDarkChanged, this,
            [this] { applyAppearance(); });
    // An import can bring another appearance.
    connect(graph.settingsStore().get(), &UserDefaultsSettingsStore::appAppearanceChanged, this,
            [this] { applyAppearance(); });

    connectApplication();
    if (m_options.watchTerminationSignals)
        m_displayLoss =
            std::make_unique<DisplayLossWatcher>([this] { storeBeforeTheDisplayGoes(); });
    if (m_signals) {
        connect(m_signals.get(), &TerminationSignalWatcher::terminationRequested, this,
                [this](int signalNumber) {
                    qCInfo(lcApp) << "signal" << signalNumber << "asks to quit";
                    m_delegate->applicationShouldTerminate();
                });
    }
    if (m_busService)
        connect(m_busService.get(), &DiaryInstanceService::showRequested, this, [this] {
            qCInfo(lcApp) << "a second launch asks for the window";
            showDiary();
        });

    m_desktopSettings->start();
    m_delegate->adoptMainWindow(m_window.get());
    m_window->configure(graph.isTestMode());
    m_window->show();
    m_delegate->applicationDidFinishLaunching();
    return std::nullopt;
}

void VelmoraProgram::reportAlreadyOpen(const QString &message) {
    printLine(message);
    if (m_presentAlreadyOpen) {
        m_presentAlreadyOpen(message);
        return;
    }
    QMessageBox box(QMessageBox::Information, tr("Velmora"), message, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("diary-already-open"));
    showAlertTextAsWritten(box);
    // A logout or a termination ends the launch as a click on OK would.
    if (m_signals)
        connect(m_signals.get(), &TerminationSignalWatcher::terminationRequested, &box,
                &QMessageBox::reject);
    qCInfo(lcApp) << "the diary cannot be opened here; telling the person";
    box.exec();
}

void VelmoraProgram::storeBeforeTheDisplayGoes() {
    qCWarning(lcApp) << "the display went away; storing pending writing before the program ends";
    if (!drainPendingWritingNow(graph().diarySession().autosave(), lostDisplayDrainLimit))
        qCWarning(lcApp) << "pending writing could not be stored before the program ended";
}

void VelmoraProgram::connectApplication() {
    // Closing the book window hides it; reminders and a second launch can bring it back.
    QApplication::setQuitOnLastWindowClosed(false);
    // A question of the unlock still waiting would keep its worker, and so the program, alive.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        if (m_authenticator)
            m_authenticator->cancelPending();
    });
    auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!application)
        return;
    connect(application, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    m_delegate->applicationDidBecomeActive();
                else if (state == Qt::ApplicationInactive)
                    m_delegate->applicationDidResignActive();
            });
    connect(application, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager &manager) {
                SessionManagerRequest request(manager);
                m_delegate->commitData(request);
            });
}

QWidget *VelmoraProgram::makeBookView(QWidget *parent) {
    DiaryDependencyGraph &graph = this->graph();
    auto *book = new VuzIvoduPageWidget(graph.diarySession(), graph.pageSystem(),
                                        graph.commandRouter(), *graph.settingsStore(), {}, parent);
    book->controller().setRecall(*graph.handwriting(), graph.handwritingIndex());
    DiaryCloudSync *sync = &graph.cloudSync();
    book->setSyncScheduler([sync](std::chrono::nanoseconds after) { sync->schedule(after); });
    book->setInkLibrary(&dependencies().inkLibrary());
    connect(sync, &DiaryCloudSync::changeCountChanged, &book->controller(),
            &VuzIvoduPageView::handleCloudSyncChange);
    book->setSystemReduceMotion(m_desktopSettings->reduceMotion());
    book->setTheme(
        DiaryTheme{m_window->isDark() ? DiaryColorScheme::dark : DiaryColorScheme::light});
    connect(m_desktopSettings.get(), &DesktopSettingsReader::reduceMotionChanged, book,
            &VuzIvoduPageWidget::setSystemReduceMotion);
    connect(book, &VuzIvoduPageWidget::closeRequested, m_rootView, &VuzIvoduRootView::closeDiary);
    // The toolbar's gear opens the settings window, as Preferences does.
    connect(&book->controller(), &VuzIvoduPageView::settingsRequested, this,
            &VelmoraProgram::openPreferences);
    // Today's page is read while the cover swings open, and the swing shows it once it is.
    if (DiaryBookStage *stage = m_rootView ? m_rootView->stage() : nullptr) {
        connect(stage, &DiaryBookStage::bookWillAppear, &book->controller(),
                &VuzIvoduPageView::appear);
        connect(&book->controller(), &VuzIvoduPageView::pageLoaded, stage,
                &DiaryBookStage::refreshBookImage, Qt::QueuedConnection);
    }
    return book;
}

QCoro::Task<void> VelmoraProgram::restoreFromBackup(std::function<void(QString)> done) {
    const QPointer<VelmoraProgram> self(this);
    auto ticket = graph().dataOperations().tryBegin(DiaryDataOperation::restore);
    if (!ticket) {
        // Once a quit has begun the refusal goes without a word.
        done(graph().dataOperations().isQuitting() ? QString()
                                                   : DiaryDataOperationGuard::refusalText());
        co_return;
    }
    DiaryStoreRecovery recovery{m_plan.storeURL, graph().persistenceDirectory(), graph().clock(),
                                m_plan.storeClaims};
    const std::function<void()> replaced = graph().diaryReplacedHandler();
    QCoro::Task<QString> restoring = restoreFromNewestBackup(std::move(recovery));
    const QString line = co_await restoring;
    // Whatever came of it, marks made for the store that failed to open mean nothing now.
    replaced();
    if (self)
        done(line);
}

void VelmoraProgram::mainWindowDidAppear() {
    applyAppearance();
    m_dependencies->startBackgroundWork();
}

void VelmoraProgram::applyAppearance() {
    m_window->applyAppearance(graph().settingsStore()->appAppearance(),
                              m_desktopSettings->prefersDark());
    // The page, its cards and the settings window take the scheme, not only the menus.
    const DiaryTheme theme{m_window->isDark() ? DiaryColorScheme::dark : DiaryColorScheme::light};
    if (auto *book = qobject_cast<VuzIvoduPageWidget *>(m_rootView->bookView()))
        book->setTheme(theme);
    if (settingsTheme() == theme)
        return;
    setSettingsColorScheme(theme.colorScheme);
    // The settings window takes its colours as it is made: it is made again, in its place.
    if (m_settingsView) {
        const bool shown = m_settingsView->isVisible();
        const QRect frame = m_settingsView->geometry();
        delete m_settingsView.data();
        if (shown) {
            openPreferences();
            m_settingsView->setGeometry(frame);
        }
    }
}

void VelmoraProgram::showDiary() {
    m_delegate->presentMainWindow();
}

void VelmoraProgram::openPreferences() {
    if (m_rootView->isLocked())
        return;
    if (!m_settingsView) {
        DiaryDependencyGraph &graph = this->graph();
        MacDataSettingsServices data;
        data.snapshots = &graph.snapshotService();
        data.restore = &graph.restoreCoordinator();
        data.guard = &graph.dataOperations();
        data.persistenceDirectory = graph.persistenceDirectory();
        data.exportDiary = [this](std::function<void()> started, std::function<void()> finished) {
            exportDiary(std::move(started), std::move(finished));
        };
        data.chooseImportFile = [this] {
            QWidget *parent =
                m_settingsView ? static_cast<QWidget *>(m_settingsView.data()) : m_window.get();
            return DiaryTransferPanels::chooseImportFile(parent, *this->graph().defaults(),
                                                         this->graph().persistenceDirectory(),
                                                         quitReach());
        };
        data.transferContext = [this] { return transferContext(alertParent(true)); };
        m_settingsView = new MacSettingsView(
            *graph.settingsStore(),
            MacSettingsSections{
                &graph.cloudSync(),
                &m_dependencies->reminders(),
                {},
                data,
                MacSyncFolderServices{graph.syncFolderChoice(), graph.persistenceDirectory(), {}}},
            m_window.get());
        m_menus->reachFrom(*m_settingsView);
    }
    m_settingsView->show();
    m_settingsView->raise();
    m_settingsView->activateWindow();
}

void VelmoraProgram::toggleFullScreen() {
    if (m_window->isFullScreen())
        m_window->showNormal();
    else
        m_window->showFullScreen();
}

std::function<void(QWidget &)> VelmoraProgram::quitReach() {
    return [menus = QPointer<VelmoraMenuCommands>(m_menus.get())](QWidget &window) {
        if (menus)
            menus->reachQuitFrom(window);
    };
}

MessageBoxAlertPresenter::ParentWindow VelmoraProgram::alertParent(bool startedInSettings) {
    return [self = QPointer<VelmoraProgram>(this), startedInSettings]() -> QWidget * {
        if (!self)
            return nullptr;
        if (startedInSettings && self->m_settingsView && self->m_settingsView->isVisible())
            return self->m_settingsView.data();
        return self->m_window.get();
    };
}

DiaryTransferFlowContext
VelmoraProgram::transferContext(MessageBoxAlertPresenter::ParentWindow alertWindow) {
    DiaryDependencyGraph &graph = this->graph();
    DiaryTransferFlowContext context{
        graph.repository(),
        graph.settingsStore(),
        graph.clock(),
        std::make_shared<MessageBoxAlertPresenter>(std::move(alertWindow), quitReach()),
        DiaryOpenDayReloader(&graph.diarySession()),
        graph.diaryReplacedHandler(),
        diaryFontNames(),
        graph.storeURL()};
    context.dataOperations = &graph.dataOperations();
    if (m_lock.isHeld())
        context.lockFile = m_lock.lockFilePath();
    if (m_transferSeams)
        m_transferSeams(context);
    return context;
}

QCoro::Task<std::optional<DiaryDataOperationGuard::Ticket>>
VelmoraProgram::beginTransfer(DiaryDataOperation operation, const char *failedTitle,
                              MessageBoxAlertPresenter::ParentWindow alertWindow) {
    auto ticket = graph().dataOperations().tryBegin(operation);
    if (!ticket && !graph().dataOperations().isQuitting()) {
        const DiaryTransferFlowContext context = transferContext(std::move(alertWindow));
        QCoro::Task<void> refusal = presentTransferAlert(*context.alerts, failedTitle,
                                                         DiaryDataOperationGuard::refusalText());
        co_await refusal;
    }
    co_return ticket;
}

QCoro::Task<void> VelmoraProgram::exportDiary(std::function<void()> started,
                                              std::function<void()> finished) {
    if (m_rootView->isLocked())
        co_return;
    const QPointer<VelmoraProgram> self(this);
    const QDate today = graph().clock()->now().toLocalTime().date();
    const bool fromSettings = m_settingsView && m_settingsView->isActiveWindow();
    QWidget *parent = fromSettings ? static_cast<QWidget *>(m_settingsView.data()) : m_window.get();
    const auto chosen = DiaryTransferPanels::chooseExportFile(
        parent, today, *graph().defaults(), graph().persistenceDirectory(), quitReach());
    if (!self || !chosen)
        co_return;
    // Held until the flow ends: a restore or import meanwhile would change the diary under it.
    // Its alerts answer where the panel did.
    auto beginning = beginTransfer(DiaryDataOperation::exportDiary,
                                   QT_TRANSLATE_NOOP("DiaryTransferFlows", "Export Failed"),
                                   alertParent(fromSettings));
    const auto ticket = co_await beginning;
    if (!self || !ticket)
        co_return;
    if (started)
        started();
    QCoro::Task<void> flow =
        runExportFlow(*chosen, transferContext(alertParent(fromSettings)), std::move(finished));
    co_await flow;
}

QCoro::Task<void> VelmoraProgram::importDiary() {
    if (m_rootView->isLocked())
        co_return;
    const QPointer<VelmoraProgram> self(this);
    const auto chosen = DiaryTransferPanels::chooseImportFile(
        m_window.get(), *graph().defaults(), graph().persistenceDirectory(), quitReach());
    if (!self || !chosen)
        co_return;
    auto beginning =
        beginTransfer(DiaryDataOperation::import,
                      QT_TRANSLATE_NOOP("DiaryTransferFlows", "Import Failed"), alertParent(false));
    const auto ticket = co_await beginning;
    if (!self || !ticket)
        co_return;
    QCoro::Task<void> flow =
        runImportFlow(*chosen, transferContext(alertParent(false)),
                      graph().persistenceDirectory() + QStringLiteral("/Recovery/Quarantine"));
    co_await flow;
}

} // namespace velmora

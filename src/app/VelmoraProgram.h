#pragma once

#include "app/DesktopSettingsReader.h"
#include "app/DiaryBookWindow.h"
#include "app/DiaryInstanceGuard.h"
#include "app/DisplayLossWatcher.h"
#include "app/MacAppDelegate.h"
#include "app/MessageBoxAlertPresenter.h"
#include "app/TerminationSignalWatcher.h"
#include "app/VelmoraMenuCommands.h"
#include "app/VuzIvoduAppDependencies.h"
#include "app/VuzIvoduRootView.h"
#include "app/graph/DiaryDependencyGraph.h"
#include "backup/DiaryTransferFlows.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

namespace velmora {

class MacSettingsView;

// The whole program in one object, so that it can run in-process (the end-to-end tests) as well
// as from main(): the instance checks, the container, the delegate, the book window with its menus
// and root view, and the wiring of quit, close, focus, logout and termination signals.
class VelmoraProgram : public QObject {
    Q_OBJECT

public:
    struct Options {
        DiaryProcessEnvironment environment;
        // SIGTERM, SIGINT and SIGHUP quit through the drain, and a lost display stores pending
        // writing before the process ends (one watcher of each per process).
        bool watchTerminationSignals = true;
        // Live mode keeps one program per user on the session bus.
        bool useSessionBus = true;
    };

    // How long the program, its display gone, may take to store pending writing before it ends.
    static constexpr std::chrono::seconds lostDisplayDrainLimit{20};

    explicit VelmoraProgram(Options options, QObject *parent = nullptr);
    ~VelmoraProgram() override;

    // Starts the program: none while it runs, or the exit code when it must end at once (another
    // process has the diary, or a second launch handed over to the first).
    std::optional<int> start();

    // Tells a person who launched the program that the diary is open in another process, where
    // no running program could be asked to show itself; a dialog unless one is given here.
    void setAlreadyOpenPresenter(std::function<void(const QString &message)> present) {
        m_presentAlreadyOpen = std::move(present);
    }

    // Sets the seams of each export's and import's context, where tests act.
    void setTransferSeams(std::function<void(DiaryTransferFlowContext &)> seams) {
        m_transferSeams = std::move(seams);
    }

    VuzIvoduAppDependencies &dependencies() const { return *m_dependencies; }
    DiaryDependencyGraph &graph() const { return m_dependencies->graph(); }
    MacAppDelegate &delegate() const { return *m_delegate; }
    DiaryBookWindow &window() const { return *m_window; }
    VuzIvoduRootView &rootView() const { return *m_rootView; }
    VelmoraMenuCommands &menus() const { return *m_menus; }
    DesktopSettingsReader &desktopSettings() const { return *m_desktopSettings; }

    // Called each time the root view comes on screen.
    void mainWindowDidAppear();
    void showDiary();
    void applyAppearance();

private:
    // The open book: the page screen's view when it is built, with narrow references only.
    QWidget *makeBookView(QWidget *parent);
    QCoro::Task<void> restoreFromBackup(std::function<void(QString)> done);
    // The flows' context, their alerts over the window `alertWindow` answers as each comes.
    DiaryTransferFlowContext transferContext(MessageBoxAlertPresenter::ParentWindow alertWindow);
    // Gives a transfer's panel or alert, which holds every other key of the program, the quit.
    std::function<void(QWidget &)> quitReach();
    // The window the alerts of an operation belong to: for one started in the settings window,
    // that window while it is shown; otherwise the book window.
    MessageBoxAlertPresenter::ParentWindow alertParent(bool startedInSettings);
    // Asks where, then exports unless another data operation runs; `started` runs once the
    // export begins, `finished` when its flow has ended.
    QCoro::Task<void> exportDiary(std::function<void()> started = {},
                                  std::function<void()> finished = {});
    QCoro::Task<void> importDiary();
    // Takes the data-operation guard for an export or import; while another operation holds it,
    // says so in the flow's own failure alert (`failedTitle`) and answers none. Once a quit has
    // begun it answers none without a word.
    QCoro::Task<std::optional<DiaryDataOperationGuard::Ticket>>
    beginTransfer(DiaryDataOperation operation, const char *failedTitle,
                  MessageBoxAlertPresenter::ParentWindow alertWindow);
    void toggleFullScreen();
    // The settings window, made on first use and reloaded each time it is shown.
    void openPreferences();
    void connectApplication();
    // The diary cannot be opened here (another process that did not show itself has it, or its
    // lock cannot be taken): say so where the person looks, not only on standard error.
    void reportAlreadyOpen(const QString &message);
    // The display went away and Qt is about to end the process: the last chance to store.
    void storeBeforeTheDisplayGoes();

    Options m_options;
    DiaryLaunchPlan m_plan;
    DiaryInstanceLock m_lock;
    std::unique_ptr<DiaryInstanceService> m_busService;
    std::unique_ptr<VuzIvoduAppDependencies> m_dependencies;
    std::unique_ptr<MacAppDelegate> m_delegate;
    std::unique_ptr<DiaryBookWindow> m_window;
    VuzIvoduRootView *m_rootView = nullptr;
    std::unique_ptr<VelmoraMenuCommands> m_menus;
    QPointer<MacSettingsView> m_settingsView;
    std::unique_ptr<DesktopSettingsReader> m_desktopSettings;
    std::unique_ptr<TerminationSignalWatcher> m_signals;
    std::unique_ptr<DisplayLossWatcher> m_displayLoss;
    std::function<void(const QString &)> m_presentAlreadyOpen;
    std::function<void(DiaryTransferFlowContext &)> m_transferSeams;
    std::shared_ptr<SystemAuthenticator> m_authenticator;
};

} // namespace velmora

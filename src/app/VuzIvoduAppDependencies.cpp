#include "app/VuzIvoduAppDependencies.h"

#include "app/AppLogging.h"
#include "pages/MacTextKitLeafPaginator.h"

#include <QPointer>

namespace velmora {

namespace {

QCoro::Task<void> refreshReminders(QPointer<DiaryReminderCenter> reminders) {
    if (!reminders)
        co_return;
    co_await reminders->refreshAuthorization();
    if (reminders)
        co_await reminders->reschedule();
}

} // namespace

VuzIvoduAppDependencies::VuzIvoduAppDependencies(const DiaryLaunchPlan &plan, QDBusConnection bus,
                                                 std::shared_ptr<const Clock> clock,
                                                 QObject *parent)
    : QObject(parent)
    , m_graph(std::make_unique<DiaryDependencyGraph>(plan,
                                                     std::make_shared<MacTextKitLeafPaginator>())) {
    DiaryDependencyGraph &graph = *m_graph;
    if (!clock)
        clock = graph.clock();
    m_notifications =
        std::make_shared<FreedesktopNotificationCenter>(graph.persistenceDirectory(), bus, clock);
    m_notifications->setDesktopEntry(QStringLiteral("org.velmora.Velmora"));
    m_notifications->setIconName(QStringLiteral("org.velmora.Velmora"));
    // While the diary is in front its reminders are not shown.
    m_notifications->setInFrontProbe([this] { return isInFront(); });
    m_reminders = std::make_unique<DiaryReminderCenter>(graph.defaults(), m_notifications, clock);
    m_reminders->setContext([repository = graph.repository(), handwriting = *graph.handwriting(),
                             settings = graph.settingsStore(),
                             clock]() -> QCoro::Task<DiaryReminderContext> {
        const QString name = settings->userName();
        QCoro::Task<DiaryReminderContext> context = makeReminderContext(
            repository, handwriting, name, clock->now(), GregorianCalendar::autoupdatingCurrent());
        co_return co_await std::move(context);
    });
    m_reminders->setWritingProbe(
        [repository = graph.repository(), handwriting = *graph.handwriting()](DayKey day) {
            return dayHasWriting(std::move(day), handwriting, repository);
        });
    // A test run, and a run on a throw-away diary, must not take the user's notifications.
    m_remindersAreDelegate = graph.runtimeConfiguration() && !graph.isTestMode();
    if (m_remindersAreDelegate)
        m_notifications->setDelegate(m_reminders.get());

    const QPointer<DiaryReminderCenter> reminders = m_reminders.get();
    connect(&graph.cloudSync(), &DiaryCloudSync::changeCountChanged, this, [reminders] {
        if (reminders)
            reminders->reschedule();
    });
    // Every save, not only the program losing the focus: closing the book window stores the page
    // while Qt goes on calling the program active.
    connect(&graph.diarySession(), &DiarySessionStore::saveStateChanged, this,
            [reminders](const DiarySaveState &state) {
                if (reminders && state.kind == DiarySaveState::Kind::saved)
                    reminders->writingStored();
            });
    // A restore or an import may give today writing or take it away, and earlier years to the
    // coming days.
    connect(&graph.diarySession(), &DiarySessionStore::reloadedFromStore, this, [reminders] {
        if (reminders)
            reminders->reschedule();
    });
    connect(m_reminders.get(), &DiaryReminderCenter::openTodayRequestChanged, this,
            [this](const QDateTime &request) {
                if (!request.isValid())
                    return;
                if (m_showBookWindow)
                    m_showBookWindow();
                m_graph->commandRouter().send(DiaryCommand::newEntry);
            });
}

VuzIvoduAppDependencies::~VuzIvoduAppDependencies() = default;

bool VuzIvoduAppDependencies::isInFront() const {
    // Not the application's state: Qt goes on calling the program active once its focused window
    // was hidden, even after another program took the keyboard.
    const QWidget *window = m_bookWindow;
    return window && window->isVisible() && !window->isMinimized() && window->isActiveWindow();
}

void VuzIvoduAppDependencies::startBackgroundWork() {
    if (m_startedBackgroundWork)
        return;
    m_startedBackgroundWork = true;
    m_graph->cloudSync().start();
    refreshReminders(m_reminders.get());
    // Recognition runs on the index's own worker; the window never waits for it.
    m_graph->handwritingIndex().refreshAll();
}

MacInkLibrary &VuzIvoduAppDependencies::inkLibrary() {
    if (!m_inkLibrary)
        m_inkLibrary = std::make_unique<MacInkLibrary>(*m_graph->handwriting());
    return *m_inkLibrary;
}

} // namespace velmora

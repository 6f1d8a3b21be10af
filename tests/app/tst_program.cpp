#include "app/VelmoraProgram.h"

#include "app/DiaryBookStage.h"
#include "app/DiaryTransferPanels.h"
#include "backup/DiarySnapshotService.h"
#include "backup/DiaryTransferService.h"
#include "book/MacRuledTextView.h"
#include "pagescreen/PageLoadingLeaf.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "settings/MacDataSettingsSection.h"
#include "settings/MacSettingsKit.h"
#include "settings/MacSettingsView.h"
#include "support/GuiTestMain.h"
#include "support/ScriptedAlerts.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

// While set, the store whose files this process still has open are listed when the diary's lock
// file is removed.
QByteArray watchedStore;
std::optional<QStringList> storeFilesOpenAtTheLocksEnd;

} // namespace

// Stands in for the C library's for every caller in the process.
extern "C" int unlink(const char *path) {
    if (!watchedStore.isEmpty() && QByteArray(path).endsWith("/Velmora.lock")) {
        storeFilesOpenAtTheLocksEnd.emplace();
        const QDir descriptors(QStringLiteral("/proc/self/fd"));
        for (const QFileInfo &fd : descriptors.entryInfoList(QDir::AllEntries | QDir::System))
            if (QFile::encodeName(fd.symLinkTarget()).startsWith(watchedStore))
                storeFilesOpenAtTheLocksEnd->append(fd.symLinkTarget());
    }
    return int(::syscall(SYS_unlink, path));
}

namespace {

// The whole program, in this process, over a test store in a temporary folder.
struct ProgramFixture {
    QTemporaryDir folder;
    std::unique_ptr<VelmoraProgram> program;
    int terminations = 0;

    explicit ProgramFixture(bool watchSignals = false) {
        DiaryProcessEnvironment environment;
        environment.arguments = {QStringLiteral("velmora"),
                                 QStringLiteral("--velmora-test-mode"),
                                 QStringLiteral("--velmora-store-url"),
                                 folder.filePath(QStringLiteral("diary/store.sqlite")),
                                 QStringLiteral("--velmora-defaults-suite"),
                                 QStringLiteral("ProgramTests")};
        environment.applicationSupportDirectory = folder.filePath(QStringLiteral("support"));
        environment.temporaryDirectory = folder.path();
        program = std::make_unique<VelmoraProgram>(
            VelmoraProgram::Options{environment, watchSignals, false});
    }
    bool start() {
        if (program->start())
            return false;
        program->delegate().setTerminate([this] { ++terminations; });
        return true;
    }
    DiarySessionStore &session() const { return program->graph().diarySession(); }
    // Stores a page of these words on the selected day, as its first save would.
    DiaryDraftDTO storeOnSelectedDay(const QString &content) const {
        DiaryDraftDTO written;
        written.id = QUuid::createUuid();
        written.dayKey = session().selectedDay();
        written.content = content;
        written.fontName = QStringLiteral("Georgia");
        written.bodyPointSize = 16;
        written.originTimeZone = QStringLiteral("UTC");
        written.createdAt = written.updatedAt = QDateTime::currentDateTimeUtc();
        test::waitFor(program->graph().repository()->save(written, std::nullopt, 1));
        return written;
    }
    QString stored() const {
        const auto entry =
            test::waitFor(program->graph().repository()->entry(session().selectedDay()));
        return entry ? entry->content : QString();
    }
};

// Answers the file panel with `chosen` once it has taken that name, then the alert, keeping its
// text: both are modal, and answered from inside their loops.
struct ModalAnswers {
    QTimer timer;
    QString alertText;

    explicit ModalAnswers(const QString &chosen) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this, chosen] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *panel = qobject_cast<QFileDialog *>(modal)) {
                panel->selectFile(chosen);
                if (QFileInfo(panel->selectedFiles().value(0)) == QFileInfo(chosen))
                    static_cast<QDialog *>(panel)->accept();
            } else if (auto *alert = qobject_cast<QMessageBox *>(modal)) {
                alertText = alert->text() + QLatin1Char('|') + alert->informativeText();
                alert->buttons().constFirst()->click();
            }
        });
        timer.start();
    }
};

} // namespace

class ProgramTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsWithTheBookWindow() {
        ProgramFixture f;
        QVERIFY(f.start());
        QVERIFY(QTest::qWaitForWindowExposed(&f.program->window()));
        QCOMPARE(f.program->window().windowTitle(), QStringLiteral("Velmora"));
        QVERIFY(f.program->rootView().showsBook());
        QVERIFY(f.program->rootView().findChild<QWidget *>(VuzIvoduRootView::testModeIdentifier));
        QVERIFY(waitUntil([&] { return f.program->dependencies().startedBackgroundWork(); }));
        QVERIFY(!QApplication::quitOnLastWindowClosed());
        // Its reminders wait while the book window is in front, not while it is hidden.
        QVERIFY(QTest::qWaitForWindowActive(&f.program->window()));
        QVERIFY(f.program->dependencies().isInFront());
        f.program->window().hide();
        QVERIFY(!f.program->dependencies().isInFront());
        f.program->window().show();
        // The ink library is made on first use, once.
        VuzIvoduAppDependencies &container = f.program->dependencies();
        QVERIFY(!container.hasInkLibrary());
        MacInkLibrary &ink = container.inkLibrary();
        QCOMPARE(&container.inkLibrary(), &ink);
        QCOMPARE(ink.store().directory(), f.program->graph().handwriting()->directory());
        // Taskbars show the program's own icon, not a generic one.
        QVERIFY(!QGuiApplication::windowIcon().pixmap(48).isNull());
    }

    void startLogsOnlyWarnings_data() {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<bool>("chatty");
        QTest::newRow("by default") << QString() << false;
        QTest::newRow("switched on") << QStringLiteral("velmora.*=true") << true;
    }

    // Information and debugging lines stay off unless the logging rules ask for them; warnings
    // show either way.
    void startLogsOnlyWarnings() {
        QFETCH(QString, rules);
        QFETCH(bool, chatty);
        // Messages come from worker threads too.
        static QMutex mutex;
        static QStringList chattyLines;
        chattyLines.clear();
        QLoggingCategory::setFilterRules(rules);
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                const QString category = QString::fromUtf8(context.category);
                if ((type == QtDebugMsg || type == QtInfoMsg) &&
                    category.startsWith(QLatin1String("velmora."))) {
                    const QMutexLocker locker(&mutex);
                    chattyLines.append(category + QStringLiteral(": ") + message);
                }
            });
        {
            ProgramFixture f;
            QVERIFY(f.start());
            QVERIFY(QTest::qWaitForWindowExposed(&f.program->window()));
            QVERIFY(waitUntil([&] { return f.program->dependencies().startedBackgroundWork(); }));
            f.program->menus().action(QStringLiteral("Preferences…"))->trigger();
            f.program->menus().action(QStringLiteral("Quit"))->trigger();
            QVERIFY(waitUntil([&] { return f.terminations == 1; }));
        }
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QString());
        const QMutexLocker locker(&mutex);
        QVERIFY2(chattyLines.isEmpty() != chatty, qPrintable(chattyLines.join(u'\n')));
    }

    void quitFromTheMenuSavesTypingFirst() {
        ProgramFixture f;
        QVERIFY(f.start());
        test::waitFor(f.session().selectToday());
        f.session().updateDraft(QStringLiteral("Typed just before quitting"));
        f.program->menus().action(QStringLiteral("Quit"))->trigger();
        QVERIFY(waitUntil([&] { return f.terminations == 1; }));
        QCOMPARE(f.stored(), QStringLiteral("Typed just before quitting"));
    }

    void terminationSignalDrainsLikeQuit_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        // A terminal closed, or the end of a session after its SIGTERM.
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void terminationSignalDrainsLikeQuit() {
        QFETCH(int, signalNumber);
        ProgramFixture f(true);
        QVERIFY(f.start());
        test::waitFor(f.session().selectToday());
        f.session().updateDraft(QStringLiteral("Written when the signal came"));
        ::raise(signalNumber);
        QVERIFY(waitUntil([&] { return f.terminations == 1; }));
        QCOMPARE(f.stored(), QStringLiteral("Written when the signal came"));
    }

    // Whatever is on its way to the store as the program goes, the store's files are closed
    // before its claim and its lock file are let go, so that a launch waiting for the diary never
    // opens it while this process still has it open.
    void theStoreClosesBeforeTheLockGoes_data() {
        QTest::addColumn<QString>("work");
        for (const char *work :
             {"a page on its way", "a save on its way", "a task holding the store"})
            QTest::newRow(work) << QString::fromLatin1(work);
    }
    void theStoreClosesBeforeTheLockGoes() {
        QFETCH(QString, work);
        ProgramFixture f;
        QVERIFY(f.start());
        test::waitFor(f.session().selectToday());
        f.program->menus().action(QStringLiteral("Quit"))->trigger();
        QVERIFY(waitUntil([&] { return f.terminations == 1; }));
        // Begun on the loop's last turn: nothing resumes it before the program goes.
        std::optional<QCoro::Task<void>> page;
        std::optional<QCoro::Task<bool>> save;
        std::shared_ptr<DiaryRepository> holding;
        if (work == u"a page on its way") {
            page.emplace(f.session().changeDay(DayKey::fromCivilDate(2001, 2, 3)));
        } else if (work == u"a save on its way") {
            f.session().updateDraft(QStringLiteral("Typed as the program went"));
            save.emplace(f.session().flushPendingWriting());
        } else if (work == u"a task holding the store") {
            holding = f.program->graph().repository();
        }
        watchedStore = QFile::encodeName(f.program->graph().storeURL());
        storeFilesOpenAtTheLocksEnd.reset();
        f.program.reset();
        watchedStore.clear();
        QVERIFY(storeFilesOpenAtTheLocksEnd);
        QCOMPARE(*storeFilesOpenAtTheLocksEnd, QStringList());
        // The work left behind ends without its program.
        QCoreApplication::processEvents();
    }

    void tappedReminderOpensTodaysPage() {
        ProgramFixture f;
        QVERIFY(f.start());
        QVERIFY(QTest::qWaitForWindowExposed(&f.program->window()));
        QTest::qWait(600);
        f.program->window().hide();
        QSignalSpy opens(&f.program->rootView(), &VuzIvoduRootView::openDiaryRequested);
        test::waitFor(f.program->dependencies().reminders().didReceiveNotificationResponse(
            QStringLiteral("velmora-reminder-2024-03-01")));
        QVERIFY(f.program->window().isVisible());
        QCOMPARE(opens.size(), 1);
        QCOMPARE(f.program->graph().commandRouter().lastEvent()->command, DiaryCommand::newEntry);
    }

    void reminderBringsTheWindowForward_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("closed") << QStringLiteral("closed");
        QTest::newRow("minimized") << QStringLiteral("minimized");
        QTest::newRow("behind another window") << QStringLiteral("behind");
    }

    void reminderBringsTheWindowForward() {
        QFETCH(QString, how);
        ProgramFixture f;
        QVERIFY(f.start());
        DiaryBookWindow &window = f.program->window();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Past the launch's own check that a window shows.
        QTest::qWait(600);
        QWidget other;
        if (how == u"closed") {
            window.hide();
        } else if (how == u"minimized") {
            window.showMinimized();
            QVERIFY(waitUntil([&] { return window.isMinimized(); }));
        } else {
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
        }
        test::waitFor(f.program->dependencies().reminders().didReceiveNotificationResponse(
            QStringLiteral("velmora-reminder-2024-03-01")));
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(f.program->graph().commandRouter().lastEvent()->command, DiaryCommand::newEntry);
    }

    void remindersAnswerNotificationsOnlyForTheRealDiary_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("hasApplicationSupport");
        QTest::addColumn<bool>("delegate");
        QTest::newRow("live") << QStringList{QStringLiteral("velmora")} << true << true;
        QTest::newRow("test mode") << QStringList{QStringLiteral("velmora"),
                                                  QStringLiteral("--velmora-test-mode"),
                                                  QStringLiteral("--velmora-store-url"),
                                                  QStringLiteral("diary/none.sqlite"),
                                                  QStringLiteral("--velmora-defaults-suite"),
                                                  QStringLiteral("Reminders")}
                                   << true << false;
        QTest::newRow("no configuration")
            << QStringList{QStringLiteral("velmora")} << false << false;
    }

    void remindersAnswerNotificationsOnlyForTheRealDiary() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, hasApplicationSupport);
        QFETCH(bool, delegate);
        QTemporaryDir folder;
        DiaryProcessEnvironment environment;
        // A store named in the arguments lies in the test's own folder.
        for (QString &argument : arguments)
            if (argument.endsWith(QStringLiteral(".sqlite")))
                argument = folder.filePath(argument);
        environment.arguments = arguments;
        if (hasApplicationSupport)
            environment.applicationSupportDirectory = folder.filePath(QStringLiteral("support"));
        environment.temporaryDirectory = folder.path();
        VuzIvoduAppDependencies container(DiaryLaunchPlan::make(environment),
                                          QDBusConnection(QStringLiteral("velmora-none")));
        QCOMPARE(container.remindersAreNotificationDelegate(), delegate);
    }

    void newEntryBringsTheClosedWindowBack() {
        ProgramFixture f;
        QVERIFY(f.start());
        QVERIFY(QTest::qWaitForWindowExposed(&f.program->window()));
        // Past the launch's own check that a window shows.
        QTest::qWait(600);
        QSignalSpy closes(&f.program->delegate(), &MacAppDelegate::closeFinished);
        f.program->window().close();
        QVERIFY(waitUntil([&] { return closes.size() == 1; }));
        QCOMPARE(closes.first().first().toBool(), true);
        QVERIFY(!f.program->window().isVisible());
        QCOMPARE(f.terminations, 0);

        QSignalSpy opens(&f.program->rootView(), &VuzIvoduRootView::openDiaryRequested);
        f.program->menus().action(QStringLiteral("New Entry"))->trigger();
        QVERIFY(f.program->window().isVisible());
        QCOMPARE(opens.size(), 1);
        QTest::qWait(20);
        QCOMPARE(opens.size(), 1);
    }

    void preferencesOpensOneSettingsWindow() {
        ProgramFixture f;
        QVERIFY(f.start());
        QAction *preferences = f.program->menus().action(QStringLiteral("Preferences…"));
        QCOMPARE(preferences->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
        f.program->graph().settingsStore()->setUserName(QStringLiteral("Ada"));
        preferences->trigger();
        preferences->trigger();
        const auto windows = f.program->window().findChildren<MacSettingsView *>();
        QCOMPARE(windows.size(), 1);
        QVERIFY(windows.first()->isVisible());
        QCOMPARE(windows.first()->nameField()->text(), QStringLiteral("Ada"));

        // One guard serves the menus and the settings window: while a restore runs, the menu's
        // import is off and the window's backup is refused.
        MacSettingsView *view = windows.first();
        QVERIFY(view->reminderSection() && view->syncSection() && view->dataSection());
        QAction *import = f.program->menus().action(QStringLiteral("Import…"));
        auto ticket = f.program->graph().dataOperations().tryBegin(DiaryDataOperation::restore);
        QVERIFY(ticket);
        QVERIFY(!import->isEnabled());
        MacDataSettingsController &data = view->dataSection()->controller();
        test::waitFor(data.backUpNow());
        QCOMPARE(data.dataOperationError().value_or(QString()),
                 DiaryDataOperationGuard::refusalText());
        QVERIFY(data.backupDates().isEmpty());
        ticket->release();
        QVERIFY(import->isEnabled());
        data.dismissError();
        test::waitFor(data.backUpNow());
        QCOMPARE(data.backupDates().size(), 1);
    }

    // "appAppearance" dark reaches the page, its cards and the settings window, not only the
    // menus; a change (an import bringing another appearance) follows at once.
    void theAppearanceReachesThePageAndTheSettings() {
        ProgramFixture f;
        QVERIFY(f.start());
        QVERIFY(QTest::qWaitForWindowExposed(&f.program->window()));
        f.program->graph().settingsStore()->setAppAppearance(QStringLiteral("dark"));
        f.program->rootView().openDiary();
        QVERIFY(waitUntil([&] { return f.program->rootView().bookView() != nullptr; }));
        auto *book = qobject_cast<VuzIvoduPageWidget *>(f.program->rootView().bookView());
        QVERIFY(book);
        QVERIFY(f.program->window().isDark());
        QCOMPARE(book->editor()->theme().colorScheme, DiaryColorScheme::dark);
        f.program->menus().action(QStringLiteral("Preferences…"))->trigger();
        const DiaryTheme dark{DiaryColorScheme::dark};
        QCOMPARE(settingsTheme(), dark);
        auto windows = f.program->window().findChildren<MacSettingsView *>();
        QCOMPARE(windows.size(), 1);
        QCOMPARE(windows.first()->palette().color(QPalette::Window).rgb(), dark.paper().rgb());

        f.program->graph().settingsStore()->setAppAppearance(QStringLiteral("light"));
        QCOMPARE(book->editor()->theme().colorScheme, DiaryColorScheme::light);
        windows = f.program->window().findChildren<MacSettingsView *>();
        QCOMPARE(windows.size(), 1);
        QVERIFY(windows.first()->isVisible());
        QCOMPARE(windows.first()->palette().color(QPalette::Window).rgb(),
                 DiaryTheme{}.paper().rgb());
    }

    // Today's page is read while the cover swings open: when the pages are revealed they show
    // today's writing, and no spinner stands in its place.
    void todaysPageIsReadWhileTheCoverSwings() {
        ProgramFixture f;
        QVERIFY(f.start());
        QVERIFY(QTest::qWaitForWindowExposed(&f.program->window()));
        const DiaryDraftDTO written = f.storeOnSelectedDay(QStringLiteral("Written this morning"));
        DiaryBookStage *stage = f.program->rootView().stage();
        QVERIFY(stage);
        std::optional<QString> shownWhenOpen;
        QObject context;
        connect(&stage->transition(), &DiaryCoverTransition::phaseChanged, &context,
                [&](DiaryCoverTransition::Phase phase) {
                    if (phase != DiaryCoverTransition::Phase::open)
                        return;
                    const auto leaf = f.program->graph().pageSystem().selectedDescriptor();
                    shownWhenOpen = leaf ? leaf->content : QStringLiteral("(no leaf)");
                });
        f.program->rootView().openDiary();
        QVERIFY(waitUntil([&] { return shownWhenOpen.has_value(); }));
        QCOMPARE(*shownWhenOpen, written.content);
        QWidget *book = f.program->rootView().bookView();
        QVERIFY(book && book->isVisible());
        const auto spinners = book->findChildren<PageLoadingLeaf *>();
        QVERIFY(!spinners.isEmpty());
        for (const PageLoadingLeaf *spinner : spinners)
            QVERIFY(!spinner->isVisible());
    }

    // An export waits for the guard like the other data operations: while a restore runs, the
    // menu's Export… is off, and an export asked for from the settings is refused and writes
    // nothing.
    void exportWaitsForTheGuard() {
        ProgramFixture f;
        QVERIFY(f.start());
        f.program->menus().action(QStringLiteral("Preferences…"))->trigger();
        MacSettingsView *view = f.program->window().findChild<MacSettingsView *>();
        QVERIFY(view && view->dataSection());
        QAction *exporting = f.program->menus().action(QStringLiteral("Export…"));
        QVERIFY(exporting);
        auto ticket = f.program->graph().dataOperations().tryBegin(DiaryDataOperation::restore);
        QVERIFY(ticket);
        QVERIFY(!exporting->isEnabled());

        const QString destination = f.folder.filePath(QStringLiteral("Export.json"));
        ModalAnswers answers(destination);
        view->dataSection()->controller().exportDiary();
        QVERIFY(waitUntil([&] { return !answers.alertText.isEmpty(); }));
        QCOMPARE(answers.alertText,
                 QStringLiteral("Export Failed|") + DiaryDataOperationGuard::refusalText());
        QVERIFY(!QFileInfo::exists(destination));
        ticket->release();
        QVERIFY(exporting->isEnabled());
    }

    // File ▸ Import… refuses the diary's own files unopened: closing a descriptor of one would drop
    // a lock the program holds on it.
    void importRefusesTheDiarysOwnFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("the store") << QStringLiteral("store.sqlite");
        QTest::newRow("the lock file") << QStringLiteral("Velmora.lock");
    }

    void importRefusesTheDiarysOwnFiles() {
        QFETCH(QString, name);
        ProgramFixture f;
        QVERIFY(f.start());
        const QString picked = f.folder.filePath(QStringLiteral("diary/") + name);
        QVERIFY(QFileInfo::exists(picked));
        ModalAnswers answers(picked);
        f.program->menus().action(QStringLiteral("Import…"))->trigger();
        QVERIFY(waitUntil([&] { return !answers.alertText.isEmpty(); }));
        QCOMPARE(answers.alertText,
                 QStringLiteral("Import Failed|“%1” is the diary’s own store, not an "
                                "export. Choose a Velmora export file.")
                     .arg(name));
    }

    // Once a quit has begun no backup, restore, export or import starts: a file chosen in a
    // transfer's panel, or an answer to an import's question, given meanwhile counts as Cancel and
    // says nothing. Ctrl+Q quits from either panel. The program then ends cleanly.
    void nothingStartsOnceAQuitHasBegun_data() {
        QTest::addColumn<QString>("item");
        // "panel": Ctrl+Q in the item's panel; else the title of the question answered once the
        // quit has begun, or none for the settings window's buttons, used after it.
        QTest::addColumn<QString>("quitAt");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<bool>("signal");
        const QString importing = QStringLiteral("Import Diary Data?");
        const QString replacing = QStringLiteral("Replace the Entire Diary?");
        const auto row = [](const char *name, const char *item, const QString &quitAt,
                            const QList<int> &answers, bool signal) {
            QTest::newRow(name) << QString::fromUtf8(item) << quitAt << answers << signal;
        };
        row("Ctrl+Q in the export panel", "Export…", QStringLiteral("panel"), {}, false);
        row("Ctrl+Q in the import panel", "Import…", QStringLiteral("panel"), {}, false);
        row("merge, Quit", "Import…", importing, {0}, false);
        row("merge, SIGTERM", "Import…", importing, {0}, true);
        row("replace, Quit", "Import…", replacing, {2, 0}, false);
        row("Back Up Now", "backup", QString(), {}, false);
        row("Restore", "restore", QString(), {}, true);
    }

    void nothingStartsOnceAQuitHasBegun() {
        QFETCH(QString, item);
        QFETCH(QString, quitAt);
        QFETCH(QList<int>, answers);
        QFETCH(bool, signal);
        ProgramFixture f(signal);
        QVERIFY(f.start());
        QVERIFY(QTest::qWaitForWindowActive(&f.program->window()));
        DiaryDependencyGraph &graph = f.program->graph();
        const DiarySnapshotDTO empty = test::waitFor(graph.repository()->snapshot());
        test::waitFor(f.session().selectToday());
        f.storeOnSelectedDay(QStringLiteral("Kept words"));
        // The words in an export file and in a backup, then gone: an import or a restore that
        // started would bring them back.
        const QString file = f.folder.filePath(QStringLiteral("Imported.json"));
        test::waitFor(DiaryTransferService(graph.repository(), graph.settingsStore(), graph.clock())
                          .exportDiary(file));
        const QString backups = graph.persistenceDirectory() + QStringLiteral("/Backups");
        test::waitFor(graph.snapshotService().createSnapshot(backups));
        test::waitFor(graph.repository()->replaceAll(empty));

        const auto quit = [&] {
            if (!signal)
                f.program->menus().action(QStringLiteral("Quit"))->trigger();
            else
                ::raise(SIGTERM);
            QVERIFY(waitUntil([&] {
                return f.program->delegate().terminationInProgress() || f.terminations > 0;
            }));
        };
        const auto alerts = std::make_shared<ScriptedAlerts>();
        alerts->answers = answers;
        alerts->beforeAnswer = [&](const DiaryAlert &alert) {
            if (alert.title == quitAt)
                quit();
        };
        f.program->setTransferSeams(
            [alerts](DiaryTransferFlowContext &context) { context.alerts = alerts; });
        const QString exported = f.folder.filePath(QStringLiteral("Exported.json"));
        if (item.endsWith(u'…')) {
            // The panel is modal: it is answered from inside its loop once its setup has given
            // its name field the keyboard, and then closed whatever came of it.
            QTimer panel;
            panel.setInterval(20);
            bool quitFromThePanel = false;
            connect(&panel, &QTimer::timeout, [&] {
                auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                auto *name = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                                    : nullptr;
                if (!name || !name->hasFocus())
                    return;
                panel.stop();
                if (quitAt == u"panel") {
                    QTest::keyClick(name, Qt::Key_Q, Qt::ControlModifier);
                    quitFromThePanel = waitUntil([&] { return f.terminations == 1; });
                }
                name->setText(item == u"Export…" ? exported : file);
                QTest::keyClick(name, Qt::Key_Return);
                if (dialog->isVisible())
                    dialog->reject();
            });
            panel.start();
            f.program->menus().action(item)->trigger();
            QVERIFY(!panel.isActive());
            QCOMPARE(quitFromThePanel, quitAt == u"panel");
            // The panel took the file.
            QCOMPARE(graph.defaults()->stringValue(item == u"Export…"
                                                       ? DiaryTransferPanels::exportFolderKey
                                                       : DiaryTransferPanels::importFolderKey),
                     std::optional(f.folder.path()));
        } else {
            f.program->menus().action(QStringLiteral("Preferences…"))->trigger();
            auto *view = f.program->window().findChild<MacSettingsView *>();
            QVERIFY(view && view->dataSection());
            MacDataSettingsController &data = view->dataSection()->controller();
            quit();
            test::waitFor(item == u"backup" ? data.backUpNow() : data.restoreLatestBackup());
            QCOMPARE(data.dataOperationError(), std::nullopt);
        }
        QVERIFY(waitUntil([&] { return !graph.dataOperations().isBusy(); }));
        QVERIFY(waitUntil([&] { return f.terminations == 1; }));
        // Only the questions up to the one answered during the quit, and nothing after it.
        QStringList asked;
        for (const DiaryAlert &alert : alerts->shown)
            asked.append(alert.title);
        QCOMPARE(asked.isEmpty() ? QString() : asked.last(),
                 quitAt == u"panel" ? QString() : quitAt);
        QCOMPARE(f.stored(), QString());
        QVERIFY(!QFileInfo::exists(exported));
        QVERIFY(!QFileInfo::exists(graph.persistenceDirectory() +
                                   QStringLiteral("/Recovery/Quarantine")));
        QCOMPARE(DiarySnapshotService::listSnapshots(backups).size(), 1);
        // As main() ends once the quit is granted.
        f.program.reset();
        QCoreApplication::processEvents();
    }

    // The load-failure card's restore shares the guard too: refused while another operation
    // runs, with the refusal on the card and the unopenable store left where it was. Let run, it
    // restores under the diary's lock: the restored store is this process's.
    void loadFailureRestoreWaitsForTheGuard() {
        ProgramFixture f;
        const QString store = f.folder.filePath(QStringLiteral("diary/store.sqlite"));
        QVERIFY(QDir().mkpath(f.folder.filePath(QStringLiteral("diary/Backups"))));
        DiarySnapshotService::writePackage(
            {}, f.folder.filePath(QStringLiteral("diary/Backups/Empty.velmorabackup")),
            QDateTime::currentDateTimeUtc());
        QFile broken(store);
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(QByteArray("this is not a database at all ").repeated(200));
        broken.close();
        QVERIFY(f.start());
        QVERIFY(f.program->graph().persistenceError());
        auto *restore =
            f.program->rootView().findChild<QAbstractButton *>(QStringLiteral("restoreFromBackup"));
        auto *line = f.program->rootView().findChild<QLabel *>(QStringLiteral("recoveryMessage"));
        QVERIFY(restore && line);

        auto ticket = f.program->graph().dataOperations().tryBegin(DiaryDataOperation::import);
        QVERIFY(ticket);
        restore->click();
        QVERIFY(waitUntil([&] { return line->isVisibleTo(&f.program->rootView()); }));
        QCOMPARE(line->text(), DiaryDataOperationGuard::refusalText());
        QVERIFY(QFileInfo::exists(store));
        ticket->release();

        restore->click();
        QVERIFY(waitUntil([&] { return line->text() != DiaryDataOperationGuard::refusalText(); }));
        QCOMPARE(line->text(), QStringLiteral("Restored 0 entries. Reopen the diary to continue."));
        QCOMPARE(FileClaims().claim(store), FileClaims::Outcome::heldElsewhere);
        QVERIFY(!f.program->graph().dataOperations().isBusy());

        // Once a quit has begun it starts nothing, and says nothing of it.
        f.program->menus().action(QStringLiteral("Quit"))->trigger();
        restore->click();
        QVERIFY(waitUntil([&] { return line->text().isEmpty(); }));
        QVERIFY(waitUntil([&] { return f.terminations == 1; }));
    }
};

VELMORA_GUI_TEST_MAIN(ProgramTests)
#include "tst_program.moc"

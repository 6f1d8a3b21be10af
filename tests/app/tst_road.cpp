#include "app/DiaryBookStage.h"
#include "app/DiaryLockCard.h"
#include "app/VelmoraProgram.h"
#include "backup/DiaryRestoreCoordinator.h"

#include "book/DiarySavedNote.h"
#include "book/MacReadingLeaf.h"
#include "book/MacRuledTextView.h"
#include "book/PaperSealRitualView.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "pagescreen/MacPageNotice.h"
#include "pagescreen/MacPageTools.h"
#include "pagescreen/PageOverlayMotion.h"
#include "pagescreen/VuzIvoduPageArea.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "pagescreen/VuzIvoduRecallCards.h"
#include "platform/UserDefaults.h"
#include "recall/views/CalendarView.h"
#include "recall/views/MacCalendarCard.h"
#include "recall/views/MacSearchCard.h"
#include "settings/MacDataSettingsSection.h"
#include "settings/MacICloudSettingsSection.h"
#include "settings/MacSettingsView.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryPersistenceStack.h"
#include "store/Sqlite.h"
#include "support/KeptDiary.h"
#include "support/PrivateSessionBus.h"
#include "support/PrivateXServer.h"
#include "support/ProgramInWindow.h"
#include "support/ProgramRun.h"
#include "support/RuledLines.h"
#include "support/Screenshots.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTextDocumentFragment>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <limits>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

// As long as waitUntil waits: a loaded machine can take seconds to show what a key did.
constexpr int shownWithin = int(eventually.count());

// Where the keyboard is, for a wait for it that ran out: the window system may never have given
// the window the keyboard, or a widget of the program kept it.
QByteArray whereTheKeyboardIs() {
    const auto named = [](const QObject *object) {
        return object ? QStringLiteral("%1 \"%2\"")
                            .arg(QString::fromLatin1(object->metaObject()->className()),
                                 object->objectName())
                      : QStringLiteral("nothing");
    };
    return QStringLiteral("the active window is %1, the focus window %2, the focus widget %3")
        .arg(named(QApplication::activeWindow()), named(QGuiApplication::focusWindow()),
             named(QApplication::focusWidget()))
        .toUtf8();
}

// The window has the keyboard, as the window system says once it has given it: on a loaded
// machine that can take far longer than QTest's five seconds. Qt also counts a window active while
// the window it stands over has the keyboard, the settings window while the book has it: here only
// the window's own keyboard counts.
bool becomesActive(QWidget *window) {
    if (window && QTest::qWaitForWindowActive(window, shownWithin) &&
        waitUntil([&] { return QGuiApplication::focusWindow() == window->windowHandle(); }))
        return true;
    qWarning("Not active within %d ms: %s", shownWithin, whereTheKeyboardIs().constData());
    return false;
}

// Settings of their own, gone with this object: nothing an earlier run, or another test on the
// machine, left in a shared suite steers the road.
struct OwnSettings {
    const QString suite = QStringLiteral("Road-") + QUuid::createUuid().toString(QUuid::Id128);
    ~OwnSettings() { QFile::remove(UserDefaults::suiteFilePath(suite)); }
};

// The road a person walks, on the real program in this process, through its real window.
// Nothing here calls into the page's controller.
class Road : public ProgramInWindow {
public:
    // Settings of its own unless given a suite: a road that reopens an earlier page must not send
    // another road, here or in a test run beside this one, there too.
    explicit Road(QSize windowSize, const QStringList &arguments = {},
                  const QString &settingsSuite = {})
        : m_size(windowSize) {
        create(settingsSuite.isEmpty() ? m_settings.suite : settingsSuite, arguments);
    }

    ~Road() {
        // Cards and windows the road opened go before the program they belong to, and the
        // program, which writes its settings as it goes, before them.
        for (QWidget *window : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox *>(window))
                window->close();
        program.reset();
    }

    // Running, a quit only counted.
    bool launch() {
        if (program->start())
            return false;
        program->delegate().setTerminate([this] { ++m_terminations; });
        return true;
    }

    bool start(const std::function<void(DiaryDependencyGraph &)> &beforeOpening) {
        if (!launch())
            return false;
        DiaryBookWindow &shown = program->window();
        // The window at the size the road is walked at, whatever the screen proposed.
        if (!show(m_size))
            return false;
        beforeOpening(program->graph());
        return waitUntil([&] { return shown.size() == m_size; });
    }

    // A key held down for `ms`, repeating as a keyboard repeats a held key.
    void hold(int key, const QString &text, int ms) {
        QTest::simulateEvent(window(), true, key, {}, text, false);
        QElapsedTimer held;
        held.start();
        while (held.elapsed() < ms) {
            QTest::qWait(40);
            QTest::simulateEvent(window(), false, key, {}, text, true);
            QTest::simulateEvent(window(), true, key, {}, text, true);
        }
        QTest::simulateEvent(window(), false, key, {}, text, false);
    }

    // A slow drag in the page's points, coming to rest before it is let go.
    void drag(const QWidget *widget, QPointF from, QPointF to) {
        QTest::mousePress(window(), Qt::LeftButton, {}, at(widget, from));
        const QPointF nearly = to - (to - from) / 100;
        for (int step = 1; step <= 8; ++step)
            QTest::mouseMove(window(), at(widget, from + (nearly - from) * step / 8.0), 5);
        // The last inch slowly: the pointer's speed as it is let go throws nothing further.
        QTest::mouseMove(window(), at(widget, to), 60);
        QTest::mouseRelease(window(), Qt::LeftButton, {}, at(widget, to));
    }
    // Inside, but for the rounding of the scale at its edges.
    bool isInsideWindow(const QWidget *widget) const {
        return QRect(QPoint(), program->window().size())
            .contains(inWindow(widget).adjusted(1, 1, -1, -1));
    }
    void screenshot(const char *step) {
        QApplication::processEvents();
        const QString name = QStringLiteral("road-%1x%2-%3")
                                 .arg(m_size.width())
                                 .arg(m_size.height())
                                 .arg(QString::fromLatin1(step));
        if (!saveScreenshot(grabWidget(&program->window(), 1.0), name))
            qWarning("The screenshot %s was not written", qPrintable(name));
    }

    bool quit() {
        program->menus().action(QStringLiteral("Quit"))->trigger();
        return waitUntil([&] { return m_terminations == 1; });
    }
    int terminations() const { return m_terminations; }

private:
    QSize m_size;
    OwnSettings m_settings;
    int m_terminations = 0;
};

// The real program in a process of its own, on an X server of its own, given real key presses
// (XTEST) the way a keyboard gives them.
class ProgramOnItsOwnDisplay : public ProgramRun {
public:
    ProgramOnItsOwnDisplay(PrivateXServer &server, const QString &home)
        : ProgramRun(QStringLiteral(VELMORA_EXECUTABLE), home,
                     {QStringLiteral("--velmora-test-mode"), QStringLiteral("--velmora-store-url"),
                      store(home), QStringLiteral("--velmora-defaults-suite"),
                      QStringLiteral("Road")},
                     qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), screen(server.display())) {}

    static QString store(const QString &home) {
        return home + QStringLiteral("/diary/store.sqlite");
    }

    bool press(const QStringList &arguments) {
        QProcess xdotool;
        xdotool.setProcessEnvironment(process.processEnvironment());
        xdotool.start(QStringLiteral("xdotool"), arguments);
        return xdotool.waitForFinished(60000) && xdotool.exitCode() == 0;
    }

private:
    static QProcessEnvironment screen(const QString &display) {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return environment;
    }
};

// Every entry the store holds, read once the program has ended. A store that cannot be read
// gives none, and why in `unread`: it fails the row that reads it, not every row after it.
QStringList storedTexts(const QString &store, QString &unread) {
    QStringList texts;
    try {
        CoreDataDiaryRepository repository(
            std::make_shared<DiaryPersistenceStack>(
                store, DiaryModelProvider::model(DiaryModelProvider::currentVersionName)),
            std::make_shared<SystemClock>());
        for (const DiaryEntryDTO &entry : test::waitFor(repository.snapshot()).entries)
            texts << entry.content;
    } catch (const DiaryError &error) {
        unread = error.message();
    }
    return texts;
}

DayKey daysBeforeToday(DiaryDependencyGraph &graph, int days) {
    const GregorianCalendar &calendar = graph.diarySession().calendar();
    return DayKey::fromDate(calendar.startOfDayAdding(-days, graph.clock()->now()), calendar);
}

// Where the keyboard is when a menu key is pressed, and what the key is to do there. The
// settings window may have just answered its data operation's alerts.
enum class KeysIn {
    settingsWindow,
    settingsAfterExport,
    settingsAfterImport,
    settingsAfterFailedImport,
    settingsAfterRestore,
    importCompleteAlert,
    sealAcknowledgement,
    sealedPage,
    searchCard,
    unlockPrompt
};
enum class KeyEffect {
    quits,
    goesToToday,
    opensSearch,
    showsTheBook,
    fillsTheScreen,
    closesSettings,
    opensNoSettings,
    staysLocked
};

QWidget *shownUnlockPrompt() {
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *prompt = qobject_cast<DiaryPasswordDialog *>(window);
            prompt && prompt->isVisible())
            return prompt;
    return nullptr;
}

QMessageBox *shownAlert() {
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *alert = qobject_cast<QMessageBox *>(window); alert && alert->isVisible())
            return alert;
    return nullptr;
}

// Set in the copy of this test that a row starts, to be killed once it has written: the
// settings suite it runs with.
const char *const killedChild = "VELMORA_ROAD_KILLED_CHILD";

// The POSIX locks this process holds on a file, each as its first and last byte: what the kernel
// lists under each of the process's own descriptors of the file, each listing made whole at once.
// /proc/locks is made a page at a time while other processes take and drop their locks, and then
// lists a lock held all along twice or not at all. Nothing here opens the file: closing a
// descriptor of it would drop these very locks.
using LockedBytes = QList<std::pair<qint64, qint64>>;

LockedBytes locksHeldOn(const QString &path) {
    struct stat file {};
    if (::stat(QFile::encodeName(path).constData(), &file) != 0)
        return {};
    LockedBytes held;
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString &descriptor :
         descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        struct stat open {};
        QFile listing(QStringLiteral("/proc/self/fdinfo/") + descriptor);
        if (::stat(QFile::encodeName(descriptors.filePath(descriptor)).constData(), &open) != 0 ||
            open.st_dev != file.st_dev || open.st_ino != file.st_ino ||
            !listing.open(QIODevice::ReadOnly))
            continue;
        // lock:  1: POSIX  ADVISORY  READ 4242 fe:00:1234 128 128
        for (const QByteArray &line : listing.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() != 9 || fields.at(0) != "lock:" || fields.at(2) != "POSIX" ||
                fields.at(5).toLongLong() != ::getpid())
                continue;
            const std::pair lock(fields.at(7).toLongLong(), fields.at(8) == "EOF"
                                                                ? std::numeric_limits<qint64>::max()
                                                                : fields.at(8).toLongLong());
            if (!held.contains(lock))
                held.append(lock);
        }
    }
    return held;
}

// The locks of `before` held now, alone or within a wider one a transaction took.
LockedBytes stillHeld(const LockedBytes &before, const LockedBytes &now) {
    LockedBytes kept;
    for (const auto &lock : before)
        if (std::ranges::any_of(now, [&](const auto &held) {
                return held.first <= lock.first && lock.second <= held.second;
            }))
            kept.append(lock);
    return kept;
}

QString describeLocks(const LockedBytes &locks) {
    QStringList bytes;
    for (const auto &[first, last] : locks)
        bytes.append(QStringLiteral("%1-%2").arg(first).arg(last));
    return QStringLiteral("[%1]").arg(bytes.join(QLatin1Char(' ')));
}

// The settings window's button named `name` (its text or its object's name), scrolled into
// view; the window is opened first when it is not shown.
QAbstractButton *settingsButton(Road &road, const QString &name) {
    if (!shownSettings()) {
        road.click(road.book()->tools()->button(QStringLiteral("diary-toolbar-settings")));
        if (!waitUntil([] { return shownSettings() != nullptr; }))
            return nullptr;
    }
    for (auto *button : shownSettings()->findChildren<QAbstractButton *>()) {
        if (button->text() != name && button->objectName() != name)
            continue;
        for (QWidget *parent = button->parentWidget(); parent; parent = parent->parentWidget())
            if (auto *scroll = qobject_cast<QScrollArea *>(parent))
                scroll->ensureWidgetVisible(button);
        return button;
    }
    return nullptr;
}

// Opens a file dialog the way a person does: Export… and Import… from the File menu, Export,
// Import and Choose… in the settings window, which only Choose… closes again. The dialog is modal
// and runs its own event loop, so `answer` deals with it from inside that loop; whatever it
// leaves open is cancelled. Whether a dialog was shown.
bool openPanel(Road &road, const QString &panel, const std::function<void(QFileDialog &)> &answer) {
    bool answered = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        answered = true;
        answer(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    poll.start();
    if (!panel.endsWith(QChar(0x2026)) || panel == QStringLiteral("Choose…")) {
        QAbstractButton *button = settingsButton(road, panel == QStringLiteral("Choose…")
                                                           ? QStringLiteral("sync-folder-choose")
                                                           : panel);
        if (!button)
            return false;
        QTest::mouseClick(button, Qt::LeftButton);
        if (panel == QStringLiteral("Choose…"))
            shownSettings()->close();
    } else {
        // Off while an export or import runs.
        QAction *item = road.program->menus().action(panel);
        if (!waitUntil([&] { return item->isEnabled(); }))
            return false;
        item->trigger();
    }
    return answered;
}

QLineEdit *fileNameField(QFileDialog &dialog) {
    return dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
}

// Where the keyboard is when an Edit command is chosen, and how it is chosen: with the mouse in
// the menu bar, with Alt+E, the arrows and Return, or by its own key.
enum class EditIn { page, sealedPage, searchField, settingsField };
enum class ChosenBy { mouse, menuKeys, key };

// How the diary is replaced under the open page: Restore in the settings window, or an import
// from the File menu, merged or replacing.
enum class Replacement { restore, merge, replace };

// Waits for the alert titled `title` and clicks its button `choice`.
bool answerAlert(const QString &title, const QString &choice) {
    if (!waitUntil([&] { return shownAlert() && shownAlert()->text() == title; })) {
        qWarning("No alert \"%s\" within %d ms", qPrintable(title), shownWithin);
        return false;
    }
    // Clicked as a person clicks it: once it is on the screen and has the keyboard.
    QMessageBox *alert = shownAlert();
    if (!QTest::qWaitForWindowExposed(alert, shownWithin) || !becomesActive(alert))
        return false;
    for (QAbstractButton *button : alert->buttons())
        if (button->text() == choice) {
            QTest::mouseClick(button, Qt::LeftButton);
            if (waitUntil([&] { return shownAlert() != alert; }))
                return true;
            qWarning("The alert \"%s\" stayed after \"%s\" was clicked", qPrintable(title),
                     qPrintable(choice));
            return false;
        }
    return false;
}

// Chooses an item of the book window's Edit menu as a person does. Whether it could be chosen.
bool chooseEditCommand(Road &road, const QString &item, ChosenBy way, QWindow *keyboard) {
    QAction *command = road.program->menus().action(item);
    if (way == ChosenBy::key) {
        QTest::keySequence(keyboard, command->shortcut());
        return true;
    }
    QMenuBar *bar = road.program->window().menuBar();
    QMenu *edit = nullptr;
    for (QAction *title : bar->actions())
        if (title->menu() && title->menu()->actions().contains(command))
            edit = title->menu();
    if (!edit)
        return false;
    if (way == ChosenBy::mouse) {
        const QRect title = bar->actionGeometry(edit->menuAction());
        QTest::mouseClick(road.window(), Qt::LeftButton, {},
                          bar->mapTo(&road.program->window(), title.center()));
    } else {
        QTest::keyClick(road.window(), Qt::Key_E, Qt::AltModifier);
    }
    if (!waitUntil([&] { return edit->isVisible() && edit->windowHandle()->isExposed(); }))
        return false;
    if (way == ChosenBy::mouse) {
        QTest::mouseMove(edit->windowHandle(), edit->actionGeometry(command).center());
        QTest::mouseClick(edit->windowHandle(), Qt::LeftButton, {},
                          edit->actionGeometry(command).center());
    } else {
        // The menu opens on its first item.
        for (QAction *above : edit->actions()) {
            if (above == command)
                break;
            if (!above->isSeparator())
                QTest::keyClick(edit->windowHandle(), Qt::Key_Down);
        }
        QTest::keyClick(edit->windowHandle(), Qt::Key_Return);
    }
    return waitUntil([&] { return !edit->isVisible(); });
}

} // namespace

Q_DECLARE_METATYPE(KeysIn)
Q_DECLARE_METATYPE(KeyEffect)
Q_DECLARE_METATYPE(EditIn)
Q_DECLARE_METATYPE(ChosenBy)
Q_DECLARE_METATYPE(Replacement)

class RoadTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void walkTheWritingRoad_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("609x800") << QSize(609, 800);
        QTest::newRow("914x1200") << QSize(914, 1200);
        QTest::newRow("1560x1024") << QSize(1560, 1024);
    }

    void walkTheWritingRoad() {
        QFETCH(QSize, size);
        Road road(size);
        DayKey yesterday;
        QVERIFY(road.start([&](DiaryDependencyGraph &graph) {
            // The day before is written and sealed; the one before that is blank.
            yesterday = daysBeforeToday(graph, 1);
            writeEarlierPage(graph, yesterday, QStringLiteral("Sealed yesterday."), true);
        }));
        road.screenshot("1-cover");

        // Return opens the cover onto today's page, the editor ready.
        road.key(Qt::Key_Return);
        QVERIFY(waitUntil([&] { return road.settled(); }));
        VuzIvoduPageWidget *book = road.book();
        MacRuledTextView *editor = book->editor();
        QVERIFY2(waitUntil([&] { return editor->hasFocus(); }), whereTheKeyboardIs().constData());
        const DayKey today = road.session().selectedDay();

        // Every control of the page lies inside the window.
        const QStringList tools{
            QStringLiteral("diary-toolbar-search"), QStringLiteral("diary-toolbar-calendar"),
            QStringLiteral("diary-toolbar-settings"), QStringLiteral("diary-toolbar-close")};
        for (const QString &name : tools)
            QVERIFY2(road.isInsideWindow(book->tools()->button(name)), qPrintable(name));
        const auto *previous = book->arrows()->findChild<QAbstractButton *>(
            QStringLiteral("diary-navigation-previous"));
        const auto *next =
            book->arrows()->findChild<QAbstractButton *>(QStringLiteral("diary-navigation-next"));
        QVERIFY(road.isInsideWindow(previous));
        QVERIFY(road.isInsideWindow(next));
        QVERIFY(road.isInsideWindow(book->writableLeaf()));

        // Escape closes the topmost thing: a menu open on the page, leaving what lies under it.
        // A choice from the menu (by its action's name) closes it too, and in both the keyboard
        // stays where it was. Keys pressed while it is open are the menu's alone.
        const auto closeMenuOn = [&](const QWidget *widget, const QString &choice = {},
                                     const QList<QKeyCombination> &pressedWhileOpen = {}) {
            const auto openMenu = [&]() -> QMenu * {
                for (QMenu *menu : book->findChildren<QMenu *>())
                    if (menu->isVisible())
                        return menu;
                return nullptr;
            };
            QTest::mouseClick(road.window(), Qt::RightButton, {}, road.inWindow(widget).center());
            QMenu *opened = openMenu();
            if (!opened)
                return false;
            for (const QKeyCombination keys : pressedWhileOpen)
                road.key(keys.key(), keys.keyboardModifiers());
            if (choice.isEmpty())
                road.key(Qt::Key_Escape);
            else if (auto *action = opened->findChild<QAction *>(choice))
                road.click(opened, opened->actionGeometry(action).center());
            return !openMenu();
        };
        QSignalSpy closing(&book->controller(), &VuzIvoduPageView::closeDiaryRequested);
        QVERIFY(closeMenuOn(editor->viewport()));
        QCOMPARE(closing.count(), 0);
        road.type(QStringLiteral("X"));
        QCOMPARE(editor->text(), QStringLiteral("X"));
        road.key(Qt::Key_Backspace);
        QGuiApplication::clipboard()->setText(QStringLiteral("The morning"));
        QVERIFY(closeMenuOn(editor->viewport(), QStringLiteral("edit-paste")));

        // Three paragraphs, each line on its rule and the caret on its line.
        road.type(QStringLiteral(" was grey and quiet.\nWe walked to the harbour "
                                 "and back, slowly, talking about nothing in particular and "
                                 "everything that mattered.\n\nEvening: bread, soup, a letter."));
        const QString written = QStringLiteral(
            "The morning was grey and quiet.\nWe walked to the harbour and back, slowly, talking "
            "about nothing in particular and everything that mattered.\n\nEvening: bread, soup, a "
            "letter.");
        QCOMPARE(editor->text(), written);
        const double lineHeight = editor->lineHeight();
        const QList<double> baselines = editorBaselines(*editor);
        QVERIFY(baselines.size() >= 5);
        for (qsizetype i = 0; i < baselines.size(); ++i) {
            QVERIFY2(qFuzzyCompare(baselines.at(i) - baselines.first() + 1, i * lineHeight + 1),
                     qPrintable(QStringLiteral("line %1 at %2").arg(i).arg(baselines.at(i))));
            QVERIFY(baselines.at(i) > i * lineHeight && baselines.at(i) < (i + 1) * lineHeight);
        }
        const QRectF caret = *editor->caretRect(editor->textCursor().position());
        QCOMPARE(caret.bottom(), (editorLineOfCaret(*editor) + 1) * lineHeight);
        QVERIFY(editor->caretView()->isVisible());
        road.screenshot("2-written");

        // Under the editor's menu the page neither turns, seals nor searches; the menu's Select
        // All then selects the words of the page it was opened on.
        QVERIFY(closeMenuOn(
            editor->viewport(), QStringLiteral("select-all"),
            {Qt::CTRL | Qt::Key_PageUp, Qt::CTRL | Qt::SHIFT | Qt::Key_L, Qt::CTRL | Qt::Key_F}));
        QVERIFY(waitUntil([&] { return road.settled(); }));
        QCOMPARE(road.session().selectedDay(), today);
        QCOMPARE(editor->textCursor().selection().toPlainText(), written);
        QVERIFY(!book->sealCard()->isVisible() && !book->recallCards()->searchCard());
        road.key(Qt::Key_End, Qt::ControlModifier);

        // Ctrl+S: saved, and the note says so.
        road.key(Qt::Key_S, Qt::ControlModifier);
        // On the page, coming in or at rest: a busy machine may end its stay before its motion.
        QVERIFY(waitUntil([&] {
            return book->savedNote()->isVisible() || book->savedNoteMotion()->isVisible();
        }));
        road.screenshot("3-saved");
        QVERIFY(waitUntil([&] {
            const auto stored = test::waitFor(road.program->graph().repository()->entry(today));
            return stored && stored->content == written;
        }));

        // The seal card: Return under it types nothing, Ctrl+PgUp turns nothing, Escape closes it.
        road.key(Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(waitUntil([&] { return book->sealCard()->isVisible(); }));
        road.screenshot("4-seal-card");
        road.key(Qt::Key_Return);
        road.key(Qt::Key_PageUp, Qt::ControlModifier);
        QTest::qWait(50);
        QCOMPARE(editor->text(), written);
        QCOMPARE(road.session().selectedDay(), today);
        QVERIFY(book->sealCard()->isVisible());
        road.key(Qt::Key_Escape);
        QVERIFY(waitUntil([&] { return !book->sealCard()->isVisible() && editor->hasFocus(); }));

        // Back across the sealed day to the blank one, and forward again, by keys alone.
        road.key(Qt::Key_PageUp, Qt::ControlModifier);
        QVERIFY(
            waitUntil([&] { return road.session().selectedDay() == yesterday && road.settled(); }));
        QVERIFY(book->readingLeaf()->isVisible());
        road.screenshot("5-sealed-yesterday");
        road.key(Qt::Key_PageUp, Qt::ControlModifier);
        QVERIFY(waitUntil([&] {
            return road.session().selectedDay() != yesterday && road.settled() &&
                   book->notice()->isVisible();
        }));
        road.screenshot("6-blank-earlier-day");
        road.key(Qt::Key_PageDown, Qt::ControlModifier);
        QVERIFY(
            waitUntil([&] { return road.session().selectedDay() == yesterday && road.settled(); }));
        road.key(Qt::Key_PageDown, Qt::ControlModifier);
        QVERIFY(waitUntil([&] { return road.session().selectedDay() == today && road.settled(); }));
        QCOMPARE(editor->text(), written);

        // A drag of two fifths of the page from its leading edge turns back a day, at any scale.
        road.drag(book->pageArea(), {17, 500}, {17 + 0.4 * 768, 500});
        QVERIFY(
            waitUntil([&] { return road.session().selectedDay() == yesterday && road.settled(); }));
        road.key(Qt::Key_PageDown, Qt::ControlModifier);
        QVERIFY(waitUntil([&] { return road.session().selectedDay() == today && road.settled(); }));

        // The search card: a word of the page finds today; Escape closes it.
        road.key(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(waitUntil([&] {
            return book->recallCards()->searchCard() &&
                   book->recallCards()->searchCard()->field()->hasFocus();
        }));
        road.type(QStringLiteral("harbour"));
        MacSearchCard *search = book->recallCards()->searchCard();
        QVERIFY(waitUntil([&] { return search->list()->model()->rowCount() == 1; }));
        QVERIFY(road.isInsideWindow(search->list()));
        road.screenshot("7-search");
        QVERIFY(closeMenuOn(search->field()));
        QCOMPARE(book->controller().showSearch(), true);
        road.key(Qt::Key_Escape);
        QVERIFY(
            waitUntil([&] { return !book->recallCards()->searchCard() && editor->hasFocus(); }));

        // The calendar, from its toolbar button; Escape closes it.
        road.click(book->tools()->button(QStringLiteral("diary-toolbar-calendar")));
        QVERIFY(waitUntil([&] {
            return book->recallCards()->calendarCard() &&
                   book->recallCards()->calendarCard()->isVisible();
        }));
        QTest::qWait(300);
        road.screenshot("8-calendar");
        road.key(Qt::Key_Escape);
        QVERIFY(
            waitUntil([&] { return !book->recallCards()->calendarCard() && editor->hasFocus(); }));

        // A day clicked in the calendar closes it and turns there; the month's arrows answer
        // clicks too.
        const auto openCalendar = [&] {
            road.click(book->tools()->button(QStringLiteral("diary-toolbar-calendar")));
            return waitUntil([&] {
                return book->recallCards()->calendarCard() &&
                       book->recallCards()->calendarCard()->isVisible();
            });
        };
        QVERIFY(openCalendar());
        CalendarView *grid = book->recallCards()->calendarCard()->grid();
        const QDate dayBefore = QDate::fromString(yesterday.rawValue(), Qt::ISODate);
        if (grid->cellRect(dayBefore).isEmpty()) {
            road.click(grid, grid->previousMonthRect().center());
            QVERIFY(waitUntil([&] { return !grid->cellRect(dayBefore).isEmpty(); }));
        }
        road.click(grid, grid->cellRect(dayBefore).center());
        QVERIFY(waitUntil([&] {
            return !book->recallCards()->calendarCard() &&
                   road.session().selectedDay() == yesterday && road.settled();
        }));
        road.key(Qt::Key_PageDown, Qt::ControlModifier);
        QVERIFY(waitUntil([&] { return road.session().selectedDay() == today && road.settled(); }));

        // A click beside either card, or on its close button, closes it.
        QVERIFY(openCalendar());
        road.click(book->recallCards()->calendarCard(), QPointF(3, 3));
        QVERIFY(waitUntil([&] { return !book->recallCards()->calendarCard(); }));
        QVERIFY(openCalendar());
        road.click(book->recallCards()->calendarCard(),
                   book->recallCards()->calendarCard()->closeButtonRect().center());
        QVERIFY(waitUntil([&] { return !book->recallCards()->calendarCard(); }));
        road.key(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(waitUntil([&] { return book->recallCards()->searchCard() != nullptr; }));
        road.click(book->recallCards()->searchCard(), QPointF(3, 3));
        QVERIFY(waitUntil([&] { return !book->recallCards()->searchCard(); }));
        road.key(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(waitUntil([&] { return book->recallCards()->searchCard() != nullptr; }));
        road.click(book->recallCards()->searchCard(),
                   book->recallCards()->searchCard()->closeButtonRect().center());
        QVERIFY(waitUntil([&] { return !book->recallCards()->searchCard(); }));

        // The gear opens the settings window; once it is closed, the page's keys still work.
        road.click(book->tools()->button(QStringLiteral("diary-toolbar-settings")));
        QVERIFY(waitUntil([&] { return shownSettings() != nullptr; }));
        QVERIFY(becomesActive(shownSettings()));
        // The keyboard comes back to the book by itself, with no window manager to hand it on.
        shownSettings()->close();
        QVERIFY(becomesActive(&road.program->window()));
        road.key(Qt::Key_PageUp, Qt::ControlModifier);
        QVERIFY(
            waitUntil([&] { return road.session().selectedDay() == yesterday && road.settled(); }));

        // The footer arrows and the ribbon back to today answer clicks.
        road.click(next);
        QVERIFY(waitUntil([&] { return road.session().selectedDay() == today && road.settled(); }));
        road.click(previous);
        QVERIFY(
            waitUntil([&] { return road.session().selectedDay() == yesterday && road.settled(); }));
        QAbstractButton *ribbon = nullptr;
        for (auto *button : book->tools()->findChildren<QAbstractButton *>())
            if (button->objectName() == QStringLiteral("ribbon-bookmark"))
                ribbon = button;
        QVERIFY(ribbon);
        QVERIFY(waitUntil([&] { return ribbon->isVisible(); }));
        QVERIFY(road.isInsideWindow(ribbon));
        road.click(ribbon);
        QVERIFY(waitUntil([&] { return road.session().selectedDay() == today && road.settled(); }));

        // Close asks before leaving a written page; its alert stays over the book.
        road.click(book->tools()->button(QStringLiteral("diary-toolbar-close")));
        QVERIFY(waitUntil([&] { return shownAlert() != nullptr; }));
        QMessageBox *leave = shownAlert();
        QCOMPARE(leave->parentWidget(), &road.program->window());
        road.screenshot("9-leave-prompt");
        QTest::keyClick(leave, Qt::Key_Escape);
        QVERIFY(waitUntil([&] { return shownAlert() == nullptr; }));

        // Sealing for real, by the card's own button.
        road.program->window().activateWindow();
        QVERIFY(becomesActive(&road.program->window()));
        road.key(Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(waitUntil([&] { return book->sealCard()->isVisible(); }));
        road.click(
            book->sealCard()->findChild<QAbstractButton *>(QStringLiteral("diary-seal-confirm")));
        QVERIFY(waitUntil([&] { return book->readingLeaf()->isVisible(); }));
        road.screenshot("10-sealed-today");
        QVERIFY(test::waitFor(road.program->graph().repository()->entry(today))->isSealed());
        QVERIFY(road.quit());
    }

    void aReplacedDiaryReachesTheOpenPage_data() {
        QTest::addColumn<Replacement>("replacement");
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<QString>("duringTheRestore");
        QTest::newRow("restore of a draft") << Replacement::restore << false << "";
        QTest::newRow("restore of a sealed page") << Replacement::restore << true << "";
        QTest::newRow("merged import") << Replacement::merge << false << "";
        QTest::newRow("replacing import") << Replacement::replace << false << "";
        QTest::newRow("restore, keys typed while it writes")
            << Replacement::restore << false << "keys";
        QTest::newRow("restore, quit while it writes") << Replacement::restore << false << "quit";
    }

    // Today's page is open and empty when a restore or an import brings back a diary in which
    // today is written. The page shows those words at once, a sealed page as sealed, and a letter
    // typed next joins them: it is never saved over words the page did not show. While the
    // restore writes, the page says so and takes no keys, and a quit waits for the restore.
    void aReplacedDiaryReachesTheOpenPage() {
        QFETCH(Replacement, replacement);
        QFETCH(bool, sealed);
        QFETCH(QString, duringTheRestore);
        const QString words = QStringLiteral("Words from before.");
        Road road(QSize(914, 1200));
        const QString exportFile = road.folder(QStringLiteral("today.json"));
        DayKey today;
        QVERIFY(road.start([&](DiaryDependencyGraph &graph) {
            today = daysBeforeToday(graph, 0);
            keepDiaryWithPage(graph, today, words, sealed,
                              replacement == Replacement::restore ? QString() : exportFile);
        }));
        road.key(Qt::Key_Return);
        QVERIFY(waitUntil([&] { return road.settled(); }));
        VuzIvoduPageWidget *book = road.book();
        MacRuledTextView *editor = book->editor();
        QVERIFY2(waitUntil([&] { return editor->hasFocus(); }), whereTheKeyboardIs().constData());
        QCOMPARE(editor->text(), QString());

        bool heldWhileWriting = false;
        int terminationsWhileWriting = -1;
        road.program->graph().restoreCoordinator().setStepObserver([&](DiaryRestoreStep step) {
            if (step != DiaryRestoreStep::safetyBackupWritten || duringTheRestore.isEmpty())
                return;
            heldWhileWriting = !editor->isEditable() &&
                               book->writableLeaf()->content().footerNote == u"Restoring…";
            if (duringTheRestore == u"keys") {
                road.program->window().activateWindow();
                road.type(QStringLiteral("typed meanwhile"));
                road.key(Qt::Key_S, Qt::ControlModifier);
            } else {
                road.program->menus().action(QStringLiteral("Quit"))->trigger();
                terminationsWhileWriting = road.terminations();
            }
        });
        if (replacement == Replacement::restore) {
            QAbstractButton *restore = settingsButton(road, QStringLiteral("Restore"));
            QVERIFY(restore);
            // Shown once the backups are listed.
            QVERIFY(waitUntil([&] { return restore->isVisible(); }));
            restore = settingsButton(road, QStringLiteral("Restore"));
            QTest::mouseClick(restore, Qt::LeftButton);
            QVERIFY(answerAlert(QStringLiteral("Restore from Backup?"), QStringLiteral("Restore")));
            QVERIFY(waitUntil([&] {
                const auto &entry = road.session().currentEntry();
                return entry && entry->content == words;
            }));
            if (!duringTheRestore.isEmpty()) {
                QVERIFY(heldWhileWriting);
                QCOMPARE(editor->text(), words);
                QCOMPARE(test::waitFor(road.program->graph().repository()->entry(
                                           road.session().selectedDay()))
                             ->content,
                         words);
            }
            if (duringTheRestore == u"quit") {
                QCOMPARE(terminationsWhileWriting, 0);
                QVERIFY(waitUntil([&] { return road.terminations() == 1; }));
                return;
            }
            shownSettings()->close();
        } else {
            QVERIFY(openPanel(road, QStringLiteral("Import…"), [&](QFileDialog &dialog) {
                fileNameField(dialog)->setText(exportFile);
                QTest::keyClick(fileNameField(dialog), Qt::Key_Return);
            }));
            const QString choice = replacement == Replacement::merge
                                       ? QStringLiteral("Merge")
                                       : QStringLiteral("Replace Diary");
            QVERIFY(answerAlert(QStringLiteral("Import Diary Data?"), choice));
            if (replacement == Replacement::replace)
                QVERIFY(answerAlert(QStringLiteral("Replace the Entire Diary?"), choice));
            QVERIFY(answerAlert(QStringLiteral("Import Complete"), QStringLiteral("OK")));
        }
        QVERIFY(becomesActive(&road.program->window()));
        QVERIFY(waitUntil([&] { return road.settled(); }));
        const auto store = road.program->graph().repository();
        const DiaryRevision restored = test::waitFor(store->entry(today))->revision;

        if (sealed) {
            road.type(QStringLiteral("Q"));
            QVERIFY(waitUntil([&] { return book->readingLeaf()->isVisible(); }));
            QCOMPARE(book->readingLeaf()->textView()->text(), words);
            QVERIFY(book->readingLeaf()->content().isSealed);
        } else {
            QVERIFY2(waitUntil([&] { return editor->hasFocus(); }),
                     whereTheKeyboardIs().constData());
            road.type(QStringLiteral("Q"));
            QVERIFY(waitUntil([&] {
                return road.session().saveState().kind == DiarySaveState::Kind::saved &&
                       !road.session().hasPendingLocalWriting();
            }));
        }
        const auto stored = test::waitFor(store->entry(today));
        QVERIFY(stored);
        QVERIFY2(stored->content.contains(words),
                 qPrintable(QStringLiteral("the store holds \"%1\" at revision %2")
                                .arg(stored->content)
                                .arg(stored->revision.rawValue)));
        QCOMPARE(stored->content, sealed ? words : editor->text());
        QCOMPARE(stored->revision.rawValue, restored.rawValue + (sealed ? 0 : 1));
        road.screenshot(sealed ? "replaced-sealed" : "replaced-draft");
    }

    // Words typed a moment before the program is told to end, or loses its display, are stored
    // before it ends: a terminal closed, a session's end (its SIGTERM, then SIGHUP), the X server
    // gone.
    void lastWordsAreStoredAtTheEnd_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("hang-up") << QStringLiteral("hang-up") << 0;
        QTest::newRow("termination, then hang-up")
            << QStringLiteral("termination, then hang-up") << 0;
        // Not a quit the program asked for: it ends as Qt ends it, but only once the words are in.
        QTest::newRow("display lost") << QStringLiteral("display lost") << 1;
    }

    void lastWordsAreStoredAtTheEnd() {
        QFETCH(QString, ending);
        QFETCH(int, exitCode);
        PrivateXServer server("1280x1024x24");
        QVERIFY(!server.display().isEmpty());
        QTemporaryDir home;
        ProgramOnItsOwnDisplay run(server, home.path());
        QVERIFY2(run.waitUntilRunning(), qPrintable(run.errors()));
        // The book window on screen with the keyboard, as a click on it gives it, before Return
        // opens the cover.
        QVERIFY(run.press({QStringLiteral("search"), QStringLiteral("--sync"),
                           QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                           QStringLiteral("^Velmora$"), QStringLiteral("windowfocus"),
                           QStringLiteral("--sync")}));
        QVERIFY(run.press({QStringLiteral("key"), QStringLiteral("Return")}));
        QVERIFY2(run.waitForLog(QStringLiteral("The page takes the keyboard")),
                 qPrintable(run.errors()));
        const QString words = QStringLiteral("Written just before the end");
        QVERIFY(run.press(
            {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("10"), words}));
        // The end comes once the program has taken every key, which a loaded machine can hold on
        // the way for seconds, and usually well inside the autosave's pause, so that only the way
        // out stores them: the search opened and closed after the words gives the page the
        // keyboard back only after it.
        const auto pageTookTheKeyboard = [&] {
            return run.errors().count(QStringLiteral("The page takes the keyboard"));
        };
        const qsizetype before = pageTookTheKeyboard();
        QVERIFY(
            run.press({QStringLiteral("key"), QStringLiteral("ctrl+f"), QStringLiteral("Escape")}));
        QVERIFY2(waitUntil([&] { return pageTookTheKeyboard() > before; }),
                 qPrintable(run.errors()));
        const auto pid = pid_t(run.process.processId());
        if (ending == u"hang-up") {
            ::kill(pid, SIGHUP);
        } else if (ending == u"termination, then hang-up") {
            ::kill(pid, SIGTERM);
            ::kill(pid, SIGHUP);
        } else {
            server.stop();
        }
        QVERIFY2(run.process.waitForFinished(60000), qPrintable(run.errors()));
        // On a crash the code is the signal that ended the process.
        QVERIFY2(run.process.exitStatus() == QProcess::NormalExit,
                 qPrintable(QStringLiteral("ended by signal %1; it said:\n%2")
                                .arg(run.process.exitCode())
                                .arg(run.errors())));
        QCOMPARE(run.process.exitCode(), exitCode);
        QString unread;
        const QStringList stored = storedTexts(ProgramOnItsOwnDisplay::store(home.path()), unread);
        QVERIFY2(unread.isEmpty(), qPrintable(unread));
        QCOMPARE(stored, QStringList{words});
    }

    // A quit while a restore or an import writes a large diary waits for it: the program ends
    // cleanly, without a crash on the way out, and the store holds the whole new diary. A quit
    // while an export's file is written lets it finish, or stops it ("stopped": the quit's time
    // for it is up at once); either way the program ends cleanly, the chosen file is whole or
    // absent, and no hidden temporary file is left beside it. A quit as an import begins to read
    // its file stops the read, and the program ends only after it.
    void aQuitWaitsForARestoreImportOrExport_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("quitAfter");
        QTest::addColumn<bool>("signal");
        for (const char *kind : {"restore", "replace", "merge"}) {
            for (const int ms : {0, 150, 600})
                QTest::addRow("%s, quit after %d ms", kind, ms)
                    << QString::fromLatin1(kind) << ms << false;
        }
        for (const char *kind : {"export", "export, stopped"}) {
            QTest::addRow("%s, Ctrl+Q", kind) << QString::fromLatin1(kind) << 0 << false;
            QTest::addRow("%s, SIGTERM", kind) << QString::fromLatin1(kind) << 0 << true;
        }
        QTest::newRow("import, stopped, Ctrl+Q") << "import, stopped" << 0 << false;
    }

    void aQuitWaitsForARestoreImportOrExport() {
        QFETCH(QString, kind);
        QFETCH(int, quitAfter);
        QFETCH(bool, signal);
        constexpr int pages = 400;
        QTemporaryDir folder;
        QProcess child;
        QStringList arguments{folder.path(), kind, QString::number(quitAfter),
                              QString::number(pages)};
        if (signal)
            arguments << QStringLiteral("signal");
        child.start(QStringLiteral(VELMORA_REPLACEMENT_QUIT_CHILD), arguments);
        const bool ended = child.waitForFinished(240000);
        const QString said = QString::fromLocal8Bit(child.readAllStandardOutput());
        const QString errors = QString::fromLocal8Bit(child.readAllStandardError());
        QVERIFY2(ended, qPrintable(QStringLiteral("still running; it said:\n") + said +
                                   errors.right(4000)));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 qPrintable(errors.right(4000)));
        QVERIFY2(said.contains(kind.endsWith(u"stopped") ? u"QUITTING\nSTOPPED\nENDED"
                                                         : u"QUITTING\nENDED"),
                 qPrintable(said));
        QVERIFY2(!errors.contains(QStringLiteral("Sanitizer")), qPrintable(errors.right(4000)));
        QString unread;
        const QStringList texts =
            storedTexts(folder.filePath(QStringLiteral("diary/store.sqlite")), unread);
        QVERIFY2(unread.isEmpty(), qPrintable(unread));
        const bool exporting = kind.startsWith(u"export");
        const bool importing = kind.startsWith(u"import");
        // The import was stopped before it had read its file.
        QCOMPARE(texts.size(), importing ? 1 : pages + 1);
        QCOMPARE(texts.last(), kind == u"merge" || exporting || importing
                                   ? QStringLiteral("Typed before the replacement.")
                                   : QStringLiteral("Today, as the backup keeps it."));
        if (!exporting)
            return;
        QCOMPARE(QDir(folder.path())
                     .entryList({QStringLiteral(".velmora-export-*")}, QDir::Files | QDir::Hidden),
                 QStringList());
        const QString exported = folder.filePath(QStringLiteral("Exported.json"));
        if (kind.endsWith(u"stopped")) {
            QVERIFY(!QFileInfo::exists(exported));
            return;
        }
        try {
            QCOMPARE(
                DiaryTransferCodec::decode(DiaryTransferCodec::readFile(exported)).entries.size(),
                pages + 1);
        } catch (const DiaryError &error) {
            QFAIL(qPrintable(
                QStringLiteral("%1\nThe folder holds: %2")
                    .arg(error.message(),
                         QDir(folder.path())
                             .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                             .join(QStringLiteral(", ")))));
        }
    }

    // Keys typed while the cover swings open reach the page the book opens on, in order and
    // once, as soon as that page takes writing; the Return that opened the book is no line of
    // its own, not even held down, and a second one is a line break, not the cover's. A page
    // that cannot be written yet holds them until its day is confirmed; a sealed one lets them
    // go, onto no other page.
    void keysTypedWhileTheCoverOpens_data() {
        QTest::addColumn<QString>("opensOn");
        QTest::addColumn<bool>("reducedMotion");
        QTest::addColumn<int>("returnHeldMs");
        QTest::addColumn<int>("typedAfterMs");
        // Find is asked for just before the letters are typed: they are the search's.
        QTest::addColumn<bool>("find");
        for (const int after : {100, 500, 1000})
            QTest::addRow("today, %d ms", after) << "today" << false << 0 << after << false;
        for (const int after : {100, 200})
            QTest::addRow("today, reduced motion, %d ms", after)
                << "today" << true << 0 << after << false;
        QTest::newRow("Return held down") << "today" << false << 1500 << 100 << false;
        QTest::newRow("Return held down, reduced motion") << "today" << true << 800 << 100 << false;
        QTest::newRow("a blank earlier day") << "blank" << false << 0 << 500 << false;
        QTest::newRow("a sealed day") << "sealed" << false << 0 << 500 << false;
        for (const int after : {0, 300, 1000})
            QTest::addRow("Find, %d ms", after) << "today" << false << 0 << after << true;
        QTest::newRow("Find, reduced motion") << "today" << true << 0 << 0 << true;
    }

    void keysTypedWhileTheCoverOpens() {
        QFETCH(QString, opensOn);
        QFETCH(bool, reducedMotion);
        QFETCH(int, returnHeldMs);
        QFETCH(int, typedAfterMs);
        QFETCH(bool, find);
        // Keys that reach a blank day's notice at rest go nowhere, so on that day the cover keeps
        // to the row's script: however slow the machine, it gets no further than the moment the
        // keys are typed at until they are.
        QElapsedTimer sinceReturn;
        double heldBack = opensOn == QStringLiteral("blank")
                              ? (returnHeldMs + typedAfterMs) / 1000.0
                              : std::numeric_limits<double>::infinity();
        Road road(QSize(609, 800), reducedMotion
                                       ? QStringList{QStringLiteral("--velmora-reduce-motion")}
                                       : QStringList{});
        DayKey reopened;
        QVERIFY(road.start([&](DiaryDependencyGraph &graph) {
            if (opensOn == QStringLiteral("today"))
                return;
            reopened = daysBeforeToday(graph, 2);
            if (opensOn == QStringLiteral("sealed"))
                writeEarlierPage(graph, reopened, QStringLiteral("Sealed."), true);
            graph.settingsStore()->setReopensLastPage(true);
            UserDefaultsSettingsStore::lastOpenedDaySetting.write(
                *graph.settingsStore()->defaults(), reopened.rawValue());
        }));
        sinceReturn.start();
        road.program->rootView().stage()->transition().setClock(
            [&] { return std::min(double(sinceReturn.nsecsElapsed()) / 1e9, heldBack); });
        road.hold(Qt::Key_Return, QStringLiteral("\r"), returnHeldMs);
        QTest::qWait(typedAfterMs);
        if (find) {
            road.key(Qt::Key_F, Qt::ControlModifier);
            road.type(QStringLiteral("tea"));
        } else {
            road.type(QStringLiteral("xy\nz"));
        }
        heldBack = std::numeric_limits<double>::infinity();
        QVERIFY(waitUntil([&] { return road.settled(); }));
        VuzIvoduPageWidget *book = road.book();
        MacRuledTextView *editor = book->editor();
        const auto store = road.program->graph().repository();
        if (find) {
            QVERIFY(waitUntil([&] {
                const MacSearchCard *search = book->recallCards()->searchCard();
                return search && search->field()->hasFocus();
            }));
            road.type(QStringLiteral("!"));
            QLineEdit *field = book->recallCards()->searchCard()->field();
            QTRY_COMPARE_WITH_TIMEOUT(field->text(), QStringLiteral("tea!"), shownWithin);
            QCOMPARE(editor->text(), QString());
            return;
        }
        if (opensOn == QStringLiteral("blank")) {
            QVERIFY(waitUntil([&] { return book->notice()->isVisible(); }));
            QTest::qWait(100);
            QVERIFY(editor->text().isEmpty());
            road.click(book->notice()->actionButton());
        }
        if (opensOn == QStringLiteral("sealed")) {
            QVERIFY(waitUntil([&] { return book->readingLeaf()->isVisible(); }));
            road.key(Qt::Key_T, Qt::ControlModifier);
            QVERIFY(waitUntil([&] { return road.session().selectedDay() != reopened; }));
            QVERIFY(waitUntil([&] { return road.settled(); }));
        }
        QVERIFY2(waitUntil([&] { return editor->hasFocus(); }), whereTheKeyboardIs().constData());
        road.type(QStringLiteral("!"));
        const QString written =
            opensOn == QStringLiteral("sealed") ? QStringLiteral("!") : QStringLiteral("xy\nz!");
        // Keys the page held while it could not take writing yet come out in order once it can,
        // which on a loaded machine can be well after the editor has the keyboard.
        QTRY_COMPARE_WITH_TIMEOUT(editor->text(), written, shownWithin);
        const DayKey day = road.session().selectedDay();
        QVERIFY(road.quit());
        QCOMPARE(test::waitFor(store->entry(day))->content, written);
        if (opensOn == QStringLiteral("sealed"))
            QCOMPARE(test::waitFor(store->entry(reopened))->content, QStringLiteral("Sealed."));
    }

    void panelsLeaveTheStoreItsLocks_data() {
        QTest::addColumn<QString>("panel");
        // The store's own file picked in the panel, rather than only seen in its folder.
        QTest::addColumn<bool>("picksTheStore");
        QTest::newRow("export") << QStringLiteral("Export…") << false;
        QTest::newRow("import") << QStringLiteral("Import…") << false;
        QTest::newRow("choose") << QStringLiteral("Choose…") << false;
        QTest::newRow("import of the store") << QStringLiteral("Import…") << true;
    }

    // A file dialog showing the diary's own folder leaves the store its locks, so a reader
    // outside (a backup script, the sqlite3 shell) never takes itself for the last connection,
    // checkpoints and deletes the write-ahead log from under the program. The program is then
    // killed, and every word it had saved is in the store. Each row runs in a copy of this test,
    // which is what gets killed.
    void panelsLeaveTheStoreItsLocks() {
        QFETCH(QString, panel);
        QFETCH(bool, picksTheStore);
        if (qEnvironmentVariableIsSet(killedChild)) {
            writeAroundAPanelUntilKilled(panel, picksTheStore, qEnvironmentVariable(killedChild));
            return;
        }
        QTemporaryDir folder;
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const OwnSettings settings;
        environment.insert(QString::fromLatin1(killedChild), settings.suite);
        // The child's own folders, which nobody removes once it is killed.
        environment.insert(QStringLiteral("TMPDIR"), folder.path());
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("panelsLeaveTheStoreItsLocks:") + QTest::currentDataTag()});
        QString output;
        const auto said = [&](const QString &line) {
            output += QString::fromUtf8(child.readAll());
            return output.contains(line);
        };
        QVERIFY2(waitUntil(
                     [&] {
                         return said(QStringLiteral("written\n")) ||
                                child.state() == QProcess::NotRunning;
                     },
                     std::chrono::minutes(3)),
                 qPrintable(output));
        QVERIFY2(child.state() == QProcess::Running, qPrintable(output));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());
        const QString store = output.section(QStringLiteral("store: "), 1).section('\n', 0, 0);
        SqliteDatabase database(store, SqliteDatabase::OpenMode::readWrite);
        const QString kept = database.queryText(QStringLiteral("SELECT content FROM DiaryEntry"));
        QVERIFY2(kept.contains(QStringLiteral("Before the panel.")) &&
                     kept.contains(QStringLiteral("After the panel.")),
                 qPrintable(QStringLiteral("the store keeps \"%1\"\n%2").arg(kept, output)));
        QVERIFY2(!output.contains(QStringLiteral("timed out")), qPrintable(output));
        QVERIFY2(!output.contains(QStringLiteral("lost its locks")), qPrintable(output));
    }

    void panelsStartAtHomeThenWhereTheyWereLeft_data() {
        QTest::addColumn<QString>("panel");
        QTest::addColumn<bool>("leftInTheDiary");
        for (const QString &panel :
             {QStringLiteral("Export…"), QStringLiteral("Import…"), QStringLiteral("Choose…")}) {
            QTest::newRow(qPrintable(panel)) << panel << false;
            QTest::newRow(qPrintable(panel + QStringLiteral(" in the diary"))) << panel << true;
        }
    }

    // Never in the program's working directory: at home, then where the dialog was last left,
    // unless that is the diary's own folder.
    void panelsStartAtHomeThenWhereTheyWereLeft() {
        QFETCH(QString, panel);
        QFETCH(bool, leftInTheDiary);
        Road road(QSize(914, 1200));
        QVERIFY(road.start([](DiaryDependencyGraph &) {}));
        road.key(Qt::Key_Return);
        QVERIFY(waitUntil([&] { return road.settled(); }));
        QTemporaryDir elsewhere;
        const QString folder =
            leftInTheDiary ? road.program->graph().persistenceDirectory() : elsewhere.path();
        QFile old(folder + QStringLiteral("/old.json"));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("not an export") > 0);
        old.close();
        const QString chosen = panel == QStringLiteral("Export…")   ? folder + "/new.json"
                               : panel == QStringLiteral("Import…") ? old.fileName()
                                                                    : folder;

        QString first;
        QVERIFY(openPanel(road, panel, [&](QFileDialog &dialog) {
            first = dialog.directory().absolutePath();
            // Pasted whole: typed letter by letter, the dialog completes each part on its own.
            fileNameField(dialog)->setText(chosen);
            QTest::keyClick(fileNameField(dialog), Qt::Key_Return);
        }));
        QCOMPARE(first, QDir::homePath());
        // Export and import end in their alert, a folder chosen or refused in the settings.
        if (panel == QStringLiteral("Choose…")) {
            auto *section = road.program->window().findChild<MacICloudSettingsSection *>();
            QVERIFY(waitUntil([&] {
                return road.program->graph().syncFolderChoice()->current() ||
                       !section->controller().folderRefusal().isEmpty();
            }));
        } else {
            QVERIFY(waitUntil([] { return shownAlert() != nullptr; }));
            shownAlert()->close();
        }

        QString second;
        QVERIFY(openPanel(
            road, panel, [&](QFileDialog &dialog) { second = dialog.directory().absolutePath(); }));
        QCOMPARE(second, leftInTheDiary ? QDir::homePath() : elsewhere.path());
    }

    void editMenuActsWhereTheKeyboardIs_data() {
        QTest::addColumn<EditIn>("place");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<ChosenBy>("way");
        // What the commands leave selected and written, what a letter typed next leaves written,
        // and what the clipboard, which held "pasted" before, holds at the end.
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("typedNext");
        QTest::addColumn<QString>("clipboard");
        const auto row = [](const char *name, EditIn place, QStringList commands, ChosenBy way,
                            const char *selected, const char *written, const char *typedNext,
                            const char *clipboard) {
            QTest::newRow(name) << place << commands << way << QString::fromUtf8(selected)
                                << QString::fromUtf8(written) << QString::fromUtf8(typedNext)
                                << QString::fromUtf8(clipboard);
        };
        using P = EditIn;
        using W = ChosenBy;
        // The page holds "Dear diary", "diary" selected with the mouse.
        row("page, Select All, mouse", P::page, {"Select All"}, W::mouse, "Dear diary",
            "Dear diary", "!", "pasted");
        row("page, Copy, mouse", P::page, {"Copy"}, W::mouse, "diary", "Dear diary", "Dear !",
            "diary");
        row("page, Paste, mouse", P::page, {"Paste"}, W::mouse, "", "Dear pasted", "Dear pasted!",
            "pasted");
        row("page, Cut then Undo, mouse", P::page, {"Cut", "Undo"}, W::mouse, "", "Dear diary",
            "Dear diary!", "diary");
        row("page, Cut, Undo, Redo, mouse", P::page, {"Cut", "Undo", "Redo"}, W::mouse, "", "Dear ",
            "Dear !", "diary");
        row("page, Paste, Alt+E", P::page, {"Paste"}, W::menuKeys, "", "Dear pasted",
            "Dear pasted!", "pasted");
        // A sealed page of "Sealed words.", "words" selected with the mouse: it copies and
        // selects, and nothing changes it.
        row("sealed, Copy, mouse", P::sealedPage, {"Copy"}, W::mouse, "words", "Sealed words.",
            "Sealed words.", "words");
        row("sealed, Copy, Ctrl+C", P::sealedPage, {"Copy"}, W::key, "words", "Sealed words.",
            "Sealed words.", "words");
        row("sealed, Select All, Alt+E", P::sealedPage, {"Select All"}, W::menuKeys,
            "Sealed words.", "Sealed words.", "Sealed words.", "pasted");
        row("sealed, Cut, mouse", P::sealedPage, {"Cut"}, W::mouse, "words", "Sealed words.",
            "Sealed words.", "pasted");
        row("sealed, Paste, Ctrl+V", P::sealedPage, {"Paste"}, W::key, "words", "Sealed words.",
            "Sealed words.", "pasted");
        // The search field holds "rain".
        row("search, Select All, mouse", P::searchField, {"Select All"}, W::mouse, "rain", "rain",
            "!", "pasted");
        row("search, Paste, Alt+E", P::searchField, {"Paste"}, W::menuKeys, "", "rainpasted",
            "rainpasted!", "pasted");
        // The settings' name field holds "Ann"; that window has no menu bar of its own.
        row("settings, Select All then Cut, keys", P::settingsField, {"Select All", "Cut"}, W::key,
            "", "", "!", "Ann");
    }

    // The Edit menu's commands act on whatever has the keyboard, as their keys do, however they
    // are chosen; the keyboard stays where it was, so the next letter lands there too.
    void editMenuActsWhereTheKeyboardIs() {
        QFETCH(EditIn, place);
        QFETCH(QStringList, commands);
        QFETCH(ChosenBy, way);
        QFETCH(QString, selected);
        QFETCH(QString, written);
        QFETCH(QString, typedNext);
        QFETCH(QString, clipboard);
        Road road(QSize(609, 800));
        DayKey yesterday;
        QVERIFY(road.start([&](DiaryDependencyGraph &graph) {
            yesterday = daysBeforeToday(graph, 1);
            writeEarlierPage(graph, yesterday, QStringLiteral("Sealed words."), true);
        }));
        road.key(Qt::Key_Return);
        QVERIFY(waitUntil([&] { return road.settled() && road.book()->editor()->hasFocus(); }));
        VuzIvoduPageWidget *book = road.book();
        QWindow *keyboard = road.window();
        std::function<QString()> shownText;
        std::function<QString()> selection;
        // A piece of a ruled text selected with the mouse, from one character to another.
        const auto selectWithMouse = [&](MacRuledTextView *text, int from, int to) {
            road.drag(text->viewport(), text->caretRect(from)->center(),
                      text->caretRect(to)->center());
        };
        const auto watch = [&](QLineEdit *field) {
            shownText = [field] { return field->text(); };
            selection = [field] { return field->selectedText(); };
        };
        switch (place) {
        case EditIn::page:
            road.type(QStringLiteral("Dear diary"));
            QTRY_COMPARE_WITH_TIMEOUT(book->editor()->text(), QStringLiteral("Dear diary"),
                                      shownWithin);
            selectWithMouse(book->editor(), 5, 10);
            shownText = [&] { return book->editor()->text(); };
            selection = [&] { return book->editor()->textCursor().selectedText(); };
            break;
        case EditIn::sealedPage: {
            road.key(Qt::Key_PageUp, Qt::ControlModifier);
            QVERIFY(waitUntil(
                [&] { return road.session().selectedDay() == yesterday && road.settled(); }));
            MacRuledTextView *sealed = book->readingLeaf()->textView();
            QVERIFY(waitUntil([&] { return sealed->isVisible(); }));
            selectWithMouse(sealed, 7, 12);
            shownText = [sealed] { return sealed->toPlainText(); };
            selection = [sealed] { return sealed->textCursor().selectedText(); };
            break;
        }
        case EditIn::searchField: {
            road.key(Qt::Key_F, Qt::ControlModifier);
            QVERIFY(waitUntil([&] {
                return book->recallCards()->searchCard() &&
                       book->recallCards()->searchCard()->field()->hasFocus();
            }));
            QLineEdit *field = book->recallCards()->searchCard()->field();
            road.type(QStringLiteral("rain"));
            watch(field);
            break;
        }
        case EditIn::settingsField: {
            road.key(Qt::Key_Comma, Qt::ControlModifier);
            QVERIFY(waitUntil([] { return shownSettings() != nullptr; }));
            QVERIFY(becomesActive(shownSettings()));
            QLineEdit *field = shownSettings()->nameField();
            QTest::mouseClick(field, Qt::LeftButton);
            QVERIFY(waitUntil([field] { return field->hasFocus(); }));
            keyboard = shownSettings()->windowHandle();
            for (const char letter : {'A', 'n', 'n'})
                QTest::keyClick(keyboard, letter);
            watch(field);
            break;
        }
        }
        QApplication::clipboard()->setText(QStringLiteral("pasted"));
        QVERIFY(waitUntil(
            [] { return QApplication::clipboard()->text() == QStringLiteral("pasted"); }));

        for (const QString &command : std::as_const(commands))
            QVERIFY2(chooseEditCommand(road, command, way, keyboard), qPrintable(command));
        QTRY_COMPARE_WITH_TIMEOUT(selection(), selected, shownWithin);
        QTRY_COMPARE_WITH_TIMEOUT(shownText(), written, shownWithin);
        QTest::keyClick(keyboard, '!');
        QTRY_COMPARE_WITH_TIMEOUT(shownText(), typedNext, shownWithin);
        QCOMPARE(QApplication::clipboard()->text(), clipboard);
    }

private:
    // A row's child: words saved, the panel shown on the diary's own folder, a reader outside,
    // more words saved; then it waits to be killed.
    void writeAroundAPanelUntilKilled(const QString &panel, bool picksTheStore,
                                      const QString &settingsSuite) {
        Road road(QSize(914, 1200), {}, settingsSuite);
        QVERIFY(road.start([](DiaryDependencyGraph &) {}));
        const QString store = road.folder(QStringLiteral("diary/store.sqlite"));
        std::printf("store: %s\n", qPrintable(store));
        road.key(Qt::Key_Return);
        QVERIFY(waitUntil([&] { return road.settled() && road.book()->editor()->hasFocus(); }));
        const auto save = [&](const QString &words) {
            road.type(words);
            road.key(Qt::Key_S, Qt::ControlModifier);
            return waitUntil([&] {
                const auto stored = test::waitFor(
                    road.program->graph().repository()->entry(road.session().selectedDay()));
                return stored && stored->content.endsWith(words);
            });
        };
        QVERIFY(save(QStringLiteral("Before the panel.")));
        const QString memory = store + QStringLiteral("-shm");
        // At rest: what is held at each of a few looks while the program runs on, so that a
        // transaction in flight at one of them counts for nothing.
        LockedBytes storeAtRest = locksHeldOn(store);
        LockedBytes memoryAtRest = locksHeldOn(memory);
        for (int again = 0; again < 5; ++again) {
            QTest::qWait(20);
            storeAtRest = stillHeld(storeAtRest, locksHeldOn(store));
            memoryAtRest = stillHeld(memoryAtRest, locksHeldOn(memory));
        }
        QVERIFY2(!storeAtRest.isEmpty() && !memoryAtRest.isEmpty(),
                 qPrintable(describeLocks(storeAtRest) + describeLocks(memoryAtRest)));
        // Looked at often, on a thread of its own whatever the event loop is busy with, from
        // before the settings window opens until the panel has gone: a transaction may add locks
        // for a moment, but none held at rest may go.
        QString lost;
        std::atomic<const char *> when = "while the panel was up";
        const auto look = [&] {
            const LockedBytes storeNow = locksHeldOn(store);
            const LockedBytes memoryNow = locksHeldOn(memory);
            if (lost.isEmpty() && (stillHeld(storeAtRest, storeNow) != storeAtRest ||
                                   stillHeld(memoryAtRest, memoryNow) != memoryAtRest))
                lost = QStringLiteral("%1 on the store and %2 on its shared memory %3")
                           .arg(describeLocks(storeNow), describeLocks(memoryNow),
                                QLatin1String(when.load()));
        };
        std::jthread watching([&](const std::stop_token &stop) {
            while (!stop.stop_requested()) {
                look();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });

        bool listed = false;
        QStringList picked;
        QVERIFY(openPanel(road, panel, [&](QFileDialog &dialog) {
            fileNameField(dialog)->selectAll();
            QTest::keyClicks(fileNameField(dialog), QFileInfo(store).path() + QLatin1Char('/'));
            const auto *model = dialog.findChild<QFileSystemModel *>();
            listed = waitUntil([&] {
                for (const QString &file :
                     {store, store + QStringLiteral("-wal"), store + QStringLiteral("-shm")})
                    if (model->type(model->index(file)).isEmpty())
                        return false;
                return true;
            });
            when = "while it listed the folder";
            // Selected, which also drops what the typing selected on the way, and its name given
            // whole in the field: the panel leaves the field as it was when the field has the
            // keyboard, which the window system gives it at any time. Then taken, once it is what
            // the panel would choose.
            if (picksTheStore) {
                dialog.selectFile(store);
                fileNameField(dialog)->setText(store);
                picked = dialog.selectedFiles();
                if (picked != QStringList{store})
                    return;
                const auto *buttons = dialog.findChild<QDialogButtonBox *>();
                for (QAbstractButton *button : buttons->buttons())
                    if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole)
                        QTest::mouseClick(button, Qt::LeftButton);
            }
        }));
        // Refused, in the flow's alert.
        if (picksTheStore) {
            QCOMPARE(picked, QStringList{store});
            QVERIFY(waitUntil([] { return shownAlert() != nullptr; }));
            shownAlert()->close();
        }
        when = "after it";
        watching.request_stop();
        watching.join();
        look();
        // A listing that never came shows nothing about the locks: a timeout, not a lost lock.
        if (!listed) {
            std::printf("timed out: the dialog never listed the diary's folder\n");
        } else if (!lost.isEmpty()) {
            std::printf("the store lost its locks: %s on the store and %s on its shared memory at "
                        "rest, %s\n",
                        qPrintable(describeLocks(storeAtRest)),
                        qPrintable(describeLocks(memoryAtRest)), qPrintable(lost));
        }
        // A reader outside, which closes as the last connection when it believes it is one.
        QCOMPARE(QProcess::execute(QStringLiteral("sqlite3"),
                                   {store, QStringLiteral("SELECT count(*) FROM DiaryEntry;")}),
                 0);
        QVERIFY(waitUntil([&] { return road.book()->editor()->hasFocus(); }));
        QVERIFY(save(QStringLiteral(" After the panel.")));
        std::printf("written\n");
        std::fflush(stdout);
        waitUntil([] { return false; }, std::chrono::minutes(5));
    }

private Q_SLOTS:
    void menuKeysAnswerInEveryWindow_data() {
        QTest::addColumn<KeysIn>("place");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<KeyEffect>("effect");
        const auto row = [](const char *name, KeysIn place, QKeySequence keys, KeyEffect effect) {
            QTest::newRow(name) << place << keys << effect;
        };
        using K = KeysIn;
        using E = KeyEffect;
        row("settings, Ctrl+Q", K::settingsWindow, Qt::CTRL | Qt::Key_Q, E::quits);
        row("settings, Ctrl+T", K::settingsWindow, Qt::CTRL | Qt::Key_T, E::goesToToday);
        row("settings, Ctrl+F", K::settingsWindow, Qt::CTRL | Qt::Key_F, E::opensSearch);
        row("settings, Ctrl+0", K::settingsWindow, Qt::CTRL | Qt::Key_0, E::showsTheBook);
        row("settings, F11", K::settingsWindow, Qt::Key_F11, E::fillsTheScreen);
        row("settings, Escape", K::settingsWindow, Qt::Key_Escape, E::closesSettings);
        row("settings, Ctrl+W", K::settingsWindow, Qt::CTRL | Qt::Key_W, E::closesSettings);
        row("settings after export, Escape", K::settingsAfterExport, Qt::Key_Escape,
            E::closesSettings);
        row("settings after import, Escape", K::settingsAfterImport, Qt::Key_Escape,
            E::closesSettings);
        row("settings after a failed import, Escape", K::settingsAfterFailedImport, Qt::Key_Escape,
            E::closesSettings);
        row("settings after restore, Escape", K::settingsAfterRestore, Qt::Key_Escape,
            E::closesSettings);
        row("import complete alert, Ctrl+Q", K::importCompleteAlert, Qt::CTRL | Qt::Key_Q,
            E::quits);
        row("just sealed, Ctrl+T", K::sealAcknowledgement, Qt::CTRL | Qt::Key_T, E::goesToToday);
        row("sealed, Ctrl+T", K::sealedPage, Qt::CTRL | Qt::Key_T, E::goesToToday);
        row("search card, Ctrl+Q", K::searchCard, Qt::CTRL | Qt::Key_Q, E::quits);
        row("unlock prompt, Ctrl+Q", K::unlockPrompt, Qt::CTRL | Qt::Key_Q, E::quits);
        row("unlock prompt, Ctrl+,", K::unlockPrompt, Qt::CTRL | Qt::Key_Comma, E::opensNoSettings);
        row("unlock prompt, Ctrl+N", K::unlockPrompt, Qt::CTRL | Qt::Key_N, E::staysLocked);
    }

    // Every menu key works from every window of the program, whatever has the keyboard there,
    // and does there what it does anywhere: from yesterday's page, Ctrl+T comes back to today.
    // The alerts of an operation started in the settings window belong to that window, and give
    // the keyboard back to it.
    void menuKeysAnswerInEveryWindow() {
        QFETCH(KeysIn, place);
        QFETCH(QKeySequence, keys);
        QFETCH(KeyEffect, effect);
        const QString suite = QStringLiteral("RoadKeys");
        QFile::remove(UserDefaults::suiteFilePath(suite));
        UserDefaults::suite(suite)->setBool(
            UserDefaultsSettingsStore::requireAuthenticationSetting.key,
            place == KeysIn::unlockPrompt);
        Road road(QSize(609, 800), {}, suite);
        // An unlock still asking is withdrawn before the program goes, whatever the row found.
        const auto withdraw = qScopeGuard([&] {
            if (QWidget *prompt = shownUnlockPrompt()) {
                QTest::keyClick(prompt, Qt::Key_Escape);
                waitUntil([&] { return !road.program->rootView().lock()->isAuthenticating(); });
            }
            QFile::remove(UserDefaults::suiteFilePath(suite));
        });
        QWindow *keyboard = nullptr;
        DayKey yesterday;
        const QString kept = road.folder(QStringLiteral("kept.json"));
        if (place == KeysIn::unlockPrompt) {
            QVERIFY(road.launch());
            QVERIFY(waitUntil([] { return shownUnlockPrompt() != nullptr; }));
            QVERIFY(becomesActive(shownUnlockPrompt()));
            keyboard = shownUnlockPrompt()->windowHandle();
        } else {
            QVERIFY(road.start([&](DiaryDependencyGraph &graph) {
                // A page of the day before that can still be sealed.
                yesterday = daysBeforeToday(graph, 1);
                writeEarlierPage(graph, yesterday, QStringLiteral("Written yesterday."), false);
                // The diary as it stands, kept to be restored or imported again.
                if (place == KeysIn::settingsAfterRestore)
                    keepDiaryWithPage(graph, yesterday, {}, false, QString());
                if (place == KeysIn::settingsAfterImport || place == KeysIn::importCompleteAlert)
                    keepDiaryWithPage(graph, yesterday, {}, false, kept);
            }));
            road.key(Qt::Key_Return);
            QVERIFY(waitUntil([&] { return road.settled(); }));
            road.key(Qt::Key_PageUp, Qt::ControlModifier);
            QVERIFY(waitUntil(
                [&] { return road.session().selectedDay() == yesterday && road.settled(); }));
            keyboard = road.window();
        }
        VuzIvoduPageWidget *book = road.book();
        switch (place) {
        case KeysIn::settingsWindow:
            road.key(Qt::Key_Comma, Qt::ControlModifier);
            QVERIFY(waitUntil([] { return shownSettings() != nullptr; }));
            QVERIFY(becomesActive(shownSettings()));
            keyboard = shownSettings()->windowHandle();
            break;
        case KeysIn::settingsAfterExport:
        case KeysIn::settingsAfterImport:
        case KeysIn::settingsAfterFailedImport:
        case KeysIn::settingsAfterRestore: {
            road.key(Qt::Key_Comma, Qt::ControlModifier);
            QVERIFY(waitUntil([] { return shownSettings() != nullptr; }));
            QVERIFY(becomesActive(shownSettings()));
            const auto choose = [](const QString &file) {
                return [file](QFileDialog &dialog) {
                    fileNameField(dialog)->setText(file);
                    QTest::keyClick(fileNameField(dialog), Qt::Key_Return);
                };
            };
            if (place == KeysIn::settingsAfterExport) {
                QVERIFY(openPanel(road, QStringLiteral("Export"),
                                  choose(road.folder(QStringLiteral("exported.json")))));
                QVERIFY(answerAlert(QStringLiteral("Export Successful"), QStringLiteral("OK")));
            } else if (place == KeysIn::settingsAfterImport) {
                QVERIFY(openPanel(road, QStringLiteral("Import"), choose(kept)));
                QVERIFY(answerAlert(QStringLiteral("Import Diary Data?"), QStringLiteral("Merge")));
                QVERIFY(answerAlert(QStringLiteral("Import Complete"), QStringLiteral("OK")));
            } else if (place == KeysIn::settingsAfterFailedImport) {
                QFile junk(road.folder(QStringLiteral("junk.json")));
                QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("not an export") > 0);
                junk.close();
                QVERIFY(openPanel(road, QStringLiteral("Import"), choose(junk.fileName())));
                QVERIFY(answerAlert(QStringLiteral("Import Failed"), QStringLiteral("OK")));
            } else {
                // Shown once the backups are listed.
                QVERIFY(waitUntil([&] {
                    QAbstractButton *restore = settingsButton(road, QStringLiteral("Restore"));
                    return restore && restore->isVisible();
                }));
                // The restore has run once the section was busy and is no longer.
                MacDataSettingsController &data = shownSettings()->dataSection()->controller();
                QObject watching;
                bool busy = false;
                bool restored = false;
                QObject::connect(&data, &MacDataSettingsController::changed, &watching, [&] {
                    busy = busy || data.isProcessing();
                    restored = busy && !data.isProcessing();
                });
                QTest::mouseClick(settingsButton(road, QStringLiteral("Restore")), Qt::LeftButton);
                QVERIFY(
                    answerAlert(QStringLiteral("Restore from Backup?"), QStringLiteral("Restore")));
                QVERIFY(waitUntil([&] { return restored; }));
            }
            QVERIFY(becomesActive(shownSettings()));
            keyboard = QGuiApplication::focusWindow();
            break;
        }
        case KeysIn::importCompleteAlert:
            // The import ends as the quit is asked for: the alert that comes up takes the key.
            QVERIFY(openPanel(road, QStringLiteral("Import…"), [&](QFileDialog &dialog) {
                fileNameField(dialog)->setText(kept);
                QTest::keyClick(fileNameField(dialog), Qt::Key_Return);
            }));
            QVERIFY(answerAlert(QStringLiteral("Import Diary Data?"), QStringLiteral("Merge")));
            QVERIFY(waitUntil([] {
                return shownAlert() && shownAlert()->text() == QStringLiteral("Import Complete");
            }));
            QVERIFY(becomesActive(shownAlert()));
            keyboard = shownAlert()->windowHandle();
            break;
        case KeysIn::sealAcknowledgement:
        case KeysIn::sealedPage:
            QVERIFY(waitUntil([&] { return book->editor()->hasFocus(); }));
            road.key(Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
            QVERIFY(waitUntil([&] { return book->sealCard()->isVisible(); }));
            road.click(book->sealCard()->findChild<QAbstractButton *>(
                QStringLiteral("diary-seal-confirm")));
            QVERIFY(waitUntil([&] {
                return book->sealCard()->isVisible() &&
                       book->sealCard()->mode() == PaperSealRitualView::Mode::acknowledgement;
            }));
            if (place == KeysIn::sealedPage) {
                QVERIFY(waitUntil([&] { return !book->sealCard()->isVisible(); }));
                // The card gone, no hidden widget keeps the keyboard.
                QVERIFY(!book->focusWidget() || book->focusWidget()->isVisible());
            }
            break;
        case KeysIn::searchCard:
            road.key(Qt::Key_F, Qt::ControlModifier);
            QVERIFY(waitUntil([&] {
                return book->recallCards()->searchCard() &&
                       book->recallCards()->searchCard()->field()->hasFocus();
            }));
            break;
        case KeysIn::unlockPrompt:
            break;
        }

        QTest::keySequence(keyboard, keys);
        const DayKey today =
            DayKey::fromDate(road.program->graph().clock()->now(), road.session().calendar());
        switch (effect) {
        case KeyEffect::quits:
            QVERIFY(waitUntil([&] { return road.terminations() == 1; }));
            break;
        case KeyEffect::goesToToday:
            QVERIFY(
                waitUntil([&] { return road.session().selectedDay() == today && road.settled(); }));
            break;
        case KeyEffect::opensSearch:
            QVERIFY(waitUntil([&] { return book->recallCards()->searchCard() != nullptr; }));
            break;
        case KeyEffect::showsTheBook:
            // The book's own window, not a window of its own over it.
            QVERIFY(waitUntil([&] { return QGuiApplication::focusWindow() == road.window(); }));
            break;
        case KeyEffect::fillsTheScreen:
            QVERIFY(waitUntil([&] { return road.program->window().isFullScreen(); }));
            break;
        case KeyEffect::closesSettings:
            QVERIFY2(waitUntil([] { return shownSettings() == nullptr; }),
                     whereTheKeyboardIs().constData());
            // Nor did the key reach the book, to ask whether to leave the page.
            QVERIFY(!shownAlert());
            break;
        case KeyEffect::opensNoSettings:
        case KeyEffect::staysLocked:
            // Quit after it gets through, so the key was taken: and it left the diary locked.
            QTest::keySequence(keyboard, QKeySequence(Qt::CTRL | Qt::Key_Q));
            QVERIFY(waitUntil([&] { return road.terminations() == 1; }));
            QVERIFY(!shownSettings());
            QVERIFY(road.program->rootView().isLocked());
            QVERIFY(!road.program->rootView().stage());
            break;
        }
    }
};

int main(int argc, char **argv) {
    // A private X server for this test alone: real windows, focus and key routing. A copy of the
    // test that a row starts uses the same one, which outlives it when it is killed. The same for
    // the session bus, one that starts nothing on demand: no bus is started for the display behind
    // the test's back, nor the machine's notification daemon, to outlive the test.
    PrivateXServer server;
    PrivateSessionBus bus(PrivateSessionBus::Activation::none);
    if (!qEnvironmentVariableIsSet(killedChild)) {
        const QString display = server.display();
        if (display.isEmpty()) {
            std::fprintf(stderr, "The road test could not start its X server (Xvfb).\n");
            return 1;
        }
        qputenv("DISPLAY", display.toLocal8Bit());
        if (!bus.address().isEmpty())
            qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLocal8Bit());
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    prepareTestEnvironment();
    QApplication app(argc, argv);
    RoadTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_road.moc"

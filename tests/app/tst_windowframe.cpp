#include "app/BookWindowGeometry.h"
#include "app/DiaryBookWindow.h"
#include "app/DiaryLockCard.h"
#include "app/MacAppDelegate.h"

#include "support/PrivateXServer.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <cstdio>
#include <string>

using namespace velmora;
using namespace velmora::test;

// The book window under a real window manager (openbox) on a private X server, one run per
// desktop: the window manager's decorations only exist there. Each run is a child process of
// this test, since a Qt application keeps the display it started on.

namespace {

const char *const probeVariable = "VELMORA_WINDOW_PROBE";

QString rectText(const QRect &rect) {
    return BookWindowGeometry::frameText(rect);
}

void report(const char *key, const QString &value) {
    std::printf("%s=%s\n", key, qPrintable(value));
    std::fflush(stdout);
}

const char *const launchVariable = "VELMORA_WINDOW_LAUNCH";

// The frame as the window system last reported it, which the widget may not have been told of.
QRect reportedFrame(DiaryBookWindow &window) {
    return window.windowHandle()->frameGeometry();
}

// Fitted to its screen once the window manager has decorated it, as the widget and the window
// system see it.
bool isFitted(DiaryBookWindow &window) {
    QScreen *screen = window.screen();
    const QRect fitted =
        screen ? BookWindowGeometry::sizedFrame(screen->availableGeometry()) : QRect();
    return screen && !window.placement().decorations().isNull() &&
           window.frameGeometry() == fitted && reportedFrame(window) == fitted;
}

// One launch of the window, on the display it is given, keeping its frame in `frameFile`: it says
// where its frame came to rest, then ends as a quit does (keeping the frame) or waits for a
// SIGKILL.
int runLaunch(int argc, char **argv, const QString &frameFile, bool awaitKill) {
    QApplication app(argc, argv);
    auto defaults = std::make_shared<UserDefaults>(frameFile);
    DiaryBookWindow window;
    window.placement().setSettleDelay(std::chrono::milliseconds(50));
    window.setFrameDefaults(defaults);
    window.configure(false);
    window.show();
    waitUntil([&] { return isFitted(window); }, std::chrono::seconds(20));
    QTest::qWait(300);
    report("frame", rectText(window.frameGeometry()));
    while (awaitKill)
        QTest::qWait(1000);
    return 0;
}

// Launches the window one after another on the running window manager, each ending as `ending`
// says, and reports where each frame came to rest.
void runLaunches(const QString &ending, const QString &saved, const QString &folder) {
    const QString frameFile = folder + QStringLiteral("/launches.ini");
    UserDefaults(frameFile).setString(BookWindowPlacement::frameKey, saved);
    for (int i = 0; i < 10; ++i) {
        QProcess launch;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QString::fromLatin1(probeVariable));
        environment.insert(QString::fromLatin1(launchVariable), frameFile);
        environment.insert(QStringLiteral("VELMORA_WINDOW_LAUNCH_ENDING"), ending);
        launch.setProcessEnvironment(environment);
        launch.start(QCoreApplication::applicationFilePath(), {});
        QString frame;
        while (frame.isEmpty() && launch.waitForReadyRead(60000)) {
            const QString line = QString::fromLocal8Bit(launch.readLine()).trimmed();
            if (line.startsWith(QStringLiteral("frame=")))
                frame = line.mid(6);
        }
        if (ending == u"kill")
            ::kill(pid_t(launch.processId()), SIGKILL);
        launch.waitForFinished(60000);
        report(qPrintable(QStringLiteral("launch%1").arg(i)), frame);
    }
}

// The unlock as the program runs it: it begins as the window appears, and PAM's question comes
// from its own thread whenever PAM gets there; here just as the window is on screen again, before
// the prompt has shown itself, where the runs that failed had it (or once the prompt shows, should
// the window be on screen first). An answer ends the conversation on the next turn, as the end of
// a PAM transaction does.
struct UnlockConversation : QObject {
    DiaryPasswordDialog *prompt;
    QWidget *window;
    bool begun = false;
    QStringList answers;

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == window && event->type() == QEvent::Show) {
            prompt->begin(QStringLiteral("Unlock your diary"));
            begun = true;
        } else if (begun &&
                   ((event->type() == QEvent::Expose && window->windowHandle()->isExposed()) ||
                    (watched == prompt && event->type() == QEvent::Show))) {
            begun = false;
            prompt->ask(QStringLiteral("Password: "), false, [this](std::optional<QString> answer) {
                answers << answer.value_or(QStringLiteral("(cancelled)"));
                QTimer::singleShot(0, prompt, [this] { prompt->finish(); });
            });
        }
        return false;
    }
};

// The unlock's question answered with `cancel` ("Escape" pressed or "Cancel" clicked), the
// window then `away` ("closed" and shown again, as a second launch asks, or "minimized" and
// restored through the window manager), and the new question answered with the password and
// Return, each key sent to the prompt's window. Says the answers.
void walkTheUnlock(const QString &cancel, const QString &away) {
    DiaryBookWindow window;
    MacAppDelegate delegate;
    delegate.adoptMainWindow(&window);
    window.configure(false);
    DiaryPasswordDialog prompt(&window);
    UnlockConversation unlock;
    unlock.prompt = &prompt;
    unlock.window = &window;
    const QString id = QString::number(window.winId());
    for (QObject *watched :
         std::initializer_list<QObject *>{&window, window.windowHandle(), &prompt})
        watched->installEventFilter(&unlock);
    const auto asked = [&] {
        return waitUntil(
            [&] { return !unlock.begun && prompt.isActiveWindow() && prompt.field()->hasFocus(); },
            std::chrono::seconds(20));
    };
    const auto answered = [&](int count) {
        return waitUntil([&] { return unlock.answers.size() == count && !prompt.isVisible(); },
                         std::chrono::seconds(20));
    };
    window.show();
    if (asked()) {
        if (cancel == u"Escape") {
            QTest::keyClick(prompt.windowHandle(), Qt::Key_Escape);
        } else {
            const QPushButton *button =
                prompt.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel);
            QTest::mouseClick(prompt.windowHandle(), Qt::LeftButton, {},
                              button->mapTo(&prompt, button->rect().center()));
        }
    }
    if (answered(1)) {
        if (away == u"closed") {
            window.close();
            waitUntil([&] { return !window.isVisible(); }, std::chrono::seconds(20));
            delegate.presentMainWindow();
        } else {
            QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), id});
            waitUntil([&] { return window.isMinimized(); }, std::chrono::seconds(20));
            QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), id});
        }
        if (asked()) {
            for (const char letter : std::string("correct horse"))
                QTest::keyClick(prompt.windowHandle(), letter);
            QTest::keyClick(prompt.windowHandle(), Qt::Key_Return);
        }
    }
    answered(2);
    report("answers", unlock.answers.join(QLatin1Char('|')));
}

// The child: `screen` is Xvfb's; `saved` the frame kept from a run before; `launches` how the
// repeated launches end, or `unlock` how the unlock is walked ("cancel,away"), or neither for one
// window walked through its life.
int runProbe(int argc, char **argv, const QString &screen, const QString &saved,
             const QString &launches, const QString &unlock) {
    PrivateXServer server(screen.toStdString());
    const QString display = server.display();
    if (display.isEmpty()) {
        report("error", QStringLiteral("Xvfb could not be started"));
        return 2;
    }
    qputenv("DISPLAY", display.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    prepareTestEnvironment();

    // As on a desktop, the window manager is up before the program starts: it touches the marker
    // once it manages the screen.
    QTemporaryDir folder;
    const QString ready = folder.filePath(QStringLiteral("window-manager-ready"));
    QProcess windowManager;
    windowManager.setProcessChannelMode(QProcess::MergedChannels);
    windowManager.start(QStringLiteral("openbox"),
                        {QStringLiteral("--sm-disable"), QStringLiteral("--startup"),
                         QStringLiteral("touch ") + ready});
    if (!windowManager.waitForStarted()) {
        report("error", QStringLiteral("openbox (package openbox) could not be started"));
        return 2;
    }
    for (int i = 0; i < 400 && !QFileInfo::exists(ready); ++i)
        QThread::msleep(50);
    if (!launches.isEmpty()) {
        QCoreApplication core(argc, argv);
        runLaunches(launches, saved, folder.path());
        windowManager.terminate();
        windowManager.waitForFinished();
        return 0;
    }
    QApplication app(argc, argv);
    if (!unlock.isEmpty()) {
        walkTheUnlock(unlock.section(QLatin1Char(','), 0, 0),
                      unlock.section(QLatin1Char(','), 1, 1));
        windowManager.terminate();
        windowManager.waitForFinished();
        return 0;
    }

    auto defaults = std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("frame.ini")));
    if (!saved.isEmpty())
        defaults->setString(BookWindowPlacement::frameKey, saved);
    {
        DiaryBookWindow window;
        MacAppDelegate delegate;
        delegate.adoptMainWindow(&window);
        window.placement().setSettleDelay(std::chrono::milliseconds(50));
        window.setFrameDefaults(defaults);
        window.configure(false);
        window.show();

        const auto fitted = [&] { return isFitted(window); };
        waitUntil(fitted, std::chrono::seconds(20));
        report("visible", rectText(window.screen()->availableGeometry()));
        report("frame", rectText(window.frameGeometry()));
        report("inside", rectText(window.geometry()));
        report("titleBar", QString::number(window.titleBarHeight()));
        if (window.titleBarHeight() == 0)
            report("windowManager", QString::fromLocal8Bit(windowManager.readAll()).simplified());

        // The window manager answers late with the size the window was first given, before its
        // decorations were known: as tall inside as the whole frame may be.
        const QSize firstGiven = window.frameGeometry().size();
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("windowsize"), QString::number(window.winId()),
                           QString::number(firstGiven.width()),
                           QString::number(firstGiven.height())});
        waitUntil([&] { return window.windowHandle()->size() == firstGiven; },
                  std::chrono::seconds(10));
        waitUntil(fitted, std::chrono::seconds(10));
        QTest::qWait(300);
        report("answeredLate", rectText(reportedFrame(window)));

        window.showMinimized();
        waitUntil([&] { return window.isMinimized(); }, std::chrono::seconds(20));
        report("minimized", QString::number(window.isMinimized()));
        delegate.presentMainWindow();
        waitUntil([&] { return !window.isMinimized() && window.isActiveWindow(); },
                  std::chrono::seconds(20));
        report("shownAgain", QString::number(!window.isMinimized() && window.isVisible()));
        report("active", QString::number(window.isActiveWindow()));

        // Other clients ask for other frames, as the window manager does for a drag: wider,
        // taller, and taller with its title bar pushed above the screen. Each is taken, then
        // comes to rest.
        struct Resizes : QObject {
            int given = 0;
            bool eventFilter(QObject *, QEvent *event) override {
                given += event->type() == QEvent::Resize && event->spontaneous();
                return false;
            }
        } resizes;
        window.installEventFilter(&resizes);
        const QRect visible = window.screen()->availableGeometry();
        const auto ask = [&](const char *key, const QStringList &command) {
            const int before = resizes.given;
            QProcess::execute(QStringLiteral("xdotool"), command);
            waitUntil(
                [&] {
                    const QRect frame = reportedFrame(window);
                    return resizes.given > before && frame == window.frameGeometry() &&
                           frame.size() == BookWindowGeometry::sizedFrame(visible).size() &&
                           visible.contains(frame);
                },
                std::chrono::seconds(20));
            QTest::qWait(300);
            report(key, rectText(reportedFrame(window)));
        };
        const QString id = QString::number(window.winId());
        const QSize inside = window.size();
        ask("widened", {QStringLiteral("windowsize"), id, QString::number(inside.width() + 100),
                        QString::number(inside.height())});
        ask("heightened", {QStringLiteral("windowsize"), id, QString::number(inside.width()),
                           QString::number(inside.height() + 200)});
        ask("raised", {QStringLiteral("windowmove"), id, QString::number(window.x()),
                       QStringLiteral("-40"), QStringLiteral("windowsize"), id,
                       QString::number(inside.width()), QString::number(inside.height() + 40)});

        const QRect last = window.frameGeometry();
        window.hide();
        report("last", rectText(last));
        report("kept", defaults->stringValue(BookWindowPlacement::frameKey).value_or(QString()));
    }
    {
        // The unlock starts as the window appears: its prompt, begun before the window manager
        // has the window on screen, still shows over it with the keyboard, below the card's
        // heading.
        DiaryBookWindow window;
        window.setFrameDefaults(defaults);
        window.configure(false);
        DiaryPasswordDialog prompt(&window);
        // As the root view does: the unlock begins while the window is being shown.
        DiaryLockCard content;
        prompt.keepClearOf([&content] { return content.headingArea(); });
        window.setCentralWidget(&content);
        struct Begin : QObject {
            DiaryPasswordDialog *prompt;
            bool eventFilter(QObject *, QEvent *event) override {
                if (event->type() == QEvent::Show)
                    prompt->begin(QStringLiteral("Unlock your diary"));
                return false;
            }
        } begin;
        begin.prompt = &prompt;
        content.installEventFilter(&begin);
        window.show();
        content.removeEventFilter(&begin);
        waitUntil(
            [&] { return prompt.isActiveWindow() && prompt.frameGeometry() != prompt.geometry(); },
            std::chrono::seconds(10));
        report("promptActive", QString::number(prompt.isVisible() && prompt.isActiveWindow()));
        report("prompt", rectText(prompt.frameGeometry()));
        report("heading", rectText(content.headingArea()));
        window.takeCentralWidget();
    }
    windowManager.terminate();
    windowManager.waitForFinished();
    return 0;
}

QHash<QString, QString> probe(const QString &screen, const QString &saved, QString &log,
                              const QString &launches = {}, const QString &unlock = {}) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(probeVariable), screen);
    environment.insert(QStringLiteral("VELMORA_WINDOW_PROBE_SAVED"), saved);
    environment.insert(QStringLiteral("VELMORA_WINDOW_PROBE_LAUNCHES"), launches);
    environment.insert(QStringLiteral("VELMORA_WINDOW_PROBE_UNLOCK"), unlock);
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    child.waitForFinished(600000);
    log = QString::fromLocal8Bit(child.readAllStandardError());
    QHash<QString, QString> values;
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n');
    for (const QString &line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1));
    }
    log += QStringLiteral("\nexit %1").arg(child.exitCode());
    return values;
}

QRect rectOf(const QString &text) {
    return BookWindowGeometry::frameFromText(text).value_or(QRect());
}

} // namespace

class WindowFrameTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void frameFitsTheScreen_data() {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QRect>("visible");
        QTest::newRow("1200 high")
            << QStringLiteral("1920x1200x24") << QString() << QRect(0, 0, 1920, 1200);
        QTest::newRow("800 high") << QStringLiteral("1280x800x24") << QString()
                                  << QRect(0, 0, 1280, 800);
        QTest::newRow("upright") << QStringLiteral("1080x1920x24") << QString()
                                 << QRect(0, 0, 1080, 1920);
        QTest::newRow("kept on a screen that is gone")
            << QStringLiteral("1280x800x24") << QStringLiteral("3000 0 914 1200")
            << QRect(0, 0, 1280, 800);
        QTest::newRow("kept taller than the screen")
            << QStringLiteral("1280x800x24") << QStringLiteral("336 0 628 825")
            << QRect(0, 0, 1280, 800);
    }

    void frameFitsTheScreen() {
        QFETCH(QString, screen);
        QFETCH(QString, saved);
        QFETCH(QRect, visible);
        QString log;
        const QHash<QString, QString> run = probe(screen, saved, log);
        QVERIFY2(!run.contains(QStringLiteral("error")), qPrintable(run.value("error") + log));
        QVERIFY2(run.contains(QStringLiteral("kept")), qPrintable(log));
        QCOMPARE(rectOf(run.value(QStringLiteral("visible"))), visible);

        // The frame, decorations included, is the book's on that screen.
        const QRect frame = rectOf(run.value(QStringLiteral("frame")));
        QCOMPARE(frame, BookWindowGeometry::sizedFrame(visible));
        QVERIFY(visible.contains(frame));
        const int titleBar = run.value(QStringLiteral("titleBar")).toInt();
        QVERIFY2(titleBar > 0, qPrintable(QStringLiteral("no title bar; openbox said: ") +
                                          run.value(QStringLiteral("windowManager")) + log));
        QVERIFY(frame.contains(rectOf(run.value(QStringLiteral("inside")))));
        // A late answer of the window manager with the first size leaves it fitted.
        QCOMPARE(rectOf(run.value(QStringLiteral("answeredLate"))), frame);

        // A minimized window comes back in front when asked for.
        QCOMPARE(run.value(QStringLiteral("minimized")), QStringLiteral("1"));
        QCOMPARE(run.value(QStringLiteral("shownAgain")), QStringLiteral("1"));
        QCOMPARE(run.value(QStringLiteral("active")), QStringLiteral("1"));

        // Asked for more, it stays the largest book the screen holds, all of it on the screen.
        for (const QString &key :
             {QStringLiteral("widened"), QStringLiteral("heightened"), QStringLiteral("raised")}) {
            const QRect asked = rectOf(run.value(key));
            QVERIFY2(asked.size() == frame.size() && visible.contains(asked),
                     qPrintable(key + QStringLiteral(": ") + run.value(key)));
        }

        // Its frame is kept for the next start.
        QCOMPARE(run.value(QStringLiteral("kept")), run.value(QStringLiteral("last")));

        QCOMPARE(run.value(QStringLiteral("promptActive")), QStringLiteral("1"));
        const QRect prompt = rectOf(run.value(QStringLiteral("prompt")));
        const QRect heading = rectOf(run.value(QStringLiteral("heading")));
        QVERIFY2(!prompt.isEmpty() && !heading.isEmpty() && !prompt.intersects(heading) &&
                     visible.contains(prompt),
                 qPrintable(run.value(QStringLiteral("prompt")) + QStringLiteral(" over ") +
                            run.value(QStringLiteral("heading"))));
    }

    void everyLaunchFitsTheScreen_data() {
        QTest::addColumn<QString>("ending");
        QTest::newRow("after a quit") << QStringLiteral("quit");
        QTest::newRow("after a SIGKILL") << QStringLiteral("kill");
    }

    // Launch after launch, starting from a frame kept taller than the screen.
    void everyLaunchFitsTheScreen() {
        QFETCH(QString, ending);
        QString log;
        const QHash<QString, QString> run =
            probe(QStringLiteral("1280x800x24"), QStringLiteral("336 0 628 825"), log, ending);
        QVERIFY2(!run.contains(QStringLiteral("error")), qPrintable(run.value("error") + log));
        const QRect fitted = BookWindowGeometry::sizedFrame(QRect(0, 0, 1280, 800));
        for (int i = 0; i < 10; ++i)
            QVERIFY2(rectOf(run.value(QStringLiteral("launch%1").arg(i))) == fitted,
                     qPrintable(QStringLiteral("launch %1: %2\n%3")
                                    .arg(i)
                                    .arg(run.value(QStringLiteral("launch%1").arg(i)), log)));
    }

    // Return answers the unlock's question with what is in the field, as OK does, also when the
    // question comes again after a cancel once the window went and came back, whatever button
    // had the keyboard or the default when the prompt last closed.
    void returnAnswersTheUnlockAskedAgain_data() {
        QTest::addColumn<QString>("cancel");
        QTest::addColumn<QString>("away");
        QTest::newRow("Escape, then closed and shown again")
            << QStringLiteral("Escape") << QStringLiteral("closed");
        QTest::newRow("Cancel clicked, then closed and shown again")
            << QStringLiteral("Cancel") << QStringLiteral("closed");
        QTest::newRow("Escape, then minimized and restored")
            << QStringLiteral("Escape") << QStringLiteral("minimized");
        QTest::newRow("Cancel clicked, then minimized and restored")
            << QStringLiteral("Cancel") << QStringLiteral("minimized");
    }

    void returnAnswersTheUnlockAskedAgain() {
        QFETCH(QString, cancel);
        QFETCH(QString, away);
        QString log;
        const QHash<QString, QString> run =
            probe(QStringLiteral("1280x800x24"), {}, log, {}, cancel + u',' + away);
        QVERIFY2(!run.contains(QStringLiteral("error")), qPrintable(run.value("error") + log));
        QVERIFY2(run.contains(QStringLiteral("answers")), qPrintable(log));
        QCOMPARE(run.value(QStringLiteral("answers")), QStringLiteral("(cancelled)|correct horse"));
    }
};

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsSet(launchVariable))
        return runLaunch(argc, argv, qEnvironmentVariable(launchVariable),
                         qEnvironmentVariable("VELMORA_WINDOW_LAUNCH_ENDING") == u"kill");
    if (qEnvironmentVariableIsSet(probeVariable))
        return runProbe(argc, argv, qEnvironmentVariable(probeVariable),
                        qEnvironmentVariable("VELMORA_WINDOW_PROBE_SAVED"),
                        qEnvironmentVariable("VELMORA_WINDOW_PROBE_LAUNCHES"),
                        qEnvironmentVariable("VELMORA_WINDOW_PROBE_UNLOCK"));
    prepareTestEnvironment();
    QCoreApplication app(argc, argv);
    WindowFrameTests test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowframe.moc"

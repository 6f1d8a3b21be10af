#include "support/ProgramRun.h"

#include "app/VelmoraCommandLine.h"

#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace velmora;

using Action = VelmoraCommandLine::Action;

namespace {

// An X display of its own, at the abstract socket a client tries first: it takes every
// connection, answers its request with `reply` and then keeps it open without a word more,
// counting the requests and the connections their clients closed.
class FakeDisplay {
public:
    explicit FakeDisplay(QByteArray reply)
        : m_reply(std::move(reply)) {
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        for (int number = 2370 + ::getpid() % 5000; m_number < 0 && number < 12370; ++number) {
            const QByteArray path = "/tmp/.X11-unix/X" + QByteArray::number(number);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path + 1, path.constData(), size_t(path.size()));
            if (::bind(m_listener, reinterpret_cast<const sockaddr *>(&address),
                       socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(path.size()))) == 0)
                m_number = number;
        }
        if (m_number < 0 || ::listen(m_listener, 8) != 0 || ::pipe2(m_stop, O_CLOEXEC) != 0)
            qFatal("No display of its own for the test");
        m_server = std::thread([this] { serve(); });
    }
    ~FakeDisplay() {
        ::close(m_stop[1]);
        m_server.join();
        ::close(m_stop[0]);
        ::close(m_listener);
    }

    QString name() const { return QStringLiteral(":%1").arg(m_number); }
    int asked() const { return m_asked; }
    int closed() const { return m_closed; }
    // How often its last client went, the moment a real server starts over.
    int leftAlone() const { return m_leftAlone; }

private:
    void serve() {
        std::vector<pollfd> waits{{m_listener, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        char request[1024];
        while (::poll(waits.data(), waits.size(), -1) > 0 && waits[1].revents == 0) {
            for (auto wait = waits.begin() + 2; wait != waits.end();) {
                if (wait->revents && ::recv(wait->fd, request, sizeof request, MSG_DONTWAIT) <= 0) {
                    ::close(wait->fd);
                    wait = waits.erase(wait);
                    ++m_closed;
                    if (waits.size() == 2)
                        ++m_leftAlone;
                } else {
                    ++wait;
                }
            }
            if (waits[0].revents == 0)
                continue;
            const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            waits.push_back({connection, POLLIN, 0});
            // Only once asked, as a server does: a client takes what comes before it asks for
            // something else.
            if (::recv(connection, request, sizeof request, 0) <= 0 ||
                ::send(connection, m_reply.constData(), size_t(m_reply.size()), MSG_NOSIGNAL) < 0)
                qWarning("The test display could not answer");
            ++m_asked;
        }
        for (auto wait = waits.begin() + 2; wait != waits.end(); ++wait)
            ::close(wait->fd);
    }

    QByteArray m_reply;
    int m_listener = -1;
    int m_number = -1;
    int m_stop[2] = {-1, -1};
    std::atomic<int> m_asked{0};
    std::atomic<int> m_closed{0};
    std::atomic<int> m_leftAlone{0};
    std::thread m_server;
};

} // namespace

class CommandLineTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decidesBeforeAnythingOpens_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("exitCode");
        const auto row = [](const char *name, QStringList arguments, Action action, int code) {
            arguments.prepend(QStringLiteral("/usr/bin/velmora"));
            QTest::newRow(name) << arguments << int(action) << code;
        };
        row("nothing", {}, Action::run, 0);
        row("test mode",
            {"--velmora-test-mode", "--velmora-store-url", "/tmp/a.sqlite",
             "--velmora-defaults-suite", "Tests"},
            Action::run, 0);
        row("test mode with =",
            {"--velmora-test-mode", "--velmora-store-url=app-temporary://a",
             "--velmora-defaults-suite=Tests"},
            Action::run, 0);
        // The launch configuration reports a missing value on the load-failure card.
        row("missing value", {"--velmora-test-mode", "--velmora-store-url"}, Action::run, 0);
        row("reduced motion", {"--velmora-reduce-motion"}, Action::run, 0);
        row("sync folder", {"--velmora-test-mode", "--velmora-sync-root", "/tmp/sync"}, Action::run,
            0);
        row("toolkit options", {"-platform", "offscreen", "-style", "fusion", "--reverse"},
            Action::run, 0);
        row("a file", {"notes.txt"}, Action::run, 0);
        row("help", {"--help"}, Action::help, 0);
        row("short help", {"-h"}, Action::help, 0);
        row("version", {"--version"}, Action::version, 0);
        row("short version", {"-v"}, Action::version, 0);
        row("unknown", {"--bogus"}, Action::refuse, 2);
        row("mistyped launch option", {"--velmora-test"}, Action::refuse, 2);
        row("unknown letters", {"-xyz"}, Action::refuse, 2);
        row("unknown beside help", {"--help", "--bogus"}, Action::refuse, 2);
    }

    void decidesBeforeAnythingOpens() {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(int, exitCode);
        const VelmoraCommandLine line = VelmoraCommandLine::parse(arguments);
        QCOMPARE(int(line.action), action);
        QCOMPARE(line.exitCode, exitCode);
        QCOMPARE(line.output.isEmpty(), line.action == Action::run);
    }

    // A live launch needs a home folder for the diary (never the root of the file system), and
    // every launch a display; a test run brings its own store and settings.
    void checksTheSurroundings_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("home");
        const auto row = [](const char *name, QStringList arguments, QStringList environment,
                            const char *refusal, const char *home = "") {
            arguments.prepend(QStringLiteral("/usr/bin/velmora"));
            QTest::newRow(name) << arguments << environment << QString::fromUtf8(refusal)
                                << QString::fromUtf8(home);
        };
        const char *noHome = "Velmora needs a home folder for your diary: ";
        const char *noDisplay = "Velmora needs a graphical desktop session: ";
        row("a desktop", {}, {"HOME=/home/ada", "DISPLAY=:0"}, "");
        row("home from the account", {}, {"account=/home/account", "DISPLAY=:0"}, "",
            "/home/account");
        row("home not a folder", {}, {"HOME=/nowhere", "account=/home/account", "DISPLAY=:0"}, "",
            "/home/account");
        row("no home", {}, {"account=/nowhere", "DISPLAY=:0"}, noHome);
        row("home relative", {}, {"HOME=home/ada", "DISPLAY=:0"}, noHome);
        row("home not a folder, nor the account's", {}, {"HOME=/nowhere", "DISPLAY=:0"}, noHome);
        row("test mode without a home",
            {"--velmora-test-mode", "--velmora-store-url", "/tmp/a.sqlite",
             "--velmora-defaults-suite", "Tests"},
            {"DISPLAY=:0"}, "");
        row("no display", {}, {"HOME=/home/ada"}, noDisplay);
        row("a display that does not answer", {}, {"HOME=/home/ada", "DISPLAY=:5"}, noDisplay);
        row("Wayland", {},
            {"HOME=/home/ada", "WAYLAND_DISPLAY=wayland-0", "XDG_RUNTIME_DIR=/run/user/1000"}, "");
        row("offscreen", {}, {"HOME=/home/ada", "QT_QPA_PLATFORM=offscreen"}, "");
        row("offscreen on the command line", {"-platform", "offscreen"}, {"HOME=/home/ada"}, "");
        row("X asked for, only Wayland there", {},
            {"HOME=/home/ada", "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY=wayland-0",
             "XDG_RUNTIME_DIR=/run/user/1000"},
            noDisplay);
        row("a list that falls back to X", {},
            {"HOME=/home/ada", "QT_QPA_PLATFORM=wayland;xcb", "DISPLAY=:0"}, "");
        row("the display on the command line", {"-display", ":0"}, {"HOME=/home/ada", "DISPLAY=:5"},
            "");
    }

    void checksTheSurroundings() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(QString, refusal);
        QFETCH(QString, home);
        QHash<QString, QString> variables;
        for (const QString &setting : environment)
            variables.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        const auto variable = [&](const char *name) {
            const QString key = QString::fromLatin1(name);
            return variables.contains(key) ? std::optional(variables.value(key)) : std::nullopt;
        };
        const VelmoraSurroundings surroundings{
            variable("HOME"),
            variable("account"),
            variable("QT_QPA_PLATFORM"),
            variable("DISPLAY"),
            variable("WAYLAND_DISPLAY"),
            variable("XDG_RUNTIME_DIR"),
            [](const QString &path) { return path == u"/home/ada" || path == u"/home/account"; },
            [](const QString &display) { return display == u":0"; },
            [](const QString &socket) { return socket == u"/run/user/1000/wayland-0"; }};
        const VelmoraCommandLine line =
            VelmoraCommandLine::checkSurroundings(arguments, surroundings);
        if (refusal.isEmpty()) {
            QCOMPARE(int(line.action), int(Action::run));
            QVERIFY2(line.output.isEmpty(), qPrintable(line.output));
        } else {
            QCOMPARE(int(line.action), int(Action::refuse));
            QCOMPARE(line.exitCode, 1);
            QVERIFY2(line.output.startsWith(refusal) && line.output.endsWith(QLatin1Char('\n')) &&
                         line.output.count(QLatin1Char('\n')) == 1,
                     qPrintable(line.output));
        }
        QCOMPARE(line.home.value_or(QString()), home);
    }

    void givesUpOnADisplayThatDoesNotAnswer_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("screen"); // of the display's name, ":N.screen"
        // The connection accepted, by the server of protocol 11.0, with one screen and nothing
        // more to tell.
        QByteArray accepted("\x01\x00\x0b\x00\x00\x00\x12\x00", 8);
        accepted.append(72, '\0');
        accepted[28] = 1;
        QTest::newRow("answers") << accepted << true << 0 << 0;
        QTest::newRow("a screen it does not have") << accepted << false << 0 << 1;
        QTest::newRow("silent") << QByteArray() << false << 0 << 0;
        QTest::newRow("part of an answer") << accepted.first(20) << false << 0 << 0;
        QTest::newRow("junk") << QByteArray("Z\x93\x07\xe1\x5a\x11\x4c\xf0", 8).repeated(8) << false
                              << 0 << 0;
        // The program itself, sent a signal while it waits.
        QTest::newRow("killed while waiting") << QByteArray() << false << SIGKILL << 0;
        QTest::newRow("terminated while waiting") << QByteArray() << false << SIGTERM << 0;
        QTest::newRow("stopped while waiting") << QByteArray() << false << SIGSTOP << 0;
    }

    // A display that takes the connection and then says nothing, or not all it should, is given
    // up on after a few seconds; the launch is refused in one line as where no display answers.
    // What asks the display ends with the launch, and by itself when the launch cannot end it.
    void givesUpOnADisplayThatDoesNotAnswer() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, answers);
        QFETCH(int, sent);
        QFETCH(int, screen);
        const FakeDisplay display(reply);
        if (sent != 0) {
            const QTemporaryDir home;
            QProcessEnvironment screen;
            screen.insert(QStringLiteral("DISPLAY"), display.name());
            test::ProgramRun run(
                QStringLiteral(VELMORA_EXECUTABLE), home.path(),
                {QStringLiteral("--velmora-test-mode")}, {}, screen,
                {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("WAYLAND_DISPLAY")});
            QVERIFY2(test::waitUntil([&] { return display.asked() == 1; }, std::chrono::minutes(1)),
                     qPrintable(run.errors()));
            ::kill(pid_t(run.process.processId()), sent);
            // The connection closes only when the process holding it ends.
            QVERIFY(
                test::waitUntil([&] { return display.closed() == 1; }, std::chrono::minutes(1)));
            return;
        }
        VelmoraSurroundings surroundings = VelmoraSurroundings::current();
        surroundings.platform.reset();
        surroundings.waylandDisplay.reset();
        const QString name =
            display.name() + (screen ? QStringLiteral(".%1").arg(screen) : QString());
        surroundings.x11Display = name;
        const VelmoraCommandLine line = VelmoraCommandLine::checkSurroundings(
            {QStringLiteral("/usr/bin/velmora"), QStringLiteral("--velmora-test-mode")},
            surroundings);
        QCOMPARE(line.output,
                 answers ? QString()
                         : QStringLiteral("Velmora needs a graphical desktop session: no display "
                                          "answers at %1.\n")
                               .arg(name));
        QCOMPARE(line.exitCode, answers ? 0 : 1);
        // One that answers keeps a connection of the launch until the toolkit has its own: an X
        // server with no other client starts over as its last one goes, and turns the toolkit
        // away meanwhile.
        QVERIFY(test::waitUntil([&] {
            return display.asked() == (answers ? 2 : 1) &&
                   display.closed() == display.asked() - (answers ? 1 : 0);
        }));
        if (answers)
            QCOMPARE(display.leftAlone(), 0);
        VelmoraSurroundings::letGoOfTheDisplay();
        QVERIFY(test::waitUntil([&] { return display.closed() == display.asked(); }));
    }

    void refusalIsOneLineNamingTheOption() {
        const VelmoraCommandLine line = VelmoraCommandLine::parse(
            {QStringLiteral("/usr/bin/velmora"), QStringLiteral("--bogus")});
        QCOMPARE(line.output,
                 QStringLiteral("velmora: unknown option '--bogus'; see 'velmora --help'.\n"));
    }
};

QTEST_GUILESS_MAIN(CommandLineTests)
#include "tst_commandline.moc"

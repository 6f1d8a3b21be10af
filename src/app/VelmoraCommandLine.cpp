#include "app/VelmoraCommandLine.h"

#include "domain/AppRuntimeConfiguration.h"
#include "pagescreen/VuzIvoduPageView.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

namespace velmora {

namespace {

// The options the toolkit takes for itself, with and without a value.
const QStringList toolkitValueOptions{
    QStringLiteral("platform"),
    QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),
    QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"),
    QStringLiteral("geometry"),
    QStringLiteral("qwindowtitle"),
    QStringLiteral("title"),
    QStringLiteral("qwindowicon"),
    QStringLiteral("icon"),
    QStringLiteral("session"),
    QStringLiteral("display"),
    QStringLiteral("name"),
    QStringLiteral("style"),
    QStringLiteral("stylesheet"),
    QStringLiteral("qmljsdebugger"),
    QStringLiteral("visual"),
};
const QStringList toolkitFlags{
    QStringLiteral("reverse"), QStringLiteral("widgetcount"), QStringLiteral("nograb"),
    QStringLiteral("dograb"),  QStringLiteral("sync"),        QStringLiteral("testability"),
};

QString bare(const QString &argument) {
    QString name = argument;
    while (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    return name;
}

} // namespace

QString VelmoraCommandLine::helpText(const QString &programName) {
    return QCoreApplication::translate(
               "VelmoraCommandLine",
               "Usage: %1 [options]\n"
               "\n"
               "Velmora, a private diary drawn as a leather-bound book. With no options it opens "
               "your own diary.\n"
               "\n"
               "Options:\n"
               "  -h, --help                        Show these options and quit.\n"
               "  -v, --version                     Show the version and quit.\n"
               "  --velmora-reduce-motion           Turn pages without motion.\n"
               "  --velmora-test-mode               Open a separate diary for testing, never "
               "your own;\n"
               "                                    it needs the two options below.\n"
               "  --velmora-store-url <url>         The test diary's store: a path, or a file:// "
               "or\n"
               "                                    app-temporary:// address.\n"
               "  --velmora-defaults-suite <name>   The test diary's settings.\n"
               "  --velmora-sync-root <folder>      The test diary's sync folder.\n"
               "\n"
               "The toolkit's own options (-platform, -style, -display, …) are accepted too.\n")
        .arg(programName);
}

QString VelmoraCommandLine::version() {
    return QStringLiteral(VELMORA_VERSION);
}

VelmoraCommandLine VelmoraCommandLine::parse(const QStringList &arguments) {
    QCommandLineParser parser;
    // The toolkit's options take one dash and whole words: -platform, -style.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(
        QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOption(help);
    parser.addOption(versionOption);
    parser.addOption(QCommandLineOption(bare(AppRuntimeConfiguration::testModeArgument)));
    parser.addOption(QCommandLineOption(bare(VuzIvoduPageView::reduceMotionArgument)));
    for (const QString &valued : {bare(AppRuntimeConfiguration::storeURLArgument),
                                  bare(AppRuntimeConfiguration::defaultsSuiteArgument),
                                  bare(AppRuntimeConfiguration::syncRootArgument)})
        parser.addOption(QCommandLineOption(valued, QString(), QStringLiteral("value")));
    for (const QString &option : toolkitValueOptions)
        parser.addOption(QCommandLineOption(option, QString(), QStringLiteral("value")));
    for (const QString &option : toolkitFlags)
        parser.addOption(QCommandLineOption(option));

    const QString programName =
        arguments.isEmpty() ? QStringLiteral("velmora") : QFileInfo(arguments.first()).fileName();
    VelmoraCommandLine result;
    // A value missing after a launch option is for the launch configuration to report (the
    // diary shows why it could not open); only an option nobody knows is refused here.
    if (!parser.parse(arguments) && !parser.unknownOptionNames().isEmpty()) {
        const QString unknown = parser.unknownOptionNames().constFirst();
        const QString dashes = unknown.size() == 1 ? QStringLiteral("-") : QStringLiteral("--");
        result.action = Action::refuse;
        result.exitCode = 2;
        result.output = QCoreApplication::translate("VelmoraCommandLine",
                                                    "%1: unknown option '%2'; see '%1 --help'.")
                            .arg(programName, dashes + unknown) +
                        QLatin1Char('\n');
        return result;
    }
    if (parser.isSet(help)) {
        result.action = Action::help;
        result.output = helpText(programName);
    } else if (parser.isSet(versionOption)) {
        result.action = Action::version;
        result.output = QStringLiteral("Velmora %1\n").arg(version());
    }
    return result;
}

namespace {

// The value a toolkit option of the command line gives (Qt reads "-platform" and "-display",
// with one dash or two, followed by the value), or none.
std::optional<QString> toolkitOption(const QStringList &arguments, const QString &name) {
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (bare(arguments.at(i)) == name && arguments.at(i).startsWith(QLatin1Char('-')))
            return arguments.at(i + 1);
    }
    return std::nullopt;
}

bool isAbsoluteFolder(const std::optional<QString> &path, const VelmoraSurroundings &around) {
    return path && QDir::isAbsolutePath(*path) && around.isFolder(*path);
}

// Why the diary would have no home folder, or none when it has one; `home` the folder to run
// with when it is not HOME.
std::optional<QString> missingHome(const VelmoraSurroundings &around,
                                   std::optional<QString> &home) {
    if (isAbsoluteFolder(around.home, around))
        return std::nullopt;
    // Without HOME Qt puts the diary and its settings under the root of the file system.
    if (isAbsoluteFolder(around.accountHome, around)) {
        home = around.accountHome;
        return std::nullopt;
    }
    if (!around.home || around.home->isEmpty())
        return QCoreApplication::translate("VelmoraCommandLine",
                                           "Velmora needs a home folder for your diary: HOME is "
                                           "not set, and your account has no home folder.");
    return QCoreApplication::translate("VelmoraCommandLine",
                                       "Velmora needs a home folder for your diary: HOME (%1) is "
                                       "not a folder, and your account has no home folder.")
        .arg(*around.home);
}

// Why no display can be had, or none when one answers. Qt tries the platforms asked for in
// turn and fails inside the application object when none starts; the plain default takes
// whichever display the session names.
std::optional<QString> missingDisplay(const QStringList &arguments,
                                      const VelmoraSurroundings &around) {
    const QString x11 = toolkitOption(arguments, QStringLiteral("display"))
                            .value_or(around.x11Display.value_or(QString()));
    const QString waylandName = around.waylandDisplay.value_or(QString());
    const auto waylandSocket = [&]() -> std::optional<QString> {
        const QString name = waylandName.isEmpty() ? QStringLiteral("wayland-0") : waylandName;
        if (QDir::isAbsolutePath(name))
            return name;
        if (!around.runtimeDirectory || around.runtimeDirectory->isEmpty())
            return std::nullopt;
        return *around.runtimeDirectory + QLatin1Char('/') + name;
    };
    QStringList tried;
    const auto x11Answers = [&] {
        if (x11.isEmpty())
            return false;
        tried << x11;
        return around.x11Answers(x11);
    };
    const auto waylandAnswers = [&] {
        const auto socket = waylandSocket();
        if (!socket)
            return false;
        tried << *socket;
        return around.waylandAnswers(*socket);
    };

    const QString platforms = toolkitOption(arguments, QStringLiteral("platform"))
                                  .value_or(around.platform.value_or(QString()));
    if (platforms.isEmpty()) {
        if (x11Answers() || (!waylandName.isEmpty() && waylandAnswers()))
            return std::nullopt;
    } else {
        for (const QString &platform : platforms.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString name = platform.section(QLatin1Char(':'), 0, 0);
            // Offscreen, VNC, a framebuffer: nothing to look for before Qt starts them.
            if (name != u"xcb" && !name.startsWith(u"wayland"))
                return std::nullopt;
            if (name == u"xcb" ? x11Answers() : waylandAnswers())
                return std::nullopt;
        }
    }
    if (tried.isEmpty())
        return QCoreApplication::translate("VelmoraCommandLine",
                                           "Velmora needs a graphical desktop session: no "
                                           "display is set (DISPLAY or WAYLAND_DISPLAY).");
    return QCoreApplication::translate("VelmoraCommandLine",
                                       "Velmora needs a graphical desktop session: no display "
                                       "answers at %1.")
        .arg(tried.join(QStringLiteral(", ")));
}

bool connects(const QString &socketPath) {
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Whether `probe` says yes within the deadline. A display can take the connection and then never
// answer, or answer a byte at a time, and the toolkit's own connection waits for ever on it; so
// the probe runs in a child process, which is killed at the deadline. The launch has started no
// thread yet when it looks, so the child may do all a probe does, and the thread that forks it,
// the only one, is the one whose end the child follows. After a yes the child keeps what it
// opened until `whileAnswered` has run.
bool answersInTime(const std::function<bool()> &probe,
                   const std::function<void()> &whileAnswered = {}) {
    constexpr std::chrono::seconds deadline{5};
    int answer[2];
    if (::pipe2(answer, O_CLOEXEC) != 0)
        return probe();
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // A launch killed while it waits leaves no child held by the display: the child ends with
        // it, even when it ended before the child could ask to, and by itself a little after the
        // launch would have killed it, should the launch be stopped.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(0);
        sigset_t alarmOnly;
        ::sigemptyset(&alarmOnly);
        ::sigaddset(&alarmOnly, SIGALRM);
        ::sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr);
        ::signal(SIGALRM, SIG_DFL);
        ::alarm(unsigned(deadline.count()) + 2);
        ::close(answer[0]);
        const char yes = probe() ? 1 : 0;
        [[maybe_unused]] const ssize_t written = ::write(answer[1], &yes, 1);
        // Until the launch has done with the answer, which kills the child.
        for (;;)
            ::pause();
    }
    ::close(answer[1]);
    if (child < 0) {
        ::close(answer[0]);
        return probe();
    }
    char yes = 0;
    pollfd reply{answer[0], POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        const int ready = ::poll(&reply, 1, int(std::max<qint64>(left.count(), 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && ::read(answer[0], &yes, 1) != 1)
            yes = 0;
        break;
    }
    ::close(answer[0]);
    if (yes == 1 && whileAnswered)
        whileAnswered();
    // Unwaited for, an ended child keeps its process id, so this reaches no other process.
    ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return yes == 1;
}

// This launch's own connection to the X server, made while the look at it still held one, and kept
// until the toolkit holds its own: an X server that no other program uses (a bare Xvfb, a kiosk)
// starts over when its last connection closes, and turns away one that comes meanwhile.
xcb_connection_t *keptDisplay = nullptr;

void keepDisplay(const QByteArray &name) {
    xcb_connection_t *connection = xcb_connect(name.constData(), nullptr);
    VelmoraSurroundings::letGoOfTheDisplay();
    if (xcb_connection_has_error(connection) == 0)
        keptDisplay = connection;
    else
        xcb_disconnect(connection);
}

std::optional<QString> environmentValue(const char *name) {
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qEnvironmentVariable(name);
}

} // namespace

VelmoraCommandLine VelmoraCommandLine::checkSurroundings(const QStringList &arguments,
                                                         const VelmoraSurroundings &surroundings) {
    VelmoraCommandLine result;
    std::optional<QString> refusal;
    // A test run names its own store and settings; HOME does not decide where they are.
    if (!arguments.contains(AppRuntimeConfiguration::testModeArgument))
        refusal = missingHome(surroundings, result.home);
    if (!refusal)
        refusal = missingDisplay(arguments, surroundings);
    if (refusal) {
        result.action = Action::refuse;
        result.exitCode = 1;
        result.output = *refusal + QLatin1Char('\n');
        result.home.reset();
    }
    return result;
}

VelmoraSurroundings VelmoraSurroundings::current() {
    VelmoraSurroundings surroundings;
    surroundings.home = environmentValue("HOME");
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        surroundings.accountHome = QFile::decodeName(found->pw_dir);
    surroundings.platform = environmentValue("QT_QPA_PLATFORM");
    surroundings.x11Display = environmentValue("DISPLAY");
    surroundings.waylandDisplay = environmentValue("WAYLAND_DISPLAY");
    surroundings.runtimeDirectory = environmentValue("XDG_RUNTIME_DIR");
    surroundings.isFolder = [](const QString &path) { return QFileInfo(path).isDir(); };
    surroundings.x11Answers = [](const QString &display) {
        const QByteArray name = display.toLocal8Bit();
        return answersInTime(
            [&name] {
                // One that answers stays open until the child is killed, after the launch has
                // its own: the server is never left without a client in between. A screen the
                // server does not have (":0.5") is no display: the toolkit aborts on it.
                int screen = 0;
                xcb_connection_t *connection = xcb_connect(name.constData(), &screen);
                const bool answers = xcb_connection_has_error(connection) == 0 && screen >= 0 &&
                                     screen < xcb_setup_roots_length(xcb_get_setup(connection));
                if (!answers)
                    xcb_disconnect(connection);
                return answers;
            },
            [&name] { keepDisplay(name); });
    };
    surroundings.waylandAnswers = [](const QString &socket) {
        return answersInTime([&socket] { return connects(socket); });
    };
    return surroundings;
}

void VelmoraSurroundings::letGoOfTheDisplay() {
    if (keptDisplay)
        xcb_disconnect(std::exchange(keptDisplay, nullptr));
}

} // namespace velmora

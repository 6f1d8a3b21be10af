#include "app/VelmoraCommandLine.h"

#include <QHash>
#include <QTest>

using namespace velmora;

using Action = VelmoraCommandLine::Action;

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

    void refusalIsOneLineNamingTheOption() {
        const VelmoraCommandLine line = VelmoraCommandLine::parse(
            {QStringLiteral("/usr/bin/velmora"), QStringLiteral("--bogus")});
        QCOMPARE(line.output,
                 QStringLiteral("velmora: unknown option '--bogus'; see 'velmora --help'.\n"));
    }
};

QTEST_GUILESS_MAIN(CommandLineTests)
#include "tst_commandline.moc"

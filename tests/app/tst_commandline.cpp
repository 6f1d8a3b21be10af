#include "app/VelmoraCommandLine.h"

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

    void refusalIsOneLineNamingTheOption() {
        const VelmoraCommandLine line = VelmoraCommandLine::parse(
            {QStringLiteral("/usr/bin/velmora"), QStringLiteral("--bogus")});
        QCOMPARE(line.output,
                 QStringLiteral("velmora: unknown option '--bogus'; see 'velmora --help'.\n"));
    }
};

QTEST_GUILESS_MAIN(CommandLineTests)
#include "tst_commandline.moc"

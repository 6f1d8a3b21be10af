#include "app/VelmoraCommandLine.h"
#include "app/VelmoraProgram.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv) {
    // Read before the application object, which needs a display: asking for the options or
    // mistyping one must work anywhere and open nothing, and a launch without a display or a
    // home folder says so in one line rather than failing inside the toolkit.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    velmora::VelmoraCommandLine commandLine = velmora::VelmoraCommandLine::parse(arguments);
    if (commandLine.action == velmora::VelmoraCommandLine::Action::run)
        commandLine = velmora::VelmoraCommandLine::checkSurroundings(
            arguments, velmora::VelmoraSurroundings::current());
    if (commandLine.action != velmora::VelmoraCommandLine::Action::run) {
        std::FILE *stream =
            commandLine.action == velmora::VelmoraCommandLine::Action::refuse ? stderr : stdout;
        std::fputs(qPrintable(commandLine.output), stream);
        return commandLine.exitCode;
    }
    // Everything that finds the user's folders through HOME (the diary, its settings, the
    // toolkit's caches) finds the account's home folder.
    if (commandLine.home)
        qputenv("HOME", QFile::encodeName(*commandLine.home));

    QApplication application(argc, argv);
    velmora::VelmoraSurroundings::letGoOfTheDisplay();
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(velmora::VelmoraCommandLine::version());
    QApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));

    velmora::VelmoraProgram program({velmora::DiaryProcessEnvironment::current(), true, true});
    if (const auto exitCode = program.start())
        return *exitCode;
    return QApplication::exec();
}

#include "app/VelmoraCommandLine.h"
#include "app/VelmoraProgram.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv) {
    // Read before the application object, which needs a display: asking for the options or
    // mistyping one must work anywhere and open nothing.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const velmora::VelmoraCommandLine commandLine = velmora::VelmoraCommandLine::parse(arguments);
    if (commandLine.action != velmora::VelmoraCommandLine::Action::run) {
        std::FILE *stream =
            commandLine.action == velmora::VelmoraCommandLine::Action::refuse ? stderr : stdout;
        std::fputs(qPrintable(commandLine.output), stream);
        return commandLine.exitCode;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(velmora::VelmoraCommandLine::version());
    QApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));

    velmora::VelmoraProgram program({velmora::DiaryProcessEnvironment::current(), true, true});
    if (const auto exitCode = program.start())
        return *exitCode;
    return QApplication::exec();
}

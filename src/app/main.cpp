#include "app/VelmoraProgram.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
    QApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));

    velmora::VelmoraProgram program({velmora::DiaryProcessEnvironment::current(), true, true});
    if (const auto exitCode = program.start())
        return *exitCode;
    return QApplication::exec();
}

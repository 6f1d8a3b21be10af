#pragma once

#include <QString>
#include <QStringList>

namespace velmora {

// What the command line asks for, decided before anything opens: run the program, print the
// options or the version, or refuse an option nobody knows. The launch options themselves
// (test mode, its store and settings) are still read by the launch configuration, which judges
// their values; Qt's own options (-platform, -style, …) pass through to the application object.
struct VelmoraCommandLine {
    enum class Action { run, help, version, refuse };

    Action action = Action::run;
    // Printed on standard output (help, version) or standard error (refusal).
    QString output;
    int exitCode = 0;

    // `arguments` as the process received them, the program's name first.
    static VelmoraCommandLine parse(const QStringList &arguments);
    static QString helpText(const QString &programName);
    static QString version();
};

} // namespace velmora

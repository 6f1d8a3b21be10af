#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace velmora {

// What a launch finds around it before anything opens: a home folder for the real diary and a
// display to show it on. The checks are given as functions so that any surroundings can be told.
struct VelmoraSurroundings {
    // HOME, and the home folder the account database names.
    std::optional<QString> home;
    std::optional<QString> accountHome;
    // QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY and XDG_RUNTIME_DIR.
    std::optional<QString> platform;
    std::optional<QString> x11Display;
    std::optional<QString> waylandDisplay;
    std::optional<QString> runtimeDirectory;
    std::function<bool(const QString &path)> isFolder;
    // Whether an X server answers at a display name, a Wayland compositor at a socket; one that
    // has not answered within a few seconds does not.
    std::function<bool(const QString &display)> x11Answers;
    std::function<bool(const QString &socket)> waylandAnswers;

    // This process's. An X server that answers keeps a connection of this process until
    // letGoOfTheDisplay(), to be called once the application object has its own.
    static VelmoraSurroundings current();
    static void letGoOfTheDisplay();
};

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
    // The home folder to run with where HOME names none: the account's.
    std::optional<QString> home;

    // `arguments` as the process received them, the program's name first.
    static VelmoraCommandLine parse(const QStringList &arguments);
    // For a launch that parse() lets run: refuses it, in one line, where the real diary would
    // have no home folder to live in or the program no display to show it on.
    static VelmoraCommandLine checkSurroundings(const QStringList &arguments,
                                                const VelmoraSurroundings &surroundings);
    static QString helpText(const QString &programName);
    static QString version();
};

} // namespace velmora

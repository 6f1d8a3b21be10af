#include "app/VelmoraCommandLine.h"

#include "domain/AppRuntimeConfiguration.h"
#include "pagescreen/VuzIvoduPageView.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

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

} // namespace velmora

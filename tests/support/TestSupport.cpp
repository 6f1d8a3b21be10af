#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>
#include <ctime>

namespace velmora::test {

void prepareTestEnvironment(QSize offscreenScreen) {
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!offscreenScreen.isValid() || qgetenv("QT_QPA_PLATFORM") != "offscreen")
        return;
    // Read as the application starts; the folder lasts as long as the process.
    static const QTemporaryDir folder;
    QFile screens(folder.filePath(QStringLiteral("screens.json")));
    const QJsonObject screen{{"name", "test"},
                             {"x", 0},
                             {"y", 0},
                             {"width", offscreenScreen.width()},
                             {"height", offscreenScreen.height()},
                             {"logicalDpi", 96},
                             {"logicalBaseDpi", 96},
                             {"dpr", 1}};
    if (screens.open(QIODevice::WriteOnly) &&
        screens.write(QJsonDocument(QJsonObject{{"screens", QJsonArray{screen}}}).toJson()) > 0)
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens.fileName()));
}

ScopedTimeZone::ScopedTimeZone(const QByteArray &ianaId)
    : m_hadPrevious(qEnvironmentVariableIsSet("TZ")) {
    if (m_hadPrevious)
        m_previous = qgetenv("TZ");
    qputenv("TZ", ianaId);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    if (m_hadPrevious)
        qputenv("TZ", m_previous);
    else
        qunsetenv("TZ");
    tzset();
}

ScopedLocale::ScopedLocale(const QString &name)
    : m_previous(QLocale().name()) {
    QLocale::setDefault(QLocale(name));
}

ScopedLocale::~ScopedLocale() {
    QLocale::setDefault(QLocale(m_previous));
}

QMap<QString, QByteArray> filesBelow(const QString &folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        files.insert(QDir(folder).relativeFilePath(file.fileName()),
                     file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>"));
    }
    return files;
}

QString unevenShownText(const QString &message, qsizetype limit) {
    if (message.size() > limit)
        return QStringLiteral("%1 characters").arg(message.size());
    int open = 0;
    for (qsizetype at = 0; at < message.size(); ++at) {
        const char16_t unit = message.at(at).unicode();
        if (unit == 0x2068 || (unit == 0x2069 && open > 0)) {
            open += unit == 0x2068 ? 1 : -1;
        } else if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x2028 ||
                   unit == 0x2029 || (unit >= 0x202A && unit <= 0x202E) ||
                   (unit >= 0x2066 && unit <= 0x2069)) {
            return QStringLiteral("U+%1 at %2").arg(uint(unit), 4, 16, QLatin1Char('0')).arg(at);
        }
    }
    return open ? QStringLiteral("an isolate left open") : QString();
}

} // namespace velmora::test

#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>

#include <cstdlib>
#include <ctime>

namespace velmora::test {

void prepareTestEnvironment() {
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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

} // namespace velmora::test

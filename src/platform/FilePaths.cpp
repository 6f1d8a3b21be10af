#include "platform/FilePaths.h"

#include <QDir>
#include <QFileInfo>

namespace velmora {

QString standardizedPath(const QString &path) {
    if (path.isEmpty())
        return {};
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

QString canonicalPathOfPossiblyMissing(const QString &path) {
    QString existing = standardizedPath(path);
    QString missingTail;
    while (!existing.isEmpty()) {
        const QString canonical = QFileInfo(existing).canonicalFilePath();
        if (!canonical.isEmpty())
            return QDir::cleanPath(canonical + missingTail);
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash < 0)
            break;
        missingTail = existing.mid(slash) + missingTail;
        existing = existing.left(slash);
        if (existing.isEmpty())
            existing = QStringLiteral("/");
        if (existing == QLatin1String("/") && missingTail.isEmpty())
            break;
    }
    return standardizedPath(path);
}

} // namespace velmora

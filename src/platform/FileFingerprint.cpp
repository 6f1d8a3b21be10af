#include "platform/FileFingerprint.h"

#include <QFile>

#include <sys/stat.h>

namespace velmora {

namespace {

constexpr qint64 referenceDateSince1970 = 978307200;

} // namespace

qint64 millisecondsSinceReferenceDate(qint64 secondsSince1970, qint64 nanoseconds) {
    const qint64 seconds = secondsSince1970 - referenceDateSince1970;
    // Whole milliseconds and the nanoseconds left over, both with the sign of the moment, so
    // rounding goes away from zero on either side of the reference date.
    qint64 milliseconds = seconds * 1000 + nanoseconds / 1000000;
    qint64 rest = nanoseconds % 1000000;
    if (milliseconds < 0 && rest > 0) {
        milliseconds += 1;
        rest -= 1000000;
    }
    if (rest >= 500000)
        milliseconds += 1;
    else if (rest <= -500000)
        milliseconds -= 1;
    return milliseconds;
}

std::optional<QString> fileFingerprint(const QString &path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return QString::number(qint64(status.st_size)) + QLatin1Char('-') +
           QString::number(
               millisecondsSinceReferenceDate(status.st_mtim.tv_sec, status.st_mtim.tv_nsec));
}

} // namespace velmora

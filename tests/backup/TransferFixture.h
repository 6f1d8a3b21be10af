#pragma once

#include "BackupFixture.h"

#include "backup/DiaryTransferService.h"
#include "support/NestedJson.h"
#include "support/SessionFixture.h"

#include <fcntl.h>

namespace velmora::test {

inline QString transferData(const QString &name) {
    return QStringLiteral(VELMORA_TEST_DATA "/transfer/") + name;
}

inline QStringList importBackups(const QString &folder) {
    return QDir(folder).entryList({QStringLiteral("Before-Import-*.velmorabackup")}, QDir::Dirs);
}

inline QDateTime isoUtc(const char *text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs).toUTC();
}

inline const QString malformed = QStringLiteral("The import file is malformed: ");
inline const QString badFormat =
    QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");
inline const QString missing = QStringLiteral("The data couldn’t be read because it is missing.");

// Whether every thread an export or import made for its files has ended: a file thread that
// went a moment ago may still be listed while it exits.
inline bool transferThreadsGone() {
    return waitUntil([] {
        const QDir tasks(QStringLiteral("/proc/self/task"));
        for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile name(tasks.filePath(task + QStringLiteral("/comm")));
            if (name.open(QIODevice::ReadOnly) &&
                (name.peek(13) == "DiaryTransfer" || name.peek(11) == "DiaryImport"))
                return false;
        }
        return true;
    });
}

// A descriptor of the file through which this process holds a POSIX write lock on it.
inline int lockedFile(const QString &path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    return fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? fd : -1;
}

// Whether the lock taken through `fd` still holds; closing any other descriptor of the file
// would have dropped it.
inline bool stillLocked(int fd) {
    struct flock held {};
    held.l_type = F_WRLCK;
    return ::fcntl(fd, F_OFD_GETLK, &held) == 0 && held.l_type == F_WRLCK;
}

// The versions of the files malformedImportRows names that the test writes.
inline const QMap<QString, QString> oddVersions{
    {QStringLiteral("line-break-version.json"), QString(200, u'\n')},
    {QStringLiteral("override-version.json"), QString::fromUtf16(u"\u202Eevil\0\u2028", 7)},
    {QStringLiteral("hebrew-version.json"), QStringLiteral("\u05d2\u05e8\u05e1\u05d4 3")},
};

// The malformed import files and their messages.
inline void malformedImportRows() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    const auto row = [](const char *file, const QString &message) {
        QTest::newRow(file) << QString::fromLatin1(file) << message;
    };
    const QString noVersion = QStringLiteral("The import file does not declare a version.");
    const QString style =
        malformed + QStringLiteral("invalid style, timestamp, or revision at index 1");
    row("not-json.json", malformed + badFormat);
    row("scalar.json", noVersion);
    row("string-scalar.json", noVersion);
    row("array.json", noVersion);
    row("no-version.json", noVersion);
    row("numeric-1.json", QStringLiteral("Import version 1 is not supported."));
    row("numeric-2.json", QStringLiteral("Import version 2 is not supported."));
    row("string-3.json", QStringLiteral("Import version 3 is not supported."));
    row("version-4.json", QStringLiteral("Import version 4 is not supported."));
    row("string-10.json", QStringLiteral("Import version 10 is not supported."));
    row("fractional-seconds.json", malformed + badFormat);
    row("fractional-export-date.json", malformed + badFormat);
    row("bad-format.json", malformed + QStringLiteral("invalid format identifier"));
    row("missing-settings.json", malformed + missing);
    row("duplicate-ids.json", QStringLiteral("The import contains duplicate entry identifiers."));
    row("duplicate-days.json",
        QStringLiteral("The import contains more than one entry for a civil day."));
    row("size-11.9.json", style);
    row("size-24.1.json", style);
    row("font-spaces.json", style);
    row("updated-before-created.json", style);
    row("revision-0.json", style);
    row("default-size.json", malformed + QStringLiteral("invalid default font size"));
    row("legacy-bad-export-date.json", malformed + QStringLiteral("invalid export date"));
    row("legacy-bad-entry-date.json", malformed + QStringLiteral("invalid entry at index 0"));
    row("legacy-bad-id.json", malformed + QStringLiteral("invalid entry at index 1"));
    row("legacy-bad-settings.json", malformed + badFormat);
    row("legacy-missing-entries.json", malformed + missing);
    // Made by the test at run time.
    row("oversized-entry.json", QStringLiteral("Entry 1 exceeds the 8 MiB text limit."));
    row("oversized-file.json", QStringLiteral("The import file is larger than 256 MiB."));
    row("nested-1025.json", malformed + badFormat);
    row("nested-100000.json", malformed + badFormat);
    // Quoted in part: the whole would be six million characters.
    const QString zeros = QStringLiteral("0,").repeated(29) + QLatin1Char('0');
    row("huge-version.json", QStringLiteral("Import version [%1…%1] is not supported.").arg(zeros));
    // Versions that would break the alert's line or turn the words after them.
    const QString lineBreaks = QStringLiteral("\\n").repeated(60);
    row("line-break-version.json",
        QStringLiteral("Import version %1…%1 is not supported.").arg(lineBreaks));
    row("override-version.json",
        QStringLiteral("Import version \\u202Eevil\\u0000\\u2028 is not supported."));
    row("hebrew-version.json",
        QStringLiteral("Import version \u2068\u05d2\u05e8\u05e1\u05d4 3\u2069 is not supported."));
    // Picked in the panel, and refused unopened or unread.
    const QString notAFile =
        QStringLiteral("“%1” is not an ordinary file. Choose a Velmora export file.");
    for (const char *special : {"a folder", "a pipe", "a link to a pipe", "/dev/zero"})
        row(special, notAFile.arg(QFileInfo(QString::fromLatin1(special)).fileName()));
    const QString store = QStringLiteral(
        "“%1” is the diary’s own store, not an export. Choose a Velmora export file.");
    for (const char *name :
         {"store.sqlite", "swapped for the store", "swapped for the store-wal", "Velmora.lock"})
        row(name, store.arg(QString::fromLatin1(name)));
}

} // namespace velmora::test

#include "support/SyncRelay.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace velmora::test {

namespace {

bool isToolTemp(const QString &name) {
    return name.startsWith(QStringLiteral(".syncthing.")) && name.endsWith(QStringLiteral(".tmp"));
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

SyncRelay::SyncRelay(QString sideA, QString sideB, QString device, QString stateFile)
    : m_sideA(QDir::cleanPath(QFileInfo(sideA).absoluteFilePath()))
    , m_sideB(QDir::cleanPath(QFileInfo(sideB).absoluteFilePath()))
    , m_device(std::move(device))
    , m_stateFile(std::move(stateFile)) {
    loadState();
}

void SyncRelay::loadState() {
    if (m_stateFile.isEmpty())
        return;
    const QJsonObject state = QJsonDocument::fromJson(contents(m_stateFile)).object();
    const auto version = [](const QJsonValue &value) {
        const QJsonArray parts = value.toArray();
        return Version{parts.at(0).toString().toLongLong(), parts.at(1).toString().toLongLong(),
                       parts.at(2).toString().toLongLong()};
    };
    const QJsonObject files = state.value(QStringLiteral("files")).toObject();
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        const QJsonArray sides = it.value().toArray();
        m_known.insert(it.key(), Known{version(sides.at(0)), version(sides.at(1))});
    }
    for (const QJsonValue &folder : state.value(QStringLiteral("folders")).toArray())
        m_knownFolders.append(folder.toString());
}

void SyncRelay::saveState() const {
    if (m_stateFile.isEmpty())
        return;
    // As text: nanosecond times do not fit a JSON number exactly.
    const auto version = [](const Version &v) {
        return QJsonArray{QString::number(v.size), QString::number(v.mtimeNs),
                          QString::number(v.inode)};
    };
    QJsonObject files;
    for (auto it = m_known.cbegin(); it != m_known.cend(); ++it)
        files.insert(it.key(), QJsonArray{version(it->a), version(it->b)});
    QFile file(m_stateFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("the relay cannot keep its state in " + m_stateFile.toStdString());
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("files"), files},
                                         {QStringLiteral("folders"),
                                          QJsonArray::fromStringList(m_knownFolders)}})
                   .toJson(QJsonDocument::Compact));
}

QMap<QString, SyncRelay::Version> SyncRelay::scan(const QString &side, bool *readable,
                                                  QStringList *folders) const {
    QMap<QString, Version> files;
    struct stat status {};
    *readable =
        ::stat(QFile::encodeName(side).constData(), &status) == 0 && S_ISDIR(status.st_mode);
    if (!*readable)
        return files;
    QDirIterator it(side,
                    QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isToolTemp(it.fileName()))
            continue;
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
            continue;
        if (S_ISDIR(status.st_mode)) {
            // A folder a side cannot list holds back the whole round, as a tool stops on errors.
            if (!QFileInfo(path).isReadable() || !QDir(path).isReadable())
                *readable = false;
            folders->append(QDir(side).relativeFilePath(path));
            continue;
        }
        if (!S_ISREG(status.st_mode))
            continue;
        files.insert(QDir(side).relativeFilePath(path),
                     Version{qint64(status.st_size),
                             qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
                             qint64(status.st_ino)});
    }
    return files;
}

void SyncRelay::copy(const QString &from, const QString &to, const QString &relative) const {
    const QString source = from + QLatin1Char('/') + relative;
    const QString target = to + QLatin1Char('/') + relative;
    const QFileInfo info(target);
    QDir().mkpath(info.absolutePath());
    const QString temporary = info.absolutePath() + QStringLiteral("/.syncthing.") +
                              info.fileName() + QStringLiteral(".tmp");
    struct stat status {};
    if (::stat(QFile::encodeName(source).constData(), &status) != 0)
        return;
    QFile out(temporary);
    const QByteArray bytes = contents(source);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size())
        throw std::runtime_error("the relay cannot write " + temporary.toStdString());
    out.close();
    const timespec times[2] = {status.st_atim, status.st_mtim};
    ::utimensat(AT_FDCWD, QFile::encodeName(temporary).constData(), times, 0);
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) !=
        0)
        throw std::runtime_error("the relay cannot rename into " + target.toStdString());
}

QString SyncRelay::conflictName(const QString &relative, qint64 mtimeNs) const {
    const QFileInfo info(relative);
    const QString stamp = QDateTime::fromMSecsSinceEpoch(mtimeNs / 1000000, QTimeZone::utc())
                              .toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString folder = info.path() == u"." ? QString() : info.path() + QLatin1Char('/');
    return folder + info.completeBaseName() + QStringLiteral(".sync-conflict-") + stamp +
           QLatin1Char('-') + m_device + QLatin1Char('.') + info.suffix();
}

SyncRelay::Round SyncRelay::step() {
    Round round;
    bool readableA = false;
    bool readableB = false;
    QStringList foldersA;
    QStringList foldersB;
    const QMap<QString, Version> a = scan(m_sideA, &readableA, &foldersA);
    const QMap<QString, Version> b = scan(m_sideB, &readableB, &foldersB);
    if (!readableA || !readableB)
        return round;
    // Folders first: a new one is made on the other side, a removed one removed there once
    // its files are gone too.
    QStringList removedFolders;
    for (const auto &[side, present, other] :
         {std::tuple{&m_sideB, &foldersA, &foldersB}, std::tuple{&m_sideA, &foldersB, &foldersA}}) {
        for (const QString &folder : *present) {
            if (other->contains(folder))
                continue;
            if (m_knownFolders.contains(folder))
                removedFolders.append(*side + QLatin1Char('/') + folder);
            else
                QDir().mkpath(*side + QLatin1Char('/') + folder);
        }
    }
    QStringList paths = a.keys() + b.keys() + m_known.keys();
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());

    const auto versionOf = [](const QMap<QString, Version> &side, const QString &path) {
        return side.contains(path) ? std::optional(side.value(path)) : std::nullopt;
    };
    const auto statOf = [](const QString &path) {
        struct stat status {};
        ::lstat(QFile::encodeName(path).constData(), &status);
        return Version{qint64(status.st_size),
                       qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
                       qint64(status.st_ino)};
    };
    const auto settle = [&](const QString &path) {
        m_known.insert(path, Known{statOf(m_sideA + QLatin1Char('/') + path),
                                   statOf(m_sideB + QLatin1Char('/') + path)});
    };
    const auto remove = [&](const QString &side, const QString &path) {
        QFile::remove(side + QLatin1Char('/') + path);
        m_known.remove(path);
        round.deleted.append(path);
    };

    for (const QString &path : std::as_const(paths)) {
        const std::optional<Version> inA = versionOf(a, path);
        const std::optional<Version> inB = versionOf(b, path);
        const bool known = m_known.contains(path);
        const bool changedA = known ? inA != std::optional(m_known.value(path).a) : bool(inA);
        const bool changedB = known ? inB != std::optional(m_known.value(path).b) : bool(inB);
        if (!changedA && !changedB)
            continue;
        if (inA && inB &&
            contents(m_sideA + QLatin1Char('/') + path) ==
                contents(m_sideB + QLatin1Char('/') + path)) {
            settle(path);
            continue;
        }
        if (changedA && (!changedB || !inB)) {
            if (inA) {
                copy(m_sideA, m_sideB, path);
                round.copiedToB.append(path);
                settle(path);
            } else {
                remove(m_sideB, path);
            }
            continue;
        }
        if (changedB && (!changedA || !inA)) {
            if (inB) {
                copy(m_sideB, m_sideA, path);
                round.copiedToA.append(path);
                settle(path);
            } else {
                remove(m_sideA, path);
            }
            continue;
        }
        // Changed on both sides: the newer keeps the name, the other becomes a conflict copy.
        const bool aWins = inA->mtimeNs >= inB->mtimeNs;
        const QString &winner = aWins ? m_sideA : m_sideB;
        const QString &loser = aWins ? m_sideB : m_sideA;
        const QString copyName = conflictName(path, (aWins ? inB : inA)->mtimeNs);
        ::rename(QFile::encodeName(loser + QLatin1Char('/') + path).constData(),
                 QFile::encodeName(loser + QLatin1Char('/') + copyName).constData());
        copy(loser, winner, copyName);
        copy(winner, loser, path);
        settle(copyName);
        settle(path);
        round.conflicts.append(copyName);
        (aWins ? round.copiedToB : round.copiedToA).append(path);
    }
    // Deepest first, and only when emptied.
    std::sort(removedFolders.begin(), removedFolders.end(), std::greater<>());
    for (const QString &folder : std::as_const(removedFolders))
        QDir().rmdir(folder);
    m_knownFolders.clear();
    bool readable = false;
    QStringList after;
    scan(m_sideA, &readable, &m_knownFolders);
    scan(m_sideB, &readable, &after);
    m_knownFolders.erase(
        std::remove_if(m_knownFolders.begin(), m_knownFolders.end(),
                       [&](const QString &folder) { return !after.contains(folder); }),
        m_knownFolders.end());
    saveState();
    return round;
}

} // namespace velmora::test

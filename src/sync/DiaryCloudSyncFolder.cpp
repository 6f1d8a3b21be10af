#include "sync/DiaryCloudSyncFolder.h"

#include "domain/UserDefaultsSettingsStore.h"
#include "platform/FileFingerprint.h"
#include "platform/FileSystemError.h"
#include "platform/JsonCoding.h"
#include "store/DiaryHandwritingStore.h"
#include "sync/DiaryCloudSyncManifest.h"
#include "sync/SyncLogging.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimeZone>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace velmora {

namespace {

constexpr qint64 referenceDateSince1970Ms = 978307200000;
// The earliest date the tablet's platform names, as milliseconds since 2001-01-01.
constexpr qint64 distantPastSinceReferenceMs = -63114076800000;

QDateTime distantPast() {
    return QDateTime::fromMSecsSinceEpoch(distantPastSinceReferenceMs + referenceDateSince1970Ms,
                                          QTimeZone::utc());
}

const QString placeholderSuffix = QStringLiteral(".icloud");
const QString defaultFontName = QStringLiteral("Georgia");
constexpr double smallestPointSize = 12;
constexpr double largestPointSize = 24;

qint64 utf8Length(const QString &text) {
    qint64 length = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x80)
            length += 1;
        else if (c < 0x800)
            length += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < size &&
                 QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            length += 4;
            ++i;
        } else
            length += 3;
    }
    return length;
}

QString pathExtension(const QString &fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileName.mid(dot + 1);
}

// "<day>.sync-conflict-….json", "<day> (conflicted copy ….json", "<day>_1.json": a tool's copy
// of the day's page, but never the page itself.
std::optional<DayKey> conflictCopyDay(const QString &fileName) {
    static const QString jsonSuffix = QStringLiteral(".json");
    if (fileName.size() <= 10 + jsonSuffix.size() || !fileName.endsWith(jsonSuffix))
        return std::nullopt;
    const QChar separator = fileName.at(10);
    if (separator != QLatin1Char(' ') && separator != QLatin1Char('.') &&
        separator != QLatin1Char('_') && separator != QLatin1Char('-'))
        return std::nullopt;
    return DayKey::fromRawValue(fileName.left(10));
}

// The day whose page file has this name, "<day>.json".
std::optional<DayKey> pageFileDay(const QString &fileName) {
    static const QString jsonSuffix = QStringLiteral(".json");
    if (!fileName.endsWith(jsonSuffix))
        return std::nullopt;
    return DayKey::fromRawValue(fileName.chopped(jsonSuffix.size()));
}

// The file a placeholder ".<file>.icloud" stands for until the file itself is fetched.
std::optional<QString> placeholderTarget(const QString &name) {
    if (!name.startsWith(QLatin1Char('.')) || !name.endsWith(placeholderSuffix))
        return std::nullopt;
    return name.mid(1, std::max<qsizetype>(0, name.size() - 1 - placeholderSuffix.size()));
}

// Whether this is the name of a leaf's drawing file, "<day>-<leaf>.drawing".
bool isDrawingFileName(const QString &fileName) {
    static const QString drawingSuffix = QStringLiteral(".drawing");
    return fileName.endsWith(drawingSuffix) &&
           DiaryHandwritingStore::parseBaseName(fileName.chopped(drawingSuffix.size()));
}

QByteArray nativePath(const QString &path) {
    return QFile::encodeName(path);
}

bool sameFileState(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

QString fingerprintOf(const struct stat &status) {
    return QString::number(qint64(status.st_size)) + QLatin1Char('-') +
           QString::number(
               millisecondsSinceReferenceDate(status.st_mtim.tv_sec, status.st_mtim.tv_nsec));
}

QDateTime modifiedAtOf(const struct stat &status) {
    return QDateTime::fromMSecsSinceEpoch(
        millisecondsSinceReferenceDate(status.st_mtim.tv_sec, status.st_mtim.tv_nsec) +
            referenceDateSince1970Ms,
        QTimeZone::utc());
}

using AccessError = DiaryCloudSyncFolder::AccessError;

// A folder of the sync folder, open, and its path for messages.
struct OpenFolder {
    FileDescriptor fd;
    QString path;
};

// Opens `folder`: the folder the user chose (the root's parent) or one below it. The chosen
// folder may be reached through links, as the user picked it. Below it each folder is opened
// relative to the one before and never through a link: whoever can write into the sync folder
// could put one there, leading anywhere the user can write. A folder opened once stays the one
// worked in, whatever is swapped in under its name later.
OpenFolder openFolder(const QString &root, const QString &folder, const QString &operation) {
    const qsizetype cut = std::max<qsizetype>(root.lastIndexOf(QLatin1Char('/')), 0);
    const QString chosen = cut > 0 ? root.left(cut) : QStringLiteral("/");
    if (folder != chosen && !folder.startsWith(root.left(cut) + QLatin1Char('/')))
        throw FileSystemError(operation, folder, EXDEV);
    OpenFolder open{
        FileDescriptor(::open(nativePath(chosen).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
        chosen};
    if (open.fd.get() < 0)
        throw FileSystemError(operation, chosen, errno);
    QString path = root.left(cut);
    for (const QString &name : folder.mid(cut + 1).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + name;
        if (name == u"." || name == u"..")
            throw FileSystemError(operation, path, EINVAL);
        const QByteArray native = nativePath(name);
        FileDescriptor next(::openat(open.fd.get(), native.constData(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            const int error = errno;
            struct stat status {};
            if ((error == ENOTDIR || error == ELOOP) &&
                ::fstatat(open.fd.get(), native.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(status.st_mode))
                throw AccessError(AccessError::Case::linked, path);
            throw FileSystemError(operation, path, error);
        }
        open.fd = std::move(next);
        open.path = path;
    }
    return open;
}

// Calls `each(folderFd, name)` for every name in the open folder, then hands the folder's
// descriptor to `after`. Throws the file system's error when the folder cannot be read.
void forEachItem(OpenFolder open, const QString &operation,
                 const std::function<void(int, const char *)> &each,
                 const std::function<void(int)> &after = {}) {
    forEachItemAt(std::move(open.fd), open.path, operation, each, after);
}

// A file of the sync folder: the open folder holding it and its name there.
struct HeldFile {
    const OpenFolder *folder;
    QString name;
    QByteArray nativeName;
    QString url;
};

// The folders holding a run of files, each opened once while the run stays in it. A file held
// is good until the next one is asked for.
class FileHolders {
public:
    FileHolders(QString root, QString operation)
        : m_root(std::move(root))
        , m_operation(std::move(operation)) {}

    HeldFile of(const QString &fileURL) {
        const qsizetype cut = fileURL.lastIndexOf(QLatin1Char('/'));
        const QString name = fileURL.mid(cut + 1);
        if (cut < 0 || name.isEmpty() || name == u"." || name == u"..")
            throw FileSystemError(m_operation, fileURL, EINVAL);
        const QString folder = fileURL.left(cut);
        if (!m_open || m_open->path != folder)
            m_open.emplace(openFolder(m_root, folder, m_operation));
        return {&*m_open, name, nativePath(name), fileURL};
    }

private:
    QString m_root;
    QString m_operation;
    std::optional<OpenFolder> m_open;
};

// The file's attributes when it is a regular file; a link is never followed.
std::optional<struct stat> regularFile(const HeldFile &file) {
    struct stat status {};
    if (::fstatat(file.folder->fd.get(), file.nativeName.constData(), &status,
                  AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode))
        return std::nullopt;
    return status;
}

std::optional<QString> fingerprintOf(const HeldFile &file) {
    const std::optional<struct stat> status = regularFile(file);
    return status ? std::optional(fingerprintOf(*status)) : std::nullopt;
}

enum class ReadOutcome { read, tooLarge, changed };

// One read of a regular file, refusing symbolic links and anything that would block (a pipe),
// and telling whether the file held still meanwhile.
ReadOutcome readOnce(const HeldFile &file, qint64 byteLimit, QByteArray &bytes,
                     const std::function<void()> &interruption) {
    const QString &path = file.url;
    struct stat before {};
    const FileDescriptor fd =
        openRegularFileAt(file.folder->fd.get(), file.nativeName, path, before);
    if (qint64(before.st_size) > byteLimit)
        return ReadOutcome::tooLarge;
    if (interruption)
        interruption();
    // One byte more than the file claims, to notice a file that grows while it is read.
    bytes.resize(qsizetype(before.st_size) + 1);
    readFromStart(fd.get(), bytes, path);
    const qsizetype filled = bytes.size();
    struct stat after {};
    if (::fstat(fd.get(), &after) != 0)
        throw FileSystemError(QStringLiteral("Could not read the attributes of"), path, errno);
    // The name may have been given to a new file meanwhile (a replacement by rename).
    const std::optional<struct stat> named = regularFile(file);
    if (!sameFileState(before, after) || !named || !sameFileState(*named, after) ||
        filled != qsizetype(before.st_size))
        return ReadOutcome::changed;
    return ReadOutcome::read;
}

// The file's bytes once it held still for a whole read; none when it is larger than the limit.
std::optional<QByteArray> readHeld(const HeldFile &file, qint64 byteLimit,
                                   const DiaryCloudSyncFolder::ReadInterruption &interruption) {
    for (int attempt = 0; attempt < DiaryCloudSyncFolder::readAttempts; ++attempt) {
        QByteArray bytes;
        const auto interrupt = interruption
                                   ? std::function<void()>([&] { interruption(file.url, attempt); })
                                   : std::function<void()>();
        switch (readOnce(file, byteLimit, bytes, interrupt)) {
        case ReadOutcome::read:
            return bytes;
        case ReadOutcome::tooLarge:
            return std::nullopt;
        case ReadOutcome::changed:
            break;
        }
    }
    throw AccessError(AccessError::Case::busy, file.url);
}

// Whether what stands at the name is still what a listing found there (`listed`, none for
// nothing). Whoever put a link or what is no file there meant something by it: it is neither
// opened nor replaced nor taken for a file removed, and the day waits.
bool standsAsListed(const HeldFile &file, const std::optional<QString> &listed,
                    const DayKey &dayKey) {
    using FolderError = DiaryCloudSyncFolder::FolderError;
    struct stat status {};
    const bool there = ::fstatat(file.folder->fd.get(), file.nativeName.constData(), &status,
                                 AT_SYMLINK_NOFOLLOW) == 0;
    if (there && S_ISLNK(status.st_mode))
        throw FolderError::linkedFile(dayKey, file.url);
    if (there && !S_ISREG(status.st_mode))
        throw FolderError::notAFile(dayKey, file.url);
    return (there ? std::optional(fingerprintOf(status)) : std::nullopt) == listed;
}

bool sameFile(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

FileSystemError moveFailure(const HeldFile &file, int error) {
    return FileSystemError(QStringLiteral("Could not move the file into place"), file.url, error);
}

// Exchanges, however often the other side puts a file at the name meanwhile, before the folder
// counts as busy.
constexpr int putBackAttempts = 16;

// The id of the conflict copies a put-back makes: small letters, where the sync tool writes a
// device's id in capitals and digits, so that a drawing set aside here is told from the tool's
// own copies.
constexpr char setAsideIdLetters[] = "abcdefghijklmnopqrstuvwxyz";
constexpr int setAsideIdLength = 7;

// Moves what the hidden temporary holds to a name beside the file's that a sync tool would give a
// conflict copy, "<day>.sync-conflict-<yyyyMMdd>-<HHmmss>-<id>.json" for a page, which the next
// pass reads as a version of the day, and "<day>-<leaf>.sync-conflict-….drawing" for a drawing,
// which the next pass puts back at the drawing's name (takeBackSetAsideDrawings). A put-back that
// ends short of its goal holds a file the other side wrote there, which the sweep of leftovers
// would otherwise remove. Never throws: it runs while the put-back fails.
void setAsideAsConflictCopy(const HeldFile &file, const QByteArray &temporary) {
    const int folder = file.folder->fd.get();
    const qsizetype dot = file.name.lastIndexOf(QLatin1Char('.'));
    const QString stem =
        (dot > 0 ? file.name.left(dot) : file.name) + QStringLiteral(".sync-conflict-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
        QLatin1Char('-');
    const QString suffix = dot > 0 ? file.name.mid(dot) : QString();
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        QString id;
        for (int i = 0; i < setAsideIdLength; ++i)
            id.append(QLatin1Char(setAsideIdLetters[QRandomGenerator::global()->bounded(
                int(sizeof setAsideIdLetters - 1))]));
        const QString copy = stem + id + suffix;
        if (::renameat2(folder, temporary.constData(), folder, nativePath(copy).constData(),
                        RENAME_NOREPLACE) == 0) {
            if (::fsync(folder) != 0)
                qCWarning(lcSync) << "the folder of a conflict copy could not be flushed:"
                                  << file.folder->path;
            qCInfo(lcSync) << "a file the other side put at" << file.url << "is kept as" << copy;
            return;
        }
        error = errno;
    }
    // Nothing left at the temporary's name is nothing to keep.
    if (error != ENOENT)
        qCWarning(lcSync) << "a file the other side put at" << file.url
                          << "could not be set aside and stays at"
                          << file.folder->path + QLatin1Char('/') + QFile::decodeName(temporary)
                          << ":" << std::strerror(error);
}

// An exchange brought back a file the other side put at the name after the last look: it goes
// back, for the next pass to read as any file that came. Each exchange brings back what stood at
// the name: the file this write put there (open as `placed`), which goes, or one that came
// meanwhile, newer than the one put back, which then takes the name in turn. Files are told apart
// only through descriptors held open on them: a file gone from every name and descriptor leaves
// its number free, and the file system gives it to the next file made, which may be the other
// side's newest.
void putBack(const HeldFile &file, const QByteArray &temporary, int placed) {
    const int folder = file.folder->fd.get();
    const char *name = file.nativeName.constData();
    // The file put back last, once it is not this write's own.
    FileDescriptor putBackLast;
    // What stands at the temporary's name until the put-back ends is the other side's.
    auto setAside = qScopeGuard([&] { setAsideAsConflictCopy(file, temporary); });
    for (int attempt = 0; attempt < putBackAttempts; ++attempt) {
        FileDescriptor held(
            ::openat(folder, temporary.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (held.get() < 0)
            throw moveFailure(file, errno);
        if (::renameat2(folder, temporary.constData(), folder, name, RENAME_EXCHANGE) != 0) {
            if (errno != ENOENT)
                throw moveFailure(file, errno);
            // Nothing stands at the name now: the file takes it, unless one came again.
            if (::renameat2(folder, temporary.constData(), folder, name, RENAME_NOREPLACE) == 0) {
                setAside.dismiss();
                return;
            }
            if (errno != EEXIST)
                throw moveFailure(file, errno);
            continue;
        }
        struct stat back {};
        struct stat placedStatus {};
        if (::fstatat(folder, temporary.constData(), &back, AT_SYMLINK_NOFOLLOW) != 0 ||
            ::fstat(placed, &placedStatus) != 0)
            throw moveFailure(file, errno);
        if (sameFile(back, placedStatus)) {
            setAside.dismiss();
            if (::unlinkat(folder, temporary.constData(), 0) != 0 && errno != ENOENT)
                throw FileSystemError(QStringLiteral("Could not remove the file"), file.url, errno);
            return;
        }
        putBackLast = std::move(held);
        placed = putBackLast.get();
    }
    throw AccessError(AccessError::Case::busy, file.url);
}

// What a listing found at the name of a file to be replaced (`fingerprint`, none for nothing).
struct Listed {
    std::optional<QString> fingerprint;
    DayKey dayKey;
};

// Writes the file at the name: a hidden temporary beside it, flushed, then moved there. With
// `listed`, the name is looked at again once the temporary is written, and the move replaces only
// what was listed: the file it displaces is handed back by an exchange, and one that came
// meanwhile goes back to its name. Returns the new file's fingerprint, taken from its own
// descriptor before the move; none when nothing was written, or when the name no longer holds
// the new file after the move, so that no mark records a file the other side wrote. The new file
// stays open until the end, so that its number is never another file's meanwhile; it was flushed
// when it was made.
std::optional<QString> writeHeld(const HeldFile &file, const QByteArray &bytes,
                                 const std::optional<Listed> &listed,
                                 const DiaryCloudSyncFolder::WriteInterruption &interruption) {
    using Step = DiaryCloudSyncFolder::WriteStep;
    const int folder = file.folder->fd.get();
    const auto interrupt = [&](Step step) {
        if (interruption)
            interruption(file.url, step);
    };
    TemporaryFile made = createTemporaryFileAt(folder, file.folder->path, file.name, {bytes});
    const QByteArray temporary = QFile::encodeName(made.name);
    // Until it is moved, the temporary is this write's own and goes with any failure.
    auto discard = qScopeGuard([&] { ::unlinkat(folder, temporary.constData(), 0); });
    struct stat written {};
    if (::fstat(made.fd.get(), &written) != 0)
        throw FileSystemError(QStringLiteral("Could not write the file"), file.url, errno);
    const std::optional<QString> replaced = listed ? listed->fingerprint : fingerprintOf(file);
    if (replaced == fingerprintOf(written)) {
        // Same size within the same millisecond: the fingerprint alone could not tell the files
        // apart, so the new one is made a millisecond younger.
        timespec times[2] = {{0, UTIME_OMIT}, written.st_mtim};
        times[1].tv_nsec += 1000000;
        if (times[1].tv_nsec >= 1000000000) {
            times[1].tv_nsec -= 1000000000;
            times[1].tv_sec += 1;
        }
        if (::futimens(made.fd.get(), times) != 0 || ::fstat(made.fd.get(), &written) != 0)
            throw FileSystemError(QStringLiteral("Could not write the file"), file.url, errno);
    }
    interrupt(Step::temporaryWritten);
    if (listed && !standsAsListed(file, listed->fingerprint, listed->dayKey))
        return std::nullopt;
    interrupt(Step::beforeMove);

    const char *name = file.nativeName.constData();
    bool exchanged = false;
    int moved = -1;
    if (listed && listed->fingerprint) {
        moved = ::renameat2(folder, temporary.constData(), folder, name, RENAME_EXCHANGE);
        exchanged = moved == 0;
    } else if (listed) {
        moved = ::renameat2(folder, temporary.constData(), folder, name, RENAME_NOREPLACE);
    }
    if (moved != 0 && listed) {
        // Gone or come since the last look: the next pass sees what is there now.
        if (errno == ENOENT || errno == EEXIST)
            return std::nullopt;
        // A file system that can neither exchange nor refuse to replace: the last look stands.
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            throw moveFailure(file, errno);
    }
    if (moved != 0 && ::renameat(folder, temporary.constData(), folder, name) != 0)
        throw moveFailure(file, errno);
    discard.dismiss();
    if (exchanged) {
        struct stat displaced {};
        if (::fstatat(folder, temporary.constData(), &displaced, AT_SYMLINK_NOFOLLOW) != 0)
            throw moveFailure(file, errno);
        if (!S_ISREG(displaced.st_mode) || fingerprintOf(displaced) != listed->fingerprint) {
            putBack(file, temporary, made.fd.get());
            if (::fsync(folder) != 0)
                throw FileSystemError(QStringLiteral("Could not flush the folder"),
                                      file.folder->path, errno);
            return std::nullopt;
        }
        if (::unlinkat(folder, temporary.constData(), 0) != 0)
            throw FileSystemError(QStringLiteral("Could not remove the file"), file.url, errno);
    }
    if (::fsync(folder) != 0)
        throw FileSystemError(QStringLiteral("Could not flush the folder"), file.folder->path,
                              errno);
    interrupt(Step::afterMove);
    const std::optional<struct stat> named = regularFile(file);
    if (!named || !sameFile(*named, written))
        return std::nullopt;
    return fingerprintOf(written);
}

// writeHeld, only while the name stands as listed; returns none when something arrived or
// changed since.
std::optional<QString> writeListed(const HeldFile &file, const QByteArray &bytes,
                                   const std::optional<QString> &listed, const DayKey &dayKey,
                                   const DiaryCloudSyncFolder::WriteInterruption &interruption) {
    if (!standsAsListed(file, listed, dayKey))
        return std::nullopt;
    return writeHeld(file, bytes, Listed{listed, dayKey}, interruption);
}

// The drawing file beside which a put-back set this copy aside,
// "<day>-<leaf>.sync-conflict-<yyyyMMdd>-<HHmmss>-<id>.drawing" with the id in small letters; none
// for any other name, a sync tool's own copies included.
std::optional<QString> setAsideDrawingOf(const QString &fileName) {
    static const QRegularExpression copyName(
        QStringLiteral("^(.+)\\.sync-conflict-[0-9]{8}-[0-9]{6}-[a-z]{%1}(\\.drawing)$")
            .arg(setAsideIdLength));
    const QRegularExpressionMatch match = copyName.match(fileName);
    if (!match.hasMatch())
        return std::nullopt;
    const QString drawing = match.captured(1) + match.captured(2);
    const auto leaf = DiaryHandwritingStore::parseBaseName(match.captured(1));
    if (!leaf || DiaryHandwritingStore::fileName(leaf->first, leaf->second) != drawing)
        return std::nullopt;
    return drawing;
}

bool modifiedLater(const struct stat &a, const struct stat &b) {
    return std::tie(a.st_mtim.tv_sec, a.st_mtim.tv_nsec) >
           std::tie(b.st_mtim.tv_sec, b.st_mtim.tv_nsec);
}

// A drawing a put-back set aside, as the listing found it.
struct SetAsideDrawing {
    QString name;
    struct stat status;
};

// Puts the drawing a put-back set aside back at the name it came from when it is newer than what
// stands there, or nothing does, and removes it when what stands there is newer: what the put-back
// would have left at the name had the other side stopped writing. The file at the name goes only
// when the exchange hands back the very file compared; one that came meanwhile goes back there
// as an upload's put-back puts it back, and the set-aside drawing, older, goes. A copy as old as
// the file at the name stays: nothing tells which came last. Returns whether the folder changed.
bool takeBack(const HeldFile &drawing, const SetAsideDrawing &copy) {
    const int folder = drawing.folder->fd.get();
    const QByteArray copyName = nativePath(copy.name);
    // Both held open, so that neither number is another file's while they are compared.
    FileDescriptor held(::openat(folder, copyName.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (held.get() < 0 || ::fstat(held.get(), &status) != 0 || !sameFileState(status, copy.status))
        return false;
    FileDescriptor standing(
        ::openat(folder, drawing.nativeName.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (standing.get() < 0) {
        if (errno != ENOENT)
            return false;
        return ::renameat2(folder, copyName.constData(), folder, drawing.nativeName.constData(),
                           RENAME_NOREPLACE) == 0;
    }
    struct stat there {};
    // A link or what is no file at the name is no drawing to compare with.
    if (::fstat(standing.get(), &there) != 0 || !S_ISREG(there.st_mode))
        return false;
    if (!modifiedLater(status, there)) {
        if (!modifiedLater(there, status))
            return false;
        if (::unlinkat(folder, copyName.constData(), 0) != 0)
            throw FileSystemError(QStringLiteral("Could not remove the file"), drawing.url, errno);
        return true;
    }
    if (::renameat2(folder, copyName.constData(), folder, drawing.nativeName.constData(),
                    RENAME_EXCHANGE) != 0)
        return false;
    struct stat displaced {};
    if (::fstatat(folder, copyName.constData(), &displaced, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameFileState(displaced, there)) {
        if (::unlinkat(folder, copyName.constData(), 0) != 0)
            throw FileSystemError(QStringLiteral("Could not remove the file"), drawing.url, errno);
        return true;
    }
    putBack(drawing, copyName, held.get());
    return true;
}

} // namespace

QString DiaryCloudSyncFolder::FolderError::message() const {
    if (m_case == Case::linkedFile)
        return AccessError(AccessError::Case::linked, m_path).message();
    if (m_case == Case::notAFile)
        return QCoreApplication::translate(
                   "DiaryCloudSyncFolder",
                   "The sync folder holds something other than a file at “%1”, which sync does "
                   "not replace.")
            .arg(shownExcerpt(m_path));
    return QCoreApplication::translate("DiaryCloudSyncFolder",
                                       "A synced page (%1) could not be read.")
        .arg(m_dayKey.rawValue());
}

QString DiaryCloudSyncFolder::AccessError::message() const {
    switch (m_case) {
    case Case::missing:
        return QCoreApplication::translate("DiaryCloudSyncFolder", "The sync folder is missing.");
    case Case::linked:
        return QCoreApplication::translate(
                   "DiaryCloudSyncFolder",
                   "The sync folder holds a link at “%1”, which sync does not follow.")
            .arg(shownExcerpt(m_path));
    case Case::busy:
        break;
    }
    return QCoreApplication::translate("DiaryCloudSyncFolder", "The sync folder is busy.");
}

DiaryCloudSyncFolder::DownloadRequester DiaryCloudSyncFolder::noDownloads() {
    return [](const QString &) {};
}

DiaryCloudSyncFolder::DiaryCloudSyncFolder(QString root, DownloadRequester requester)
    : m_root(DiaryCloudSyncManifest::rootPath(root))
    , m_requester(std::move(requester)) {}

QString DiaryCloudSyncFolder::pagesFolder() const {
    return m_root + QLatin1Char('/') + pagesFolderName;
}

QString DiaryCloudSyncFolder::handwritingFolder() const {
    return m_root + QLatin1Char('/') + handwritingFolderName;
}

QString DiaryCloudSyncFolder::pageURL(const DayKey &dayKey) const {
    return pagesFolder() + QLatin1Char('/') + dayKey.rawValue() + QStringLiteral(".json");
}

QString DiaryCloudSyncFolder::inkURL(const QString &fileName) const {
    return handwritingFolder() + QLatin1Char('/') + fileName;
}

QString DiaryCloudSyncFolder::profileURL() const {
    return m_root + QLatin1Char('/') + profileFileName;
}

void DiaryCloudSyncFolder::createFolders(const DiaryCloudSyncManifest &manifest) const {
    const bool exchangedHere = manifest.root == m_root;
    const auto ensure = [this](const QString &folder, bool exchanged) {
        static const QString creating = QStringLiteral("Could not create the folder");
        try {
            openFolder(m_root, folder, creating);
            return;
        } catch (const FileSystemError &error) {
            // Nothing there, or a file: no folder. A link is refused on its way up.
            if (error.errorNumber() != ENOENT && error.errorNumber() != ENOTDIR)
                throw;
        }
        if (exchanged)
            throw AccessError(AccessError::Case::missing, folder);
        const qsizetype cut = folder.lastIndexOf(QLatin1Char('/'));
        const QString parent = cut > 0 ? folder.left(cut) : QStringLiteral("/");
        if (folder == m_root)
            createDirectories(parent);
        const OpenFolder holder = openFolder(m_root, parent, creating);
        if (::mkdirat(holder.fd.get(), nativePath(folder.mid(cut + 1)).constData(), S_IRWXU) != 0 &&
            errno != EEXIST)
            throw FileSystemError(creating, folder, errno);
        if (::fsync(holder.fd.get()) != 0)
            throw FileSystemError(QStringLiteral("Could not flush the folder"), holder.path, errno);
        // Whatever stands there now, made here or by someone else meanwhile, must be a folder.
        openFolder(m_root, folder, creating);
    };
    ensure(m_root, exchangedHere && manifest.hasMarks());
    ensure(pagesFolder(), exchangedHere && !manifest.pages.isEmpty());
    ensure(handwritingFolder(), exchangedHere && !manifest.ink.isEmpty());
}

void DiaryCloudSyncFolder::removeLeftoverTemporaries() const {
    static const QString listing = QStringLiteral("Could not list the folder");
    using Writes = bool (*)(const QString &);
    const QPair<QString, Writes> folders[] = {
        {m_root, [](const QString &name) { return name == profileFileName; }},
        {pagesFolder(), [](const QString &name) { return pageFileDay(name).has_value(); }},
        {handwritingFolder(), isDrawingFileName},
    };
    const QDateTime before =
        QDateTime::currentDateTimeUtc().addMSecs(-std::chrono::milliseconds(leftoverAge).count());
    for (const auto &entry : folders) {
        const QString &folder = entry.first;
        const Writes writes = entry.second;
        QStringList leftovers;
        try {
            forEachItem(
                openFolder(m_root, folder, listing), listing,
                [&](int dirFd, const char *native) {
                    const QString name = QFile::decodeName(native);
                    // "icloud" has six letters too, but a placeholder is never ours to take.
                    const std::optional<QString> target =
                        placeholderTarget(name) ? std::nullopt : atomicWriteTarget(name);
                    struct stat status {};
                    if (target && writes(*target) &&
                        ::fstatat(dirFd, native, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISREG(status.st_mode) && modifiedAtOf(status) < before)
                        leftovers.append(name);
                },
                [&](int dirFd) {
                    for (const QString &name : std::as_const(leftovers)) {
                        removeFileDurablyAt(dirFd, folder, name);
                        qCInfo(lcSync) << "removed a temporary file a cut-short write left:"
                                       << folder + QLatin1Char('/') + name;
                    }
                });
        } catch (const DiaryError &error) {
            qCWarning(lcSync) << "temporary files left by cut-short writes stay in" << folder << ":"
                              << error.message();
        }
    }
}

QMap<QString, DiaryCloudSyncFolder::RemoteFile>
DiaryCloudSyncFolder::list(const QString &folder, const QString &extension) const {
    return list(folder, extension, nullptr);
}

QMap<QString, DiaryCloudSyncFolder::RemoteFile>
DiaryCloudSyncFolder::list(const QString &folder, const QString &extension,
                           QMap<DayKey, QList<ConflictCopy>> *conflicts) const {
    static const QString listing = QStringLiteral("Could not list the folder");
    QMap<QString, RemoteFile> result;
    forEachItem(openFolder(m_root, folder, listing), listing, [&](int dirFd, const char *native) {
        const QString name = QFile::decodeName(native);
        const std::optional<QString> pending = placeholderTarget(name);
        const bool placeholder = pending.has_value();
        const QString fileName = pending.value_or(name);
        if (pathExtension(fileName) != extension || fileName.startsWith(QLatin1Char('.')))
            return;
        const QString url = folder + QLatin1Char('/') + fileName;
        if (placeholder) {
            if (!result.contains(fileName))
                result.insert(fileName, RemoteFile{url, pendingFingerprint, distantPast(), false});
            return;
        }
        struct stat status {};
        if (::fstatat(dirFd, native, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode))
            return;
        if (conflicts) {
            if (const auto day = conflictCopyDay(fileName)) {
                (*conflicts)[*day].append(
                    ConflictCopy{url, fingerprintOf(status), modifiedAtOf(status)});
                return;
            }
        }
        result.insert(fileName, RemoteFile{url, fingerprintOf(status), modifiedAtOf(status), true});
    });
    if (conflicts) {
        for (QList<ConflictCopy> &copies : *conflicts)
            std::sort(copies.begin(), copies.end(),
                      [](const ConflictCopy &a, const ConflictCopy &b) {
                          return a.modifiedAt != b.modifiedAt ? a.modifiedAt < b.modifiedAt
                                                              : a.url < b.url;
                      });
    }
    return result;
}

QMap<DayKey, DiaryCloudSyncFolder::RemoteFile>
DiaryCloudSyncFolder::remotePages(QMap<DayKey, QList<ConflictCopy>> *conflicts) const {
    QMap<DayKey, QList<ConflictCopy>> found;
    const QMap<QString, RemoteFile> files = list(pagesFolder(), QStringLiteral("json"), &found);
    QMap<DayKey, RemoteFile> pages;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (const auto day = pageFileDay(it.key()))
            pages.insert(*day, it.value());
    }
    if (conflicts)
        *conflicts = std::move(found);
    return pages;
}

QMap<QString, DiaryCloudSyncFolder::RemoteFile> DiaryCloudSyncFolder::remoteInk() const {
    QMap<QString, RemoteFile> files = list(handwritingFolder(), QStringLiteral("drawing"));
    for (auto it = files.begin(); it != files.end();) {
        if (isDrawingFileName(it.key()))
            ++it;
        else
            it = files.erase(it);
    }
    return files;
}

void DiaryCloudSyncFolder::startDownloading(const QString &fileURL) const {
    try {
        if (m_requester)
            m_requester(fileURL);
    } catch (const std::exception &error) {
        qCWarning(lcSync) << "asking for" << fileURL << "to be fetched failed:" << error.what();
    }
}

QList<DiaryCloudSyncFolder::ConflictCopy>
DiaryCloudSyncFolder::conflictCopies(const DayKey &dayKey) const {
    QMap<DayKey, QList<ConflictCopy>> conflicts;
    list(pagesFolder(), QStringLiteral("json"), &conflicts);
    return conflicts.value(dayKey);
}

DiaryCloudSyncFolder::PageVersions DiaryCloudSyncFolder::readPage(const DayKey &dayKey) const {
    return readPage(dayKey, conflictCopies(dayKey));
}

DiaryCloudSyncFolder::PageVersions
DiaryCloudSyncFolder::readPage(const DayKey &dayKey, const QList<ConflictCopy> &conflicts) const {
    FileHolders holders(m_root, QStringLiteral("Could not open the file"));
    const auto current = readHeld(holders.of(pageURL(dayKey)), pageByteLimit, m_readInterruption);
    if (!current)
        throw FolderError::unreadablePage(dayKey);
    PageVersions versions{dayKey, {decodePage(*current, dayKey)}, {}};
    for (const ConflictCopy &copy : conflicts) {
        if (std::optional<DiaryEntryDTO> entry = readConflictCopy(dayKey, copy)) {
            versions.entries.append(std::move(*entry));
            versions.conflicts.append(copy);
        }
    }
    return versions;
}

std::optional<DiaryEntryDTO>
DiaryCloudSyncFolder::readConflictCopy(const DayKey &dayKey, const ConflictCopy &copy) const {
    // A file merely named like a copy may be anything, and a copy cut short is no version: what
    // is not read whole as a page of the day is left where it is.
    try {
        FileHolders holders(m_root, QStringLiteral("Could not open the file"));
        const HeldFile file = holders.of(copy.url);
        const std::optional<QByteArray> bytes = readHeld(file, pageByteLimit, m_readInterruption);
        if (!bytes)
            throw FolderError::unreadablePage(dayKey);
        DiaryEntryDTO entry = decodePage(*bytes, dayKey);
        // Settled only as it was listed: a copy rewritten meanwhile is read again next time.
        if (fingerprintOf(file) != copy.fingerprint) {
            qCInfo(lcSync) << "a conflict copy changed while it was read:" << copy.url;
            return std::nullopt;
        }
        return entry;
    } catch (const DiaryError &error) {
        qCInfo(lcSync) << "a file beside the page of" << dayKey.rawValue()
                       << "was not read as a copy of it and stays:" << copy.url << error.message();
    }
    return std::nullopt;
}

void DiaryCloudSyncFolder::settleConflicts(const PageVersions &versions) const {
    FileHolders holders(m_root, QStringLiteral("Could not remove the file"));
    for (const ConflictCopy &copy : versions.conflicts) {
        const HeldFile file = holders.of(copy.url);
        if (fingerprintOf(file) == copy.fingerprint)
            removeFileDurablyAt(file.folder->fd.get(), file.folder->path, file.name);
        else
            qCInfo(lcSync) << "a conflict copy changed after it was read and stays:" << copy.url;
    }
}

std::optional<QString> DiaryCloudSyncFolder::keepPageFile(const DayKey &dayKey,
                                                          const QString &folder) const {
    FileHolders holders(m_root, QStringLiteral("Could not open the file"));
    const HeldFile page = holders.of(pageURL(dayKey));
    const std::optional<QString> stamp = fingerprintOf(page);
    if (!stamp)
        return std::nullopt;
    const QString copy = folder + QLatin1Char('/') + dayKey.rawValue() + QLatin1Char(' ') + *stamp +
                         QStringLiteral(".json");
    if (fingerprint(copy))
        return copy;
    const std::optional<QByteArray> bytes = readHeld(page, drawingByteLimit, m_readInterruption);
    if (!bytes)
        return std::nullopt;
    createDirectories(folder);
    writeFileAtomically(copy, *bytes);
    return copy;
}

QString DiaryCloudSyncFolder::writePage(const DiaryEntryDTO &entry) const {
    FileHolders holders(m_root, QStringLiteral("Could not write the file"));
    return writeHeld(holders.of(pageURL(entry.dayKey)), encodePage(entry), std::nullopt,
                     m_writeInterruption)
        .value_or(writtenFingerprint);
}

std::optional<QString> DiaryCloudSyncFolder::writePage(const DiaryEntryDTO &entry,
                                                       const std::optional<QString> &listed) const {
    FileHolders holders(m_root, QStringLiteral("Could not write the file"));
    return writeListed(holders.of(pageURL(entry.dayKey)), encodePage(entry), listed, entry.dayKey,
                       m_writeInterruption);
}

std::optional<QString>
DiaryCloudSyncFolder::writeDrawing(const QByteArray &bytes, const DayKey &dayKey, qint64 leaf,
                                   const std::optional<QString> &listed) const {
    FileHolders holders(m_root, QStringLiteral("Could not write the file"));
    return writeListed(holders.of(inkURL(DiaryHandwritingStore::fileName(dayKey, leaf))), bytes,
                       listed, dayKey, m_writeInterruption);
}

bool DiaryCloudSyncFolder::drawingIsGone(const DayKey &dayKey, qint64 leaf) const {
    FileHolders holders(m_root, QStringLiteral("Could not list the folder"));
    return standsAsListed(holders.of(inkURL(DiaryHandwritingStore::fileName(dayKey, leaf))),
                          std::nullopt, dayKey);
}

void DiaryCloudSyncFolder::takeBackSetAsideDrawings() const {
    static const QString listing = QStringLiteral("Could not list the folder");
    try {
        QMap<QString, QList<SetAsideDrawing>> copies;
        forEachItem(openFolder(m_root, handwritingFolder(), listing), listing,
                    [&](int dirFd, const char *native) {
                        const QString name = QFile::decodeName(native);
                        const std::optional<QString> drawing = setAsideDrawingOf(name);
                        struct stat status {};
                        if (drawing &&
                            ::fstatat(dirFd, native, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                            S_ISREG(status.st_mode))
                            copies[*drawing].append({name, status});
                    });
        FileHolders holders(m_root, QStringLiteral("Could not move the file into place"));
        std::optional<HeldFile> drawing;
        bool changed = false;
        for (auto it = copies.begin(); it != copies.end(); ++it) {
            // The oldest first, so that each is compared with the newest before it.
            std::sort(it->begin(), it->end(),
                      [](const SetAsideDrawing &a, const SetAsideDrawing &b) {
                          return modifiedLater(b.status, a.status) ||
                                 (!modifiedLater(a.status, b.status) && a.name < b.name);
                      });
            drawing = holders.of(inkURL(it.key()));
            for (const SetAsideDrawing &copy : std::as_const(*it)) {
                try {
                    if (takeBack(*drawing, copy)) {
                        changed = true;
                        qCInfo(lcSync) << "a drawing a put-back set aside as" << copy.name
                                       << "was compared with" << drawing->url;
                    }
                } catch (const DiaryError &error) {
                    qCWarning(lcSync) << "a drawing a put-back set aside stays as" << copy.name
                                      << ":" << error.message();
                }
            }
        }
        if (changed && ::fsync(drawing->folder->fd.get()) != 0)
            qCWarning(lcSync) << "the folder of drawings put back could not be flushed:"
                              << drawing->folder->path;
    } catch (const DiaryError &error) {
        qCWarning(lcSync) << "drawings a put-back set aside stay where they are:"
                          << error.message();
    }
}

std::optional<DiaryCloudSyncFolder::Profile> DiaryCloudSyncFolder::readProfile() const {
    try {
        if (const auto bytes = coordinatedRead(profileURL(), profileByteLimit))
            return decodeProfile(*bytes);
        qCWarning(lcSync) << "the synced profile is too large to be read";
    } catch (const FileSystemError &error) {
        if (error.errorNumber() != ENOENT)
            qCWarning(lcSync) << "the synced profile could not be read:" << error.message();
    } catch (const DiaryError &error) {
        qCWarning(lcSync) << "the synced profile could not be read:" << error.message();
    }
    return std::nullopt;
}

QString DiaryCloudSyncFolder::writeProfile(const Profile &profile) const {
    FileHolders holders(m_root, QStringLiteral("Could not write the file"));
    return writeHeld(holders.of(profileURL()), encodeProfile(profile), std::nullopt,
                     m_writeInterruption)
        .value_or(writtenFingerprint);
}

std::optional<QByteArray> DiaryCloudSyncFolder::coordinatedRead(const QString &fileURL,
                                                                qint64 byteLimit) const {
    FileHolders holders(m_root, QStringLiteral("Could not open the file"));
    return readHeld(holders.of(fileURL), byteLimit, m_readInterruption);
}

void DiaryCloudSyncFolder::coordinatedDelete(const QString &fileURL) const {
    FileHolders holders(m_root, QStringLiteral("Could not remove the file"));
    std::optional<HeldFile> file;
    try {
        file = holders.of(fileURL);
    } catch (const FileSystemError &error) {
        // No folder to hold it, or a file where the folder should be: no file either.
        if (error.errorNumber() == ENOENT || error.errorNumber() == ENOTDIR)
            return;
        throw;
    }
    removeFileDurablyAt(file->folder->fd.get(), file->folder->path, file->name);
}

DiaryEntryDTO DiaryCloudSyncFolder::decodePage(const QByteArray &bytes, const DayKey &dayKey) {
    if (bytes.size() > pageByteLimit)
        throw FolderError::unreadablePage(dayKey);
    DiaryEntryDTO entry;
    try {
        const JsonObjectReader reader(parseJson(bytes));
        if (reader.string(QStringLiteral("format")) != pageFormat ||
            reader.int64(QStringLiteral("version")) != pageVersion)
            throw FolderError::unreadablePage(dayKey);
        entry = reader.decode(
            QStringLiteral("entry"), [](const QJsonValue &value, const QStringList &path) {
                return DiaryEntryDTO::fromJson(value, JsonDateEncoding::secondsSince1970, path);
            });
    } catch (const DiaryError &) {
        throw FolderError::unreadablePage(dayKey);
    }
    if (entry.dayKey != dayKey || !std::isfinite(entry.bodyPointSize) ||
        utf8Length(entry.content) > pageContentByteLimit)
        throw FolderError::unreadablePage(dayKey);
    // What the tablet may write but the diary could never export again.
    entry.bodyPointSize = std::clamp(entry.bodyPointSize, smallestPointSize, largestPointSize);
    if (entry.fontName.trimmed().isEmpty())
        entry.fontName = defaultFontName;
    if (entry.updatedAt < entry.createdAt)
        entry.updatedAt = entry.createdAt;
    return entry;
}

QByteArray DiaryCloudSyncFolder::encodePage(const DiaryEntryDTO &entry) {
    const QJsonObject page{
        {QStringLiteral("entry"), entry.toJson(JsonDateEncoding::secondsSince1970)},
        {QStringLiteral("format"), pageFormat},
        {QStringLiteral("version"), pageVersion},
    };
    return writeJson(page, {.escapeSlashes = true, .prettyPrinted = true});
}

std::optional<DiaryCloudSyncFolder::Profile>
DiaryCloudSyncFolder::decodeProfile(const QByteArray &bytes) {
    if (bytes.size() > profileByteLimit)
        return std::nullopt;
    try {
        const JsonObjectReader reader(parseJson(bytes));
        // The other device's name enters the settings; it is kept to the same bound as a typed one.
        return Profile{
            UserDefaultsSettingsStore::boundedUserName(reader.string(QStringLiteral("userName"))),
            reader.date(QStringLiteral("changedAt"), JsonDateEncoding::secondsSince1970)};
    } catch (const DiaryError &error) {
        qCInfo(lcSync) << "the synced profile is not a profile:" << error.message();
    }
    return std::nullopt;
}

QByteArray DiaryCloudSyncFolder::encodeProfile(const Profile &profile) {
    return writeJson(
        QJsonObject{{QStringLiteral("userName"), profile.userName},
                    {QStringLiteral("changedAt"),
                     encodeDate(profile.changedAt, JsonDateEncoding::secondsSince1970)}},
        {.escapeSlashes = true});
}

std::optional<QString> DiaryCloudSyncFolder::fingerprint(const QString &fileURL) {
    return fileFingerprint(fileURL);
}

QString DiaryCloudSyncFolder::fingerprint(qint64 size, const QDateTime &modifiedAt) {
    return QString::number(size) + QLatin1Char('-') +
           QString::number(modifiedAt.toMSecsSinceEpoch() - referenceDateSince1970Ms);
}

} // namespace velmora

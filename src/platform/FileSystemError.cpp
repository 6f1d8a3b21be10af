#include "platform/FileSystemError.h"

#include "platform/PlatformLogging.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

FileSystemError::FileSystemError(QString operation, QString path, int errorNumber)
    : m_operation(std::move(operation))
    , m_path(std::move(path))
    , m_errorNumber(errorNumber) {}

namespace {

// The operations callers name, so that their words can be translated; an operation missing
// here is shown as given.
[[maybe_unused]] const char *const operations[] = {
    QT_TRANSLATE_NOOP("FileSystemError", "Could not close the file"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not create a file in"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not create the folder"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not flush the file"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not flush the folder"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not list the folder"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not move the backup into place at"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not move the export into place at"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not move the file into place"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not open the file"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not open the folder"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not read the attributes of"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not read the file"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not read"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not remove the file"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not remove the folder"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not restrict the file"),
    QT_TRANSLATE_NOOP("FileSystemError", "Could not write the file"),
};

} // namespace

QString FileSystemError::message() const {
    const QByteArray operation = m_operation.toUtf8();
    return QCoreApplication::translate("FileSystemError", "%1 “%2”: %3")
        .arg(QCoreApplication::translate("FileSystemError", operation.constData()),
             shownExcerpt(m_path), QString::fromLocal8Bit(std::strerror(m_errorNumber)));
}

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

int FileDescriptor::close() {
    return ::close(std::exchange(m_fd, -1));
}

void forEachItemAt(FileDescriptor folder, const QString &path, const QString &operation,
                   const std::function<void(int, const char *)> &each,
                   const std::function<void(int)> &after) {
    DIR *opened = ::fdopendir(folder.get());
    if (!opened)
        throw FileSystemError(operation, path, errno);
    folder.release();
    const std::unique_ptr<DIR, int (*)(DIR *)> directory(opened, ::closedir);
    const int folderFd = ::dirfd(opened);
    for (;;) {
        errno = 0;
        const dirent *item = ::readdir(opened);
        if (!item) {
            if (errno != 0)
                throw FileSystemError(operation, path, errno);
            break;
        }
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
            each(folderFd, item->d_name);
    }
    if (after)
        after(folderFd);
}

void syncDirectory(const QString &directory) {
    FileDescriptor fd(
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        throw FileSystemError(QStringLiteral("Could not open the folder"), directory, errno);
    if (::fsync(fd.get()) != 0)
        throw FileSystemError(QStringLiteral("Could not flush the folder"), directory, errno);
}

void createDirectories(const QString &path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::stat(native.constData(), &status) == 0 && S_ISDIR(status.st_mode))
        return;
    QStringList missing;
    for (QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(path));
         !QFileInfo::exists(folder) && folder != QFileInfo(folder).path();
         folder = QFileInfo(folder).path())
        missing.prepend(folder);
    if (missing.isEmpty())
        throw FileSystemError(QStringLiteral("Could not create the folder"), path, ENOTDIR);
    // One mkdir per level, so the reason reported is the one mkdir gave (a read-only or
    // forbidden parent), not whatever a later look at the path left in errno.
    for (const QString &folder : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(folder).constData(), S_IRWXU) == 0)
            continue;
        const int error = errno;
        if (error == EEXIST && QFileInfo(folder).isDir())
            continue;
        throw FileSystemError(QStringLiteral("Could not create the folder"), path,
                              error == EEXIST ? ENOTDIR : error);
    }
    // A file made durable inside a new folder is only as durable as the folder's own entry.
    for (const QString &folder : std::as_const(missing))
        syncDirectory(QFileInfo(folder).path());
}

bool restrictToOwner(const QString &path) noexcept {
    FileDescriptor fd(::open(QFile::encodeName(path).constData(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    const char *failed = nullptr;
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ELOOP)
            return true;
        failed = "open";
    } else if (::fstat(fd.get(), &status) != 0) {
        failed = "stat";
    } else if (!S_ISREG(status.st_mode) || (status.st_mode & 0777) == (S_IRUSR | S_IWUSR)) {
        return true;
    } else if (::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0) {
        failed = "chmod";
    }
    if (!failed)
        return true;
    qCWarning(lcPlatform) << "Could not make" << path << "private to its owner:" << failed
                          << std::strerror(errno);
    return false;
}

bool makeOwnerOnlyFile(const QString &path) noexcept {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        restrictToOwner(path);
        return false;
    }
    ::close(fd);
    return true;
}

void writeFileAtomically(const QString &path, const QByteArray &bytes) {
    writeFileAtomically(path, QList<QByteArray>{bytes});
}

void writeFileAtomically(const QString &path, const QList<QByteArray> &pieces) {
    const QFileInfo info(path);
    const QString directory = info.absolutePath();
    const FileDescriptor folder(
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        throw FileSystemError(QStringLiteral("Could not create a file in"), directory, errno);
    writeFileAtomicallyAt(folder.get(), directory, info.fileName(), pieces);
}

namespace {

// A temporary's name: a hidden name beside the file, as mkstemp would make it.
constexpr char temporaryLetters[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr qsizetype temporaryLetterCount = 6;

} // namespace

std::optional<QString> atomicWriteTarget(const QString &name) {
    const qsizetype targetSize = name.size() - 2 - temporaryLetterCount;
    if (targetSize < 1 || !name.startsWith(QLatin1Char('.')) ||
        name.at(name.size() - 1 - temporaryLetterCount) != QLatin1Char('.'))
        return std::nullopt;
    const QLatin1String letters(temporaryLetters);
    for (qsizetype i = name.size() - temporaryLetterCount; i < name.size(); ++i) {
        if (!letters.contains(name.at(i)))
            return std::nullopt;
    }
    return name.mid(1, targetSize);
}

void readFromStart(int fd, QByteArray &bytes, const QString &path) {
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n =
            ::pread(fd, bytes.data() + filled, size_t(bytes.size() - filled), off_t(filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw FileSystemError(QStringLiteral("Could not read the file"), path, errno);
        if (n == 0)
            break;
        filled += n;
    }
    bytes.truncate(filled);
}

FileDescriptor openRegularFileAt(int folderFd, const QByteArray &name, const QString &path,
                                 struct stat &status) {
    FileDescriptor fd(::openat(folderFd, name.constData(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        throw FileSystemError(QStringLiteral("Could not open the file"), path, errno);
    if (::fstat(fd.get(), &status) != 0)
        throw FileSystemError(QStringLiteral("Could not read the attributes of"), path, errno);
    if (!S_ISREG(status.st_mode))
        throw FileSystemError(QStringLiteral("Could not read the file"), path,
                              S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
    return fd;
}

FileDescriptor openRegularFile(const QString &path, qint64 *size) {
    struct stat status {};
    FileDescriptor fd = openRegularFileAt(AT_FDCWD, QFile::encodeName(path), path, status);
    if (size)
        *size = qint64(status.st_size);
    return fd;
}

QByteArray readRegularFile(const QString &path, qint64 byteLimit) {
    qint64 size = 0;
    const FileDescriptor fd = openRegularFile(path, &size);
    if (size > byteLimit)
        throw FileSystemError(QStringLiteral("Could not read the file"), path, EFBIG);
    // One byte more than the file claims, to notice one that grew past the limit meanwhile.
    QByteArray bytes(qsizetype(size) + 1, Qt::Uninitialized);
    readFromStart(fd.get(), bytes, path);
    if (bytes.size() > byteLimit)
        throw FileSystemError(QStringLiteral("Could not read the file"), path, EFBIG);
    return bytes;
}

FileDescriptor createFileAt(int folderFd, const QString &folder, const QString &name,
                            const QList<QByteArray> &pieces) {
    const QByteArray native = QFile::encodeName(name);
    FileDescriptor fd(::openat(folderFd, native.constData(),
                               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                               S_IRUSR | S_IWUSR));
    if (fd.get() < 0)
        throw FileSystemError(QStringLiteral("Could not create a file in"), folder, errno);
    const auto fail = [&](const char *operation) {
        const int error = errno;
        ::unlinkat(folderFd, native.constData(), 0);
        throw FileSystemError(QString::fromUtf8(operation), folder + QLatin1Char('/') + name,
                              error);
    };
    if (::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0)
        fail("Could not restrict the file");
    for (const QByteArray &bytes : pieces) {
        qsizetype written = 0;
        while (written < bytes.size()) {
            const ssize_t n =
                ::write(fd.get(), bytes.constData() + written, size_t(bytes.size() - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                fail("Could not write the file");
            written += n;
        }
    }
    if (::fsync(fd.get()) != 0)
        fail("Could not flush the file");
    return fd;
}

TemporaryFile createTemporaryFileAt(int folderFd, const QString &folder, const QString &name,
                                    const QList<QByteArray> &pieces) {
    TemporaryFile made;
    for (int attempt = 0; made.fd.get() < 0; ++attempt) {
        made.name = QLatin1Char('.') + name + QLatin1Char('.');
        for (qsizetype i = 0; i < temporaryLetterCount; ++i)
            made.name.append(QLatin1Char(temporaryLetters[QRandomGenerator::global()->bounded(
                int(sizeof temporaryLetters - 1))]));
        try {
            made.fd = createFileAt(folderFd, folder, made.name, pieces);
        } catch (const FileSystemError &error) {
            if (error.errorNumber() != EEXIST || attempt >= 100)
                throw;
        }
    }
    return made;
}

void writeFileAtomicallyAt(int folderFd, const QString &folder, const QString &name,
                           const QList<QByteArray> &pieces) {
    TemporaryFile made = createTemporaryFileAt(folderFd, folder, name, pieces);
    const QString &temporary = made.name;
    FileDescriptor &fd = made.fd;
    const QByteArray native = QFile::encodeName(temporary);
    const auto fail = [&](const char *operation) {
        const int error = errno;
        ::unlinkat(folderFd, native.constData(), 0);
        throw FileSystemError(QString::fromUtf8(operation), folder + QLatin1Char('/') + temporary,
                              error);
    };
    if (fd.close() != 0)
        fail("Could not close the file");
    if (::renameat(folderFd, native.constData(), folderFd, QFile::encodeName(name).constData()) !=
        0)
        fail("Could not move the file into place");
    if (::fsync(folderFd) != 0)
        throw FileSystemError(QStringLiteral("Could not flush the folder"), folder, errno);
}

void removeFileDurably(const QString &path) {
    const QString directory = QFileInfo(path).absolutePath();
    const FileDescriptor folder(
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        // No folder, or a file where it should be: the file cannot exist.
        if (errno == ENOENT || errno == ENOTDIR)
            return;
        throw FileSystemError(QStringLiteral("Could not remove the file"), path, errno);
    }
    removeFileDurablyAt(folder.get(), directory, QFileInfo(path).fileName());
}

void removeFileDurablyAt(int folderFd, const QString &folder, const QString &name) {
    if (::unlinkat(folderFd, QFile::encodeName(name).constData(), 0) != 0) {
        if (errno == ENOENT)
            return;
        throw FileSystemError(QStringLiteral("Could not remove the file"),
                              folder + QLatin1Char('/') + name, errno);
    }
    if (::fsync(folderFd) != 0)
        throw FileSystemError(QStringLiteral("Could not flush the folder"), folder, errno);
}

} // namespace velmora

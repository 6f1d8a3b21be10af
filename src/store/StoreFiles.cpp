#include "store/StoreFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {

namespace {

[[noreturn]] void throwErrno(const char *operation, const QString &path, int error) {
    throw FileOperationError(QString::fromLatin1(operation), path,
                             QString::fromLocal8Bit(std::strerror(error)));
}

void writeAll(int fd, const QByteArray &bytes, const QString &path) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwErrno("write", path, errno);
        }
        written += n;
    }
}

} // namespace

FileOperationError::FileOperationError(QString operation, QString path, QString reason)
    : m_operation(std::move(operation))
    , m_path(std::move(path))
    , m_reason(std::move(reason)) {}

QString FileOperationError::message() const {
    return QCoreApplication::translate("FileOperationError", "%1 of “%2” failed: %3")
        .arg(m_operation, m_path, m_reason);
}

void createDirectory(const QString &path) {
    if (!QDir().mkpath(path))
        throw FileOperationError(QStringLiteral("mkdir"), path,
                                 QFileInfo::exists(path) ? QStringLiteral("Not a directory")
                                                         : QStringLiteral("Cannot create it"));
}

void removeFileIfPresent(const QString &path) {
    const QByteArray native = QFile::encodeName(path);
    if (::unlink(native.constData()) != 0 && errno != ENOENT)
        throwErrno("unlink", path, errno);
}

void writeFileAtomically(const QString &path, const QByteArray &bytes) {
    const QString temporary = path + QStringLiteral(".tmp-") + QString::number(::getpid());
    const QByteArray nativeTemporary = QFile::encodeName(temporary);
    const int fd =
        ::open(nativeTemporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throwErrno("open", temporary, errno);
    try {
        writeAll(fd, bytes, temporary);
        if (::fsync(fd) != 0)
            throwErrno("fsync", temporary, errno);
    } catch (...) {
        ::close(fd);
        ::unlink(nativeTemporary.constData());
        throw;
    }
    ::close(fd);
    if (::rename(nativeTemporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        ::unlink(nativeTemporary.constData());
        throwErrno("rename", path, error);
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
}

} // namespace velmora

#include "platform/FileClaims.h"

#include "platform/PlatformLogging.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

// SQLite locks bytes from 1 GiB on, a few hundred of them; a store never grows to this offset,
// and a lock beyond the end of a file is no write.
constexpr off_t claimedByte = off_t(1) << 62;

} // namespace

FileClaims::~FileClaims() {
    for (const Claim &claim : m_claims)
        ::close(claim.fd);
}

FileClaims::Outcome FileClaims::claim(const QString &path) {
    const std::lock_guard<std::mutex> hold(m_mutex);
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::stat(native.constData(), &status) != 0 && errno == ENOENT)
        return Outcome::missing;
    if (std::any_of(m_claims.cbegin(), m_claims.cend(), [&](const Claim &claim) {
            return claim.device == status.st_dev && claim.inode == status.st_ino;
        }))
        return Outcome::claimed;
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return Outcome::missing;
        qCWarning(lcPlatform) << "Could not claim" << path
                              << "for this process:" << strerror(errno);
        return Outcome::claimed;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        // No file to claim: opening the store says what stands there instead.
        ::close(fd);
        return Outcome::claimed;
    }
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = claimedByte;
    range.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &range) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EAGAIN || error == EACCES)
            return Outcome::heldElsewhere;
        // A file system that keeps no such locks: the lock file, held with whatever kind of lock
        // it keeps or by its holder's lines, keeps other launches off. A POSIX lock here would
        // go the first time SQLite closes a descriptor of the store, and seem held meanwhile.
        qCWarning(lcPlatform) << "Could not claim" << path
                              << "for this process:" << strerror(error);
        return Outcome::claimed;
    }
    m_claims.push_back({status.st_dev, status.st_ino, fd});
    return Outcome::claimed;
}

} // namespace velmora

#pragma once

#include "platform/DiaryError.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <sys/stat.h>
#include <utility>

namespace velmora {

// A failure of the file system, passed on as it is: the operation, the path and the system's
// own description of the error.
class FileSystemError : public DiaryError {
public:
    FileSystemError(QString operation, QString path, int errorNumber);

    const QString &operation() const { return m_operation; }
    const QString &path() const { return m_path; }
    int errorNumber() const { return m_errorNumber; }

    QString message() const override;

private:
    QString m_operation;
    QString m_path;
    int m_errorNumber;
};

// An open file descriptor, closed when this goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    // Closing can report a deferred write error, so it is checked rather than left to the
    // destructor.
    int close();

private:
    int m_fd;
};

// Calls `each(folderFd, name)` for every item of the open folder but "." and "..", then hands the
// folder's descriptor to `after`. Throws the file system's error, with `operation` and `path`,
// when the folder cannot be read.
void forEachItemAt(FileDescriptor folder, const QString &path, const QString &operation,
                   const std::function<void(int, const char *)> &each,
                   const std::function<void(int)> &after = {});

// Creates the folder and any missing parents, for the owner only; an existing folder is fine.
void createDirectories(const QString &path);

// Makes the file at `path`, if there is one, readable and writable by its owner only, whatever
// mode an older run or another program gave it. Symbolic links are not followed. False, with the
// reason logged, where the file system would not (a FAT drive, another owner's file).
bool restrictToOwner(const QString &path) noexcept;

// An empty file at `path` for the owner only, for a writer that would otherwise create it with
// the umask and keep that mode: made when nothing is there (true), else restricted as above.
bool makeOwnerOnlyFile(const QString &path) noexcept;

// Replaces the file at `path` with exactly `bytes`, readable and writable by the owner only. A
// reader sees the old file or the new one, never a part, and once this returns the new file
// survives a power cut: temp file in the same folder, fsync, rename, fsync of the folder.
void writeFileAtomically(const QString &path, const QByteArray &bytes);
// The same with the pieces written one after the other, for contents made in parts.
void writeFileAtomically(const QString &path, const QList<QByteArray> &pieces);
// The same for the file `name` in an open folder, which stays the folder written into whatever
// later happens to its path; `folder` is that path, for messages.
void writeFileAtomicallyAt(int folderFd, const QString &folder, const QString &name,
                           const QList<QByteArray> &pieces);

// A new file `name` in an open folder, readable and writable by the owner only, holding exactly
// `pieces` and flushed to disk; whatever already stands at that name, a link included, fails the
// call. The descriptor returned is open for reading and writing. On failure the file is removed.
FileDescriptor createFileAt(int folderFd, const QString &folder, const QString &name,
                            const QList<QByteArray> &pieces);

// A new hidden temporary beside the file `name` in an open folder, named as the atomic writes
// above name theirs, made as createFileAt makes a file: its name and its open descriptor.
struct TemporaryFile {
    QString name;
    FileDescriptor fd;
};
TemporaryFile createTemporaryFileAt(int folderFd, const QString &folder, const QString &name,
                                    const QList<QByteArray> &pieces);

// Fills `bytes`, as sized by the caller, from the start of an open file, and shortens it to what
// the file held; `path` is for messages.
void readFromStart(int fd, QByteArray &bytes, const QString &path);

// Opens the file at `path` for reading as the diary's own files are read: a regular file only,
// never through a symbolic link, and without waiting on anything else (a pipe would hold the open
// for ever, a device never end the read). Its size goes to `size`. Throws the file system's
// error: ENOENT where nothing is there, ELOOP for a link, EISDIR for a folder, EINVAL for
// anything else that is no regular file.
FileDescriptor openRegularFile(const QString &path, qint64 *size = nullptr);
// The same for the file `name` in an open folder (AT_FDCWD: the working folder), with all its
// attributes going to `status`; `path` is for messages.
FileDescriptor openRegularFileAt(int folderFd, const QByteArray &name, const QString &path,
                                 struct stat &status);
// The bytes of the file at `path`, opened as above, when it holds no more than `byteLimit`;
// EFBIG when it holds more.
QByteArray readRegularFile(const QString &path, qint64 byteLimit);

// The name of the file that `name` was the hidden temporary of, when `name` is exactly what the
// atomic writes above name their temporaries (".<file>.<six letters or digits>"); none otherwise.
// A write cut short by a crash or a kill leaves one behind.
std::optional<QString> atomicWriteTarget(const QString &name);

// Makes the entries of the folder (files created, renamed or removed in it) survive a power cut.
void syncDirectory(const QString &directory);

// Removes the file and makes the removal durable; a file that is not there is no error.
void removeFileDurably(const QString &path);
// The same for the file `name` in an open folder; `folder` is its path, for messages.
void removeFileDurablyAt(int folderFd, const QString &folder, const QString &name);

} // namespace velmora

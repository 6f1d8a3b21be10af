#pragma once

#include <QString>

#include <mutex>
#include <sys/types.h>
#include <vector>

namespace velmora {

// One process per file, whichever name reaches it and whatever happens to the names beside it:
// this process's claims on files as the system knows them (device and inode). Each claim is an
// open-file-description lock on one byte far past anything SQLite locks, so it never meets the
// store's own locks and lasts, whatever descriptors SQLite opens and closes, until the process
// ends however it ends. May be used from any thread.
class FileClaims {
public:
    enum class Outcome {
        // This process holds the file now, or the file system keeps no locks.
        claimed,
        // Another process holds a claim on the file.
        heldElsewhere,
        // No file stands at the path yet.
        missing,
    };

    FileClaims() = default;
    ~FileClaims();
    FileClaims(const FileClaims &) = delete;
    FileClaims &operator=(const FileClaims &) = delete;

    // Claims the file at `path`, links followed, keeping every claim taken before; a file claimed
    // already is not opened again. A file that cannot be opened is left to whoever opens it next
    // to report, and counts as claimed. Closing a descriptor drops the process's own record locks
    // on the file, so a file this process has open elsewhere is claimed before it is opened.
    Outcome claim(const QString &path);

private:
    struct Claim {
        dev_t device;
        ino_t inode;
        int fd;
    };
    std::mutex m_mutex;
    std::vector<Claim> m_claims;
};

} // namespace velmora

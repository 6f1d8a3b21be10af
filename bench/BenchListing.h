#pragma once

#include <QFile>
#include <QString>

#include <dirent.h>
#include <sys/stat.h>

namespace velmora::bench {

// The plain listing the sync benchmarks are measured against: readdir and stat of every name in
// one folder, nothing decoded. Returns the sizes' sum so the work cannot be optimised away.
inline qint64 listFolderWithStat(const QString &folder) {
    const QByteArray path = QFile::encodeName(folder);
    qint64 total = 0;
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return 0;
    while (const dirent *item = ::readdir(dir)) {
        struct stat status {};
        if (::stat((path + '/' + item->d_name).constData(), &status) == 0)
            total += status.st_size;
    }
    ::closedir(dir);
    return total;
}

} // namespace velmora::bench

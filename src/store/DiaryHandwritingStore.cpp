#include "store/DiaryHandwritingStore.h"

#include "domain/PersistenceError.h"
#include "platform/DecimalText.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimeZone>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace velmora {

namespace {

const QString drawingExtension = QStringLiteral("drawing");

// The listed record of a drawing file, or none when it is no non-empty regular file.
std::optional<DiaryHandwritingStore::PageFile> statPageFile(const QString &path,
                                                            const DayKey &dayKey, qint64 leaf) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size < 1) {
        return std::nullopt;
    }
    const qint64 modified = qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
    return DiaryHandwritingStore::PageFile{
        dayKey, leaf, path, qint64(status.st_size),
        QDateTime::fromMSecsSinceEpoch(modified, QTimeZone::utc())};
}

} // namespace

DiaryHandwritingStore::DiaryHandwritingStore(QString directory)
    : m_directory(standardizedPath(directory)) {}

QString DiaryHandwritingStore::fileURL(const DayKey &dayKey, qint64 leaf) const {
    return m_directory + QLatin1Char('/') + fileName(dayKey, leaf);
}

QString DiaryHandwritingStore::fileName(const DayKey &dayKey, qint64 leaf) {
    return dayKey.rawValue() + QLatin1Char('-') + QString::number(leaf) + QLatin1Char('.') +
           drawingExtension;
}

void DiaryHandwritingStore::write(const QByteArray &bytes, const DayKey &dayKey,
                                  qint64 leaf) const {
    if (leaf < 0) {
        throw PersistenceError::invalidData(
            QCoreApplication::translate("DiaryHandwritingStore",
                                        "A handwriting leaf number cannot be negative: %1.")
                .arg(leaf));
    }
    const QString path = fileURL(dayKey, leaf);
    if (bytes.isEmpty()) {
        removeFileDurably(path);
        return;
    }
    createDirectories(m_directory);
    writeFileAtomically(path, bytes);
}

std::optional<DiaryHandwritingStore::PageFile> DiaryHandwritingStore::pageFile(const DayKey &dayKey,
                                                                               qint64 leaf) const {
    return statPageFile(fileURL(dayKey, leaf), dayKey, leaf);
}

QList<DiaryHandwritingStore::PageFile> DiaryHandwritingStore::listNamedFiles() const {
    const QByteArray folder = QFile::encodeName(m_directory);
    const std::unique_ptr<DIR, int (*)(DIR *)> listing(::opendir(folder.constData()), ::closedir);
    if (!listing) {
        if (errno == ENOENT)
            return {};
        throw FileSystemError(QStringLiteral("Could not list the folder"), m_directory, errno);
    }
    QList<PageFile> files;
    for (;;) {
        // readdir ends a listing and fails the same way; only errno tells a cut-short list.
        errno = 0;
        const dirent *item = ::readdir(listing.get());
        if (!item) {
            if (errno != 0)
                throw FileSystemError(QStringLiteral("Could not list the folder"), m_directory,
                                      errno);
            break;
        }
        const QString name = QFile::decodeName(item->d_name);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot <= 0 || QStringView(name).mid(dot + 1) != drawingExtension)
            continue;
        const auto parsed = parseBaseName(name.left(dot));
        if (!parsed)
            continue;
        files.append(
            PageFile{parsed->first, parsed->second, m_directory + QLatin1Char('/') + name, 0, {}});
    }
    std::stable_sort(files.begin(), files.end(), [](const PageFile &a, const PageFile &b) {
        return a.dayKey != b.dayKey ? a.dayKey < b.dayKey : a.leaf < b.leaf;
    });
    return files;
}

QList<DiaryHandwritingStore::PageFile> DiaryHandwritingStore::pageFiles() const {
    QList<PageFile> files;
    for (const PageFile &named : listNamedFiles()) {
        if (auto file = statPageFile(named.url, named.dayKey, named.leaf))
            files.append(std::move(*file));
    }
    return files;
}

std::optional<DiaryHandwritingStore::PageFile>
DiaryHandwritingStore::firstPageFile(const DayKey &from) const {
    for (const PageFile &named : listNamedFiles()) {
        if (named.dayKey < from)
            continue;
        if (auto file = statPageFile(named.url, named.dayKey, named.leaf))
            return file;
    }
    return std::nullopt;
}

std::optional<std::pair<DayKey, qint64>>
DiaryHandwritingStore::parseBaseName(const QString &baseName) {
    if (baseName.size() < 12)
        return std::nullopt;
    const auto dayKey = DayKey::fromRawValue(baseName.left(10));
    if (!dayKey)
        return std::nullopt;
    // The separator after the day is not checked.
    const auto leaf = parseSignedDecimal(QStringView(baseName).mid(11));
    if (!leaf || *leaf < 0)
        return std::nullopt;
    return std::pair{*dayKey, *leaf};
}

} // namespace velmora

#pragma once

#include "domain/DayKey.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace velmora {

// One drawing file per leaf of a day, named "yyyy-MM-dd-<leaf>.drawing", kept as the bytes that
// arrived; the store never looks inside. A plain value: every call goes to the file system.
class DiaryHandwritingStore {
public:
    struct PageFile {
        DayKey dayKey;
        qint64 leaf = 0;
        QString url;
        qint64 byteCount = 0;
        QDateTime modifiedAt;

        friend bool operator==(const PageFile &, const PageFile &) = default;
    };

    explicit DiaryHandwritingStore(QString directory);

    const QString &directory() const { return m_directory; }

    QString fileURL(const DayKey &dayKey, qint64 leaf) const;
    // "yyyy-MM-dd-<leaf>.drawing": the one name the leaf's drawing has here and in the sync
    // folder.
    static QString fileName(const DayKey &dayKey, qint64 leaf);

    // Empty bytes remove the leaf's drawing (nothing to remove is fine). Other bytes replace it
    // atomically, readable by the owner only, creating the folder first. A negative leaf is
    // refused: no listing would ever find, or delete, its file.
    void write(const QByteArray &bytes, const DayKey &dayKey, qint64 leaf) const;

    // The record of one leaf's drawing as the listing would give it, or none when the leaf has
    // no non-empty regular file.
    std::optional<PageFile> pageFile(const DayKey &dayKey, qint64 leaf) const;

    // The drawings in the folder, by day and then leaf; an absent folder lists nothing. Entries
    // that are not non-empty regular files with a valid name are left out.
    QList<PageFile> pageFiles() const;

    // The first drawing the listing gives on or after the day, reading the attributes of no
    // other file; none when there is none.
    std::optional<PageFile> firstPageFile(const DayKey &from) const;

    // The day and leaf a drawing's base name (the file name without ".drawing") stands for.
    static std::optional<std::pair<DayKey, qint64>> parseBaseName(const QString &baseName);

private:
    // The files whose names are drawings', sorted as the listing is, before any attribute is
    // read: only the day, leaf and path are filled in.
    QList<PageFile> listNamedFiles() const;

    QString m_directory;
};

} // namespace velmora

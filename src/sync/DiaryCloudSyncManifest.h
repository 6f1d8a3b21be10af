#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <optional>

namespace velmora {

// What this computer last wrote or accepted for one page or drawing file.
struct DiaryCloudSyncMark {
    // A page's revision at the exchange; always 0 for a drawing.
    qint64 local = 0;
    // The file's fingerprint in the sync folder at the exchange, or "written", or `unreadRemote`.
    QString remote;
    // A drawing's local fingerprint at the exchange; never set for a page.
    std::optional<QString> localInk;

    // A page's `remote` once its file changed into something that could not be read whole: what
    // comes after it may not follow from the page exchanged before. Never a listed fingerprint.
    static inline const QString unreadRemote = QStringLiteral("unread");
    // A page's `local` once the diary was replaced as a whole: no revision is negative, so every
    // page of the new diary counts as changed here, whatever revision it brought along, while
    // `remote` still tells whether the other device changed the day since the exchange.
    static constexpr qint64 replacedLocal = -1;

    QJsonObject toJson() const;
    static DiaryCloudSyncMark fromJson(const QJsonValue &value, const QStringList &codingPath);

    friend bool operator==(const DiaryCloudSyncMark &, const DiaryCloudSyncMark &) = default;
};

// The sync's memory between passes, kept beside the diary (never in the sync folder) and tied to
// one sync root: marks made for another root mean nothing here.
struct DiaryCloudSyncManifest {
    // Far more than the marks of every page and drawing a diary may hold; a larger file is not
    // read.
    static constexpr qint64 fileByteLimit = 64 * 1024 * 1024;

    QString root;
    // By day key ("yyyy-MM-dd").
    QMap<QString, DiaryCloudSyncMark> pages;
    // By drawing file name.
    QMap<QString, DiaryCloudSyncMark> ink;

    static DiaryCloudSyncManifest fresh(const QString &rootPath);
    // The form the manifest's `root` compares: "." and ".." resolved, symbolic links kept.
    static QString rootPath(const QString &root);

    bool hasMarks() const { return !pages.isEmpty() || !ink.isEmpty(); }

    QJsonObject toJson() const;
    // Throws JsonDecodingError.
    static DiaryCloudSyncManifest fromJson(const QJsonValue &value);

    // The manifest at `manifestURL` when it can be read and decoded and was made for this root;
    // otherwise a fresh one. Never fails.
    static DiaryCloudSyncManifest load(const QString &manifestURL, const QString &root);
    // Writes the manifest atomically, creating its folder. A failure is logged and otherwise
    // ignored: the next pass starts from the older file.
    void save(const QString &manifestURL) const;
    // Every page mark's `local` becomes `replacedLocal`; drawing marks stay.
    void forgetLocalRevisions();
    // The same for the file at `manifestURL`, whatever root it was made for. Never fails; a
    // failure is logged.
    static void forgetLocalRevisions(const QString &manifestURL);

    friend bool operator==(const DiaryCloudSyncManifest &,
                           const DiaryCloudSyncManifest &) = default;
};

} // namespace velmora

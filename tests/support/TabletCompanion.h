#pragma once

// The tablet, played from the files alone. It keeps its own pages and marks in a state folder
// outside the sync folder, encodes pages with its own writer (not the program's codec, so a
// fault there is not mirrored here) and syncs with the rules of the diary seen from the other
// side. Scripted primitives make what a tablet or a sync tool may leave in the folder.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

namespace velmora::test {

// A page as the tablet keeps it. Times are milliseconds since 1970.
struct CompanionPage {
    QString id;
    QString dayKey;
    QString content;
    QString fontName = QStringLiteral("Georgia");
    double bodyPointSize = 16;
    bool sealed = false;
    QString originTimeZone = QStringLiteral("Europe/Berlin");
    qint64 createdAtMs = 0;
    qint64 updatedAtMs = 0;
    std::optional<qint64> sealedAtMs;
    qint64 revision = 1;

    // The same words, look and status: what both sides call the same page.
    bool samePage(const CompanionPage &other) const;

    friend bool operator==(const CompanionPage &, const CompanionPage &) = default;
};

// One stroke of the shared drawing format, in points: [x, y, force] each.
struct CompanionStroke {
    QString color = QStringLiteral("#141428FF");
    double width = 2;
    QList<std::array<double, 3>> points;
};

class TabletCompanion {
public:
    struct Profile {
        QString userName;
        qint64 changedAtMs = 0;
    };
    struct Mark {
        qint64 local = 0;
        QString remote;
    };
    struct PassResult {
        QStringList stored;   // days whose incoming page the tablet took
        QStringList uploaded; // days it wrote into the folder
        QStringList skipped;  // days whose file it could not read
    };

    // `root` is the tablet's side of "Diary Sync"; `stateFolder` lies outside every sync folder.
    TabletCompanion(QString root, QString stateFolder);

    const QString &root() const { return m_root; }
    QString pagesFolder() const { return m_root + QStringLiteral("/Pages"); }
    QString handwritingFolder() const { return m_root + QStringLiteral("/Handwriting"); }
    QString pagePath(const QString &dayKey) const;

    // The tablet's own encoder and reader of page files.
    static QByteArray encodePage(const CompanionPage &page);
    static std::optional<CompanionPage> decodePage(const QByteArray &bytes);
    static QByteArray encodeDrawing(const QList<CompanionStroke> &strokes);
    static QByteArray encodeProfile(const Profile &profile);
    // A page of the day written now, with a fresh id.
    static CompanionPage page(const QString &dayKey, const QString &content, bool sealed = false);

    // Scripted primitives. Writes go through a hidden temp file and a rename, as a tool does.
    QString writePage(const CompanionPage &page) const;
    // A copy as Syncthing names one: "<day>.sync-conflict-<yyyyMMdd>-<HHmmss>-<device>.json".
    QString writeConflictCopy(const CompanionPage &page, qint64 atMs,
                              const QString &device = QStringLiteral("TABLET7")) const;
    // The first `keep` bytes of the page written over the file in place, as an interrupted
    // in-place write leaves it.
    QString writeTornPage(const CompanionPage &page, qsizetype keep) const;
    // ".<name>.icloud" in place of the file; the bytes arrive when the download is asked for.
    QString writePlaceholder(const QString &relativePath, const QByteArray &bytes);
    // What the folder layer calls to fetch a placeholder: delivers the held bytes.
    std::function<void(const QString &)> downloader();
    QString writeDrawing(const QString &fileName, const QList<CompanionStroke> &strokes) const;
    QString writeFile(const QString &relativePath, const QByteArray &bytes) const;
    // The first `keep` bytes written over the file in place: a tool's rewrite caught halfway.
    QString writeTornFile(const QString &relativePath, const QByteArray &bytes,
                          qsizetype keep) const;
    void writeProfile(const Profile &profile) const;
    std::optional<Profile> readProfile() const;
    void setModified(const QString &relativePath, qint64 msSince1970) const;
    void remove(const QString &relativePath) const;
    // A folder the diary cannot list (a file stands in its place), and back.
    void makeUnreadable(const QString &relativeFolder) const;
    void makeReadable(const QString &relativeFolder) const;
    // "Diary Sync" gone (a disk not mounted, a tool that deleted it), and back.
    void vanish() const;
    void reappear() const;

    std::optional<CompanionPage> readPageFile(const QString &dayKey) const;
    QStringList pageDays() const;
    QStringList conflictCopies(const QString &dayKey) const;

    // The tablet's own diary.
    const QMap<QString, CompanionPage> &pages() const { return m_pages; }
    const QList<CompanionPage> &recoveries() const { return m_recoveries; }
    const QMap<QString, Mark> &marks() const { return m_marks; }
    // Writes on the tablet: a new revision of the day, at `atMs` (now when 0).
    CompanionPage &edit(const QString &dayKey, const QString &content, qint64 atMs = 0);
    CompanionPage &seal(const QString &dayKey, qint64 atMs = 0);

    // One pass of the tablet's sync over its side of the folder.
    PassResult sync();

    void saveState() const;

private:
    void loadState();
    QString statePath() const;

    QString m_root;
    QString m_stateFolder;
    QMap<QString, CompanionPage> m_pages;
    QList<CompanionPage> m_recoveries;
    QMap<QString, Mark> m_marks;
    QMap<QString, QByteArray> m_heldForDownload;
};

} // namespace velmora::test

#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryEntryDTO.h"
#include "platform/DiaryError.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace velmora {

struct DiaryCloudSyncManifest;

// The only code that reads or writes inside the sync folder ("Diary Sync" in the folder the user
// chose). A file-sync tool and the tablet write there too and ignore locks, so every write here
// is an atomic replacement, every read checks that the file held still while it was read, and
// nothing read from the folder is trusted to be small or well formed. Whoever can write there can
// also put a symbolic link where a folder or file belongs: below the chosen folder nothing is
// reached through a link. Each operation opens the folders it works in one by one from the chosen
// folder down, refusing a linked one (AccessError::linked), and then works relative to them, so a
// link swapped in meanwhile leads nowhere.
//
// Every operation blocks on the file system: call it off the GUI thread. The type holds no
// mutable state and may be used from any thread.
class DiaryCloudSyncFolder {
public:
    static inline const QString pagesFolderName = QStringLiteral("Pages");
    static inline const QString handwritingFolderName = QStringLiteral("Handwriting");
    static inline const QString profileFileName = QStringLiteral("profile.json");
    static inline const QString pageFormat = QStringLiteral("velmora-page");
    static constexpr qint64 pageVersion = 1;
    static inline const QString pendingFingerprint = QStringLiteral("pending");
    static inline const QString writtenFingerprint = QStringLiteral("written");

    // What is read at most: a larger page is unreadable, a larger drawing is left where it is,
    // a larger profile reads as none.
    static constexpr qint64 pageByteLimit = 16 * 1024 * 1024;
    static constexpr qint64 pageContentByteLimit = 8 * 1024 * 1024;
    static constexpr qint64 drawingByteLimit = 64 * 1024 * 1024;
    static constexpr qint64 profileByteLimit = 64 * 1024;
    // Reads of a file that keeps changing under the reader before the folder counts as busy.
    static constexpr int readAttempts = 3;
    // How long a temporary lies untouched before it counts as left behind: a write of the sync
    // takes seconds at most, and only one pass writes at a time.
    static constexpr std::chrono::minutes leftoverAge{10};

    // A page file that is not a valid page of its day, or something at the name of a day's page
    // or drawing file that the file can be written neither through nor over: a link, or no file
    // at all (a folder that may hold someone's files, a pipe, a socket). Skipping that day is the
    // right answer.
    class FolderError : public DiaryError {
    public:
        enum class Case { unreadablePage, linkedFile, notAFile };

        static FolderError unreadablePage(const DayKey &dayKey) {
            return FolderError(Case::unreadablePage, dayKey);
        }
        static FolderError linkedFile(const DayKey &dayKey, QString path) {
            return FolderError(Case::linkedFile, dayKey, std::move(path));
        }
        static FolderError notAFile(const DayKey &dayKey, QString path) {
            return FolderError(Case::notAFile, dayKey, std::move(path));
        }
        Case errorCase() const { return m_case; }
        // Whether the day stays unsent however often sync runs, until someone clears the name.
        bool holdsDayBack() const { return m_case != Case::unreadablePage; }
        const DayKey &dayKey() const { return m_dayKey; }
        QString message() const override;

    private:
        FolderError(Case errorCase, DayKey dayKey, QString path = {})
            : m_case(errorCase)
            , m_dayKey(std::move(dayKey))
            , m_path(std::move(path)) {}

        Case m_case;
        DayKey m_dayKey;
        QString m_path;
    };

    // The folder as a whole cannot be used this pass; the pass fails with the message.
    class AccessError : public DiaryError {
    public:
        enum class Case {
            // "Diary Sync" (or a folder in it) is gone although things were exchanged through it.
            missing,
            // A file kept changing while it was read, or the other side kept putting files at a
            // name while an upload put one back there.
            busy,
            // A symbolic link stands where a folder of the sync folder belongs; whoever can write
            // there could lead the sync to any folder the user can write.
            linked,
        };

        explicit AccessError(Case errorCase, QString path = {})
            : m_case(errorCase)
            , m_path(std::move(path)) {}
        Case errorCase() const { return m_case; }
        const QString &path() const { return m_path; }
        QString message() const override;

    private:
        Case m_case;
        QString m_path;
    };

    // One listed file. A placeholder (".<name>.icloud") stands for a file not fetched yet.
    struct RemoteFile {
        QString url;
        QString fingerprint;
        QDateTime modifiedAt;
        bool isDownloaded = true;

        friend bool operator==(const RemoteFile &, const RemoteFile &) = default;
    };

    // A sync tool's conflict copy beside a page file, e.g.
    // "2024-03-05.sync-conflict-20240305-101500-ABCDEFG.json".
    struct ConflictCopy {
        QString url;
        QString fingerprint;
        QDateTime modifiedAt;

        friend bool operator==(const ConflictCopy &, const ConflictCopy &) = default;
    };

    // A page as read: the current file's entry first, then every conflict copy that decoded, in
    // the copies' order. `conflicts` lists the copies that were read as pages of the day; they
    // stay in the folder until settleConflicts removes them, once the day's outcome is stored.
    // A file that is no page of the day is never listed there, so it is never removed.
    struct PageVersions {
        DayKey dayKey;
        QList<DiaryEntryDTO> entries;
        QList<ConflictCopy> conflicts;
    };

    // The content of "profile.json".
    struct Profile {
        QString userName;
        QDateTime changedAt;

        friend bool operator==(const Profile &, const Profile &) = default;
    };

    // Asks the sync tool to fetch a file that is only a placeholder; never reports.
    using DownloadRequester = std::function<void(const QString &fileURL)>;
    // The program's requester: the tools it works with fetch everything on their own.
    static DownloadRequester noDownloads();

    explicit DiaryCloudSyncFolder(QString root, DownloadRequester requester = noDownloads());

    const QString &root() const { return m_root; }
    QString pagesFolder() const;
    QString handwritingFolder() const;
    QString pageURL(const DayKey &dayKey) const;
    QString inkURL(const QString &fileName) const;
    QString profileURL() const;

    // Creates the root, "Pages" and "Handwriting" as far as the manifest allows: a folder that
    // something was exchanged through (the manifest has marks for this root) is never made
    // anew, since an empty new folder would read as everything deleted on the other side.
    // Throws AccessError::missing for such a folder, AccessError::linked for one that is a link,
    // or the file system's error.
    void createFolders(const DiaryCloudSyncManifest &manifest) const;

    // Removes the hidden temporaries that writes cut short (a crash, a kill) left in the root,
    // "Pages" and "Handwriting", which the sync tool would otherwise carry to every device: only
    // regular files named exactly as the atomic write names the temporary of a file the sync
    // writes in that folder, and untouched for `leftoverAge`. Never throws: litter must not hold
    // a pass back.
    void removeLeftoverTemporaries() const;

    // Settles the drawings that uploads' put-backs set aside in "Handwriting" when the other side
    // kept writing ("<day>-<leaf>.sync-conflict-….drawing", an id in small letters): each goes
    // back to its drawing's name when it is newer than what stands there, or nothing does, and
    // goes when what stands there is newer; one as old stays. What a sync tool names a conflict
    // copy is left alone. Never throws: what cannot be settled now stays for the next pass.
    void takeBackSetAsideDrawings() const;

    // The files of one folder whose names end in "." + `extension`, by file name. Hidden names,
    // other extensions, symbolic links and anything but regular files are left out. Throws
    // the file system's error when the folder cannot be read: an unreadable or vanished folder
    // must not look empty; AccessError::linked when it is reached through a link.
    QMap<QString, RemoteFile> list(const QString &folder, const QString &extension) const;

    // The page files by day. When `conflicts` is given it receives the conflict copies found
    // beside them, by day, in the order readPage takes them. Throws as list does.
    QMap<DayKey, RemoteFile>
    remotePages(QMap<DayKey, QList<ConflictCopy>> *conflicts = nullptr) const;
    // The drawing files by file name (with ".drawing"). Throws as list does.
    QMap<QString, RemoteFile> remoteInk() const;

    void startDownloading(const QString &fileURL) const;

    // Reads the day's page and the given conflict copies (as remotePages listed them), or the
    // copies found now when none are given. Throws FolderError::unreadablePage when the current
    // file is no valid page of the day, or the read's own error. Copies are only read here.
    PageVersions readPage(const DayKey &dayKey) const;
    PageVersions readPage(const DayKey &dayKey, const QList<ConflictCopy> &conflicts) const;
    // One conflict copy as listed, read as a page of the day; none when it cannot be read, is no
    // page of the day, or changed since it was listed (it is read again next time).
    std::optional<DiaryEntryDTO> readConflictCopy(const DayKey &dayKey,
                                                  const ConflictCopy &copy) const;
    // Removes the conflict copies that readPage saw, except any that changed since.
    void settleConflicts(const PageVersions &versions) const;

    // Copies the day's page file as it is into `folder`, named by the day and the file's
    // fingerprint, so a file that cannot be read is kept before it is replaced; a copy made
    // before is not made again. Returns the copy's path, or none when the file is gone or too
    // large to be anything the tablet wrote.
    std::optional<QString> keepPageFile(const DayKey &dayKey, const QString &folder) const;

    // Writes the entry's page file; returns its new fingerprint, or "written".
    QString writePage(const DiaryEntryDTO &entry) const;
    // The same, but only over what a listing found at the page's name: `listed` is its
    // fingerprint then, none for nothing. A file that arrives or changes there before the new one
    // takes its place, or that an exchange hands back in its place, is for the next pass to read:
    // it stays or goes back, and none is returned; where files keep coming back through every
    // exchange, the folder is busy and the last one to come back is left beside the name, named as
    // a sync tool names a conflict copy (a page's is read with the page, a drawing's is settled by
    // takeBackSetAsideDrawings). None is returned too when the name no longer holds the new file
    // once it is there, so that no mark records a file the other side wrote.
    // Throws FolderError::linkedFile for a link there, FolderError::notAFile for anything else
    // that is no regular file; neither is opened.
    std::optional<QString> writePage(const DiaryEntryDTO &entry,
                                     const std::optional<QString> &listed) const;
    // Writes the drawing file of the day's leaf as the page file is written above.
    std::optional<QString> writeDrawing(const QByteArray &bytes, const DayKey &dayKey, qint64 leaf,
                                        const std::optional<QString> &listed) const;
    // Whether nothing stands at the name of the day's leaf's drawing file, as the listing found;
    // throws FolderError as writeDrawing does for a link or what is no file there, which is no
    // drawing the other device removed.
    bool drawingIsGone(const DayKey &dayKey, qint64 leaf) const;

    // None when the file is missing, unreadable, too large or no valid profile.
    std::optional<Profile> readProfile() const;
    QString writeProfile(const Profile &profile) const;

    // The file's bytes, read without following a symbolic link and checked to have held still;
    // none when the file is larger than `byteLimit`. Throws the file system's error, or
    // AccessError::busy when the file changed under every attempt.
    std::optional<QByteArray> coordinatedRead(const QString &fileURL, qint64 byteLimit) const;
    // Removes the file; nothing there is no error.
    void coordinatedDelete(const QString &fileURL) const;

    static DiaryEntryDTO decodePage(const QByteArray &bytes, const DayKey &dayKey);
    static QByteArray encodePage(const DiaryEntryDTO &entry);
    static std::optional<Profile> decodeProfile(const QByteArray &bytes);
    static QByteArray encodeProfile(const Profile &profile);

    // "<size>-<ms since 2001-01-01 UTC, rounded half away from zero>", afresh from the disk.
    static std::optional<QString> fingerprint(const QString &fileURL);
    static QString fingerprint(qint64 size, const QDateTime &modifiedAt);

    // Runs after a read has opened a file and before it reads the bytes; tests change the file
    // there.
    using ReadInterruption = std::function<void(const QString &fileURL, int attempt)>;
    void setReadInterruption(ReadInterruption interruption) {
        m_readInterruption = std::move(interruption);
    }

    // The points of a write where the other side may come between: tests write there.
    enum class WriteStep {
        // The new file is written and flushed under its hidden temporary name.
        temporaryWritten,
        // The name was looked at a last time; the move comes next.
        beforeMove,
        // The new file was moved to the name.
        afterMove,
    };
    using WriteInterruption = std::function<void(const QString &fileURL, WriteStep step)>;
    void setWriteInterruption(WriteInterruption interruption) {
        m_writeInterruption = std::move(interruption);
    }

private:
    QMap<QString, RemoteFile> list(const QString &folder, const QString &extension,
                                   QMap<DayKey, QList<ConflictCopy>> *conflicts) const;
    QList<ConflictCopy> conflictCopies(const DayKey &dayKey) const;

    QString m_root;
    DownloadRequester m_requester;
    ReadInterruption m_readInterruption;
    WriteInterruption m_writeInterruption;
};

} // namespace velmora

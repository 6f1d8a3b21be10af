// The page step of a pass: the typed pages of the diary and the page files of the sync folder,
// one day at a time, with the marks of the last exchange telling which side changed.
#include "sync/DiaryCloudSync.h"

#include "platform/Sha256.h"
#include "platform/UuidText.h"
#include "sync/DiaryCloudSyncWork.h"
#include "sync/SyncLogging.h"

#include <QSet>

#include <algorithm>
#include <tuple>

namespace velmora {

using Folder = DiaryCloudSyncFolder;

struct DiaryCloudSync::PageDay {
    DayKey day;
    std::optional<Mark> mark;
    std::optional<DiaryRevision> localRevision;
    std::optional<Folder::RemoteFile> remote;
    // Copies a sync tool made beside the page file, as the listing found them.
    QList<Folder::ConflictCopy> conflicts;
    bool localChanged = false;
    bool remoteChanged = false;
    // The store's generation when the pass read its revisions: what the pass decided then holds
    // for that diary only, and a restore or an import since makes the store refuse its writes.
    quint64 readInGeneration = 0;
};

namespace {

QDateTime sealTime(const DiaryEntryDTO &entry) {
    return entry.sealedAt.value_or(entry.updatedAt);
}

// Orders two pages the same way on every device, whichever side holds which.
auto tieOrder(const DiaryEntryDTO &entry) {
    return std::tuple(sha256Hex(entry.content.toUtf8()), uuidText(entry.id), entry.fontName,
                      entry.bodyPointSize);
}

bool skipsDay(const PersistenceError &error) {
    return error.errorCase() == PersistenceError::Case::conflict ||
           error.errorCase() == PersistenceError::Case::entryAlreadySealed;
}

// What makes two versions the same page (DiaryCloudSync::samePage), in a few bytes, so versions
// can be told apart once their text is no longer in memory.
QByteArray pageKey(const DiaryEntryDTO &entry) {
    QByteArray key = sha256Digest(entry.content.toUtf8());
    key.append(entry.isSealed() ? 's' : 'd');
    key.append(reinterpret_cast<const char *>(&entry.bodyPointSize), sizeof entry.bodyPointSize);
    key.append(entry.fontName.toUtf8());
    return key;
}

} // namespace

// A day's page file as a pass reads it, however many conflict copies lie beside it: the current
// version, the one chosen among all of them, and of each copy read as a page of the day only
// what tells its page apart. The copies' text is never in memory all at once.
struct DiaryCloudSync::DayRead {
    struct Copy {
        Folder::ConflictCopy copy;
        QByteArray page;
        bool hasWords = false;
    };
    DayKey day;
    // None for copies whose page file is not there.
    std::optional<DiaryEntryDTO> current;
    // None when nothing was read as a page of the day.
    std::optional<DiaryEntryDTO> chosen;
    QList<Copy> copies;

    // Throws as readPage does for the current file.
    static DayRead read(const Folder &folder, const DayKey &day,
                        const QList<Folder::ConflictCopy> &copies, bool withCurrent) {
        DayRead read;
        read.day = day;
        if (withCurrent) {
            read.current = folder.readPage(day, QList<Folder::ConflictCopy>()).entries.first();
            read.chosen = read.current;
        }
        for (const Folder::ConflictCopy &copy : copies) {
            std::optional<DiaryEntryDTO> version = folder.readConflictCopy(day, copy);
            if (!version)
                continue;
            read.copies.append(Copy{copy, pageKey(*version), !version->content.isEmpty()});
            read.chosen = read.chosen ? pickPreferredEntry({*read.chosen, *version}) : version;
        }
        return read;
    }
};

std::optional<DiaryEntryDTO>
DiaryCloudSync::pickPreferredEntry(const QList<DiaryEntryDTO> &versions) {
    if (versions.isEmpty())
        return std::nullopt;
    const DiaryEntryDTO *candidate = &versions.first();
    for (const DiaryEntryDTO &version : versions) {
        if ((version.status != candidate->status && version.isSealed()) ||
            (version.status == candidate->status && version.updatedAt > candidate->updatedAt))
            candidate = &version;
    }
    return *candidate;
}

bool DiaryCloudSync::remoteEntryWins(const DiaryEntryDTO &local, const DiaryEntryDTO &remote,
                                     bool localChanged) {
    if (!local.isSealed() && remote.isSealed())
        return true;
    if (local.isSealed() && !remote.isSealed())
        return false;
    if (!local.isSealed())
        return !localChanged || remote.updatedAt > local.updatedAt;
    if (sealTime(remote) != sealTime(local))
        return sealTime(remote) < sealTime(local);
    // Sealed in the same millisecond on both devices: "the local one wins" would hold on each,
    // and each would keep and send its own for ever.
    return tieOrder(remote) < tieOrder(local);
}

bool DiaryCloudSync::samePage(const DiaryEntryDTO &a, const DiaryEntryDTO &b) {
    return a.content == b.content && a.status == b.status && a.fontName == b.fontName &&
           a.bodyPointSize == b.bodyPointSize;
}

QCoro::Task<bool> DiaryCloudSync::reconcilePages(const DiaryCloudSyncFolder &folder,
                                                 Manifest &manifest) {
    const std::shared_ptr<DiaryRepository> repository = m_services.repository;
    const quint64 readInGeneration = repository->generation();
    QCoro::Task<QHash<DayKey, DiaryRevision>> revisionsTask = repository->revisionsByDay();
    auto askingRevisions = awaited(std::move(revisionsTask));
    const QHash<DayKey, DiaryRevision> revisions = co_await askingRevisions;

    struct Listing {
        QMap<DayKey, Folder::RemoteFile> pages;
        QMap<DayKey, QList<Folder::ConflictCopy>> conflicts;
    };
    auto listing = folderWork([folder] {
        Listing listed;
        listed.pages = folder.remotePages(&listed.conflicts);
        return listed;
    });
    const Listing remote = co_await listing;

    // The days in order, each met once: the store's and the folder's walked side by side, so a
    // pass over a long diary in which nothing changed costs no more than its two listings.
    QList<QPair<DayKey, DiaryRevision>> stored;
    stored.reserve(revisions.size());
    for (auto it = revisions.cbegin(); it != revisions.cend(); ++it)
        stored.append({it.key(), it.value()});
    std::sort(stored.begin(), stored.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    // This step changes only the mark of the day it works on, after reading it here.
    const QMap<QString, Mark> marks = manifest.pages;
    auto storedIt = stored.cbegin();
    auto fileIt = remote.pages.cbegin();
    auto markIt = marks.cbegin();
    auto copiesIt = remote.conflicts.cbegin();

    bool changed = false;
    while (storedIt != stored.cend() || fileIt != remote.pages.cend() ||
           copiesIt != remote.conflicts.cend()) {
        if (passInterrupted() || !m_isEnabled)
            break;
        // Copies may stand for a day that has neither a page file nor a stored entry.
        std::optional<DayKey> next;
        const auto meet = [&next](const DayKey &candidate) {
            if (!next || candidate < *next)
                next = candidate;
        };
        if (storedIt != stored.cend())
            meet(storedIt->first);
        if (fileIt != remote.pages.cend())
            meet(fileIt.key());
        if (copiesIt != remote.conflicts.cend())
            meet(copiesIt.key());
        const DayKey key = *next;
        PageDay day;
        day.day = key;
        day.readInGeneration = readInGeneration;
        if (storedIt != stored.cend() && storedIt->first == key)
            day.localRevision = (storedIt++)->second;
        const Folder::RemoteFile *file = nullptr;
        if (fileIt != remote.pages.cend() && fileIt.key() == key)
            file = &*(fileIt++);
        while (markIt != marks.cend() && markIt.key() < key.rawValue())
            ++markIt;
        const Mark *mark =
            markIt != marks.cend() && markIt.key() == key.rawValue() ? &*markIt : nullptr;
        const QList<Folder::ConflictCopy> *copies = nullptr;
        if (copiesIt != remote.conflicts.cend() && copiesIt.key() == key)
            copies = &*(copiesIt++);
        if (copies && copies->isEmpty())
            copies = nullptr;
        day.localChanged =
            day.localRevision && (!mark || mark->local != day.localRevision->rawValue);
        // Copies a sync tool left beside an unchanged file, or where the file is gone, hold text
        // the diary has not seen.
        day.remoteChanged = file && (!mark || mark->remote != file->fingerprint || copies);
        if (!day.remoteChanged && !day.localChanged && !copies)
            continue;
        if (mark)
            day.mark = *mark;
        if (file)
            day.remote = *file;
        if (copies)
            day.conflicts = *copies;
        try {
            auto working = reconcilePage(folder, manifest, day);
            if (co_await std::move(working))
                changed = true;
        } catch (const PersistenceError &error) {
            if (!skipsDay(error))
                throw;
            qCInfo(lcSync) << "the page of" << key.rawValue()
                           << "changed meanwhile and waits for the next pass:" << error.message();
        } catch (const Folder::FolderError &error) {
            qCInfo(lcSync) << "the page of" << key.rawValue()
                           << "is passed over:" << error.message();
            leaveBehind(error);
        }
    }
    co_return changed;
}

QCoro::Task<bool> DiaryCloudSync::reconcilePage(const DiaryCloudSyncFolder &folder,
                                                Manifest &manifest, const PageDay &day) {
    // A page of a diary that replaced the one exchanged goes out over an unchanged page file
    // too, but only once that file is kept: it may hold newer words than the page replacing it.
    const bool replacing = day.localRevision && day.mark && day.mark->local == Mark::replacedLocal;
    if (day.remote && (day.remoteChanged || replacing)) {
        if (!day.remote->isDownloaded) {
            // Its local change, if any, waits for the pass that can read the file.
            auto asking =
                folderWork([folder, url = day.remote->url] { folder.startDownloading(url); });
            co_await asking;
            co_return false;
        }
        auto merging = readAndMerge(folder, manifest, day);
        co_return co_await std::move(merging);
    }
    if (!day.remote && !day.conflicts.isEmpty()) {
        auto merging = readAndMerge(folder, manifest, day);
        co_return co_await std::move(merging);
    }
    auto uploading = uploadPage(folder, manifest, day);
    co_await std::move(uploading);
    co_return false;
}

QCoro::Task<bool> DiaryCloudSync::readAndMerge(const DiaryCloudSyncFolder &folder,
                                               Manifest &manifest, const PageDay &day) {
    const std::shared_ptr<DiaryRepository> repository = m_services.repository;
    const DayKey key = day.day;
    // Conflict copies alone, their page file gone or never come.
    const bool lone = !day.remote;
    const QString listedFingerprint = lone ? QString() : day.remote->fingerprint;

    std::optional<DayRead> read;
    bool unreadable = false;
    try {
        auto reading = folderWork([folder, key, copies = day.conflicts, lone] {
            return DayRead::read(folder, key, copies, !lone);
        });
        read = co_await reading;
    } catch (const Folder::FolderError &) {
        // A file no one can read would hold the day back on both sides for ever; once the local
        // page changed, the file's bytes are kept in the diary's folder and the page replaces it.
        if (!day.localChanged) {
            if (day.mark)
                manifest.pages.insert(key.rawValue(),
                                      Mark{day.mark->local, Mark::unreadRemote, {}});
            throw;
        }
        unreadable = true;
    }
    if (unreadable) {
        auto keeping = folderWork([folder, key, into = unreadablePagesFolder()] {
            return folder.keepPageFile(key, into);
        });
        const std::optional<QString> kept = co_await keeping;
        if (!kept)
            throw Folder::FolderError::unreadablePage(key);
        qCInfo(lcSync) << "an unreadable page file was kept at" << *kept
                       << "and is replaced by the diary's page";
        auto uploading = uploadPage(folder, manifest, day);
        co_await std::move(uploading);
        co_return false;
    }

    if (!read->chosen) {
        // None of the copies is a page of the day; they stay, and the local page goes out.
        if (day.localChanged) {
            auto uploading = uploadPage(folder, manifest, day);
            co_await std::move(uploading);
        }
        co_return false;
    }
    const DiaryEntryDTO incoming = *read->chosen;
    // A version chosen from a conflict copy is written back, so both devices end on it.
    const bool chosenIsCurrent = read->current && samePage(incoming, *read->current);
    // A copy alone says nothing of what the other side did since the last exchange, and a page
    // file gone since says nothing either: the copy takes a local page's place only when it is
    // the newer, and the page it displaces is kept. The day's file is written again only for a
    // copy that won or for a local change.
    const bool uploads = !lone || day.localChanged;
    // Read only to be kept before the local page goes out over it.
    const bool fileUnchanged = !lone && !day.remoteChanged;
    QCoro::Task<std::optional<DiaryEntryDTO>> readingLocal = repository->entry(key);
    auto askingLocal = awaited(std::move(readingLocal));
    const std::optional<DiaryEntryDTO> local = co_await askingLocal;
    // The diary replaced while this pass ran: the local page just read is not the one whose
    // revision the pass compared.
    const bool localChanged = day.localChanged || lone || m_forgetRequests > m_passForgotten;
    std::optional<DiaryEntryDTO> stored;
    // The copies whose words are kept: they go once the day's outcome is stored.
    std::optional<QList<Folder::ConflictCopy>> settled;
    if (!local) {
        QCoro::Task<DiaryEntryDTO> applying =
            repository->applyRemote(incoming, std::nullopt, std::nullopt, day.readInGeneration);
        auto storing = awaited(std::move(applying));
        stored = co_await storing;
    } else if (samePage(*local, incoming)) {
        if (!lone)
            manifest.pages.insert(key.rawValue(),
                                  Mark{local->revision.rawValue, listedFingerprint, {}});
        if (!chosenIsCurrent && uploads) {
            auto uploading = uploadPage(folder, manifest, day);
            co_await std::move(uploading);
        }
        auto keeping = keepVersions(folder, *read, {incoming});
        const QList<Folder::ConflictCopy> copies = co_await std::move(keeping);
        auto settling = settleConflicts(folder, key, copies);
        co_await std::move(settling);
        co_return false;
    } else if (!fileUnchanged && remoteEntryWins(*local, incoming, localChanged)) {
        const DiarySessionStore *session = m_services.session;
        if (session && session->selectedDay() == key && session->hasPendingLocalWriting()) {
            qCInfo(lcSync) << "the open page has unsaved writing; its synced version waits";
            co_return false;
        }
        // A displaced sealed page is kept whether or not it was exchanged: its words can never be
        // written again. So is one the incoming page may not have seen: another entry for the day,
        // one that followed a version of the file this computer could not read whole, or one
        // written no earlier than the incoming page, which a file rewritten before any pass
        // could see it leaves as the only sign.
        const bool unseen =
            incoming.id != local->id || (day.mark && day.mark->remote == Mark::unreadRemote) ||
            (local->updatedAt >= incoming.updatedAt && local->content != incoming.content);
        const bool keepLocal =
            !local->content.isEmpty() && (localChanged || local->isSealed() || unseen);
        QCoro::Task<DiaryEntryDTO> applying = repository->applyRemote(
            incoming, local->revision, keepLocal ? local : std::nullopt, day.readInGeneration);
        auto storing = awaited(std::move(applying));
        stored = co_await storing;
        auto keeping =
            keepVersions(folder, *read, keepLocal ? QList{incoming, *local} : QList{incoming});
        settled = co_await std::move(keeping);
    } else {
        if (!incoming.content.isEmpty()) {
            QCoro::Task<void> preserving = repository->preserveRecovery(incoming);
            auto keepingIncoming = awaited(std::move(preserving));
            co_await std::move(keepingIncoming);
        }
        if (uploads) {
            auto uploading = uploadPage(folder, manifest, day);
            co_await std::move(uploading);
        }
        auto keeping = keepVersions(folder, *read, {incoming, *local});
        const QList<Folder::ConflictCopy> copies = co_await std::move(keeping);
        auto settling = settleConflicts(folder, key, copies);
        co_await std::move(settling);
        co_return false;
    }

    m_passChanged = true;
    if (DiarySessionStore *session = m_services.session) {
        QCoro::Task<void> handing = session->applySyncedEntry(*stored);
        auto handed = awaited(std::move(handing));
        co_await std::move(handed);
    }
    if (!lone)
        manifest.pages.insert(key.rawValue(),
                              Mark{stored->revision.rawValue, listedFingerprint, {}});
    if (!chosenIsCurrent) {
        auto uploading = uploadPage(folder, manifest, day);
        co_await std::move(uploading);
    }
    if (!settled) {
        auto keeping = keepVersions(folder, *read, {incoming});
        settled = co_await std::move(keeping);
    }
    auto settling = settleConflicts(folder, key, *settled);
    co_await std::move(settling);
    co_return true;
}

QCoro::Task<void> DiaryCloudSync::settleConflicts(const DiaryCloudSyncFolder &folder,
                                                  const DayKey &day,
                                                  const QList<Folder::ConflictCopy> &copies) {
    if (copies.isEmpty())
        co_return;
    auto settling = folderWork([folder, versions = Folder::PageVersions{day, {}, copies}] {
        folder.settleConflicts(versions);
    });
    co_await settling;
}

QCoro::Task<QList<DiaryCloudSyncFolder::ConflictCopy>>
DiaryCloudSync::keepVersions(const DiaryCloudSyncFolder &folder, const DayRead &read,
                             QList<DiaryEntryDTO> kept) {
    // Every other version with words of its own becomes a recovery record before the conflict
    // copies go; the store adds nothing for a version it already keeps. A copy is read again
    // only when its words are to be kept, one at a time.
    const std::shared_ptr<DiaryRepository> repository = m_services.repository;
    QSet<QByteArray> known;
    for (const DiaryEntryDTO &version : kept)
        known.insert(pageKey(version));
    if (read.current && !read.current->content.isEmpty() &&
        !known.contains(pageKey(*read.current))) {
        known.insert(pageKey(*read.current));
        QCoro::Task<void> preserving = repository->preserveRecovery(*read.current);
        auto keeping = awaited(std::move(preserving));
        co_await std::move(keeping);
    }
    QList<Folder::ConflictCopy> settled;
    settled.reserve(read.copies.size());
    for (const DayRead::Copy &copy : read.copies) {
        if (copy.hasWords && !known.contains(copy.page)) {
            auto reading = folderWork([folder, day = read.day, listed = copy.copy] {
                return folder.readConflictCopy(day, listed);
            });
            const std::optional<DiaryEntryDTO> version = co_await reading;
            // Changed since it was read: it is news for the next pass, and stays.
            if (!version || pageKey(*version) != copy.page)
                continue;
            known.insert(copy.page);
            QCoro::Task<void> preserving = repository->preserveRecovery(*version);
            auto keeping = awaited(std::move(preserving));
            co_await std::move(keeping);
        }
        settled.append(copy.copy);
    }
    co_return settled;
}

QCoro::Task<bool> DiaryCloudSync::uploadPage(const DiaryCloudSyncFolder &folder, Manifest &manifest,
                                             const PageDay &day) {
    const std::shared_ptr<DiaryRepository> repository = m_services.repository;
    QCoro::Task<std::optional<DiaryEntryDTO>> reading = repository->entry(day.day);
    auto asking = awaited(std::move(reading));
    const std::optional<DiaryEntryDTO> local = co_await asking;
    if (!local)
        co_return false;
    // The folder was listed once for the whole pass: a file that arrived or changed since then is
    // read and merged by the next pass, never overwritten unread.
    const std::optional<QString> listed =
        day.remote ? std::optional(day.remote->fingerprint) : std::nullopt;
    auto writing =
        folderWork([folder, entry = *local, listed] { return folder.writePage(entry, listed); });
    const std::optional<QString> written = co_await writing;
    if (!written) {
        qCInfo(lcSync) << "the page file of" << day.day.rawValue()
                       << "changed after the folder was listed; it is read next time";
        co_return false;
    }
    manifest.pages.insert(day.day.rawValue(), Mark{local->revision.rawValue, *written, {}});
    co_return true;
}

} // namespace velmora

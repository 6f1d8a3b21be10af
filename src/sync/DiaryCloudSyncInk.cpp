// The handwriting step of a pass, between the pages and the profile: the drawing files of the
// diary and those of the sync folder, one file name at a time, copied whole one way or the other.
// The drawing marks remember what both sides held when they last agreed.
#include "sync/DiaryCloudSync.h"

#include "ink/InkDrawing.h"
#include "platform/FileSystemError.h"
#include "sync/DiaryCloudSyncWork.h"
#include "sync/SyncLogging.h"

#include <algorithm>

namespace velmora {

namespace {

using Folder = DiaryCloudSyncFolder;
using PageFile = DiaryHandwritingStore::PageFile;
using Leaf = std::pair<DayKey, qint64>;

const QString drawingSuffix = QStringLiteral(".drawing");

// The leaf a drawing file name stands for. Only the name the store itself gives that leaf
// counts: "…-01.drawing" or "…-+1.drawing" would alias leaf 1, and one leaf under two names
// would be copied back and forth between them and lose one of two different drawings.
std::optional<Leaf> leafOf(const QString &fileName) {
    if (!fileName.endsWith(drawingSuffix))
        return std::nullopt;
    const auto leaf = DiaryHandwritingStore::parseBaseName(fileName.chopped(drawingSuffix.size()));
    if (!leaf || DiaryHandwritingStore::fileName(leaf->first, leaf->second) != fileName)
        return std::nullopt;
    return leaf;
}

QString nameOf(const QString &url) {
    return url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
}

// What a fetch found in the sync folder.
struct Fetched {
    // The bytes of a whole drawing; none when there is nothing to take this pass.
    std::optional<QByteArray> bytes;
    QString passedOver;
};

Fetched fetchDrawing(const Folder &folder, const QString &url) {
    std::optional<QByteArray> bytes;
    try {
        bytes = folder.coordinatedRead(url, Folder::drawingByteLimit);
    } catch (const Folder::AccessError &error) {
        if (error.errorCase() != Folder::AccessError::Case::busy)
            throw;
        return {std::nullopt, QStringLiteral("it kept changing while it was read")};
    }
    if (!bytes)
        return {std::nullopt, QStringLiteral("it is larger than any drawing")};
    if (bytes->isEmpty())
        return {std::nullopt, QStringLiteral("it is empty")};
    // A tool that rewrites the file in place leaves it cut short for a while; such bytes would
    // replace a whole drawing with nothing the page can show.
    QString why;
    if (!InkDrawing::decode(*bytes, &why))
        return {std::nullopt, QStringLiteral("it is no drawing (%1)").arg(why)};
    return {std::move(bytes), {}};
}

// The diary's own drawing file, read as the diary's other files are.
QByteArray readLocalDrawing(const QString &path) {
    return readRegularFile(path, DiaryCloudSyncFolder::drawingByteLimit);
}

} // namespace

QCoro::Task<bool> DiaryCloudSync::reconcileInk(const DiaryCloudSyncFolder &folder,
                                               Manifest &manifest) {
    const std::shared_ptr<DiaryHandwritingStore> handwriting = m_services.handwriting;
    if (!handwriting)
        co_return false;
    auto listingLocal = folderWork([handwriting] { return handwriting->pageFiles(); });
    const QList<PageFile> localFiles = co_await listingLocal;
    // A folder that cannot be listed throws: read as empty, it would look as if the tablet had
    // removed every drawing, and the diary's own would be deleted.
    auto listingRemote = folderWork([folder] { return folder.remoteInk(); });
    const QMap<QString, Folder::RemoteFile> remoteFiles = co_await listingRemote;

    QMap<QString, const PageFile *> localByName;
    for (const PageFile &file : localFiles)
        localByName.insert(nameOf(file.url), &file);
    // This step changes only the mark of the name it works on, after reading it here.
    const QMap<QString, Mark> marks = manifest.ink;
    QStringList names = localByName.keys() + remoteFiles.keys() + marks.keys();
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());

    QList<QPair<DayKey, qint64>> changed;
    for (const QString &name : std::as_const(names)) {
        if (passInterrupted() || !m_isEnabled)
            break;
        const std::optional<Leaf> leaf = leafOf(name);
        if (!leaf) {
            if (remoteFiles.contains(name) || localByName.contains(name))
                qCDebug(lcSync) << "the drawing" << name << "is passed over: it is no leaf's name";
            continue;
        }
        const DayKey day = leaf->first;
        const qint64 leafIndex = leaf->second;
        const auto markAt = marks.constFind(name);
        const std::optional<Mark> mark =
            markAt != marks.cend() ? std::optional(*markAt) : std::nullopt;
        const PageFile *local = localByName.value(name);
        const auto remoteAt = remoteFiles.constFind(name);
        const Folder::RemoteFile *remote = remoteAt != remoteFiles.cend() ? &*remoteAt : nullptr;

        const std::optional<QString> localPrint =
            local ? std::optional(Folder::fingerprint(local->byteCount, local->modifiedAt))
                  : std::nullopt;
        const std::optional<QString> listedPrint =
            remote ? std::optional(remote->fingerprint) : std::nullopt;
        const bool localChanged = localPrint != (mark ? mark->localInk : std::nullopt);
        const bool remoteChanged =
            listedPrint != (mark ? std::optional(mark->remote) : std::nullopt);

        if (remote && remoteChanged && !remote->isDownloaded) {
            // Settled by the pass that finds it fetched, whatever changed here meanwhile.
            auto asking = folderWork([folder, url = remote->url] { folder.startDownloading(url); });
            co_await asking;
            continue;
        }
        if (!localChanged && !remoteChanged)
            continue;

        enum class Action { upload, fetch, deleteRemote, removalCheck, forget };
        Action action = Action::forget;
        if (!local && remote)
            action = mark && !remoteChanged ? Action::deleteRemote : Action::fetch;
        else if (local && !remote)
            action = mark && !localChanged ? Action::removalCheck : Action::upload;
        else if (local && remote) {
            if (!remoteChanged)
                action = Action::upload;
            else if (!localChanged)
                action = Action::fetch;
            else
                action = remote->modifiedAt > local->modifiedAt ? Action::fetch : Action::upload;
        }

        const QString url = folder.inkURL(name);
        switch (action) {
        case Action::upload: {
            // The folder was listed once for the whole step: a drawing that arrived or changed
            // since is compared next pass, never overwritten unseen.
            std::optional<QString> written;
            try {
                auto uploading = folderWork([folder, day, leafIndex, path = local->url,
                                             listedPrint] {
                    return folder.writeDrawing(readLocalDrawing(path), day, leafIndex, listedPrint);
                });
                written = co_await uploading;
            } catch (const Folder::FolderError &error) {
                qCInfo(lcSync) << "the drawing" << name << "is passed over:" << error.message();
                leaveBehind(error);
                break;
            }
            if (!written) {
                qCInfo(lcSync) << "the drawing" << name
                               << "changed in the sync folder after it was listed; it is "
                                  "compared next time";
                break;
            }
            manifest.ink.insert(name, Mark{0, *written, localPrint});
            break;
        }
        case Action::fetch: {
            auto reading = folderWork([folder, url] { return fetchDrawing(folder, url); });
            const Fetched fetched = co_await reading;
            if (!fetched.bytes) {
                // The mark stays, so the next pass looks at the file again.
                qCInfo(lcSync) << "the drawing" << name
                               << "is not taken this time:" << fetched.passedOver;
                break;
            }
            if (local) {
                auto asking = isDaySealed(day);
                if (co_await std::move(asking)) {
                    // A sealed page keeps the drawing it has; this version is not asked for again.
                    manifest.ink.insert(name, Mark{0, remote->fingerprint, localPrint});
                    break;
                }
            }
            auto writing = folderWork([handwriting, bytes = *fetched.bytes, day, leafIndex] {
                handwriting->write(bytes, day, leafIndex);
                const std::optional<PageFile> written = handwriting->pageFile(day, leafIndex);
                // Measured as the listing measures it, so the next pass finds it unchanged.
                return written ? std::optional(
                                     Folder::fingerprint(written->byteCount, written->modifiedAt))
                               : std::nullopt;
            });
            const std::optional<QString> writtenPrint = co_await writing;
            manifest.ink.insert(name, Mark{0, remote->fingerprint, writtenPrint});
            changed.append({day, leafIndex});
            break;
        }
        case Action::deleteRemote: {
            auto deleting = folderWork([folder, url, listedPrint] {
                if (Folder::fingerprint(url) != listedPrint)
                    return false;
                folder.coordinatedDelete(url);
                return true;
            });
            if (!co_await deleting) {
                qCInfo(lcSync) << "the drawing" << name
                               << "changed in the sync folder after it was listed; it stays";
                break;
            }
            manifest.ink.remove(name);
            break;
        }
        case Action::removalCheck: {
            bool gone = false;
            try {
                auto looking = folderWork(
                    [folder, day, leafIndex] { return folder.drawingIsGone(day, leafIndex); });
                gone = co_await looking;
            } catch (const Folder::FolderError &error) {
                qCInfo(lcSync) << "the drawing" << name << "is kept:" << error.message();
                leaveBehind(error);
                break;
            }
            if (!gone) {
                qCInfo(lcSync) << "the drawing" << name
                               << "came back to the sync folder after it was listed; it is "
                                  "compared next time";
                break;
            }
            auto asking = isDaySealed(day);
            if (co_await std::move(asking)) {
                // Without its mark the drawing counts as new here, and goes up again next pass.
                manifest.ink.remove(name);
                break;
            }
            auto removing = folderWork([handwriting, day, leafIndex] {
                handwriting->write(QByteArray(), day, leafIndex);
            });
            co_await removing;
            manifest.ink.remove(name);
            changed.append({day, leafIndex});
            break;
        }
        case Action::forget:
            manifest.ink.remove(name);
            break;
        }
    }

    if (changed.isEmpty())
        co_return false;
    if (onInkChanged)
        onInkChanged(changed);
    if (DiarySessionStore *session = m_services.session) {
        QList<DayKey> days;
        for (const auto &[day, leafIndex] : std::as_const(changed))
            days.append(day);
        session->applySyncedHandwriting(days);
    }
    co_return true;
}

QCoro::Task<bool> DiaryCloudSync::isDaySealed(DayKey day) {
    QCoro::Task<std::optional<DiaryEntryDTO>> reading = m_services.repository->entry(day);
    auto asking = awaited(std::move(reading));
    const std::optional<DiaryEntryDTO> entry = co_await asking;
    co_return entry && entry->isSealed();
}

} // namespace velmora

#pragma once

// The sync engine over a real store, a real session and a real sync folder, with the test tablet
// writing into the same folder. Passes are run explicitly; the triggers' delays are short.

#include "support/SessionFixture.h"
#include "support/TabletCompanion.h"
#include "sync/DiaryCloudSync.h"
#include "sync/DiaryCloudSyncRoot.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <memory>

namespace velmora::test {

struct SyncEngineFixture : SessionFixture {
    // The folder the user chose; the sync works in its "Diary Sync".
    QString chosen;
    QString root = chosen + QStringLiteral("/Diary Sync");
    TabletCompanion tablet{root, folder.filePath(QStringLiteral("tablet-state"))};
    QString manifestURL = diary.folder.filePath(QStringLiteral("Diary/Sync/manifest.json"));
    std::shared_ptr<DiaryHandwritingStore> handwriting = std::make_shared<DiaryHandwritingStore>(
        diary.folder.filePath(QStringLiteral("Diary/Handwriting")));
    std::unique_ptr<DiaryCloudSync> sync;

    explicit SyncEngineFixture(DiaryCloudSync::RootProvider provider = {},
                               const QString &chosenName = QStringLiteral("Chosen"))
        : chosen(folder.filePath(chosenName)) {
        QDir().mkpath(chosen);
        sync = std::make_unique<DiaryCloudSync>(
            DiaryCloudSync::Services{repository, session.get(), settings, handwriting,
                                     settings->defaults(), clock},
            manifestURL,
            provider ? std::move(provider)
                     : DiaryCloudSyncFolderChoice::fixedFolderSyncRoot(chosen),
            false, std::chrono::seconds(60));
        sync->setTiming({20ms, 20ms, 60s});
        sync->setDownloadRequester(tablet.downloader());
    }

    // A pass still running finishes its file operation before the folders go.
    ~SyncEngineFixture() {
        if (sync)
            velmora::test::waitFor(sync->stop(std::chrono::seconds(10)));
    }

    void pass() { velmora::test::waitFor(sync->syncNow()); }

    DiaryCloudSyncManifest manifest() const {
        return DiaryCloudSyncManifest::load(manifestURL, root);
    }
    void setMark(const DayKey &day, qint64 local, const QString &remote) {
        DiaryCloudSyncManifest marks = manifest();
        marks.pages.insert(day.rawValue(), DiaryCloudSyncMark{local, remote, {}});
        marks.save(manifestURL);
    }
    std::optional<DiaryCloudSyncMark> mark(const DayKey &day) const {
        const DiaryCloudSyncManifest marks = manifest();
        return marks.pages.contains(day.rawValue())
                   ? std::optional(marks.pages.value(day.rawValue()))
                   : std::nullopt;
    }
    QString fingerprint(const DayKey &day) const {
        return DiaryCloudSyncFolder::fingerprint(tablet.pagePath(day.rawValue()))
            .value_or(QString());
    }
    // The words of the page file, as the tablet reads them.
    QString pageFileContent(const DayKey &day) const {
        const auto page = tablet.readPageFile(day.rawValue());
        return page ? page->content : QStringLiteral("<none>");
    }
    QString storedContent(const DayKey &day) const {
        const auto entry = repository->stored(day);
        return entry ? entry->content : QStringLiteral("<none>");
    }
    QStringList recoveredContents() const {
        QStringList contents;
        for (const DiaryEntryDTO &entry : repository->recoveredEntries())
            contents.append(entry.content);
        contents.sort();
        return contents;
    }

    // A tablet page of the day at a given time (ms since 1970).
    static CompanionPage tabletPage(const DayKey &day, const QString &content, qint64 atMs,
                                    bool sealed = false) {
        CompanionPage page = TabletCompanion::page(day.rawValue(), content, sealed);
        page.createdAtMs = atMs - 1000;
        page.updatedAtMs = atMs;
        page.sealedAtMs = sealed ? std::optional(atMs) : std::nullopt;
        return page;
    }
    qint64 nowMs() const { return clock->now().toMSecsSinceEpoch(); }
};

} // namespace velmora::test

// The sync folder of the twenty-year diary (7,305 page files, one drawing every tenth day), each
// figure beside a baseline measured in the same run: a plain readdir + stat of the same folder
// for the listing, and reading the same bytes and parsing them with QJsonDocument alone for
// reading every page.
#include "BenchListing.h"
#include "DiaryGenerator.h"

#include "sync/DiaryCloudSyncFolder.h"
#include "sync/DiaryCloudSyncManifest.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

using namespace velmora;

namespace {

struct SyncFolderBench {
    QTemporaryDir dir;
    DiaryCloudSyncFolder folder{dir.filePath(QStringLiteral("Diary Sync"))};
    QList<DayKey> days;
    qint64 pageBytes = 0;

    SyncFolderBench() {
        folder.createFolders(DiaryCloudSyncManifest::fresh(folder.root()));
        const DiarySnapshotDTO diary = bench::generateDiary();
        int index = 0;
        for (const DiaryEntryDTO &entry : diary.entries) {
            folder.writePage(entry);
            days.append(entry.dayKey);
            pageBytes += QFileInfo(folder.pageURL(entry.dayKey)).size();
            if (index++ % 10 == 0)
                folder.writeDrawing(
                    QByteArray(R"({"format":"velmora-drawing","version":1,"strokes":[]})"),
                    entry.dayKey, 0, std::nullopt);
        }
    }

    static SyncFolderBench &shared() {
        static SyncFolderBench bench;
        return bench;
    }
};

void BM_Sync_ListPagesWithFingerprints(benchmark::State &state) {
    SyncFolderBench &bench = SyncFolderBench::shared();
    for (auto _ : state) {
        QMap<DayKey, QList<DiaryCloudSyncFolder::ConflictCopy>> conflicts;
        const auto pages = bench.folder.remotePages(&conflicts);
        benchmark::DoNotOptimize(pages.size());
    }
    state.counters["pages"] = double(bench.days.size());
}
BENCHMARK(BM_Sync_ListPagesWithFingerprints)->Unit(benchmark::kMillisecond);

void BM_Sync_Baseline_ReaddirStat(benchmark::State &state) {
    SyncFolderBench &bench = SyncFolderBench::shared();
    const QString folder = bench.folder.pagesFolder();
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench::listFolderWithStat(folder));
    }
}
BENCHMARK(BM_Sync_Baseline_ReaddirStat)->Unit(benchmark::kMillisecond);

void BM_Sync_ReadAndDecodeEveryPage(benchmark::State &state) {
    SyncFolderBench &bench = SyncFolderBench::shared();
    for (auto _ : state) {
        qint64 characters = 0;
        for (const DayKey &day : std::as_const(bench.days))
            characters += bench.folder.readPage(day, {}).entries.first().content.size();
        benchmark::DoNotOptimize(characters);
    }
    state.counters["page_MiB"] = double(bench.pageBytes) / (1 << 20);
}
BENCHMARK(BM_Sync_ReadAndDecodeEveryPage)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Sync_Baseline_ReadAndParseJson(benchmark::State &state) {
    SyncFolderBench &bench = SyncFolderBench::shared();
    for (auto _ : state) {
        qint64 characters = 0;
        for (const DayKey &day : std::as_const(bench.days)) {
            QFile file(bench.folder.pageURL(day));
            file.open(QIODevice::ReadOnly);
            const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
            characters +=
                document[QStringLiteral("entry")][QStringLiteral("content")].toString().size();
        }
        benchmark::DoNotOptimize(characters);
    }
}
BENCHMARK(BM_Sync_Baseline_ReadAndParseJson)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

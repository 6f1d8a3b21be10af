// Sync passes over the twenty-year diary (7,305 pages), each figure beside a baseline measured in
// the same run: the first pass, which uploads every page, beside writing the same page files with
// the same atomic write in a plain loop; a pass that finds nothing changed beside listing the
// pages (readdir + stat) and reading the store's revisions; and one page the tablet changed, from
// its rename in the sync folder to the open page taking it in (one second of that is the designed
// wait after a change in the folder).
#include "BenchAwait.h"
#include "BenchListing.h"
#include "DiaryGenerator.h"

#include "domain/UserDefaultsSettingsStore.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryModelProvider.h"
#include "sync/DiaryCloudSync.h"
#include "sync/DiaryCloudSyncRoot.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>

using namespace velmora;
using velmora::bench::await;

namespace {

// The generated diary in a store, a session, and a sync folder of its own per engine.
struct SyncBench {
    QTemporaryDir dir;
    DiarySnapshotDTO diary = bench::generateDiary();
    std::shared_ptr<CoreDataDiaryRepository> repository;
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(dir.filePath(QStringLiteral("settings.ini")));
    std::shared_ptr<UserDefaultsSettingsStore> settings =
        std::make_shared<UserDefaultsSettingsStore>(defaults, QStringLiteral("Georgia"));
    std::unique_ptr<DiarySessionStore> session;

    SyncBench() {
        auto stack = std::make_shared<DiaryPersistenceStack>(
            dir.filePath(QStringLiteral("Diary/RaDevov.sqlite")),
            DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
        repository =
            std::make_shared<CoreDataDiaryRepository>(stack, std::make_shared<SystemClock>());
        await(repository->replaceAll(diary));
        session = std::make_unique<DiarySessionStore>(repository, settings,
                                                      GregorianCalendar(QTimeZone::utc()));
    }

    QString chosen(const QString &name) const { return dir.filePath(name); }

    std::unique_ptr<DiaryCloudSync> engine(const QString &name, bool watches) {
        QDir().mkpath(chosen(name));
        auto sync = std::make_unique<DiaryCloudSync>(
            DiaryCloudSync::Services{repository, session.get(), settings, nullptr, defaults},
            dir.filePath(name + QStringLiteral("-manifest/Sync/manifest.json")),
            DiaryCloudSyncFolderChoice::fixedFolderSyncRoot(chosen(name)), watches,
            std::chrono::seconds(60));
        return sync;
    }

    static SyncBench &shared() {
        static SyncBench bench;
        return bench;
    }
};

void BM_Sync_FirstPassUploadingEveryPage(benchmark::State &state) {
    SyncBench &bench = SyncBench::shared();
    const auto sync = bench.engine(QStringLiteral("first"), false);
    for (auto _ : state) {
        state.PauseTiming();
        QDir(bench.chosen(QStringLiteral("first"))).removeRecursively();
        QDir().mkpath(bench.chosen(QStringLiteral("first")));
        QFile::remove(sync->manifestURL());
        state.ResumeTiming();
        await(sync->syncNow());
    }
    state.counters["pages"] = double(bench.diary.entries.size());
}
BENCHMARK(BM_Sync_FirstPassUploadingEveryPage)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Sync_Baseline_AtomicWritesInALoop(benchmark::State &state) {
    SyncBench &bench = SyncBench::shared();
    const QString chosen = bench.chosen(QStringLiteral("loop"));
    const DiaryCloudSyncFolder folder(chosen + QStringLiteral("/Diary Sync"));
    for (auto _ : state) {
        state.PauseTiming();
        QDir(chosen).removeRecursively();
        folder.createFolders(DiaryCloudSyncManifest::fresh(folder.root()));
        state.ResumeTiming();
        for (const DiaryEntryDTO &entry : std::as_const(bench.diary.entries))
            benchmark::DoNotOptimize(folder.writePage(entry, std::nullopt));
    }
}
BENCHMARK(BM_Sync_Baseline_AtomicWritesInALoop)->Unit(benchmark::kMillisecond)->Iterations(3);

std::unique_ptr<DiaryCloudSync> &steadyEngine() {
    static std::unique_ptr<DiaryCloudSync> sync = [] {
        auto made = SyncBench::shared().engine(QStringLiteral("steady"), false);
        await(made->syncNow());
        return made;
    }();
    return sync;
}

void BM_Sync_SteadyPassNothingChanged(benchmark::State &state) {
    DiaryCloudSync &sync = *steadyEngine();
    for (auto _ : state)
        await(sync.syncNow());
    state.counters["changes"] = double(sync.changeCount());
}
BENCHMARK(BM_Sync_SteadyPassNothingChanged)->Unit(benchmark::kMillisecond);

// The listing baseline of the sync folder's own benchmarks (readdir + stat of the same folder),
// and the store's revisions.
void BM_Sync_Baseline_ReaddirStatAndRevisions(benchmark::State &state) {
    SyncBench &bench = SyncBench::shared();
    steadyEngine();
    const QString folder =
        bench.chosen(QStringLiteral("steady")) + QStringLiteral("/Diary Sync/Pages");
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench::listFolderWithStat(folder));
        benchmark::DoNotOptimize(await(bench.repository->revisionsByDay()).size());
    }
}
BENCHMARK(BM_Sync_Baseline_ReaddirStatAndRevisions)->Unit(benchmark::kMillisecond);

// Spins the event loop until `done` holds.
template <typename Done> void spinUntil(Done done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    if (!done())
        loop.exec();
}

void BM_Sync_TabletPageToOpenPage(benchmark::State &state) {
    SyncBench &bench = SyncBench::shared();
    const DiaryEntryDTO &open = bench.diary.entries.at(bench.diary.entries.size() / 2);
    await(bench.session->changeDay(open.dayKey));
    auto sync = bench.engine(QStringLiteral("watched"), true);
    sync->start();
    spinUntil([&] { return sync->lastSync().has_value() && !sync->isRunning(); });
    // The first pass's own uploads were noticed too; let that pass come and go.
    QElapsedTimer settle;
    settle.start();
    spinUntil([&] { return settle.elapsed() > 2500 && !sync->isRunning(); });

    const DiaryCloudSyncFolder tablet(bench.chosen(QStringLiteral("watched")) +
                                      QStringLiteral("/Diary Sync"));
    DiaryEntryDTO page = open;
    int edit = 0;
    for (auto _ : state) {
        page.content = QStringLiteral("Written on the tablet, edit %1.").arg(++edit);
        page.updatedAt = QDateTime::currentDateTimeUtc();
        const qint64 before = bench.session->syncedChangeCount();
        QElapsedTimer elapsed;
        elapsed.start();
        tablet.writePage(page);
        spinUntil([&] { return bench.session->syncedChangeCount() > before; });
        state.SetIterationTime(double(elapsed.nsecsElapsed()) / 1e9);
    }
    await(sync->stop(std::chrono::seconds(10)));
}
BENCHMARK(BM_Sync_TabletPageToOpenPage)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

} // namespace

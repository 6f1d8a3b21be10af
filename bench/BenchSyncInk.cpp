// The handwriting step of a sync pass over twenty years of drawings (one every tenth day, 730),
// each figure beside a baseline measured in the same run: a pass that finds nothing changed
// beside listing both handwriting folders with stat, and one new drawing from the tablet, fetched
// and made searchable, beside recognising that leaf alone.
#include "BenchAwait.h"
#include "BenchListing.h"
#include "DiaryGenerator.h"

#include "domain/UserDefaultsSettingsStore.h"
#include "recall/DiaryHandwritingIndex.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryModelProvider.h"
#include "support/InkDrawings.h"
#include "sync/DiaryCloudSync.h"
#include "sync/DiaryCloudSyncRoot.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>

using namespace velmora;
using velmora::bench::await;

namespace {

constexpr int drawingCount = 730;

// Bytes this process has read through read() and its kin so far.
qint64 bytesRead() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    return 0;
}

// An empty diary with 730 drawings, exchanged once with a sync folder of its own.
struct InkBench {
    QTemporaryDir dir;
    std::shared_ptr<CoreDataDiaryRepository> repository;
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(dir.filePath(QStringLiteral("settings.ini")));
    std::shared_ptr<UserDefaultsSettingsStore> settings =
        std::make_shared<UserDefaultsSettingsStore>(defaults, QStringLiteral("Georgia"));
    std::unique_ptr<DiarySessionStore> session;
    std::shared_ptr<DiaryHandwritingStore> handwriting =
        std::make_shared<DiaryHandwritingStore>(dir.filePath(QStringLiteral("Diary/Handwriting")));
    std::unique_ptr<DiaryHandwritingIndex> index;
    std::unique_ptr<DiaryCloudSync> sync;
    QString remoteFolder = dir.filePath(QStringLiteral("Chosen/Diary Sync/Handwriting"));
    QList<DiaryHandwritingIndex::PageRef> reported;

    InkBench() {
        auto stack = std::make_shared<DiaryPersistenceStack>(
            dir.filePath(QStringLiteral("Diary/RaDevov.sqlite")),
            DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
        repository =
            std::make_shared<CoreDataDiaryRepository>(stack, std::make_shared<SystemClock>());
        session = std::make_unique<DiarySessionStore>(repository, settings,
                                                      GregorianCalendar(QTimeZone::utc()));
        const QByteArray shapes = test::drawnShapes().encode();
        for (int i = 0; i < drawingCount; ++i)
            handwriting->write(shapes, bench::generatedDay(i * 10), 0);
        index = std::make_unique<DiaryHandwritingIndex>(*handwriting);
        QDir().mkpath(dir.filePath(QStringLiteral("Chosen")));
        sync = std::make_unique<DiaryCloudSync>(
            DiaryCloudSync::Services{repository, session.get(), settings, handwriting, defaults},
            dir.filePath(QStringLiteral("Diary/Sync/manifest.json")),
            DiaryCloudSyncFolderChoice::fixedFolderSyncRoot(dir.filePath(QStringLiteral("Chosen"))),
            false, std::chrono::seconds(60));
        sync->onInkChanged = [this](const QList<QPair<DayKey, qint64>> &leaves) {
            for (const auto &[day, leaf] : leaves)
                reported.append({day, leaf});
        };
        await(sync->syncNow());
    }

    static InkBench &shared() {
        static InkBench bench;
        return bench;
    }
};

void BM_SyncInk_SteadyStepOver730Drawings(benchmark::State &state) {
    InkBench &bench = InkBench::shared();
    const qint64 before = bytesRead();
    for (auto _ : state)
        await(bench.sync->syncNow());
    state.counters["bytesReadPerPass"] =
        double(bytesRead() - before) / double(std::max<qint64>(1, state.iterations()));
    state.counters["changes"] = double(bench.sync->changeCount());
}
BENCHMARK(BM_SyncInk_SteadyStepOver730Drawings)->Unit(benchmark::kMillisecond);

void BM_SyncInk_Baseline_ListBothFoldersWithStat(benchmark::State &state) {
    InkBench &bench = InkBench::shared();
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench::listFolderWithStat(bench.handwriting->directory()));
        benchmark::DoNotOptimize(bench::listFolderWithStat(bench.remoteFolder));
    }
}
BENCHMARK(BM_SyncInk_Baseline_ListBothFoldersWithStat)->Unit(benchmark::kMillisecond);

const QByteArray &legibleDrawing() {
    static const QByteArray bytes =
        test::handwrittenText({QStringLiteral("call the"), QStringLiteral("bakery")}).encode();
    return bytes;
}

void BM_SyncInk_NewTabletDrawingFetchedAndIndexed(benchmark::State &state) {
    InkBench &bench = InkBench::shared();
    // The recogniser is loaded once, before anything is timed.
    bench.handwriting->write(legibleDrawing(), bench::generatedDay(1), 0);
    await(bench.index->refresh({{bench::generatedDay(1), 0}}));
    int next = 2;
    for (auto _ : state) {
        state.PauseTiming();
        const DayKey day = bench::generatedDay(next++);
        test::writeBytes(bench.remoteFolder + QLatin1Char('/') +
                             DiaryHandwritingStore::fileName(day, 0),
                         legibleDrawing());
        bench.reported.clear();
        state.ResumeTiming();
        await(bench.sync->syncNow());
        await(bench.index->refresh(bench.reported));
    }
    const auto pages = await(bench.index->pages());
    state.counters["recognised"] = double(pages.size());
}
BENCHMARK(BM_SyncInk_NewTabletDrawingFetchedAndIndexed)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_SyncInk_Baseline_RecognisingTheLeafAlone(benchmark::State &state) {
    InkBench &bench = InkBench::shared();
    const DayKey day = bench::generatedDay(1);
    int edit = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Another modification time each round, so the leaf is recognised again.
        bench.handwriting->write(legibleDrawing() + QByteArray(++edit, ' '), day, 0);
        state.ResumeTiming();
        await(bench.index->refresh({{day, 0}}));
    }
}
BENCHMARK(BM_SyncInk_Baseline_RecognisingTheLeafAlone)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

} // namespace

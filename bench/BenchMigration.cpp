#include "DiaryGenerator.h"

#include "domain/Clock.h"
#include "platform/UserDefaults.h"
#include "platform/UuidText.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/DiaryModelProvider.h"
#include "store/Sqlite.h"
#include "store/StoreFile.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimeZone>

#include <map>

using namespace velmora;

namespace {

constexpr int rowsPerTwentyYears = 7305;
constexpr int draftCount = 50;
const QTimeZone benchZone("Europe/Paris");

// An old store of `rows` daily entries, 1 to 4 KB each, a tenth of them sealed, a few days
// written twice; made once per size and copied for every run.
const QString &legacyFixture(int rows) {
    static QTemporaryDir folder;
    static std::map<int, QString> made;
    if (auto found = made.find(rows); found != made.end())
        return found->second;
    const QString path = folder.filePath(QStringLiteral("legacy-%1.sqlite").arg(rows));
    QRandomGenerator random(rows);
    SqliteDatabase database(path, SqliteDatabase::OpenMode::readWriteCreate);
    createStoreSchema(database, DiaryModelProvider::legacyV1Model());
    const QDateTime first(QDate(2000, 1, 1), QTime(20, 0), QTimeZone::utc());
    database.transaction(SqliteTransactionKind::immediate, [&] {
        SqliteStatement insert(database.handle(),
                               QStringLiteral("INSERT INTO DiaryEntry (id, date, content, "
                                              "fontName, isLocked, createdAt) "
                                              "VALUES (?, ?, ?, ?, ?, ?)"));
        for (int i = 0; i < rows; ++i) {
            const QDateTime date = first.addDays(i % 200 == 199 ? i - 1 : i);
            insert.bind(1, QUuid::createUuid())
                .bind(2, date)
                .bind(3, bench::generateProse(random, 1024 + int(random.bounded(3 * 1024))))
                .bind(4, QStringLiteral("Georgia"))
                .bind(5, i % 10 == 0)
                .bind(6, date.addSecs(600))
                .execute();
            insert.reset();
        }
    });
    return made.emplace(rows, path).first->second;
}

void plantDrafts(UserDefaults &defaults, int rows) {
    for (int i = 0; i < draftCount; ++i) {
        // Half on days the store holds, half after them, one in ten malformed.
        const QDate day = QDate(2000, 1, 1).addDays(i % 2 ? i * 37 : rows + i);
        const QString key = i % 10 == 9 ? QStringLiteral("draft_unknown-%1").arg(i)
                                        : QStringLiteral("draft_") + day.toString(Qt::ISODate);
        defaults.setString(key, QStringLiteral("An unsaved draft number %1.").arg(i));
    }
    defaults.synchronize();
}

// Marks the time at every named point of the migration, for the per-step split.
class StepClock final : public MigrationFaultInjecting {
public:
    void start() {
        marks.clear();
        timer.start();
    }
    void inject(DiaryRepositoryFaultPoint point) override {
        marks.emplace_back(point, timer.nsecsElapsed());
    }
    QElapsedTimer timer;
    std::vector<std::pair<DiaryRepositoryFaultPoint, qint64>> marks;
};

struct MigrationRun {
    QTemporaryDir folder;
    QString store = folder.filePath(QStringLiteral("RaDevov.sqlite"));
    UserDefaults defaults{folder.filePath(QStringLiteral("defaults.ini"))};
};

std::unique_ptr<MigrationRun> prepareRun(int rows) {
    auto run = std::make_unique<MigrationRun>();
    QFile::copy(legacyFixture(rows), run->store);
    plantDrafts(run->defaults, rows);
    return run;
}

void BM_MigrateLegacyV1(benchmark::State &state) {
    const int rows = rowsPerTwentyYears * int(state.range(0));
    legacyFixture(rows);
    auto steps = std::make_shared<StepClock>();
    DiaryMigrationCoordinator coordinator(std::make_shared<SystemClock>(), steps);
    // Milliseconds spent from the previous mark to each named point, summed over the runs.
    std::map<std::string, double> split;
    for (auto _ : state) {
        state.PauseTiming();
        auto run = prepareRun(rows);
        state.ResumeTiming();
        steps->start();
        benchmark::DoNotOptimize(coordinator.prepareStore(run->store, run->defaults, benchZone));
        const qint64 end = steps->timer.nsecsElapsed();
        state.PauseTiming();
        qint64 previous = 0;
        for (const auto &[point, at] : steps->marks) {
            split["ms_to_" + rawValue(point).toStdString()] += double(at - previous) / 1e6;
            previous = at;
        }
        split["ms_drafts_and_cleanup"] += double(end - previous) / 1e6;
        run.reset();
        state.ResumeTiming();
    }
    for (const auto &[name, total] : split)
        state.counters[name] = total / double(state.iterations());
    state.counters["rows"] = rows;
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_MigrateLegacyV1)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(3);

// The steps one by one, on 20 years: 0 read the old store, 1 build candidates and records,
// 2 write the staged store, 3 validate it, 4 copy it through SQLite's backup.
void BM_MigrationStep(benchmark::State &state) {
    auto run = prepareRun(rowsPerTwentyYears);
    DiaryMigrationCoordinator coordinator;
    const StoreModel durable = DiaryModelProvider::model(DiaryModelProvider::currentVersionName);
    const auto legacy =
        coordinator.readLegacyEntries(run->store, DiaryModelProvider::legacyV1Model());
    const QStringList keys = DiaryMigrationCoordinator::collectDraftKeys(run->defaults);
    const auto plan = coordinator.buildCandidates(legacy, keys, run->defaults, benchZone);
    const QString staged = run->folder.filePath(QStringLiteral("staged.sqlite"));
    const QString copy = run->folder.filePath(QStringLiteral("copy.sqlite"));
    coordinator.writeDurableStore(staged, durable, plan.entries, plan.recoveryRecords,
                                  QUuid::createUuid());
    for (auto _ : state) {
        switch (state.range(0)) {
        case 0:
            benchmark::DoNotOptimize(
                coordinator.readLegacyEntries(run->store, DiaryModelProvider::legacyV1Model()));
            break;
        case 1:
            benchmark::DoNotOptimize(
                coordinator.buildCandidates(legacy, keys, run->defaults, benchZone));
            break;
        case 2:
            coordinator.writeDurableStore(staged, durable, plan.entries, plan.recoveryRecords,
                                          QUuid::createUuid());
            break;
        case 3:
            DiaryMigrationCoordinator::validateStagedStore(staged, durable, plan.entries.size(),
                                                           plan.recoveryRecords.size());
            break;
        default:
            copyStoreFile(staged, copy);
        }
    }
}
BENCHMARK(BM_MigrationStep)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// The launch of every day: a current store and no journal.
void BM_PrepareDurableStore(benchmark::State &state) {
    auto run = prepareRun(rowsPerTwentyYears);
    DiaryMigrationCoordinator coordinator;
    coordinator.prepareStore(run->store, run->defaults, benchZone);
    for (auto _ : state) {
        const auto prepared = coordinator.prepareStore(run->store, run->defaults, benchZone);
        if (prepared.migrated)
            state.SkipWithError("the store was not current");
    }
}
BENCHMARK(BM_PrepareDurableStore)->Unit(benchmark::kMillisecond);

} // namespace

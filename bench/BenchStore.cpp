// The store's speed on a realistic twenty-year diary, each figure beside a baseline measured in
// the same run.
#include "BenchAwait.h"
#include "DiaryGenerator.h"

#include "domain/Clock.h"
#include "platform/SearchFolding.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryStoreRows.h"
#include "store/StoreFile.h"
#include "store/StoreModel.h"

#include <benchmark/benchmark.h>

#include <QCoroTask>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <exception>
#include <optional>

using namespace velmora;
using velmora::bench::await;

namespace {

// Per-operation latencies, reported as counters beside Google Benchmark's mean.
class Latencies {
public:
    void add(qint64 nanoseconds) { m_samples.push_back(nanoseconds); }
    void report(benchmark::State &state) {
        if (m_samples.empty())
            return;
        std::sort(m_samples.begin(), m_samples.end());
        const auto at = [this](double fraction) {
            return double(m_samples[std::min(m_samples.size() - 1,
                                             size_t(fraction * m_samples.size()))]) /
                   1e6;
        };
        state.counters["median_ms"] = at(0.5);
        state.counters["p99_ms"] = at(0.99);
    }

private:
    std::vector<qint64> m_samples;
};

// One generated diary, written once and shared by every benchmark of this file.
struct GeneratedStore {
    QTemporaryDir dir;
    DiarySnapshotDTO diary;
    std::shared_ptr<DiaryPersistenceStack> stack;
    std::unique_ptr<CoreDataDiaryRepository> repository;

    GeneratedStore()
        : diary(bench::generateDiary()) {
        stack = std::make_shared<DiaryPersistenceStack>(
            dir.filePath(QStringLiteral("Diary.sqlite")),
            DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
        repository =
            std::make_unique<CoreDataDiaryRepository>(stack, std::make_shared<SystemClock>());
        await(repository->replaceAll(diary));
    }

    // A second connection configured like the store's own, for the raw baselines.
    std::unique_ptr<SqliteDatabase> rawConnection() const {
        auto database = std::make_unique<SqliteDatabase>(stack->storeURL(),
                                                         SqliteDatabase::OpenMode::readWrite);
        configureStoreConnection(*database);
        return database;
    }

    static GeneratedStore &shared() {
        static GeneratedStore store;
        return store;
    }
};

DayKey randomDay(const GeneratedStore &store, QRandomGenerator &random) {
    return store.diary.entries.at(int(random.bounded(qsizetype(store.diary.entries.size()))))
        .dayKey;
}

void BM_Store_OpenDay(benchmark::State &state) {
    auto &store = GeneratedStore::shared();
    QRandomGenerator random(1);
    Latencies latencies;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(await(store.repository->entry(randomDay(store, random))));
        latencies.add(timer.nsecsElapsed());
    }
    latencies.report(state);
}
BENCHMARK(BM_Store_OpenDay)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// Baseline: the same lookup on the calling thread, without the hops to the worker and back.
void BM_Store_OpenDay_Baseline_RawSelect(benchmark::State &state) {
    auto &store = GeneratedStore::shared();
    auto database = store.rawConnection();
    QRandomGenerator random(1);
    Latencies latencies;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        auto &select =
            database->cached(QStringLiteral("SELECT %1 FROM DiaryEntry WHERE dayKey = ?1 LIMIT 1")
                                 .arg(QLatin1String(entryColumns)));
        select.bind(1, randomDay(store, random).rawValue());
        if (select.step())
            benchmark::DoNotOptimize(makeEntryDTO(select));
        latencies.add(timer.nsecsElapsed());
    }
    latencies.report(state);
}
BENCHMARK(BM_Store_OpenDay_Baseline_RawSelect)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// Durable writes for a second, untimed, before a row's timing: each row then meets the log
// file and the disk as a running diary does, rather than whatever the row before it (or the
// generated diary, for the first) left them doing.
template <typename Write> void warmUp(Write write) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 1000)
        write();
}

void BM_Store_DurableAutosave(benchmark::State &state) {
    auto &store = GeneratedStore::shared();
    const DiaryEntryDTO target = store.diary.entries.at(7000);
    DiaryDraftDTO draft{target.id,        target.dayKey,        target.content,
                        target.fontName,  target.bodyPointSize, target.originTimeZone,
                        target.createdAt, target.updatedAt,     target.revision};
    std::optional<DiaryRevision> expected = await(store.repository->entry(target.dayKey))->revision;
    Latencies latencies;
    qint64 sequence = 0;
    warmUp([&] {
        draft.content = target.content + QString::number(++sequence);
        expected = await(store.repository->save(draft, expected, sequence)).entry.revision;
    });
    for (auto _ : state) {
        draft.content = target.content + QString::number(++sequence);
        QElapsedTimer timer;
        timer.start();
        expected = await(store.repository->save(draft, expected, sequence)).entry.revision;
        latencies.add(timer.nsecsElapsed());
    }
    latencies.report(state);
    state.counters["bytes"] = double(target.content.toUtf8().size());
}
BENCHMARK(BM_Store_DurableAutosave)->Unit(benchmark::kMicrosecond)->Iterations(300);

// What a save writes besides the text: the text folded for search, the time and the revision.
struct SavedColumns {
    QString folded;
    qint64 modifiedAt = 0;
    qint64 revision = 0;
};

void rawUpdate(SqliteDatabase &database, const QString &content, const QString &day,
               const SavedColumns *columns = nullptr) {
    database.transaction(SqliteTransactionKind::immediate, [&] {
        if (!columns) {
            database.cached(QStringLiteral("UPDATE DiaryEntry SET content = ?1 WHERE dayKey = ?2"))
                .bind(1, content)
                .bind(2, day)
                .execute();
            return;
        }
        database
            .cached(QStringLiteral("UPDATE DiaryEntry SET content = ?1, contentFolded = ?3, "
                                   "modifiedAt = ?4, revision = ?5 WHERE dayKey = ?2"))
            .bind(1, content)
            .bind(2, day)
            .bind(3, columns->folded)
            .bind(4, columns->modifiedAt)
            .bind(5, columns->revision)
            .execute();
    });
}

// Baseline: one raw UPDATE of the same row in its own transaction, same file, same settings;
// with argument 1 handed to a worker thread and back like every store operation, to show what
// the two thread hops cost; with argument 2 writing every column a save writes (the folded text
// made beforehand), to show what the extra pages of the write-ahead log cost.
void BM_Store_DurableAutosave_Baseline_RawUpdate(benchmark::State &state) {
    auto &store = GeneratedStore::shared();
    std::shared_ptr<SqliteDatabase> database = store.rawConnection();
    const bool withHops = state.range(0) == 1;
    const bool everyColumn = state.range(0) == 2;
    state.SetLabel(withHops      ? "with two thread hops"
                   : everyColumn ? "the columns a save writes, on the calling thread"
                                 : "on the calling thread");
    SerialExecutor worker;
    const DiaryEntryDTO target = store.diary.entries.at(7001);
    const QString day = target.dayKey.rawValue();
    Latencies latencies;
    qint64 sequence = 0;
    SavedColumns columns;
    columns.revision = target.revision.rawValue;
    qint64 warming = 0;
    warmUp([&] { rawUpdate(*database, target.content + QString::number(--warming), day); });
    for (auto _ : state) {
        const QString content = target.content + QString::number(++sequence);
        if (everyColumn) {
            columns.folded = foldedForSearch(content);
            columns.modifiedAt = QDateTime::currentMSecsSinceEpoch();
            ++columns.revision;
        }
        QElapsedTimer timer;
        timer.start();
        if (withHops) {
            auto update = worker.run([database, content, day] {
                rawUpdate(*database, content, day);
                return true;
            });
            await([](SerialExecutor::Operation<bool> update) -> QCoro::Task<bool> {
                co_return co_await update;
            }(std::move(update)));
        } else {
            rawUpdate(*database, content, day, everyColumn ? &columns : nullptr);
        }
        latencies.add(timer.nsecsElapsed());
    }
    latencies.report(state);
    state.counters["bytes"] = double(target.content.toUtf8().size());
}
BENCHMARK(BM_Store_DurableAutosave_Baseline_RawUpdate)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);

const char *const searchQueries[] = {"the", bench::rareDiaryWord, "málaga kraków"};

void BM_Store_Search(benchmark::State &state) {
    auto &store = GeneratedStore::shared();
    const QString query = QString::fromUtf8(searchQueries[state.range(0)]);
    state.SetLabel(query.toStdString());
    qsizetype found = 0;
    for (auto _ : state)
        found = await(store.repository->search(query, DiaryRepository::searchLimitCap)).size();
    state.counters["results"] = double(found);
}
BENCHMARK(BM_Store_Search)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(20);

void foldFunction(sqlite3_context *context, int, sqlite3_value **values) {
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(values[0]));
    const QByteArray folded =
        foldedForSearch(QString::fromUtf8(text, sqlite3_value_bytes(values[0]))).toUtf8();
    sqlite3_result_text(context, folded.constData(), int(folded.size()), SQLITE_TRANSIENT);
}

// Baseline: fold every row's text at query time instead of keeping a folded copy.
void BM_Store_Search_Baseline_FoldEveryRow(benchmark::State &state) {
    auto &store = GeneratedStore::shared();
    auto database = store.rawConnection();
    sqlite3_create_function(database->handle(), "fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                            nullptr, foldFunction, nullptr, nullptr);
    const QString query = QString::fromUtf8(searchQueries[state.range(0)]);
    state.SetLabel(query.toStdString());
    qsizetype found = 0;
    for (auto _ : state) {
        auto &select = database->cached(
            QStringLiteral("SELECT %1 FROM DiaryEntry WHERE instr(fold(content), ?1) > 0 "
                           "ORDER BY dayKey DESC LIMIT ?2")
                .arg(QLatin1String(entryColumns)));
        select.bind(1, foldedForSearch(query)).bind(2, DiaryRepository::searchLimitCap);
        found = 0;
        while (select.step()) {
            benchmark::DoNotOptimize(makeEntryDTO(select));
            ++found;
        }
    }
    state.counters["results"] = double(found);
}
BENCHMARK(BM_Store_Search_Baseline_FoldEveryRow)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_Store_DayKeysOfAMonth(benchmark::State &state) {
    auto &store = GeneratedStore::shared();
    const DayKey from = DayKey::fromCivilDate(2015, 6, 1);
    const DayKey to = DayKey::fromCivilDate(2015, 7, 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            await(store.repository->dayKeys(from, to, DiaryRepository::dayKeysLimitCap)));
}
BENCHMARK(BM_Store_DayKeysOfAMonth)->Unit(benchmark::kMicrosecond)->Iterations(1000);

void BM_Store_RevisionsByDay(benchmark::State &state) {
    auto &store = GeneratedStore::shared();
    for (auto _ : state)
        benchmark::DoNotOptimize(await(store.repository->revisionsByDay()));
}
BENCHMARK(BM_Store_RevisionsByDay)->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_Store_Snapshot(benchmark::State &state) {
    auto &store = GeneratedStore::shared();
    for (auto _ : state)
        benchmark::DoNotOptimize(await(store.repository->snapshot()));
}
BENCHMARK(BM_Store_Snapshot)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Store_ReplaceAll(benchmark::State &state) {
    auto &store = GeneratedStore::shared();
    for (auto _ : state)
        await(store.repository->replaceAll(store.diary));
}
BENCHMARK(BM_Store_ReplaceAll)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

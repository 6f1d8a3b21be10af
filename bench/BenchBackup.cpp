// Backups, restore, export and import of the twenty-year diary, each beside a baseline
// measured in the same run: tar + sha256sum of the package's bytes for the backup, QJsonDocument
// parsing and writing the export file for the transfer.
#include "BenchAwait.h"
#include "DiaryGenerator.h"
#include "DiaryPackageComparison.h"

#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"
#include "backup/DiaryTransferService.h"
#include "domain/Clock.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryModelProvider.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

using namespace velmora;
using velmora::bench::await;

namespace {

// Resident memory in bytes: the peak since the last reset, and now.
qint64 residentKiB(const char *field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

void resetPeakResident() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// The twenty-year diary in a real store, a package of it, and its export file, made once.
struct BackupBench {
    QTemporaryDir dir;
    DiarySnapshotDTO diary;
    std::shared_ptr<DiaryRepository> repository;
    std::shared_ptr<UserDefaultsSettingsStore> settings;
    std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>();
    QString package;
    QString exportFile;
    qint64 recordsBytes = 0;
    int scratch = 0;

    BackupBench()
        : diary(bench::generateDiary()) {
        auto stack = std::make_shared<DiaryPersistenceStack>(
            dir.filePath(QStringLiteral("Diary.sqlite")),
            DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
        repository = std::make_shared<CoreDataDiaryRepository>(stack, clock);
        await(repository->replaceAll(diary));
        diary = await(repository->snapshot());
        settings = std::make_shared<UserDefaultsSettingsStore>(
            std::make_shared<UserDefaults>(dir.filePath(QStringLiteral("settings.ini"))),
            QStringLiteral("Georgia"), clock);
        package = dir.filePath(QStringLiteral("Diary.velmorabackup"));
        DiarySnapshotService::writePackage(diary, package, clock->now());
        recordsBytes = QFileInfo(package + QStringLiteral("/records.ndjson")).size();
        exportFile = dir.filePath(QStringLiteral("export.json"));
        DiaryTransferService service(repository, settings, clock);
        await(service.exportDiary(exportFile));
    }

    // A fresh path in a folder that is emptied after each measured step.
    QString scratchPath(const QString &name) {
        QDir().mkpath(dir.filePath(QStringLiteral("scratch")));
        return dir.filePath(QStringLiteral("scratch/%1-%2").arg(++scratch).arg(name));
    }
    void clearScratch() { QDir(dir.filePath(QStringLiteral("scratch"))).removeRecursively(); }

    static BackupBench &shared() {
        static BackupBench bench;
        return bench;
    }
};

// Write and verify: what "Backup Now" does after the store's snapshot.
void BM_Backup_WritePackage(benchmark::State &state) {
    auto &bench = BackupBench::shared();
    qint64 peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const qint64 before = residentKiB("VmRSS:");
        resetPeakResident();
        state.ResumeTiming();
        DiarySnapshotService::writePackage(bench.diary, bench.scratchPath(QStringLiteral("P")),
                                           bench.clock->now());
        state.PauseTiming();
        peak = std::max(peak, residentKiB("VmHWM:") - before);
        bench.clearScratch();
        state.ResumeTiming();
    }
    state.counters["records_MiB"] = double(bench.recordsBytes) / (1 << 20);
    state.counters["peak_over_records"] = double(peak) * 1024 / double(bench.recordsBytes);
}
BENCHMARK(BM_Backup_WritePackage)->Unit(benchmark::kMillisecond)->Iterations(5);

// "Backup Now" in full: the store's snapshot, then write and verify.
void BM_Backup_CreateSnapshot(benchmark::State &state) {
    auto &bench = BackupBench::shared();
    DiarySnapshotService service(bench.repository, bench.clock);
    for (auto _ : state) {
        await(service.createSnapshot(bench.dir.filePath(QStringLiteral("scratch"))));
        state.PauseTiming();
        bench.clearScratch();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Backup_CreateSnapshot)->Unit(benchmark::kMillisecond)->Iterations(5);

// Baseline: tar the same package and hash the archive.
void BM_Backup_Baseline_TarSha256(benchmark::State &state) {
    auto &bench = BackupBench::shared();
    const QString command =
        QStringLiteral("tar -cf - -C '%1' Diary.velmorabackup | sha256sum > /dev/null")
            .arg(bench.dir.path());
    for (auto _ : state)
        QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command});
}
BENCHMARK(BM_Backup_Baseline_TarSha256)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Backup_ListTenPackages(benchmark::State &state) {
    auto &bench = BackupBench::shared();
    const QString folder = bench.dir.filePath(QStringLiteral("Backups"));
    QDir().mkpath(folder);
    for (int i = 0; i < 10; ++i)
        QProcess::execute(QStringLiteral("cp"),
                          {QStringLiteral("-a"), bench.package,
                           folder + QStringLiteral("/%1.velmorabackup").arg(i)});
    for (auto _ : state)
        benchmark::DoNotOptimize(DiarySnapshotService::listSnapshots(folder));
    QDir(folder).removeRecursively();
}
BENCHMARK(BM_Backup_ListTenPackages)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Backup_Restore(benchmark::State &state) {
    auto &bench = BackupBench::shared();
    DiaryRestoreCoordinator coordinator(bench.repository, bench.clock);
    for (auto _ : state) {
        await(coordinator.restore(bench.package, bench.dir.filePath(QStringLiteral("scratch"))));
        state.PauseTiming();
        bench.clearScratch();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Backup_Restore)->Unit(benchmark::kMillisecond)->Iterations(3);

// The whole round trip: "Backup Now" of the twenty-year diary, a restore of that package into a
// fresh store, and a second backup from there. The two packages must hold the same diary, entry
// by day and recovery record by id; any difference is reported as an error.
void BM_Backup_RoundTripEqualBySnapshot(benchmark::State &state) {
    auto &bench = BackupBench::shared();
    QStringList differences;
    for (auto _ : state) {
        QTemporaryDir freshDir;
        auto stack = std::make_shared<DiaryPersistenceStack>(
            freshDir.filePath(QStringLiteral("Diary.sqlite")),
            DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
        auto fresh = std::make_shared<CoreDataDiaryRepository>(stack, bench.clock);
        DiarySnapshotDTO empty;
        empty.metadata = {QUuid::createUuid(), bench.diary.metadata.schemaVersion,
                          QStringLiteral("fresh"), bench.clock->now(), 0};
        await(fresh->replaceAll(empty));

        DiarySnapshotService source(bench.repository, bench.clock);
        const SnapshotSummary first =
            await(source.createSnapshot(bench.dir.filePath(QStringLiteral("scratch"))));
        DiaryRestoreCoordinator coordinator(fresh, bench.clock);
        await(coordinator.restore(first.packageURL, freshDir.filePath(QStringLiteral("Q"))));
        DiarySnapshotService restored(fresh, bench.clock);
        const SnapshotSummary second =
            await(restored.createSnapshot(freshDir.filePath(QStringLiteral("Backups"))));

        state.PauseTiming();
        differences = bench::packageDifferences(first.packageURL, second.packageURL);
        differences += bench::diaryDifferences(
            DiarySnapshotService::readPackage(first.packageURL).diary, bench.diary);
        if (first.entryCount != bench.diary.entries.size() || second.entryCount != first.entryCount)
            differences.append(QStringLiteral("%1 entries backed up, %2 after the restore")
                                   .arg(first.entryCount)
                                   .arg(second.entryCount));
        bench.clearScratch();
        state.ResumeTiming();
        if (!differences.isEmpty())
            break;
    }
    if (!differences.isEmpty()) {
        const QString report = QStringLiteral("THE ROUND TRIP CHANGED THE DIARY: ") +
                               differences.join(QStringLiteral("; "));
        std::fprintf(stderr, "%s\n", qPrintable(report));
        state.SkipWithError(qPrintable(report));
        return;
    }
    state.counters["entries"] = double(bench.diary.entries.size());
    state.counters["recovery_records"] = double(bench.diary.recoveryRecords.size());
}
BENCHMARK(BM_Backup_RoundTripEqualBySnapshot)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Transfer_Export(benchmark::State &state) {
    auto &bench = BackupBench::shared();
    for (auto _ : state) {
        DiaryTransferService service(bench.repository, bench.settings, bench.clock);
        await(service.exportDiary(bench.scratchPath(QStringLiteral("export.json"))));
        state.PauseTiming();
        bench.clearScratch();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Transfer_Export)->Unit(benchmark::kMillisecond)->Iterations(3);

// Reading the file, decoding it and importing, as the import flow does after the question.
void importOnce(BackupBench &bench, bool replace) {
    QFile file(bench.exportFile);
    file.open(QIODevice::ReadOnly);
    const DiaryTransferDocument document = DiaryTransferCodec::decode(file.readAll());
    DiaryTransferService service(bench.repository, bench.settings, bench.clock);
    await(service.importDocument(document, replace, bench.dir.filePath(QStringLiteral("scratch"))));
}

void BM_Transfer_ImportMerge(benchmark::State &state) {
    auto &bench = BackupBench::shared();
    for (auto _ : state) {
        importOnce(bench, false);
        state.PauseTiming();
        bench.clearScratch();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Transfer_ImportMerge)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Transfer_ImportReplace(benchmark::State &state) {
    auto &bench = BackupBench::shared();
    for (auto _ : state) {
        importOnce(bench, true);
        state.PauseTiming();
        bench.clearScratch();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Transfer_ImportReplace)->Unit(benchmark::kMillisecond)->Iterations(3);

// Baseline: parse the export file and write it again with Qt's own JSON classes.
void BM_Transfer_Baseline_QJsonDocument(benchmark::State &state) {
    auto &bench = BackupBench::shared();
    QFile file(bench.exportFile);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(bytes).toJson(QJsonDocument::Compact));
    state.counters["file_MiB"] = double(bytes.size()) / (1 << 20);
}
BENCHMARK(BM_Transfer_Baseline_QJsonDocument)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

// Writes a backup or restores one and stops where it is told, so that the crash test can kill
// it there: "write <folder> <step>" stops at a write step, "restore <store> <package>
// <quarantine> <step>" at a restore step, and "restore-loop <store> <package A> <package B>
// <quarantine>" restores the two packages in turn until it is killed.
#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"
#include "store/StoreFixture.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

using namespace velmora;

namespace {

[[noreturn]] void stopHere(const char *step) {
    std::printf("AT %s\n", step);
    std::fflush(stdout);
    for (;;)
        QThread::sleep(60);
}

DiarySnapshotDTO diaryToWrite() {
    DiarySnapshotDTO diary;
    diary.metadata = test::metadata();
    for (int i = 1; i <= 200; ++i) {
        const QString day = QStringLiteral("2023-%1-%2")
                                .arg((i - 1) / 28 + 1, 2, 10, QLatin1Char('0'))
                                .arg((i - 1) % 28 + 1, 2, 10, QLatin1Char('0'));
        diary.entries.append(
            test::entry(day.toLatin1().constData(), QString(4000, QLatin1Char('a' + i % 26))));
    }
    return diary;
}

std::shared_ptr<DiaryRepository> openStore(const QString &path) {
    auto stack = std::make_shared<DiaryPersistenceStack>(
        path, DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
    return std::make_shared<CoreDataDiaryRepository>(stack, std::make_shared<SystemClock>());
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("write")) {
        const QString step = args[3];
        DiarySnapshotService::writePackage(
            diaryToWrite(), args[2] + QStringLiteral("/Crash.velmorabackup"),
            QDateTime::currentDateTimeUtc(), [&step](DiarySnapshotWriteStep reached) {
                static const char *const names[] = {"recordsWritten", "manifestWritten",
                                                    "validated", "beforeMove"};
                if (step == QLatin1String(names[int(reached)]))
                    stopHere(names[int(reached)]);
            });
        std::puts("WRITTEN");
        return 0;
    }
    if (args.size() == 6 && args[1] == QLatin1String("restore")) {
        DiaryRestoreCoordinator coordinator(openStore(args[2]), std::make_shared<SystemClock>());
        const QString step = args[5];
        coordinator.setStepObserver([&step](DiaryRestoreStep reached) {
            const char *name = reached == DiaryRestoreStep::safetyBackupWritten
                                   ? "safetyBackupWritten"
                                   : "replaced";
            if (step == QLatin1String(name))
                stopHere(name);
        });
        test::waitFor(coordinator.restore(args[3], args[4]));
        std::puts("RESTORED");
        return 0;
    }
    if (args.size() == 6 && args[1] == QLatin1String("restore-loop")) {
        DiaryRestoreCoordinator coordinator(openStore(args[2]), std::make_shared<SystemClock>());
        coordinator.setStepObserver([](DiaryRestoreStep reached) {
            if (reached == DiaryRestoreStep::safetyBackupWritten) {
                std::puts("REPLACING");
                std::fflush(stdout);
            }
        });
        std::puts("READY");
        std::fflush(stdout);
        for (int round = 0;; ++round)
            test::waitFor(coordinator.restore(args[3 + round % 2], args[5]));
    }
    return 2;
}

// Writes a backup or restores one and stops where it is told, so that the crash test can kill
// it there: "write <folder> <step>" stops at a write step, "restore <store> <package>
// <quarantine> <step>" at a restore step, "restore-loop <store> <package A> <package B>
// <quarantine>" restores the two packages in turn until it is killed, and "card-restore <store>
// <package> <set-aside folder> <step> [<largest file in bytes>]" restores in place of a store
// that cannot be opened, as the load-failure card does, with the files it may write capped.
#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"
#include "backup/DiaryStoreRestore.h"
#include "store/StoreFixture.h"

#include <QCoreApplication>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

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
            static const char *const names[] = {"snapshotTaken", "safetyBackupWritten", "replaced"};
            if (step == QLatin1String(names[int(reached)]))
                stopHere(names[int(reached)]);
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
    if ((args.size() == 6 || args.size() == 7) && args[1] == QLatin1String("card-restore")) {
        if (args.size() == 7) {
            // A write past the cap fails as a full disk would, instead of killing the process.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlim_t cap = args[6].toULongLong();
            const rlimit limit{cap, cap};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 3;
        }
        const QString step = args[5];
        std::puts("STARTED");
        std::fflush(stdout);
        try {
            const qint64 restored =
                restoreUnopenableStore(args[2], args[3], args[4], [&step](StoreReplacementStep at) {
                    static const char *const names[] = {"staged", "journalWritten", "setAside",
                                                        "replaced"};
                    if (step == QLatin1String(names[int(at)]))
                        stopHere(names[int(at)]);
                });
            std::printf("RESTORED %lld\n", restored);
        } catch (const DiaryError &error) {
            std::printf("FAILED %s\n", qPrintable(error.message()));
        }
        return 0;
    }
    return 2;
}

// The diary on a disk with no room left, on a real filesystem: a small tmpfs mounted in a mount
// namespace of this process's own (as root, or in a user namespace of its own). Where the system
// allows neither, the tests are skipped.
#include "app/DiaryLoadFailureRecovery.h"
#include "app/graph/DiaryDependencyGraph.h"

#include "backup/DiarySnapshotService.h"
#include "pages/MacTextKitLeafPaginator.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/StoreFixture.h"
#include "support/GuiTestMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

// Where the small filesystem is mounted, or why there is none.
QString smallFilesystem;
QString noSmallFilesystem;

bool writeProcFile(const char *path, const QByteArray &text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return written;
}

// Must run before the process has a second thread: a user namespace refuses threaded callers.
void mountSmallFilesystem() {
    QByteArray folder = QDir::tempPath().toLocal8Bit() + "/velmora-full-disk-XXXXXX";
    if (!::mkdtemp(folder.data())) {
        noSmallFilesystem = QStringLiteral("no folder to mount on");
        return;
    }
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    const bool entered =
        uid == 0
            ? ::unshare(CLONE_NEWNS) == 0
            : ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
                  writeProcFile("/proc/self/setgroups", "deny") &&
                  writeProcFile("/proc/self/uid_map",
                                QByteArray::number(uid) + ' ' + QByteArray::number(uid) + " 1") &&
                  writeProcFile("/proc/self/gid_map",
                                QByteArray::number(gid) + ' ' + QByteArray::number(gid) + " 1");
    // Private first, so that nothing mounted here is seen outside this process.
    if (!entered || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=4m,mode=0700") != 0) {
        noSmallFilesystem =
            QStringLiteral("no mount namespace: ") + QString::fromLocal8Bit(std::strerror(errno));
        ::rmdir(folder.constData());
        return;
    }
    smallFilesystem = QString::fromLocal8Bit(folder);
}

// Writes into `path` until the filesystem has no room left.
void fillDisk(const QString &path) {
    QFile filler(path);
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const QByteArray block(64 * 1024, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    QFile probe(path + QStringLiteral("-probe"));
    QVERIFY(probe.open(QIODevice::WriteOnly));
    QVERIFY(probe.write(block) < block.size() || !probe.flush());
}

DiaryProcessEnvironment testModeOn(const QString &store, const QString &folder) {
    DiaryProcessEnvironment environment;
    environment.arguments = {QStringLiteral("velmora"),
                             QStringLiteral("--velmora-test-mode"),
                             QStringLiteral("--velmora-store-url"),
                             store,
                             QStringLiteral("--velmora-defaults-suite"),
                             QStringLiteral("FullDiskTests")};
    environment.applicationSupportDirectory = folder + QStringLiteral("/support");
    environment.temporaryDirectory = folder;
    return environment;
}

std::optional<QString> persistenceErrorAt(const QString &store, const QString &folder) {
    DiaryDependencyGraph graph(DiaryLaunchPlan::make(testModeOn(store, folder)),
                               std::make_shared<MacTextKitLeafPaginator>());
    return graph.persistenceError();
}

// A store with a few pages, closed cleanly.
void writeStore(const QString &store) {
    UserDefaults defaults(QFileInfo(store).dir().filePath(QStringLiteral("prepare.ini")));
    DiaryMigrationCoordinator().prepareStore(store, defaults, QTimeZone::utc());
    CoreDataDiaryRepository repository(
        std::make_shared<DiaryPersistenceStack>(
            store, DiaryModelProvider::model(DiaryModelProvider::currentVersionName)),
        std::make_shared<FixedClock>());
    test::waitFor(repository.replaceAll(
        {metadata(), {entry("2024-03-01", QStringLiteral("Written while there was room"))}, {}}));
}

const QString fullDiskMessage =
    QStringLiteral("The diary store could not be opened: The disk is full.");

} // namespace

class FullDiskTest : public QObject {
    Q_OBJECT

private:
    QString m_folder;

private Q_SLOTS:
    void init() {
        if (smallFilesystem.isEmpty())
            QSKIP(qPrintable(noSmallFilesystem));
        m_folder =
            smallFilesystem + QLatin1Char('/') + QString::fromLatin1(QTest::currentTestFunction());
        QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/diary")));
    }

    void cleanup() {
        if (!m_folder.isEmpty())
            QDir(m_folder).removeRecursively();
        QFile::remove(smallFilesystem + QStringLiteral("/filler"));
        QFile::remove(smallFilesystem + QStringLiteral("/filler-probe"));
    }

    // Opening a store, or making the first one, on a full disk says so, rather than "disk I/O
    // error", which reads as failing hardware.
    void launchOnAFullDiskSaysSo_data() {
        QTest::addColumn<bool>("existing");
        QTest::newRow("existing store") << true;
        QTest::newRow("new store") << false;
    }

    void launchOnAFullDiskSaysSo() {
        QFETCH(bool, existing);
        const QString store = m_folder + QStringLiteral("/diary/store.sqlite");
        if (existing)
            writeStore(store);
        fillDisk(smallFilesystem + QStringLiteral("/filler"));
        QCOMPARE(persistenceErrorAt(store, m_folder).value_or(QString()), fullDiskMessage);
        // With room again the same diary opens.
        QFile::remove(smallFilesystem + QStringLiteral("/filler"));
        QCOMPARE(persistenceErrorAt(store, m_folder), std::nullopt);
    }

    // The load-failure card's restore on a full disk fails and says why; the card comes back at
    // the next launch with the damaged store as it was.
    void restoreOnAFullDiskLeavesTheCard() {
        const QString store = m_folder + QStringLiteral("/diary/store.sqlite");
        const QString backups = m_folder + QStringLiteral("/diary/Backups");
        QVERIFY(QDir().mkpath(backups));
        DiarySnapshotDTO diary{metadata(), {}, {}};
        for (int i = 1; i <= 28; ++i)
            diary.entries.append(entry(
                QStringLiteral("2024-02-%1").arg(i, 2, 10, QLatin1Char('0')).toLatin1().constData(),
                QString(8000, QLatin1Char('b'))));
        DiarySnapshotService::writePackage(diary, backups + QStringLiteral("/Diary.velmorabackup"),
                                           utc(2024, 3, 1));
        const QByteArray damaged = QByteArray("no database here ").repeated(200);
        QFile file(store);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(damaged);
        file.close();
        fillDisk(smallFilesystem + QStringLiteral("/filler"));

        const QString line = test::waitFor(restoreFromNewestBackup(DiaryStoreRecovery{
            store, m_folder + QStringLiteral("/diary"), std::make_shared<FixedClock>()}));
        QVERIFY2(line.contains(QStringLiteral("The disk is full.")) ||
                     line.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))),
                 qPrintable(line));
        QVERIFY(persistenceErrorAt(store, m_folder));
        QFile again(store);
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll(), damaged);
    }
};

int main(int argc, char **argv) {
    velmora::test::prepareTestEnvironment();
    mountSmallFilesystem();
    VELMORA_GUI_TEST_APPLICATION app(argc, argv);
    FullDiskTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    const int result = QTest::qExec(&test, argc, argv);
    if (!smallFilesystem.isEmpty()) {
        ::umount(smallFilesystem.toLocal8Bit().constData());
        ::rmdir(smallFilesystem.toLocal8Bit().constData());
    }
    return result;
}

#include "tst_fulldisk.moc"

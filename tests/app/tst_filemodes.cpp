#include "app/DiaryLoadFailureRecovery.h"
#include "backup/DiarySnapshotService.h"
#include "platform/UserDefaults.h"
#include "store/DiaryHandwritingStore.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/MigrationFixtures.h"
#include "store/StoreFixture.h"
#include "support/TestSupport.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <sys/stat.h>

using namespace velmora;
using namespace velmora::test;

namespace {

// What one kind of writing left behind: files that must be the owner's alone, and folders that
// must admit the owner only.
struct Made {
    QStringList files;
    QStringList folders;
    // What must stay open while the files are looked at.
    std::shared_ptr<void> open = {};
};

mode_t modeOf(const QString &path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return status.st_mode & 07777;
}

// A file as an older run under a permissive umask left it.
void makeWorldReadable(const QString &path) {
    if (::chmod(QFile::encodeName(path).constData(), 0644) != 0)
        qWarning() << "could not loosen" << path;
}

std::shared_ptr<CoreDataDiaryRepository> openRepository(const QString &store) {
    DiaryMigrationCoordinator().prepareStore(
        store, *std::make_shared<UserDefaults>(store + QStringLiteral(".ini")), QTimeZone::utc());
    return std::make_shared<CoreDataDiaryRepository>(
        std::make_shared<DiaryPersistenceStack>(
            store, DiaryModelProvider::model(DiaryModelProvider::currentVersionName)),
        std::make_shared<FixedClock>());
}

Made storeWhileOpen(const QString &root) {
    const QString store = root + QStringLiteral("/new/folder/Diary.sqlite");
    const auto repository = openRepository(store);
    test::waitFor(
        repository->save(draft("2024-03-01", QStringLiteral("Dear diary")), std::nullopt, 1));
    return {{store, store + QStringLiteral("-wal"), store + QStringLiteral("-shm")},
            {root + QStringLiteral("/new"), root + QStringLiteral("/new/folder")},
            repository};
}

Made storeOfAnOlderRun(const QString &root) {
    const QString store = root + QStringLiteral("/Diary.sqlite");
    openRepository(store).reset();
    makeWorldReadable(store);
    const auto repository = openRepository(store);
    test::waitFor(
        repository->save(draft("2024-03-01", QStringLiteral("Dear diary")), std::nullopt, 1));
    return {
        {store, store + QStringLiteral("-wal"), store + QStringLiteral("-shm")}, {}, repository};
}

Made migratedStore(const QString &root) {
    const QString store = root + QStringLiteral("/Diary.sqlite");
    writeLegacyV1Store(store, QList<LegacyEntryPayload>{legacyEntry(QStringLiteral("2019-05-02"),
                                                                    QStringLiteral("Old page"))});
    makeWorldReadable(store);
    const PreparedDiaryStore prepared = DiaryMigrationCoordinator().prepareStore(
        store, *std::make_shared<UserDefaults>(root + QStringLiteral("/settings.ini")),
        QTimeZone::utc());
    QStringList files{store, prepared.quarantineStoreURL.value_or(QString())};
    if (prepared.conflictReportURL)
        files << *prepared.conflictReportURL;
    return {files,
            {root + QStringLiteral("/Recovery"), root + QStringLiteral("/Recovery/Quarantine"),
             root + QStringLiteral("/Recovery/Migrations")}};
}

Made restoredStoreAndTheDamagedOne(const QString &root) {
    const QString store = root + QStringLiteral("/Diary.sqlite");
    {
        const auto repository = openRepository(store);
        test::waitFor(
            repository->save(draft("2024-03-01", QStringLiteral("Page")), std::nullopt, 1));
        QDir().mkpath(root + QStringLiteral("/Backups"));
        DiarySnapshotService::writePackage(test::waitFor(repository->snapshot()),
                                           root + QStringLiteral("/Backups/B.velmorabackup"),
                                           utc(2024, 3, 20));
    }
    QFile damaged(store);
    if (!damaged.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    damaged.write(QByteArray("not a database ").repeated(100));
    damaged.close();
    makeWorldReadable(store);
    const QString line = test::waitFor(
        restoreFromNewestBackup(DiaryStoreRecovery{store, root, std::make_shared<FixedClock>()}));
    Made made{{store}, {root + QStringLiteral("/Recovery/Quarantine")}};
    QDirIterator aside(root + QStringLiteral("/Recovery/Quarantine"),
                       QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (aside.hasNext()) {
        const QFileInfo info(aside.next());
        (info.isDir() ? made.folders : made.files).append(info.filePath());
    }
    if (!line.startsWith(QStringLiteral("Restored 1 ")) || made.files.size() < 2)
        qWarning() << "restore:" << line << made.files;
    return made;
}

Made settings(const QString &root) {
    const QString standard = root + QStringLiteral("/config/Velmora/Velmora.ini");
    const QString suite = root + QStringLiteral("/config/Velmora/Suites/Velmora.Tests.ini");
    for (const QString &path : {standard, suite}) {
        UserDefaults defaults(path);
        defaults.setString(QStringLiteral("userName"), QStringLiteral("Ada"));
        defaults.synchronize();
    }
    return {{standard, suite},
            {root + QStringLiteral("/config"), root + QStringLiteral("/config/Velmora"),
             root + QStringLiteral("/config/Velmora/Suites")}};
}

Made settingsOfAnOlderRun(const QString &root) {
    const QString path = root + QStringLiteral("/Velmora.ini");
    {
        UserDefaults defaults(path);
        defaults.setString(QStringLiteral("userName"), QStringLiteral("Ada"));
    }
    makeWorldReadable(path);
    UserDefaults defaults(path);
    defaults.setString(QStringLiteral("userName"), QStringLiteral("Grace"));
    defaults.synchronize();
    return {{path}, {}};
}

Made handwriting(const QString &root) {
    DiaryHandwritingStore store(root + QStringLiteral("/Handwriting"));
    store.write("{}", *DayKey::fromRawValue(QStringLiteral("2024-03-01")), 0);
    return {{store.fileURL(*DayKey::fromRawValue(QStringLiteral("2024-03-01")), 0)},
            {root + QStringLiteral("/Handwriting")}};
}

const QList<std::pair<QString, Made (*)(const QString &)>> makers{
    {QStringLiteral("store with its -wal and -shm"), &storeWhileOpen},
    {QStringLiteral("store of an older run"), &storeOfAnOlderRun},
    {QStringLiteral("migrated store and the older one kept aside"), &migratedStore},
    {QStringLiteral("restored store and the damaged one set aside"),
     &restoredStoreAndTheDamagedOne},
    {QStringLiteral("settings files"), &settings},
    {QStringLiteral("settings file of an older run"), &settingsOfAnOlderRun},
    {QStringLiteral("handwriting"), &handwriting},
};

} // namespace

// Whatever holds the diary's words or the user's settings is the owner's alone, however
// permissive the umask the program was started with.
class FileModesTest : public QObject {
    Q_OBJECT

    mode_t m_umask = 0;

private Q_SLOTS:
    void init() { m_umask = ::umask(022); }
    void cleanup() { ::umask(m_umask); }

    void ownerOnly_data() {
        QTest::addColumn<int>("kind");
        for (int row = 0; row < makers.size(); ++row)
            QTest::newRow(qPrintable(makers[row].first)) << row;
    }

    void ownerOnly() {
        QFETCH(int, kind);
        QTemporaryDir root;
        const Made made = makers[kind].second(root.path());
        QVERIFY(!made.files.isEmpty());
        for (const QString &file : made.files)
            QVERIFY2(modeOf(file) == 0600,
                     qPrintable(QStringLiteral("%1: %2").arg(file).arg(modeOf(file), 0, 8)));
        for (const QString &folder : made.folders)
            QVERIFY2(modeOf(folder) == 0700,
                     qPrintable(QStringLiteral("%1: %2").arg(folder).arg(modeOf(folder), 0, 8)));
    }
};

VELMORA_TEST_MAIN(FileModesTest)
#include "tst_filemodes.moc"

#include "platform/FileSystemError.h"
#include "support/TestSupport.h"
#include "sync/DiaryCloudSyncWatcher.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace velmora;

class SyncWatcherTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A change a sync tool makes anywhere the sync looks is noticed.
    void noticesChanges_data() {
        QTest::addColumn<QString>("file"); // relative to the chosen folder
        QTest::addColumn<bool>("rootExists");
        QTest::addColumn<bool>("inPlace"); // the file is there, and written over where it is
        QTest::newRow("a page arrives") << "Diary Sync/Pages/2024-03-05.json" << true << false;
        QTest::newRow("a drawing arrives")
            << "Diary Sync/Handwriting/2024-03-05-0.drawing" << true << false;
        QTest::newRow("the profile changes") << "Diary Sync/profile.json" << true << false;
        QTest::newRow("Diary Sync appears") << "Diary Sync" << false << false;
        QTest::newRow("a page written in place")
            << "Diary Sync/Pages/2024-03-05.json" << true << true;
        QTest::newRow("a drawing written in place")
            << "Diary Sync/Handwriting/2024-03-05-0.drawing" << true << true;
    }
    void noticesChanges() {
        QFETCH(QString, file);
        QFETCH(bool, rootExists);
        QFETCH(bool, inPlace);
        QTemporaryDir chosen;
        const QString root = chosen.filePath(QStringLiteral("Diary Sync"));
        if (rootExists) {
            QVERIFY(QDir().mkpath(root + QStringLiteral("/Pages")));
            QVERIFY(QDir().mkpath(root + QStringLiteral("/Handwriting")));
        }
        QFile inPlaceFile(chosen.filePath(file));
        if (inPlace) {
            writeFileAtomically(inPlaceFile.fileName(), "{\"old\": true}");
            QVERIFY(inPlaceFile.open(QIODevice::ReadWrite));
        }
        DiaryCloudSyncWatcher watcher;
        QSignalSpy watching(&watcher, &DiaryCloudSyncWatcher::watching);
        QSignalSpy changed(&watcher, &DiaryCloudSyncWatcher::changed);
        watcher.watch(root);
        QVERIFY(watching.wait(10000));
        QCOMPARE(watching.first().first().toStringList().size(), rootExists ? 4 : 1);
        if (inPlace) {
            QVERIFY(inPlaceFile.write("{\"new\": 1}") > 0);
            inPlaceFile.close();
        } else if (rootExists) {
            writeFileAtomically(chosen.filePath(file), "{}");
        } else {
            QVERIFY(QDir().mkdir(root));
        }
        QVERIFY(changed.wait(10000));
    }

    // A watch would follow a link to wherever it leads; below the chosen folder links are left
    // unwatched, as the sync leaves them unread.
    void watchesNoLinkBelowTheChosenFolder_data() {
        QTest::addColumn<QString>("linked");
        QTest::addColumn<QStringList>("watched"); // relative to the chosen folder
        QTest::newRow("Diary Sync a link") << "Diary Sync" << QStringList{"."};
        QTest::newRow("Pages a link")
            << "Diary Sync/Pages" << QStringList{".", "Diary Sync", "Diary Sync/Handwriting"};
    }
    void watchesNoLinkBelowTheChosenFolder() {
        QFETCH(QString, linked);
        QFETCH(QStringList, watched);
        QTemporaryDir chosen;
        QVERIFY(QDir().mkpath(chosen.filePath(QStringLiteral("Outside/Pages"))));
        QVERIFY(QDir().mkpath(chosen.filePath(QStringLiteral("Outside/Handwriting"))));
        if (linked != u"Diary Sync")
            QVERIFY(QDir().mkpath(chosen.filePath(QStringLiteral("Diary Sync/Handwriting"))));
        QVERIFY(QFile::link(chosen.filePath(QStringLiteral("Outside")) +
                                chosen.filePath(linked).mid(chosen.filePath("Diary Sync").size()),
                            chosen.filePath(linked)));
        DiaryCloudSyncWatcher watcher;
        QSignalSpy watching(&watcher, &DiaryCloudSyncWatcher::watching);
        watcher.watch(chosen.filePath(QStringLiteral("Diary Sync")));
        QVERIFY(watching.wait(10000));
        QStringList paths = watching.first().first().toStringList();
        for (QString &path : paths)
            path = QDir(chosen.path()).relativeFilePath(path);
        QCOMPARE(paths, watched);
    }

    // A folder replaced by the tool loses its watch; watching again after a pass finds it.
    void watchingAgainFollowsAReplacedFolder() {
        QTemporaryDir chosen;
        const QString pages = chosen.filePath(QStringLiteral("Diary Sync/Pages"));
        QVERIFY(QDir().mkpath(pages));
        DiaryCloudSyncWatcher watcher;
        QSignalSpy watching(&watcher, &DiaryCloudSyncWatcher::watching);
        QSignalSpy changed(&watcher, &DiaryCloudSyncWatcher::changed);
        watcher.watch(chosen.filePath(QStringLiteral("Diary Sync")));
        QVERIFY(watching.wait(10000));
        QVERIFY(QDir(pages).removeRecursively());
        QVERIFY(QDir().mkdir(pages));
        QVERIFY(changed.wait(10000));
        watcher.watch(chosen.filePath(QStringLiteral("Diary Sync")));
        QVERIFY(watching.wait(10000));
        QVERIFY(watching.last().first().toStringList().contains(pages));
        changed.clear();
        writeFileAtomically(pages + QStringLiteral("/2024-03-05.json"), "{}");
        QVERIFY(test::waitUntil([&] { return !changed.isEmpty(); }));

        watcher.watch(QString());
        QVERIFY(watching.wait(10000));
        QVERIFY(watching.last().first().toStringList().isEmpty());
    }
};

VELMORA_TEST_MAIN(SyncWatcherTest)
#include "tst_syncwatcher.moc"

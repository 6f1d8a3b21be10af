#include "support/TestSupport.h"
#include "sync/DiaryCloudSync.h"
#include "sync/DiaryCloudSyncRoot.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;
using Choice = DiaryCloudSyncFolderChoice;

class SyncRootTest : public QObject {
    Q_OBJECT

private Q_SLOTS:

    // A folder that is, holds or lies in the diary's own folder would sync the diary into itself.
    void examinesThePickedFolder_data() {
        QTest::addColumn<QString>("picked");  // relative to a temporary folder
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::newRow("a folder beside the diary") << "Sync"
                                                   << "";
        QTest::newRow("the diary's folder") << "Diary"
                                            << "diary";
        QTest::newRow("inside the diary's folder") << "Diary/Handwriting"
                                                   << "diary";
        QTest::newRow("holding the diary's folder") << "."
                                                    << "diary";
        QTest::newRow("a link to the diary's folder") << "LinkToDiary"
                                                      << "diary";
        QTest::newRow("spelled with dots") << "Sync/../Diary"
                                           << "diary";
        QTest::newRow("a file") << "note.txt"
                                << "folder";
        QTest::newRow("nothing there") << "Gone"
                                       << "folder";
    }
    void examinesThePickedFolder() {
        QFETCH(QString, picked);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Diary/Handwriting")));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Sync")));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("Diary")),
                            dir.filePath(QStringLiteral("LinkToDiary"))));
        QFile note(dir.filePath(QStringLiteral("note.txt")));
        QVERIFY(note.open(QIODevice::WriteOnly));

        const auto result =
            Choice::examine(dir.filePath(picked), dir.filePath(QStringLiteral("Diary")));
        if (refusal.isEmpty()) {
            QVERIFY(std::holds_alternative<Choice::Choice>(result));
            const auto &choice = std::get<Choice::Choice>(result);
            QCOMPARE(choice.folder, QDir::cleanPath(dir.filePath(picked)));
            struct stat status {};
            QCOMPARE(::stat(QFile::encodeName(choice.folder).constData(), &status), 0);
            QCOMPARE(choice.device, std::optional<quint64>(status.st_dev));
        } else {
            QVERIFY(std::holds_alternative<Choice::Refusal>(result));
            QCOMPARE(std::get<Choice::Refusal>(result), refusal == u"diary"
                                                            ? Choice::Refusal::diaryFolder
                                                            : Choice::Refusal::notAFolder);
        }
    }

    // The root provider yields a root only for a usable folder on the device it was chosen on;
    // anything else means no sync this pass, never an empty sync folder.
    void yieldsARootOnlyForAUsableFolder_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("yields");
        QTest::newRow("usable") << "usable" << true;
        QTest::newRow("nothing chosen") << "none" << false;
        QTest::newRow("gone") << "gone" << false;
        QTest::newRow("a file now") << "file" << false;
        QTest::newRow("another device") << "device" << false;
        QTest::newRow("not writable") << "readonly" << false;
    }
    void yieldsARootOnlyForAUsableFolder() {
        QFETCH(QString, state);
        QFETCH(bool, yields);
        if (state == u"readonly" && ::geteuid() == 0)
            QSKIP("permissions do not bind the superuser");
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("Sync"));
        QVERIFY(QDir().mkdir(folder));
        auto defaults = UserDefaults::suite(QStringLiteral("Velmora.tests.syncroot.") +
                                            QTest::currentDataTag());
        auto choice = std::make_shared<Choice>(defaults);
        const auto provider = DiaryCloudSync::iCloudSyncRoot(choice);
        QCOMPARE(provider(), std::nullopt);
        if (state != u"none") {
            auto examined = std::get<Choice::Choice>(
                Choice::examine(folder, dir.filePath(QStringLiteral("Diary"))));
            if (state == u"device")
                examined.device = *examined.device + 1;
            choice->set(examined);
        }
        if (state == u"gone" || state == u"file")
            QVERIFY(QDir(folder).removeRecursively());
        if (state == u"file") {
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (state == u"readonly")
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QCOMPARE(provider(), yields ? std::optional<QString>(folder + QStringLiteral("/Diary Sync"))
                                    : std::nullopt);
        // The choice is kept under its two keys and read back by a new run.
        if (state != u"none") {
            QCOMPARE(defaults->stringValue(Choice::folderKey), folder);
            QCOMPARE(Choice(defaults).current(), choice->current());
        }
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    }

    void aTestRunsFolderStandsInForTheChosenOne() {
        QTemporaryDir dir;
        QCOMPARE(Choice::fixedFolderSyncRoot(dir.path())(),
                 std::optional<QString>(dir.path() + QStringLiteral("/Diary Sync")));
        QCOMPARE(Choice::fixedFolderSyncRoot(dir.filePath(QStringLiteral("missing")))(),
                 std::nullopt);
    }
};

VELMORA_TEST_MAIN(SyncRootTest)
#include "tst_syncroot.moc"

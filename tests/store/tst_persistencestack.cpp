#include "domain/PersistenceError.h"
#include "platform/FileSystemError.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryPersistenceStack.h"
#include "store/StoreFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

using namespace velmora;

namespace {

StoreModel durableModel() {
    return DiaryModelProvider::model(DiaryModelProvider::currentVersionName);
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class PersistenceStackTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void loadsTheCompiledModel() {
        const StoreModel model = durableModel();
        QCOMPARE(model.versionName, QStringLiteral("DurableV2"));
        QStringList names;
        for (const auto &entity : model.entities)
            names.append(entity.name);
        QCOMPARE(names, (QStringList{"DiaryEntry", "DiaryMetadata", "RecoveryRecord"}));
        QVERIFY(model.entity(u"DiaryEntry")->attribute(u"sealedAt")->isOptional);
        QCOMPARE(model.entity(u"DiaryEntry")->attributes.size(), 12);
        QCOMPARE(StoreModel::fromDescriptor(model.descriptor()), model);
        QVERIFY(model.versionHash() != DiaryModelProvider::legacyV1Model().versionHash());
    }

    void modelResourceFailures_data() {
        QTest::addColumn<bool>("withFolder");
        QTest::addColumn<QByteArray>("versionFile");
        QTest::addColumn<QString>("message");
        QTest::newRow("no resource")
            << false << QByteArray() << "The Core Data model resource VelmoraModel is missing.";
        QTest::newRow("no version file")
            << true << QByteArray() << "The Core Data model DurableV2 could not be read.";
        QTest::newRow("unreadable version file")
            << true << QByteArray("{\"versionName\": 3}")
            << "The Core Data model DurableV2 could not be read.";
    }

    void modelResourceFailures() {
        QFETCH(bool, withFolder);
        QFETCH(QByteArray, versionFile);
        QFETCH(QString, message);
        QTemporaryDir root;
        if (withFolder)
            QVERIFY(QDir(root.path()).mkpath("VelmoraModel.momd"));
        if (!versionFile.isEmpty())
            writeFile(root.filePath("VelmoraModel.momd/DurableV2.mom"), versionFile);
        try {
            DiaryModelProvider::model(QStringLiteral("DurableV2"), root.path());
            QFAIL("the model loaded");
        } catch (const DiaryModelProviderError &error) {
            QCOMPARE(error.message(), message);
        }
    }

    void createsAnEmptyStoreWithItsFolders() {
        QTemporaryDir dir;
        const QString url = dir.path() + "/a/b/../c/./Diary.sqlite";
        {
            DiaryPersistenceStack stack(url, durableModel());
            QCOMPARE(stack.storeURL(), dir.path() + "/a/c/Diary.sqlite");
            QVERIFY(QFile::exists(dir.path() + "/a/c/Diary.sqlite-wal"));
            QVERIFY(QFile::exists(dir.path() + "/a/c/Diary.sqlite-shm"));
        }
        const auto identity = readStoreIdentity(dir.path() + "/a/c/Diary.sqlite");
        QVERIFY(identity);
        QVERIFY(identity->matches(durableModel()));
        // Opening again keeps the store as it is.
        DiaryPersistenceStack again(url, durableModel());
        SqliteDatabase check(again.storeURL(), SqliteDatabase::OpenMode::readOnly);
        QCOMPARE(check.queryText("PRAGMA journal_mode"), QStringLiteral("wal"));
    }

    void refusesStoresItCannotOpen_data() {
        QTest::addColumn<std::function<void(const QString &)>>("plant");
        QTest::addColumn<QString>("text");
        QTest::newRow("older model")
            << std::function<void(const QString &)>([](const QString &path) {
                   SqliteDatabase database(path, SqliteDatabase::OpenMode::readWriteCreate);
                   createStoreSchema(database, DiaryModelProvider::legacyV1Model());
               })
            << "The store was written by model LegacyV1, not by model DurableV2.";
        QTest::newRow("someone else's database")
            << std::function<void(const QString &)>([](const QString &path) {
                   SqliteDatabase database(path, SqliteDatabase::OpenMode::readWriteCreate);
                   database.exec("CREATE TABLE notes (body TEXT)");
               })
            << "The file is not a diary store of model DurableV2.";
        QTest::newRow("not a database")
            << std::function<void(const QString &)>(
                   [](const QString &path) { writeFile(path, QByteArray(4096, 'x')); })
            << "file is not a database";
        // Names from the file, as the load-failure card quotes them: on one line, their words
        // turned no way.
        QTest::newRow("a model named with line breaks and an override")
            << std::function<void(const QString &)>([](const QString &path) {
                   SqliteDatabase database(path, SqliteDatabase::OpenMode::readWriteCreate);
                   createStoreSchema(database, DiaryModelProvider::legacyV1Model());
                   database.exec("UPDATE VelmoraStoreModel SET versionName = '" +
                                 QString(200, u'\n') + "\u202Eevil'");
               })
            << "The store was written by model " + QString("\\n").repeated(60) + "…" +
                   QString("\\n").repeated(55) + "\\u202Eevil, not by model DurableV2.";
        QTest::newRow("a table named with line breaks and an override")
            << std::function<void(const QString &)>([](const QString &path) {
                   SqliteDatabase database(path, SqliteDatabase::OpenMode::readWriteCreate);
                   database.exec("CREATE TABLE notes (body TEXT)");
                   database.exec("PRAGMA writable_schema = ON");
                   database.exec("UPDATE sqlite_master SET name = '\n\n\u202Eevil', sql = "
                                 "'CREATE TABLE garbage(' WHERE name = 'notes'");
               })
            << "malformed database schema (\\n\\n\\u202Eevil)";
    }

    void refusesStoresItCannotOpen() {
        QFETCH(std::function<void(const QString &)>, plant);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString path = dir.filePath("Diary.sqlite");
        plant(path);
        const QByteArray before = readFile(path);
        try {
            DiaryPersistenceStack stack(path, durableModel());
            QFAIL("the store opened");
        } catch (const PersistenceError &error) {
            QCOMPARE(error, PersistenceError::storeLoadFailed(text));
            // A launch that keeps this error shows the prefix once.
            const PersistenceError kept = storeLoadFailure(std::current_exception());
            QCOMPARE(kept, error);
            QCOMPARE(kept.message(), "The diary store could not be opened: " + text);
            QCOMPARE(test::unevenShownText(kept.message()), QString());
        }
        // A refused file is left exactly as it was, for the migration or the user to deal with.
        QCOMPARE(readFile(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Diary.sqlite"});
    }

    void aFolderThatCannotBeMadeFailsAsTheFileSystemSaid() {
        QTemporaryDir dir;
        writeFile(dir.filePath("blocker"), "x");
        QVERIFY_THROWS_EXCEPTION(
            FileSystemError,
            DiaryPersistenceStack(dir.filePath("blocker/Diary.sqlite"), durableModel()));
    }

    void otherLaunchFailuresBecomeOneStoreLoadFailed() {
        const auto kept = [](auto error) {
            return storeLoadFailure(std::make_exception_ptr(error));
        };
        QCOMPARE(kept(PersistenceError::migrationFailed("x")),
                 PersistenceError::storeLoadFailed("The diary could not be migrated: x"));
        QCOMPARE(kept(DiaryModelProviderError::resourceMissing("VelmoraModel")),
                 PersistenceError::storeLoadFailed(
                     "The Core Data model resource VelmoraModel is missing."));
    }

    void copiesAStoreWithItsIdentity() {
        QTemporaryDir dir;
        { DiaryPersistenceStack stack(dir.filePath("Diary.sqlite"), durableModel()); }
        copyStoreFile(dir.filePath("Diary.sqlite"), dir.filePath("Copy.sqlite"));
        QCOMPARE(readStoreIdentity(dir.filePath("Copy.sqlite")),
                 readStoreIdentity(dir.filePath("Diary.sqlite")));
        QCOMPARE(readStoreIdentity(dir.filePath("Copy.sqlite"))->versionName,
                 QStringLiteral("DurableV2"));
    }
};

VELMORA_TEST_MAIN(PersistenceStackTest)
#include "tst_persistencestack.moc"

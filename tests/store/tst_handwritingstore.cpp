#include "domain/PersistenceError.h"
#include "store/DiaryHandwritingStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace velmora;

namespace {

DayKey day(const char *text) {
    return *DayKey::fromRawValue(QString::fromLatin1(text));
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList listed(const DiaryHandwritingStore &store) {
    QStringList result;
    for (const auto &file : store.pageFiles())
        result.append(file.dayKey.rawValue() + QLatin1Char('#') + QString::number(file.leaf));
    return result;
}

} // namespace

class HandwritingStoreTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesOneOwnerOnlyFilePerLeaf() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        QCOMPARE(store.fileURL(day("2025-03-09"), 12),
                 dir.filePath("Handwriting/2025-03-09-12.drawing"));
        store.write("ink", day("2025-03-09"), 12);
        store.write("more ink", day("2025-03-09"), 12);
        const auto files = store.pageFiles();
        QCOMPARE(files.size(), 1);
        QCOMPARE(files.first().url, store.fileURL(day("2025-03-09"), 12));
        QCOMPARE(files.first().byteCount, 8);
        QVERIFY(files.first().modifiedAt.isValid());
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(files.first().url).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0600u);
    }

    void emptyBytesRemoveTheDrawing() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        store.write({}, day("2025-03-09"), 0);
        QVERIFY(!QFile::exists(store.directory()));
        store.write("ink", day("2025-03-09"), 0);
        store.write({}, day("2025-03-09"), 0);
        QVERIFY(!QFile::exists(store.fileURL(day("2025-03-09"), 0)));
        QCOMPARE(store.pageFiles().size(), 0);
        // A file where the folder should be: no drawing can exist there, so there is none to
        // remove either.
        writeFile(dir.filePath("NotAFolder"), "x");
        DiaryHandwritingStore(dir.filePath("NotAFolder")).write({}, day("2025-03-09"), 0);
    }

    void aNegativeLeafIsRefused() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        QVERIFY_THROWS_EXCEPTION(PersistenceError, store.write("ink", day("2025-03-09"), -1));
        QVERIFY_THROWS_EXCEPTION(PersistenceError, store.write({}, day("2025-03-09"), -1));
        QVERIFY(!QFile::exists(store.directory()));
    }

    void listingKeepsOnlyDrawings_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("listedAs");
        QTest::newRow("plain") << "2025-01-02-3.drawing" << QByteArray("x") << "2025-01-02#3";
        QTest::newRow("plus sign") << "2025-01-02-+3.drawing" << QByteArray("x") << "2025-01-02#3";
        QTest::newRow("leading zero")
            << "2025-01-02-03.drawing" << QByteArray("x") << "2025-01-02#3";
        QTest::newRow("other separator")
            << "2025-01-02_3.drawing" << QByteArray("x") << "2025-01-02#3";
        QTest::newRow("upper-case extension") << "2025-01-02-3.DRAWING" << QByteArray("x") << "";
        QTest::newRow("empty file") << "2025-01-02-3.drawing" << QByteArray() << "";
        QTest::newRow("negative leaf") << "2025-01-02--1.drawing" << QByteArray("x") << "";
        QTest::newRow("no leaf") << "2025-01-02-.drawing" << QByteArray("x") << "";
        QTest::newRow("leaf with a blank") << "2025-01-02- 3.drawing" << QByteArray("x") << "";
        QTest::newRow("leaf too large")
            << "2025-01-02-99999999999999999999.drawing" << QByteArray("x") << "";
        QTest::newRow("impossible day") << "2025-02-30-1.drawing" << QByteArray("x") << "";
        QTest::newRow("hidden") << ".2025-01-02-3.drawing" << QByteArray("x") << "";
        QTest::newRow("another extension") << "2025-01-02-3.png" << QByteArray("x") << "";
    }

    void listingKeepsOnlyDrawings() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, listedAs);
        QTemporaryDir dir;
        writeFile(dir.filePath(name), bytes);
        const DiaryHandwritingStore store(dir.path());
        QCOMPARE(listed(store), listedAs.isEmpty() ? QStringList{} : QStringList{listedAs});
    }

    void listingSkipsFoldersAndLinksAndSortsByDayThenLeaf() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.path());
        QVERIFY(QDir(dir.path()).mkdir("2025-01-05-1.drawing"));
        store.write("a", day("2025-01-02"), 10);
        store.write("b", day("2025-01-02"), 2);
        store.write("c", day("2024-12-31"), 0);
        QVERIFY(
            QFile::link(store.fileURL(day("2025-01-02"), 2), dir.filePath("2025-01-06-1.drawing")));
        QCOMPARE(listed(store), (QStringList{"2024-12-31#0", "2025-01-02#2", "2025-01-02#10"}));
        QCOMPARE(DiaryHandwritingStore(dir.filePath("absent")).pageFiles().size(), 0);
    }
};

VELMORA_TEST_MAIN(HandwritingStoreTest)
#include "tst_handwritingstore.moc"

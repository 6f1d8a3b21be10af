#include "platform/Sha256.h"
#include "recall/DiaryHandwritingIndex.h"
#include "recall/HandwritingRecognizer.h"
#include "support/GuiTestMain.h"
#include "support/InkDrawings.h"
#include "support/NestedJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTimeZone>

#include <atomic>

using namespace velmora;
using namespace velmora::test;
using Match = DiaryHandwritingIndex::Match;
using Page = DiaryHandwritingIndex::Page;

namespace {

DayKey day(const char *text) {
    return *DayKey::fromRawValue(QString::fromLatin1(text));
}

// Reads every image as the same words, counting how often it was asked: for tests about what
// the index stores and when, not about reading handwriting.
class FixedRecognizer final : public HandwritingRecognizer {
public:
    explicit FixedRecognizer(std::atomic<int> *count)
        : m_count(count) {}
    std::optional<QString> recognize(const QImage &) override {
        ++*m_count;
        return QStringLiteral("fixed words");
    }

private:
    std::atomic<int> *m_count;
};

// Reads each image only once the test lets it through.
class GatedRecognizer final : public HandwritingRecognizer {
public:
    GatedRecognizer(QSemaphore *gate, std::atomic<int> *entered)
        : m_gate(gate)
        , m_entered(entered) {}
    std::optional<QString> recognize(const QImage &) override {
        ++*m_entered;
        m_gate->acquire();
        return QStringLiteral("gated words");
    }

private:
    QSemaphore *m_gate;
    std::atomic<int> *m_entered;
};

DiaryHandwritingIndex::RecognizerFactory fixedWords(std::atomic<int> *count) {
    return [count] { return std::make_unique<FixedRecognizer>(count); };
}

QByteArray tick() {
    return handwrittenText({QStringLiteral("x")}).encode();
}

// Moves a file's modification time, as a touch would.
void setModified(const QString &path, const QDateTime &moment) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(moment, QFileDevice::FileModificationTime));
}

QByteArray indexFile(const QJsonObject &pages) {
    return QJsonDocument(pages).toJson(QJsonDocument::Compact);
}

QJsonObject page(const QString &text, const QString &fingerprint) {
    return QJsonObject{{QStringLiteral("text"), text},
                       {QStringLiteral("fingerprint"), fingerprint}};
}

} // namespace

class HandwritingIndexTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Real drawings through Tesseract, kept to two recognitions: words are read top line first
    // and found ignoring case and accents; a touched file is read again, an untouched one not;
    // shapes read as nothing.
    void recognisesHandwrittenWords() {
        QTemporaryDir dir;
        DiaryHandwritingStore store(dir.filePath("Handwriting"));
        store.write(
            handwrittenText({QStringLiteral("call the"), QStringLiteral("bakery")}).encode(),
            day("2024-05-17"), 0);
        // A whole second, which setting the time again restores exactly.
        const QString words = store.fileURL(day("2024-05-17"), 0);
        const QDateTime wordsTime = QDateTime::fromSecsSinceEpoch(1700000000, QTimeZone::utc());
        setModified(words, wordsTime);
        DiaryHandwritingIndex index(store);
        // Tesseract under the sanitizers on a shared machine can be slow.
        test::waitFor(index.refreshAll(), std::chrono::minutes(4));

        const auto pages = test::waitFor(index.pages());
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages.value("2024-05-17#0").text.toLower(), QStringLiteral("call the bakery"));
        QVERIFY(QFile::exists(index.fileURL()));

        const QList<Match> expected{Match{day("2024-05-17"), 0, pages.value("2024-05-17#0").text}};
        QCOMPARE(test::waitFor(index.search(QStringLiteral("  BAKÉRY\n"), 10)), expected);
        QCOMPARE(test::waitFor(index.search(QStringLiteral("Call"), 10)), expected);
        QVERIFY(test::waitFor(index.search(QStringLiteral("bakeries"), 10)).isEmpty());

        // Shapes padded to the size of the words and given their time: an index that read the
        // file would now find nothing; it must keep the words without reading.
        QByteArray replacement = drawnShapes().encode();
        const qint64 size = QFileInfo(words).size();
        QVERIFY(replacement.size() < size);
        replacement.append(QByteArray(size - replacement.size(), ' '));
        writeBytes(words, replacement);
        setModified(words, wordsTime);
        const auto before = test::waitFor(index.activity());
        test::waitFor(index.refreshAll());
        auto after = test::waitFor(index.activity());
        QCOMPARE(after.drawingsRead, before.drawingsRead);
        QCOMPARE(after.saves, before.saves);
        QCOMPARE(test::waitFor(index.search(QStringLiteral("bakery"), 10)), expected);

        // Touched: read and recognised again, and shapes read as nothing.
        setModified(words, wordsTime.addSecs(5));
        test::waitFor(index.refreshAll(), std::chrono::minutes(4));
        after = test::waitFor(index.activity());
        QCOMPARE(after.drawingsRead, before.drawingsRead + 1);
        QCOMPARE(after.recognitions, before.recognitions + 1);
        QVERIFY(test::waitFor(index.search(QStringLiteral("bakery"), 10)).isEmpty());
        QCOMPARE(test::waitFor(index.pages()).value("2024-05-17#0").text, QString());
    }

    // The file is the index's memory across runs; a corrupt one is rebuilt whole.
    void keepsItsFileAcrossRuns_data() {
        QTest::addColumn<QByteArray>("indexBytes");
        QTest::addColumn<int>("recognitions");
        QTest::newRow("no index file") << QByteArray() << 2;
        QTest::newRow("not JSON") << QByteArray("{\"2024-05-17#0\": {\"te") << 2;
        QTest::newRow("an array") << QByteArray("[]") << 2;
        QTest::newRow("a page without fingerprint")
            << indexFile({{"2024-05-17#0", QJsonObject{{"text", "old"}}}}) << 2;
        QTest::newRow("a fingerprint that is a number")
            << indexFile({{"2024-05-17#0", QJsonObject{{"text", "old"}, {"fingerprint", 7}}}}) << 2;
        // Never waited on.
        QTest::newRow("a pipe") << QByteArray("a pipe") << 2;
    }
    void keepsItsFileAcrossRuns() {
        QFETCH(QByteArray, indexBytes);
        QFETCH(int, recognitions);
        QTemporaryDir dir;
        DiaryHandwritingStore store(dir.filePath("Handwriting"));
        store.write(tick(), day("2024-05-17"), 0);
        store.write(tick(), day("2024-05-17"), 1);
        const QString indexPath = dir.filePath("Handwriting/handwriting-index.json");
        if (indexBytes == "a pipe")
            standAt(indexPath, QStringLiteral("a pipe"));
        else if (!indexBytes.isEmpty())
            writeBytes(indexPath, indexBytes);
        std::atomic<int> count = 0;
        {
            DiaryHandwritingIndex index(store, fixedWords(&count));
            test::waitFor(index.refreshAll());
            QCOMPARE(count.load(), recognitions);
        }
        const QJsonObject written =
            QJsonDocument::fromJson([&] {
                QFile file(indexPath);
                return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            }())
                .object();
        QCOMPARE(written.keys(), (QStringList{"2024-05-17#0", "2024-05-17#1"}));
        QCOMPARE(written.value("2024-05-17#0").toObject().value("text").toString(),
                 QStringLiteral("fixed words"));

        // The next run reads the file once and recognises nothing.
        DiaryHandwritingIndex again(store, fixedWords(&count));
        test::waitFor(again.refreshAll());
        QCOMPARE(count.load(), recognitions);
        QCOMPARE(test::waitFor(again.activity()).saves, 0);
        QCOMPARE(test::waitFor(again.search("WORDS", 5)).size(), 2);
    }

    // A page's members it does not know are passed over, unless they nest past the limit.
    void readsIndexFilesNestedUpToTheLimit_data() {
        QTest::addColumn<QByteArray>("indexBytes");
        QTest::addColumn<bool>("readable");
        for (const NestingDepth &nesting : nestingDepths) {
            QTest::newRow(nesting.name)
                << "{\"2024-05-17#0\":" +
                       withNestedMember(indexFile(page("words", "12-34")), nesting.depth - 1) + "}"
                << nesting.readable;
        }
    }
    void readsIndexFilesNestedUpToTheLimit() {
        QFETCH(QByteArray, indexBytes);
        QFETCH(bool, readable);
        const auto pages = DiaryHandwritingIndex::decodeIndexFile(indexBytes);
        QCOMPARE(pages.has_value(), readable);
        if (pages)
            QCOMPARE(pages->value("2024-05-17#0").text, QStringLiteral("words"));
    }

    void acceptsAnOlderFingerprintOnce() {
        QTemporaryDir dir;
        DiaryHandwritingStore store(dir.filePath("Handwriting"));
        const QByteArray bytes = tick();
        store.write(bytes, day("2024-05-17"), 0);
        store.write(bytes, day("2024-05-17"), 1);
        writeBytes(store.directory() + "/handwriting-index.json",
                   indexFile({{"2024-05-17#0", page("kept words", sha256Hex(bytes))},
                              {"2024-05-17#1", page("stale", sha256Hex("other bytes"))}}));
        std::atomic<int> count = 0;
        DiaryHandwritingIndex index(store, fixedWords(&count));
        test::waitFor(index.refreshAll());
        QCOMPARE(count.load(), 1);
        const auto pages = test::waitFor(index.pages());
        const auto file = index.pageFile(day("2024-05-17"), 0);
        QVERIFY(file);
        QCOMPARE(pages.value("2024-05-17#0"),
                 (Page{"kept words", DiaryHandwritingIndex::pageFingerprint(*file)}));
        QCOMPARE(pages.value("2024-05-17#1").text, QStringLiteral("fixed words"));
    }

    void savesEveryTwentyFiveChangesAndAtTheEnd_data() {
        QTest::addColumn<int>("drawings");
        QTest::addColumn<int>("saves");
        QTest::newRow("empty folder") << 0 << 0;
        QTest::newRow("one") << 1 << 1;
        QTest::newRow("twenty-five") << 25 << 1;
        QTest::newRow("twenty-six") << 26 << 2;
    }
    void savesEveryTwentyFiveChangesAndAtTheEnd() {
        QFETCH(int, drawings);
        QFETCH(int, saves);
        QTemporaryDir dir;
        DiaryHandwritingStore store(dir.filePath("Handwriting"));
        const QByteArray bytes = tick();
        for (int leaf = 0; leaf < drawings; ++leaf)
            store.write(bytes, day("2024-05-17"), leaf);
        std::atomic<int> count = 0;
        DiaryHandwritingIndex index(store, fixedWords(&count));
        test::waitFor(index.refreshAll());
        QCOMPARE(test::waitFor(index.activity()).saves, saves);
        QCOMPARE(QFile::exists(index.fileURL()), drawings > 0);
        QCOMPARE(test::waitFor(index.pages()).size(), drawings);

        // A deleted drawing leaves the index, and that alone is worth a save.
        if (drawings > 0) {
            store.write({}, day("2024-05-17"), 0);
            test::waitFor(index.refreshAll());
            QCOMPARE(test::waitFor(index.activity()).saves, saves + 1);
            QCOMPARE(test::waitFor(index.pages()).size(), drawings - 1);
        }
    }

    // A search asked during a long refresh waits for the leaf being recognised, not for the
    // whole refresh.
    void searchWaitsForOneRecognitionAtMost() {
        QTemporaryDir dir;
        DiaryHandwritingStore store(dir.filePath("Handwriting"));
        for (int leaf = 0; leaf < 3; ++leaf)
            store.write(tick(), day("2024-05-17"), leaf);
        QSemaphore gate;
        std::atomic<int> entered = 0;
        auto index = std::make_unique<DiaryHandwritingIndex>(
            store, [&] { return std::make_unique<GatedRecognizer>(&gate, &entered); });
        auto refreshing = index->refreshAll();
        QVERIFY(waitUntil([&] { return entered == 1; }));
        auto searching = index->search("words", 10);
        gate.release();
        QCOMPARE(test::waitFor(std::move(searching)).size(), 1);
        QVERIFY(entered <= 2);
        gate.release(2);
        test::waitFor(std::move(refreshing));
        QCOMPARE(entered.load(), 3);
    }

    void refreshesListedLeaves() {
        QTemporaryDir dir;
        DiaryHandwritingStore store(dir.filePath("Handwriting"));
        std::atomic<int> count = 0;
        DiaryHandwritingIndex index(store, fixedWords(&count));
        test::waitFor(index.refresh({}));
        test::waitFor(index.refresh({{day("2024-05-17"), 0}}));
        QCOMPARE(test::waitFor(index.activity()).saves, 0);
        QVERIFY(!QFile::exists(index.fileURL()));

        store.write(tick(), day("2024-05-17"), 0);
        store.write(tick(), day("2024-05-17"), 1);
        test::waitFor(index.refresh({{day("2024-05-17"), 0}, {day("2024-05-17"), 1}}));
        QCOMPARE(test::waitFor(index.pages()).size(), 2);
        QCOMPARE(test::waitFor(index.activity()).saves, 2);

        // Deleted, and emptied in place: both leave the index, and the file follows.
        store.write({}, day("2024-05-17"), 0);
        writeBytes(store.fileURL(day("2024-05-17"), 1), {});
        test::waitFor(index.refresh({{day("2024-05-17"), 0}, {day("2024-05-17"), 1}}));
        QVERIFY(test::waitFor(index.pages()).isEmpty());
        QCOMPARE(test::waitFor(index.activity()).saves, 4);
        QFile file(index.fileURL());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("{}"));
    }

    // What search finds in a given index file, without recognising anything.
    void searchesTheRecognisedText_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("hits");
        QTest::newRow("accents and case")
            << " Cafe " << 10 << QStringList{"2024-06-01#0", "2024-05-17#2"};
        QTest::newRow("newest day first, leaves in order, limited")
            << "tea" << 2 << QStringList{"2024-06-02#0", "2024-06-02#1"};
        QTest::newRow("blank query") << " \n" << 10 << QStringList{};
        QTest::newRow("no limit") << "tea" << 0 << QStringList{};
        QTest::newRow("keys and fingerprints are not searched") << "2024" << 10 << QStringList{};
        QTest::newRow("malformed keys never hit, empty pieces dropped")
            << "odd" << 10 << QStringList{"2024-07-01#3", "2024-07-01#4"};
    }
    void searchesTheRecognisedText() {
        QFETCH(QString, query);
        QFETCH(int, limit);
        QFETCH(QStringList, hits);
        QTemporaryDir dir;
        DiaryHandwritingStore store(dir.filePath("Handwriting"));
        QDir().mkpath(store.directory());
        writeBytes(store.directory() + "/handwriting-index.json",
                   indexFile({{"2024-05-17#2", page("a CAFÉ by the sea", "1-2.0")},
                              {"2024-06-01#0", page("café au lait", "1-2.0")},
                              {"2024-06-02#1", page("tea", "1-2.0")},
                              {"2024-06-02#0", page("more tea", "1-2.0")},
                              {"2024-05-01#0", page("tea long ago", "1-2.0")},
                              {"2024-07-01#3", page("odd", "2024")},
                              {"2024-07-01##4", page("odd", "x")},
                              {"2024-07-01", page("odd", "x")},
                              {"2024-07-01#1#2", page("odd", "x")},
                              {"2024-13-01#0", page("odd", "x")},
                              {"2024-07-01#x", page("odd", "x")}}));
        DiaryHandwritingIndex index(store);
        QStringList found;
        for (const Match &match : test::waitFor(index.search(query, limit)))
            found.append(DiaryHandwritingIndex::pageKey(match.dayKey, match.leaf));
        QCOMPARE(found, hits);
    }

    // Hostile drawing files beside a good one: each is left out or indexed as blank, and the
    // good leaf is indexed as always.
    void survivesHostileDrawings() {
        QTemporaryDir dir;
        DiaryHandwritingStore store(dir.filePath("Handwriting"));
        store.write(tick(), day("2024-01-01"), 0);
        const QDir data(QFINDTESTDATA("../data/drawings"));
        const auto files = data.entryInfoList({"*.drawing"}, QDir::Files, QDir::Name);
        QVERIFY(!files.isEmpty());
        const QStringList blank{"no-strokes", "stroke-without-samples", "widest-legal-ink",
                                "unknown-members"};
        QStringList expected{"2024-01-01#0"};
        for (int leaf = 0; leaf < files.size(); ++leaf) {
            QVERIFY(QFile::copy(files.at(leaf).filePath(), store.fileURL(day("2024-02-01"), leaf)));
            if (blank.contains(files.at(leaf).baseName()))
                expected.append(QStringLiteral("2024-02-01#%1").arg(leaf));
        }
        std::atomic<int> count = 0;
        DiaryHandwritingIndex index(store, fixedWords(&count));
        test::waitFor(index.refreshAll());
        const auto pages = test::waitFor(index.pages());
        QStringList keys = pages.keys();
        keys.sort();
        expected.sort();
        QCOMPARE(keys, expected);
        QCOMPARE(pages.value("2024-01-01#0").text, QStringLiteral("fixed words"));
    }

    // However far apart the strokes, the image for recognition stays within 8,192 pixels a
    // side; a drawing of normal size is drawn at three pixels per point.
    void boundsTheRecognitionImage_data() {
        QTest::addColumn<InkDrawing>("drawing");
        QTest::addColumn<QSize>("size");
        QTest::newRow("a leaf") << InkDrawing({inkLine({{20, 20}, {120, 60}}, 2)})
                                << QSize(3 * 134, 3 * 74);
        QTest::newRow("far apart")
            << InkDrawing({inkLine({{-100000, 0}, {100000, 5}}, 2)}) << QSize(8192, 2);
    }
    void boundsTheRecognitionImage() {
        QFETCH(InkDrawing, drawing);
        QFETCH(QSize, size);
        const auto image = DiaryHandwritingIndex::recognitionImage(drawing);
        QVERIFY(image);
        QCOMPARE(image->size(), size);
        QVERIFY(!DiaryHandwritingIndex::recognitionImage(InkDrawing()));
    }

    void fingerprintsSizeAndSecondsSince2001() {
        DiaryHandwritingStore::PageFile file;
        file.byteCount = 1234;
        file.modifiedAt = QDateTime::fromSecsSinceEpoch(978307200 + 730000000, QTimeZone::utc());
        QCOMPARE(DiaryHandwritingIndex::pageFingerprint(file), QStringLiteral("1234-730000000.0"));
        file.modifiedAt = file.modifiedAt.addMSecs(250);
        QCOMPARE(DiaryHandwritingIndex::pageFingerprint(file), QStringLiteral("1234-730000000.25"));
        file.modifiedAt = {};
        QCOMPARE(DiaryHandwritingIndex::pageFingerprint(file),
                 QStringLiteral("1234--63114076800.0"));
    }
};

Q_DECLARE_METATYPE(velmora::InkDrawing)

VELMORA_GUI_TEST_MAIN(HandwritingIndexTest)
#include "tst_handwritingindex.moc"

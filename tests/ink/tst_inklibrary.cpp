#include "ink/MacInkLibrary.h"
#include "support/GuiTestMain.h"
#include "support/InkDrawings.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

DayKey day(const char *text) {
    return *DayKey::fromRawValue(QString::fromLatin1(text));
}

void setModified(const QString &path, const QDateTime &moment) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(moment, QFileDevice::FileModificationTime));
}

QDateTime modified(const QString &path) {
    return QFileInfo(path).fileTime(QFileDevice::FileModificationTime);
}

// A stroke along y = 50, 2 points wide, from x = 10 to `right`.
QByteArray lineTo(double right) {
    return InkDrawing({inkLine({{10, 50}, {right, 50}}, 2)}).encode();
}

std::optional<QImage> image(MacInkLibrary &library, const DayKey &dayKey, qint64 leaf,
                            double lineHeight = 40) {
    return test::waitFor(library.image(dayKey, leaf, lineHeight, MacInkLibrary::pageWidth));
}

int rightmostInkedColumn(const QImage &image) {
    for (int x = image.width() - 1; x >= 0; --x)
        for (int y = 0; y < image.height(); ++y)
            if (qAlpha(image.pixel(x, y)) > 0)
                return x;
    return -1;
}

} // namespace

class InkLibraryTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void linesAreAtLeastFortyPointsApart() {
        QCOMPARE(MacInkLibrary::lineHeight(16), 40.0);
        QCOMPARE(MacInkLibrary::lineHeight(24), 40.0);
        QCOMPARE(MacInkLibrary::lineHeight(30), 48.0);
        QCOMPARE(MacInkLibrary::cacheKey(day("2024-05-17"), 3, "12-34", 40, 696),
                 QStringLiteral("2024-05-17#3#12-34#40.0#696.0"));
    }

    void drawsEachSizeOnce() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        MacInkLibrary library(store);
        QVERIFY(!image(library, day("2024-05-17"), 0));
        QVERIFY(library.blank().isEmpty());

        store.write(lineTo(100), day("2024-05-17"), 0);
        const auto atForty = image(library, day("2024-05-17"), 0, 40);
        const auto atSixty = image(library, day("2024-05-17"), 0, 60);
        QVERIFY(atForty && atSixty);
        QCOMPARE(library.cache().size(), 2);
        // The drawing keeps its size at 40 and grows with the line height; the image reaches
        // two points below its lowest ink, at two pixels per point.
        QCOMPARE(atForty->size(), QSize(1392, 2 * 47));
        QCOMPARE(atSixty->size(), QSize(1392, 2 * 70));
        QCOMPARE(atForty->devicePixelRatio(), 2.0);
        QCOMPARE(image(library, day("2024-05-17"), 0, 40)->cacheKey(), atForty->cacheKey());
        QCOMPARE(library.cache().size(), 2);

        // A touched file is a new version: drawn again.
        const QString path = store.fileURL(day("2024-05-17"), 0);
        setModified(path, modified(path).addSecs(3));
        QVERIFY(image(library, day("2024-05-17"), 0, 40)->cacheKey() != atForty->cacheKey());
        QCOMPARE(library.cache().size(), 3);
    }

    void shrinksWideInkToTheWidth() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        store.write(lineTo(1000), day("2024-05-17"), 0);
        MacInkLibrary library(store);
        const auto drawn = image(library, day("2024-05-17"), 0);
        QVERIFY(drawn);
        QCOMPARE(drawn->width(), 1392);
        QVERIFY(rightmostInkedColumn(*drawn) >= 1390);
    }

    void remembersBlankLeavesUntilTheyChange() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        // Blank padding after the JSON keeps both versions the same size.
        const auto padded = [](QByteArray bytes) { return bytes.leftJustified(400, ' '); };
        store.write(padded(InkDrawing().encode()), day("2024-05-17"), 0);
        // A whole second, which setting the time again restores exactly.
        const QString path = store.fileURL(day("2024-05-17"), 0);
        const QDateTime time = QDateTime::fromSecsSinceEpoch(1700000000, QTimeZone::utc());
        setModified(path, time);
        MacInkLibrary library(store);
        QVERIFY(!image(library, day("2024-05-17"), 0));
        QCOMPARE(library.blank().size(), 1);

        // Ink of the same size and time is not looked at: the leaf is known to be blank.
        writeBytes(path, padded(lineTo(100)));
        setModified(path, time);
        QVERIFY(!image(library, day("2024-05-17"), 0));

        setModified(path, time.addSecs(3));
        QVERIFY(image(library, day("2024-05-17"), 0));
        QCOMPARE(library.blank().size(), 1);
    }

    void keepsAtMostTwentyFiveImages() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        MacInkLibrary library(store);
        for (int leaf = 0; leaf < 26; ++leaf) {
            store.write(lineTo(100 + leaf), day("2024-05-17"), leaf);
            QVERIFY(image(library, day("2024-05-17"), leaf));
            QCOMPARE(library.cache().size(), leaf < 25 ? leaf + 1 : 1);
        }
    }

    // Destroyed while requests run, the library ends them before it goes: none is left waiting
    // for an event loop that may never turn again (the leak checker would find its state at
    // exit), and each gives no image.
    void endsRunningRequestsWhenDestroyed_data() {
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("ahead");
        QTest::addColumn<bool>("drawnBefore");
        QTest::newRow("one request") << 1 << false << false;
        QTest::newRow("requests queued behind it") << 4 << false << false;
        QTest::newRow("fetching ahead") << 2 << true << false;
        QTest::newRow("a drawing already cached") << 1 << false << true;
    }

    void endsRunningRequestsWhenDestroyed() {
        QFETCH(int, requests);
        QFETCH(bool, ahead);
        QFETCH(bool, drawnBefore);
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        for (int leaf = 0; leaf < requests; ++leaf)
            store.write(lineTo(100 + leaf), day("2024-05-17"), leaf);
        auto library = std::make_unique<MacInkLibrary>(store);
        if (drawnBefore)
            QVERIFY(image(*library, day("2024-05-17"), 0));
        const auto urgency = ahead ? MacInkLibrary::Urgency::ahead : MacInkLibrary::Urgency::shown;
        std::vector<QCoro::Task<std::optional<QImage>>> running;
        for (int leaf = 0; leaf < requests; ++leaf)
            running.push_back(
                library->image(day("2024-05-17"), leaf, 40, MacInkLibrary::pageWidth, urgency));
        {
            // One whose task nobody keeps.
            auto dropped = library->image(day("2024-05-17"), 0, 60, MacInkLibrary::pageWidth);
        }
        library.reset();
        for (auto &task : running) {
            QVERIFY(task.isReady());
            QVERIFY(!test::waitFor(std::move(task)));
        }
    }

    // A file far beyond any drawing's size is refused after reading a bounded part of it.
    void showsNothingForAHugeFile() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        store.write(lineTo(100), day("2024-05-17"), 0);
        QFile file(store.fileURL(day("2024-05-17"), 0));
        QVERIFY(file.resize(qint64(1) << 32)); // sparse: no disk is used
        MacInkLibrary library(store);
        QVERIFY(!image(library, day("2024-05-17"), 0));
        QCOMPARE(library.blank().size(), 1);
    }
};

VELMORA_GUI_TEST_MAIN(InkLibraryTest)
#include "tst_inklibrary.moc"

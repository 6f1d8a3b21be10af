#include "ink/InkDrawing.h"
#include "ink/InkRenderer.h"
#include "ink/MacInkLibrary.h"
#include "support/GuiTestMain.h"
#include "support/InkDrawings.h"
#include "support/NestedJson.h"

#include <QDir>
#include <QPainter>
#include <QTemporaryDir>

using namespace velmora;
using namespace velmora::test;

namespace {

const QByteArray prefix = R"({"format":"velmora-drawing","version":1,"strokes":)";

QByteArray manyPoints(qsizetype count) {
    QByteArray bytes = prefix + R"([{"color":"#000000FF","width":1,"points":[)";
    bytes.reserve(bytes.size() + count * 8 + 8);
    for (qsizetype i = 0; i < count; ++i)
        bytes.append(i == 0 ? "[0,0,1]" : ",[0,0,1]");
    return bytes + "]}]}";
}

QByteArray manyStrokes(qsizetype count) {
    QByteArray bytes = prefix + "[";
    for (qsizetype i = 0; i < count; ++i)
        bytes.append(i == 0 ? "" : ",").append(R"({"color":"#000000FF","width":1,"points":[]})");
    return bytes + "]}";
}

bool isInked(const QImage &image, int x, int y) {
    return qGray(image.pixel(x, y)) < 128;
}

} // namespace

class InkDrawingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every file in the table is either refused by the decoder or decodes to what it holds;
    // none of them crashes, and a refused one shows no ink.
    void readsOrRefusesDrawingFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("strokes"); // -1: refused

        const QDir folder(QFINDTESTDATA("../data/drawings"));
        QVERIFY(folder.exists());
        const QHash<QString, int> decoded{{"no-strokes", 0},
                                          {"stroke-without-samples", 1},
                                          {"widest-legal-ink", 1},
                                          {"unknown-members", 1}};
        const auto files = folder.entryInfoList({"*.drawing"}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 25);
        for (const QFileInfo &info : files) {
            QFile file(info.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QTest::newRow(qPrintable(info.baseName()))
                << file.readAll() << decoded.value(info.baseName(), -1);
        }
        QTest::newRow("empty file") << QByteArray() << -1;
        QTest::newRow("a million and one points") << manyPoints(1000001) << -1;
        QTest::newRow("ten thousand strokes") << manyStrokes(10000) << 10000;
        QTest::newRow("ten thousand and one strokes") << manyStrokes(10001) << -1;
        QByteArray oversized = prefix + "[]}";
        oversized.append(QByteArray(InkDrawing::maximumFileSize - oversized.size() + 1, ' '));
        QTest::newRow("over 64 MiB") << oversized << -1;
        for (const NestingDepth &nesting : nestingDepths) {
            QTest::addRow("an unknown member %s", nesting.name)
                << withNestedMember(manyStrokes(1), nesting.depth) << (nesting.readable ? 1 : -1);
        }
    }
    void readsOrRefusesDrawingFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, strokes);
        QString why;
        const auto drawing = InkDrawing::decode(bytes, &why);
        QCOMPARE(drawing ? int(drawing->strokeCount()) : -1, strokes);
        QCOMPARE(why.isEmpty(), drawing.has_value());
        if (bytes.size() > 1000000)
            return; // the generated files only test the limits, and decoding them is slow
        const auto image = MacInkLibrary::render(bytes, 40, MacInkLibrary::pageWidth);
        if (strokes <= 0)
            QVERIFY(!image);
        if (image) {
            QVERIFY(image->width() <= maximumInkImageSide);
            QVERIFY(image->height() <= maximumInkImageSide);
        }
    }

    // A drawing file is read as the diary's other files are: neither a link at its name nor a
    // pipe is read, and a pipe is never waited on.
    void readsOnlyTheDrawingFileItself_data() {
        QTest::addColumn<QString>("standing");
        QTest::addColumn<bool>("read");
        QTest::newRow("a file") << "a file" << true;
        QTest::newRow("a link to a drawing elsewhere") << "a link" << false;
        QTest::newRow("a pipe") << "a pipe" << false;
    }
    void readsOnlyTheDrawingFileItself() {
        QFETCH(QString, standing);
        QFETCH(bool, read);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("2024-05-17-0.drawing"));
        const QByteArray bytes = manyStrokes(1);
        standAt(path, standing, bytes);
        std::optional<QByteArray> got;
        QVERIFY(endsWithoutWaiting(path, [&] { got = InkDrawing::readFile(path); }));
        QCOMPARE(got, read ? std::optional(bytes) : std::nullopt);
    }

    void writesWhatItReads() {
        const InkDrawing drawing(
            {inkLine({{1.5, 2.25}, {3, 4}}, 2.5, 0.75, QColor(1, 2, 3, 4)), inkLine({}, 100)});
        const auto decoded = InkDrawing::decode(drawing.encode());
        QVERIFY(decoded);
        QCOMPARE(*decoded, drawing);
        QVERIFY(drawing.encode().contains("\"#01020304\""));
    }

    void measuresAndMovesInk() {
        // Half the drawn width around each point: 2 × 1 and 2 × 3 wide.
        const InkDrawing drawing({inkLine({{10, 20}, {30, 40}}, 2, 1), inkLine({{50, 0}}, 2, 3)});
        QCOMPARE(drawing.bounds(), QRectF(QPointF(9, -3), QPointF(53, 41)));
        QVERIFY(InkDrawing().bounds().isNull());

        // Up by 6 units, then scaled by 1.5: (x, y) goes to (1.5x, 1.5(y − 6)).
        const InkDrawing moved =
            drawing.transformed(QTransform::fromScale(1.5, 1.5).translate(0, -6));
        QCOMPARE(moved.strokes().first().points.first(), (InkPoint{15, 21, 1}));
        QCOMPARE(moved.strokes().first().width, 3.0);
    }

    // Round caps past the ends, and width times force across the stroke.
    void drawsRoundCapsWidthTimesForce() {
        const InkDrawing drawing({inkLine({{20, 20}, {60, 20}}, 8, 1, Qt::black),
                                  inkLine({{20, 60}, {60, 60}}, 4, 2, Qt::black),
                                  inkLine({{20, 90}, {60, 90}}, 8, 0, Qt::black)});
        const auto image = renderInkImage(drawing, QRectF(0, 0, 100, 100), 1, Qt::white);
        QVERIFY(image);
        QCOMPARE(image->size(), QSize(100, 100));
        QVERIFY(isInked(*image, 17, 20)); // the cap, 3 points before the first sample
        QVERIFY(!isInked(*image, 20, 17 - 3));
        QVERIFY(isInked(*image, 40, 63)); // half of 4 × 2 below the line
        QVERIFY(!isInked(*image, 40, 66));
        QVERIFY(!isInked(*image, 40, 90)); // no force, no ink
    }

    void neverMakesAGiantBitmap() {
        const InkDrawing drawing({inkLine({{0, 0}, {100000, 10}}, 1)});
        const auto image = renderInkImage(drawing, QRectF(0, 0, 100000, 10), 3, Qt::white);
        QVERIFY(image);
        QCOMPARE(image->width(), maximumInkImageSide);
        QVERIFY(image->height() >= 1);
        QCOMPARE(image->deviceIndependentSize().width(), 100000.0);
        QVERIFY(!renderInkImage(drawing, QRectF(0, 0, 0, 10), 3, Qt::white));
        QVERIFY(!renderInkImage(drawing, QRectF(0, 0, qInf(), 10), 3, Qt::white));
    }
};

VELMORA_GUI_TEST_MAIN(InkDrawingTest)
#include "tst_inkdrawing.moc"

#include "book/MacTextures.h"
#include "support/GuiTestMain.h"

#include <QPainter>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <limits>
#include <thread>

using namespace velmora;

namespace {

// Counting marks needs no pixels: a painter on a tiny image clips them all.
template <typename Draw> auto countsOf(Draw draw, double w, double h) {
    QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    return draw(painter, w, h);
}

QImage drawOnce(const QSize &points, bool leather) {
    QImage image(points * 2, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(2, 2);
    if (leather)
        drawLeatherTexture(painter, points.width(), points.height());
    else
        drawPaperTexture(painter, points.width(), points.height());
    return image;
}

} // namespace

class MacTexturesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { clearTextureCache(); }

    void generator() {
        TextureRandom random(TextureRandom::paperSeed);
        const quint64 seed = TextureRandom::paperSeed;
        const quint64 first = seed * 6364136223846793005ull + 1442695040888963407ull;
        QCOMPARE(random.next(), double((first >> 33) & 0xFFFFFF) / 16777215.0);
        QCOMPARE(random.state(), first);
        // Wrapping arithmetic, never a trap: many draws stay within [0, 1].
        for (int i = 0; i < 10000; ++i) {
            const double u = random.next(2, 5);
            QVERIFY(u >= 2 && u <= 5);
        }
    }

    void markCounts_data() {
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<PaperTextureCounts>("paper");
        QTest::addColumn<LeatherTextureCounts>("leather");
        QTest::newRow("book") << QSizeF(780, 1024) << PaperTextureCounts{40, 887, 49920, 363, 49}
                              << LeatherTextureCounts{28, 30720, 1901, 9};
        QTest::newRow("binding strip") << QSizeF(12, 1024) << PaperTextureCounts{40, 13, 768, 5, 0}
                                       << LeatherTextureCounts{28, 472, 29, 9};
        QTest::newRow("very large")
            << QSizeF(4000, 4000) << PaperTextureCounts{40, 1600, 100000, 700, 80}
            << LeatherTextureCounts{28, 90000, 9000, 9};
    }

    void markCounts() {
        QFETCH(QSizeF, size);
        QFETCH(PaperTextureCounts, paper);
        QFETCH(LeatherTextureCounts, leather);
        const PaperTextureCounts drawnPaper =
            countsOf([](QPainter &p, double w, double h) { return drawPaperTexture(p, w, h); },
                     size.width(), size.height());
        const LeatherTextureCounts drawnLeather =
            countsOf([](QPainter &p, double w, double h) { return drawLeatherTexture(p, w, h); },
                     size.width(), size.height());
        QVERIFY(drawnPaper == paper);
        QVERIFY(drawnLeather == leather);
    }

    void pointSizes_data() {
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<QSize>("points");
        constexpr double nan = std::numeric_limits<double>::quiet_NaN();
        constexpr double infinity = std::numeric_limits<double>::infinity();
        QTest::newRow("zero") << QSizeF(0, 0) << QSize(1, 1);
        QTest::newRow("fractions round up") << QSizeF(779.2, 1023.1) << QSize(780, 1024);
        QTest::newRow("negative") << QSizeF(-20, 5) << QSize(1, 5);
        QTest::newRow("not a number") << QSizeF(nan, 12) << QSize(1, 12);
        QTest::newRow("infinite") << QSizeF(infinity, -infinity) << QSize(1, 1);
    }

    void pointSizes() {
        QFETCH(QSizeF, size);
        QFETCH(QSize, points);
        QCOMPARE(texturePointSize(size), points);
        const QImage image = paperTextureImage(size);
        QCOMPARE(image.size(), points * 2);
        QCOMPARE(image.devicePixelRatio(), 2.0);
        QCOMPARE(
            textureCacheKeys(),
            QStringList{QStringLiteral("paper-%1x%2").arg(points.width()).arg(points.height())});
    }

    // A plain screen gets a texture of one pixel a point; a denser one, or a magnifying painter,
    // gets the next quarter step, up to two.
    void texturesFollowThePaintersResolution_data() {
        QTest::addColumn<double>("deviceRatio");
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("pixelRatio");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QSize>("pixels");
        QTest::newRow("plain screen") << 1.0 << 1.0 << 1.0 << "paper-40x30@1x" << QSize(40, 30);
        QTest::newRow("dense screen") << 2.0 << 1.0 << 2.0 << "paper-40x30" << QSize(80, 60);
        QTest::newRow("plain screen, magnified")
            << 1.0 << 1.5 << 1.5 << "paper-40x30@1.5x" << QSize(60, 45);
        QTest::newRow("plain screen, a little magnified")
            << 1.0 << 1.1 << 1.25 << "paper-40x30@1.25x" << QSize(50, 38);
        QTest::newRow("plain screen, a hair over a step")
            << 1.0 << 1.505 << 1.5 << "paper-40x30@1.5x" << QSize(60, 45);
        QTest::newRow("plain screen, reduced")
            << 1.0 << 0.5 << 1.0 << "paper-40x30@1x" << QSize(40, 30);
        QTest::newRow("fractional screen")
            << 1.25 << 1.0 << 1.25 << "paper-40x30@1.25x" << QSize(50, 38);
        QTest::newRow("dense screen, magnified")
            << 2.0 << 1.5 << 2.0 << "paper-40x30" << QSize(80, 60);
    }

    void texturesFollowThePaintersResolution() {
        QFETCH(double, deviceRatio);
        QFETCH(double, scale);
        QFETCH(double, pixelRatio);
        QFETCH(QString, key);
        QFETCH(QSize, pixels);
        QImage target(QSize(100, 80) * deviceRatio, QImage::Format_ARGB32_Premultiplied);
        target.setDevicePixelRatio(deviceRatio);
        QPainter painter(&target);
        painter.scale(scale, scale);
        QCOMPARE(texturePixelRatio(painter), pixelRatio);
        paintPaperTexture(painter, QRectF(0, 0, 40, 30));
        QCOMPARE(textureCacheKeys(), QStringList{key});
        const QImage texture = paperTextureImage(QSizeF(40, 30), pixelRatio);
        QCOMPARE(texture.size(), pixels);
        QCOMPARE(texture.devicePixelRatio(), pixelRatio);
    }

    // A window shows a texture at one ratio at a time; moved to another screen or resized
    // across a step, the texture drawn before is let go.
    void theCacheKeepsOneRatioOfATexture() {
        paperTextureImage(QSizeF(40, 30), 1);
        paperTextureImage(QSizeF(40, 30), 1.25);
        leatherTextureImage(QSizeF(40, 30), 1);
        QCOMPARE(textureCacheKeys().size(), 2);
        QVERIFY(textureCacheKeys().contains(QStringLiteral("paper-40x30@1.25x")));
        paperTextureImage(QSizeF(40, 30), 2);
        QCOMPARE(textureCacheKeys().size(), 2);
        QVERIFY(textureCacheKeys().contains(QStringLiteral("paper-40x30")));
        releaseTexture(QStringLiteral("paper"), QSizeF(40, 30));
        QCOMPARE(textureCacheKeys(), QStringList{QStringLiteral("leather-40x30@1x")});
    }

    // Two threads asking at once for a texture not yet drawn: it is drawn once, and the later
    // caller waits for that drawing.
    void aTextureBeingDrawnIsDrawnOnce() {
        std::atomic<int> drawings = 0;
        QSemaphore started;
        QSemaphore proceed;
        const TextureDrawing draw = [&](QPainter &painter, double w, double h) {
            ++drawings;
            started.release();
            proceed.acquire();
            painter.fillRect(QRectF(0, 0, w, h), Qt::darkRed);
        };
        QImage first;
        QImage second;
        std::thread drawing(
            [&] { first = textureImage(QStringLiteral("counted"), QSizeF(8, 6), draw, 1); });
        started.acquire();
        std::thread asking(
            [&] { second = textureImage(QStringLiteral("counted"), QSizeF(8, 6), draw, 1); });
        // Gives the second caller time to find the drawing under way; it passes either way.
        QThread::msleep(50);
        proceed.release(2);
        drawing.join();
        asking.join();
        QCOMPARE(drawings.load(), 1);
        QVERIFY(!first.isNull());
        QCOMPARE(second.cacheKey(), first.cacheKey());
        QCOMPARE(textureCacheKeys(), QStringList{QStringLiteral("counted-8x6@1x")});
    }

    void sizesInTheSameWholePointShareOneImage() {
        const QImage first = paperTextureImage(QSizeF(779.2, 1023.1));
        const QImage second = paperTextureImage(QSizeF(780, 1024));
        QCOMPARE(second.cacheKey(), first.cacheKey());
        QCOMPARE(textureCacheKeys(), QStringList{QStringLiteral("paper-780x1024")});
    }

    // The same size drawn twice, from scratch, is the same image pixel for pixel; a different
    // texture or size is not.
    void drawingIsDeterministic() {
        for (const bool leather : {false, true}) {
            const QImage once = drawOnce(QSize(390, 512), leather);
            const QImage twice = drawOnce(QSize(390, 512), leather);
            QVERIFY(once == twice);
            QVERIFY(once != drawOnce(QSize(390, 513), leather).copy(0, 0, 780, 1024));
        }
        QVERIFY(drawOnce(QSize(64, 64), false) != drawOnce(QSize(64, 64), true));
        const QImage cached = leatherTextureImage(QSizeF(390, 512));
        clearTextureCache();
        QVERIFY(leatherTextureImage(QSizeF(390, 512)) == cached);
    }

    // Marks blended straight into the image must look as the painter would draw them: the same
    // drawing through the painter (a clip sends it there) differs by no more than rounding.
    void fastMarksMatchThePainter_data() {
        QTest::addColumn<bool>("leather");
        QTest::newRow("paper") << false;
        QTest::newRow("leather") << true;
    }

    void fastMarksMatchThePainter() {
        QFETCH(bool, leather);
        const QSize points(160, 200);
        QImage fast(points * 2, QImage::Format_ARGB32_Premultiplied);
        QImage painted(points * 2, QImage::Format_ARGB32_Premultiplied);
        for (QImage *image : {&fast, &painted}) {
            image->fill(Qt::transparent);
            QPainter painter(image);
            painter.scale(2, 2);
            if (image == &painted)
                painter.setClipRect(QRectF(QPointF(), QSizeF(points)));
            if (leather)
                drawLeatherTexture(painter, points.width(), points.height());
            else
                drawPaperTexture(painter, points.width(), points.height());
        }
        qint64 total = 0;
        int largest = 0;
        for (int y = 0; y < fast.height(); ++y)
            for (int x = 0; x < fast.width(); ++x) {
                const QRgb a = fast.pixel(x, y);
                const QRgb b = painted.pixel(x, y);
                for (const int difference : {qRed(a) - qRed(b), qGreen(a) - qGreen(b),
                                             qBlue(a) - qBlue(b), qAlpha(a) - qAlpha(b)}) {
                    total += std::abs(difference);
                    largest = std::max(largest, std::abs(difference));
                }
            }
        const double mean = double(total) / (4.0 * fast.width() * fast.height());
        QVERIFY2(mean < 0.5, qPrintable(QString::number(mean)));
        QVERIFY2(largest < 16, qPrintable(QString::number(largest)));
    }

    void cacheKeepsNineAndEmptiesOnTheTenth() {
        for (int i = 1; i <= 9; ++i)
            leatherTextureImage(QSizeF(i, 8));
        QCOMPARE(textureCacheKeys().size(), 9);
        paperTextureImage(QSizeF(10, 8));
        QCOMPARE(textureCacheKeys(), QStringList{QStringLiteral("paper-10x8")});
    }

    void absurdSizesAreRefusedAndNotKept() {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("larger than")));
        QVERIFY(leatherTextureImage(QSizeF(1e12, 10)).isNull());
        QVERIFY(textureCacheKeys().isEmpty());
    }

    // Leather covers what lies under it everywhere.
    void leatherIsOpaque() {
        const QImage leather = leatherTextureImage(QSizeF(40, 40));
        for (int y = 0; y < leather.height(); y += 7)
            for (int x = 0; x < leather.width(); x += 7)
                QCOMPARE(qAlpha(leather.pixel(x, y)), 255);
    }
};

Q_DECLARE_METATYPE(velmora::PaperTextureCounts)
Q_DECLARE_METATYPE(velmora::LeatherTextureCounts)

VELMORA_GUI_TEST_MAIN(MacTexturesTest)
#include "tst_mactextures.moc"

#include "book/DiarySoftShadow.h"
#include "support/GuiTestMain.h"

#include <QPainter>

using namespace velmora;

namespace {

struct Moments {
    double mass = 0; // in points², at full opacity
    QPointF centre;
};

Moments moments(const BlurredShape &blurred) {
    Moments result;
    const QImage &image = blurred.image;
    const double pointsPerPixel = blurred.rect.width() / image.width();
    QPointF weighted;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const double alpha = qAlpha(image.pixel(x, y)) / 255.0;
            result.mass += alpha;
            weighted += alpha * QPointF(x + 0.5, y + 0.5);
        }
    result.centre = blurred.rect.topLeft() + weighted / result.mass * pointsPerPixel;
    result.mass *= pointsPerPixel * pointsPerPixel;
    return result;
}

} // namespace

class DiarySoftShadowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A blur spreads a shape without adding or losing any of it, around the same centre, for
    // small radii and for the large ones blurred on a coarser grid.
    void blurKeepsTheShape_data() {
        QTest::addColumn<double>("radius");
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("sharp") << 0.0 << qreal(1);
        QTest::newRow("card shadow") << 18.0 << qreal(2);
        QTest::newRow("ribbon shadow") << 1.5 << qreal(2);
        QTest::newRow("backdrop glow") << 124.8 << qreal(2);
    }

    void blurKeepsTheShape() {
        QFETCH(double, radius);
        QFETCH(qreal, ratio);
        QPainterPath shape;
        shape.addRect(QRectF(40, 60, 200, 100));
        const BlurredShape blurred = blurredShape(shape, Qt::black, radius, ratio);
        QVERIFY(!blurred.image.isNull());
        QVERIFY(blurred.rect.contains(shape.boundingRect()));
        const Moments result = moments(blurred);
        QVERIFY2(qAbs(result.mass - 20000) < 20000 * 0.03,
                 qPrintable(QString::number(result.mass)));
        QVERIFY(qAbs(result.centre.x() - 140) < 1.5);
        QVERIFY(qAbs(result.centre.y() - 110) < 1.5);
        // The rim of the image is empty: nothing is cut off.
        const QImage &image = blurred.image;
        for (int x = 0; x < image.width(); ++x) {
            QVERIFY(qAlpha(image.pixel(x, 0)) <= 1);
            QVERIFY(qAlpha(image.pixel(x, image.height() - 1)) <= 1);
        }
    }

    void blurSpreadsWithTheRadius() {
        QPainterPath shape;
        shape.addRect(QRectF(0, 0, 100, 100));
        const auto edgeAlpha = [&](double radius) {
            const BlurredShape blurred = blurredShape(shape, Qt::black, radius, 1);
            const QPointF outside(110, 50);
            const QPointF pixel =
                (outside - blurred.rect.topLeft()) * (blurred.image.width() / blurred.rect.width());
            return qAlpha(blurred.image.pixel(pixel.toPoint()));
        };
        QCOMPARE(edgeAlpha(0), 0);
        QVERIFY(edgeAlpha(8) < edgeAlpha(28));
    }

    void absurdShapesGiveNothing() {
        QPainterPath shape;
        shape.addRect(QRectF(0, 0, 1e6, 1e6));
        QVERIFY(blurredShape(shape, Qt::black, 4, 2).image.isNull());
    }

    // The shadow lands offset by its offset, in its colour.
    void shadowIsOffsetAndTinted() {
        DiarySoftShadow shadow(QColor::fromRgbF(0, 0, 0, 0.5f), 2, QPointF(0, 8));
        QVERIFY(shadow.reach() >= 8 + 3);
        QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainterPath shape;
        shape.addRect(QRectF(30, 30, 40, 40));
        {
            QPainter painter(&image);
            shadow.paint(painter, shape);
            shadow.paint(painter, shape.translated(0, 0));
        }
        QCOMPARE(qAlpha(image.pixel(50, 27)), 0);
        QVERIFY(qAlpha(image.pixel(50, 75)) > 100);
        QCOMPARE(qRed(image.pixel(50, 75)), 0);
    }
};

VELMORA_GUI_TEST_MAIN(DiarySoftShadowTest)
#include "tst_diarysoftshadow.moc"

#include "book/DiarySoftShadow.h"
#include "book/DiaryTurnProjection.h"
#include "support/GuiTestMain.h"

#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <functional>

#include <cmath>
#include <numbers>

Q_DECLARE_METATYPE(velmora::DiarySampling)

using namespace velmora;

namespace {

const QRectF sheet(40, 30, 120, 160);
const QColor background(0xe8, 0xe0, 0xd0);

// A picture whose every misplaced pixel shows: a gradient under a grid of one-pixel lines,
// with transparent rounded corners.
QImage sheetPicture(qreal ratio) {
    QImage image((sheet.size() * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, image.width(), image.height());
    gradient.setColorAt(0, QColor(0x6b, 0x3a, 0x1f));
    gradient.setColorAt(1, QColor(0xd8, 0xb0, 0x60));
    QPainterPath outline;
    outline.addRoundedRect(QRectF(image.rect()), 12, 12);
    painter.fillPath(outline, gradient);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(0xf8, 0xf0, 0xe0));
    for (int x = 8; x < image.width(); x += 9)
        painter.drawLine(x, 6, x, image.height() - 7);
    for (int y = 8; y < image.height(); y += 11)
        painter.drawLine(6, y, image.width() - 7, y);
    return image;
}

// A picture to lie flat beneath the turned one, over most of the canvas: stripes under a grid,
// translucent towards one side when `translucent`.
QImage groundPicture(const QSizeF &size, qreal ratio, bool translucent) {
    QImage image((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, image.width(), 0);
    gradient.setColorAt(0, QColor(0x20, 0x50, 0x90));
    gradient.setColorAt(1, translucent ? QColor(0xf0, 0xd0, 0x40, 0x60) : QColor(0xf0, 0xd0, 0x40));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(QColor(0x10, 0x10, 0x10));
    for (int x = 5; x < image.width(); x += 7)
        painter.drawLine(x, 0, x, image.height());
    for (int y = 3; y < image.height(); y += 13)
        painter.drawLine(0, y, image.width(), y);
    return image;
}

struct Scene {
    DiaryTurnProjection projection;
    DiaryTurnedPicture picture;
    std::optional<DiaryTurnedPicture> shadow;
    std::optional<DiaryOutlineShadow> outlineShadow;
    std::optional<DiaryTurnedPicture> ground;
    qreal ratio = 1;
    QTransform world;
    QRectF clip;
    // With `clip`, a clip of two rectangles.
    QRectF clipBeside;
    QImage::Format format = QImage::Format_ARGB32_Premultiplied;
    // Painted by a widget rendered onto the image, whose repainted region is the clip.
    bool inWidget = false;
};

// The painter's own perspective drawing of the same layers: what the pixels must look like.
void paintReference(QPainter &painter, const Scene &scene) {
    if (scene.ground) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setOpacity(painter.opacity() * scene.ground->opacity);
        painter.drawImage(scene.ground->rect.translated(scene.ground->offset), scene.ground->image);
        painter.restore();
    }
    if (scene.outlineShadow) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(scene.outlineShadow->color, scene.outlineShadow->edgeWidth,
                            Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(scene.outlineShadow->color);
        painter.drawPolygon(scene.outlineShadow->outline);
        painter.restore();
    }
    const std::optional<DiaryTurnedPicture> layers[] = {scene.shadow, scene.picture};
    for (const auto &layer : layers) {
        if (!layer)
            continue;
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setTransform(scene.projection.transform() *
                                 QTransform::fromTranslate(layer->offset.x(), layer->offset.y()),
                             true);
        painter.setOpacity(painter.opacity() * layer->opacity);
        painter.drawImage(layer->rect, layer->image);
        painter.restore();
    }
}

// Paints as a view does, on the pixels of whatever it is rendered onto.
class SceneWidget : public QWidget {
public:
    std::function<void(QPainter &)> paint;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        paint(painter);
    }
};

QImage render(const Scene &scene, bool reference) {
    QImage image((QSizeF(240, 220) * scene.ratio).toSize(), scene.format);
    image.setDevicePixelRatio(scene.ratio);
    image.fill(background);
    QRegion clip;
    if (!scene.clip.isEmpty())
        clip = QRegion(scene.clip.toRect()) + QRegion(scene.clipBeside.toRect());
    const auto paint = [&](QPainter &painter) {
        painter.setTransform(scene.world);
        if (!scene.clip.isEmpty() && !scene.inWidget) {
            if (scene.clipBeside.isEmpty())
                painter.setClipRect(scene.clip);
            else
                painter.setClipRegion(clip);
        }
        if (reference)
            paintReference(painter, scene);
        else
            paintTurnedPictures(painter, scene.projection, scene.picture,
                                scene.shadow ? &*scene.shadow : nullptr,
                                scene.outlineShadow ? &*scene.outlineShadow : nullptr,
                                scene.ground ? &*scene.ground : nullptr);
    };
    if (scene.inWidget) {
        SceneWidget widget;
        widget.resize(240, 220);
        widget.paint = paint;
        widget.render(&image, QPoint(), clip.isEmpty() ? QRegion(widget.rect()) : clip,
                      QWidget::DrawChildren);
    } else {
        QPainter painter(&image);
        paint(painter);
    }
    return image;
}

struct Difference {
    double mean = 0;   // of each pixel's largest channel difference
    double strays = 0; // share of pixels off by more than a sixth of the range
};

Difference compare(const QImage &a, const QImage &b) {
    Difference result;
    qint64 total = 0;
    qint64 strays = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int d = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q))});
            total += d;
            strays += d > 42;
        }
    const double count = double(a.width()) * a.height();
    result.mean = double(total) / count;
    result.strays = double(strays) / count;
    return result;
}

Scene scene(double degrees, bool leadingAxis, double perspective, qreal ratio, bool shadow,
            double opacity, bool outline = false) {
    Scene made;
    made.ratio = ratio;
    made.projection = {leadingAxis ? sheet.left() : sheet.right(), sheet.center().y(),
                       degrees * std::numbers::pi / 180, sheet.height() / perspective};
    made.picture = {sheetPicture(ratio), sheet, QPointF(), opacity};
    if (shadow) {
        QPainterPath shape;
        shape.addRoundedRect(sheet, 6, 6);
        const BlurredShape blurred = blurredShape(shape, Qt::black, 12, ratio);
        made.shadow = DiaryTurnedPicture{blurred.image, blurred.rect, QPointF(9, 6), 0.4};
    }
    if (outline)
        made.outlineShadow = DiaryOutlineShadow{made.projection.map(sheet.translated(-8, 4)), 15,
                                                QColor(0, 0, 0, 40)};
    return made;
}

// The turned pictures against the painter's own drawing of the scene: exactly alike, or alike
// but for softened edges, and untouched outside the clip.
void looksLikeTheReference(const Scene &made, bool exact) {
    const QImage turned = render(made, false);
    const QImage reference = render(made, true);
    const Difference difference = compare(turned, reference);
    if (exact) {
        QCOMPARE(difference.mean, 0.0);
        return;
    }
    QVERIFY2(difference.mean < 0.5, qPrintable(QString::number(difference.mean)));
    QVERIFY2(difference.strays < 0.002, qPrintable(QString::number(difference.strays)));
    if (!made.clip.isEmpty()) {
        const qreal ratio = made.ratio;
        const QRect outside = QRect(QPoint(int(made.clip.right() * ratio) + 1, 0),
                                    turned.size() - QSize(int(made.clip.right() * ratio) + 1, 0));
        QCOMPARE(turned.copy(outside), reference.copy(outside));
    }
}

} // namespace

class TurnProjectionTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every test runs with each build of the sampling loops, so that one machine checks the
    // pixels of all of them.
    void initTestCase_data() {
        QTest::addColumn<DiarySampling>("sampling");
        QTest::newRow("widest") << DiarySampling::widest;
        QTest::newRow("sse2") << DiarySampling::sse2;
        QTest::newRow("plain") << DiarySampling::plain;
    }
    void init() {
        QFETCH_GLOBAL(DiarySampling, sampling);
        setDiarySampling(sampling);
    }
    void cleanupTestCase() { setDiarySampling(DiarySampling::widest); }

    // The projection's points and its transform agree, and the axis stays where it is.
    void projectionMatchesItsTransform_data() {
        QTest::addColumn<double>("degrees");
        QTest::newRow("flat") << 0.0;
        QTest::newRow("towards the eye") << 40.0;
        QTest::newRow("away from the eye") << -70.0;
        QTest::newRow("past edge-on") << 115.0;
    }
    void projectionMatchesItsTransform() {
        QFETCH(double, degrees);
        const DiaryTurnProjection projection = scene(degrees, true, 0.4, 1, false, 1).projection;
        const QTransform transform = projection.transform();
        for (const QPointF point : {sheet.topLeft(), sheet.bottomRight(), sheet.center()}) {
            const QPointF mapped = projection.map(point);
            QVERIFY(QLineF(mapped, transform.map(point)).length() < 1e-9);
        }
        QCOMPARE(projection.map(QPointF(sheet.left(), sheet.center().y())),
                 QPointF(sheet.left(), sheet.center().y()));
    }

    // Pixel for pixel the turned pictures look as the painter's own perspective drawing does,
    // apart from the softened edges; a painter that rotates gets exactly that drawing.
    void looksLikeThePaintersPerspective_data() {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<bool>("leadingAxis");
        QTest::addColumn<double>("perspective");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<bool>("shadow");
        QTest::addColumn<double>("opacity");
        QTest::addColumn<QTransform>("world");
        QTest::addColumn<QRectF>("clip");
        QTest::addColumn<bool>("exact");
        QTest::addColumn<bool>("outline");
        const QTransform none;
        const QRectF all;
        QTest::newRow("cover opening")
            << -30.0 << true << 0.4 << 2.0 << true << 1.0 << none << all << false << false;
        QTest::newRow("cover past edge-on, fading")
            << -115.0 << true << 0.4 << 2.0 << true << 0.6 << none << all << false << false;
        QTest::newRow("leaf turning away")
            << -70.0 << true << 0.55 << 2.0 << false << 1.0 << none << all << false << false;
        QTest::newRow("leaf lifted by a drag")
            << 20.0 << false << 0.55 << 1.0 << false << 1.0 << none << all << false << false;
        QTest::newRow("stage scaled to fit")
            << -45.0 << true << 0.4 << 1.0 << true << 1.0
            << QTransform::fromTranslate(13.3, 7.7).scale(0.8, 0.8) << all << false << false;
        QTest::newRow("clipped") << -30.0 << true << 0.4 << 2.0 << true << 1.0 << none
                                 << QRectF(0, 0, 100, 220) << false << false;
        QTest::newRow("flat") << 0.0 << true << 0.4 << 2.0 << false << 1.0 << none << all << false
                              << false;
        QTest::newRow("leaf over its outline shadow")
            << -60.0 << true << 0.55 << 2.0 << false << 1.0 << none << all << false << true;
        QTest::newRow("lifted leaf, its shadow and a rotating painter")
            << 20.0 << false << 0.55 << 1.0 << false << 1.0 << QTransform().rotate(2) << all << true
            << true;
        QTest::newRow("rotating painter") << -30.0 << true << 0.4 << 1.0 << true << 1.0
                                          << QTransform().rotate(3) << all << true << false;
    }
    void looksLikeThePaintersPerspective() {
        QFETCH(double, degrees);
        QFETCH(bool, leadingAxis);
        QFETCH(double, perspective);
        QFETCH(qreal, ratio);
        QFETCH(bool, shadow);
        QFETCH(double, opacity);
        QFETCH(QTransform, world);
        QFETCH(QRectF, clip);
        QFETCH(bool, exact);
        QFETCH(bool, outline);
        Scene made = scene(degrees, leadingAxis, perspective, ratio, shadow, opacity, outline);
        made.world = world;
        made.clip = clip;
        looksLikeTheReference(made, exact);
    }

    // A picture lying flat beneath the turned ones looks as the painter draws it flat first,
    // whether the turned picture hides it, it shows around them or through a translucent part.
    void groundLooksAsIfDrawnFirst_data() {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<bool>("leadingAxis");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<bool>("outline");
        QTest::addColumn<bool>("shadow");
        QTest::addColumn<QRectF>("groundRect");
        QTest::addColumn<double>("groundOpacity");
        QTest::addColumn<bool>("translucent");
        QTest::addColumn<QTransform>("world");
        QTest::addColumn<QRectF>("clip");
        QTest::addColumn<bool>("exact");
        QTest::addColumn<QRectF>("clipBeside");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("inWidget");
        // The ground is a leaf's cached picture, without an alpha channel.
        QTest::addColumn<bool>("opaqueGround");
        const QTransform none;
        const QRectF all;
        const int premultiplied = QImage::Format_ARGB32_Premultiplied;
        const int opaque = QImage::Format_RGB32;
        QTest::newRow("leaf turning over the leaf it uncovers")
            << -40.0 << true << 2.0 << true << false << sheet << 1.0 << false << none << all
            << false << all << premultiplied << false << false;
        QTest::newRow("pages fading in under the cover")
            << -30.0 << true << 2.0 << false << true << QRectF(20, 10, 200, 200) << 0.55 << false
            << none << all << false << all << premultiplied << false << false;
        QTest::newRow("translucent ground past edge-on")
            << -120.0 << true << 2.0 << false << true << QRectF(20, 10, 200, 200) << 1.0 << true
            << none << all << false << all << premultiplied << false << false;
        QTest::newRow("lifted leaf over a wider ground")
            << 25.0 << false << 1.0 << true << false << QRectF(10, 20, 220, 180) << 1.0 << false
            << none << all << false << all << premultiplied << false << false;
        QTest::newRow("stage scaled to fit")
            << -45.0 << true << 1.0 << false << true << QRectF(20, 10, 200, 200) << 1.0 << false
            << QTransform::fromTranslate(13.3, 7.7).scale(0.8, 0.8) << all << false << all
            << premultiplied << false << false;
        QTest::newRow("clipped") << -30.0 << true << 2.0 << true << false
                                 << QRectF(20, 10, 200, 200) << 1.0 << false << none
                                 << QRectF(0, 0, 100, 220) << false << all << premultiplied << false
                                 << false;
        QTest::newRow("edge-on") << -90.0 << true << 2.0 << false << false
                                 << QRectF(20, 10, 200, 200) << 0.7 << false << none << all << true
                                 << all << premultiplied << false << false;
        QTest::newRow("rotating painter")
            << -30.0 << true << 1.0 << true << true << QRectF(20, 10, 200, 200) << 0.8 << true
            << QTransform().rotate(3) << all << true << all << premultiplied << false << false;
        QTest::newRow("pages fading in over a window's opaque pixels")
            << -30.0 << true << 2.0 << false << true << QRectF(20, 10, 200, 200) << 0.55 << false
            << none << all << false << all << opaque << false << false;
        QTest::newRow("leaf turning over a window's opaque pixels")
            << -40.0 << true << 2.0 << true << false << sheet << 1.0 << false << none << all
            << false << all << opaque << false << false;
        QTest::newRow("clipped to two rectangles")
            << -30.0 << true << 2.0 << true << false << QRectF(20, 10, 200, 200) << 0.6 << false
            << none << QRectF(0, 0, 100, 120) << false << QRectF(0, 120, 60, 100) << premultiplied
            << false << false;
        QTest::newRow("widget repainting a rectangle")
            << -30.0 << true << 2.0 << false << true << QRectF(20, 10, 200, 200) << 0.55 << false
            << none << QRectF(0, 0, 100, 220) << false << all << opaque << true << false;
        QTest::newRow("widget repainting two rectangles")
            << -40.0 << true << 2.0 << true << false << sheet << 1.0 << false << none
            << QRectF(0, 0, 100, 120) << false << QRectF(0, 120, 60, 100) << opaque << true
            << false;
        QTest::newRow("widget scaled to fit")
            << -45.0 << true << 1.0 << false << true << QRectF(20, 10, 200, 200) << 1.0 << false
            << QTransform::fromTranslate(13.3, 7.7).scale(0.8, 0.8) << all << false << all
            << premultiplied << true << false;
        QTest::newRow("leaf turning over a whole opaque leaf")
            << -40.0 << true << 2.0 << true << false << QRectF(0, 0, 240, 220) << 1.0 << false
            << none << all << false << all << opaque << false << true;
        QTest::newRow("widget turning a leaf over a whole opaque leaf")
            << -25.0 << true << 2.0 << true << false << QRectF(0, 0, 240, 220) << 1.0 << false
            << none << QRectF(0, 0, 150, 220) << false << all << premultiplied << true << true;
    }
    void groundLooksAsIfDrawnFirst() {
        QFETCH(double, degrees);
        QFETCH(bool, leadingAxis);
        QFETCH(qreal, ratio);
        QFETCH(bool, outline);
        QFETCH(bool, shadow);
        QFETCH(QRectF, groundRect);
        QFETCH(double, groundOpacity);
        QFETCH(bool, translucent);
        QFETCH(QTransform, world);
        QFETCH(QRectF, clip);
        QFETCH(bool, exact);
        QFETCH(QRectF, clipBeside);
        QFETCH(int, format);
        QFETCH(bool, inWidget);
        QFETCH(bool, opaqueGround);
        Scene made = scene(degrees, leadingAxis, 0.5, ratio, shadow, 1, outline);
        QImage groundImage = groundPicture(groundRect.size(), ratio, translucent);
        if (opaqueGround)
            groundImage.convertTo(QImage::Format_RGB32);
        made.ground = DiaryTurnedPicture{groundImage, groundRect, QPointF(), groundOpacity};
        made.world = world;
        made.clip = clip;
        made.clipBeside = clipBeside;
        made.format = QImage::Format(format);
        made.inWidget = inWidget;
        looksLikeTheReference(made, exact);
    }

    // The widest build of the sampling loops paints exactly the pixels of the SSE2 build, at
    // any angle, opacity, scale and clip, beneath a ground or not.
    void buildsPaintTheSamePixels_data() {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<bool>("leadingAxis");
        QTest::addColumn<double>("perspective");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<double>("opacity");
        QTest::addColumn<QTransform>("world");
        QTest::addColumn<QRectF>("clip");
        QTest::addColumn<bool>("ground");
        // The turned picture's pixels, when not those of the sheet as drawn.
        QTest::addColumn<QSize>("pixels");
        const QTransform none;
        const QRectF all;
        const QSize drawn;
        QTest::newRow("cover opening")
            << -30.0 << true << 0.4 << 2.0 << 1.0 << none << all << true << drawn;
        QTest::newRow("steep, fading")
            << -80.0 << true << 0.3 << 2.0 << 0.6 << none << all << false << drawn;
        QTest::newRow("past edge-on")
            << -115.0 << true << 0.4 << 2.0 << 1.0 << none << all << true << drawn;
        QTest::newRow("lifted leaf")
            << 20.0 << false << 0.55 << 1.0 << 1.0 << none << all << false << drawn;
        QTest::newRow("shrunk and clipped")
            << -45.0 << true << 0.4 << 1.0 << 0.9
            << QTransform::fromTranslate(13.3, 7.7).scale(0.45, 0.45) << QRectF(0, 0, 150, 220)
            << true << drawn;
        QTest::newRow("enlarged") << -10.0 << false << 0.6 << 2.0 << 1.0
                                  << QTransform::fromScale(1.7, 1.7) << all << false << drawn;
        QTest::newRow("seven pixels across")
            << -35.0 << true << 0.4 << 1.0 << 1.0 << none << all << false << QSize(7, 40);
        QTest::newRow("eight pixels across")
            << 25.0 << false << 0.5 << 2.0 << 0.8 << none << all << true << QSize(8, 12);
    }
    void buildsPaintTheSamePixels() {
        QFETCH(double, degrees);
        QFETCH(bool, leadingAxis);
        QFETCH(double, perspective);
        QFETCH(qreal, ratio);
        QFETCH(double, opacity);
        QFETCH(QTransform, world);
        QFETCH(QRectF, clip);
        QFETCH(bool, ground);
        QFETCH(QSize, pixels);
        Scene made = scene(degrees, leadingAxis, perspective, ratio, true, opacity);
        made.world = world;
        made.clip = clip;
        if (ground)
            made.ground = DiaryTurnedPicture{groundPicture(QSizeF(200, 200), ratio, true),
                                             QRectF(20, 10, 200, 200), QPointF(), 0.8};
        if (pixels.isValid())
            made.picture.image =
                made.picture.image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        setDiarySampling(DiarySampling::widest);
        const QImage widest = render(made, false);
        setDiarySampling(DiarySampling::sse2);
        const QImage narrower = render(made, false);
        QCOMPARE(widest, narrower);
    }

    // A flat picture drawn in bands looks exactly as one drawn whole, pixel for pixel or scaled.
    void flatPictureInBands_data() {
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QTransform>("world");
        QTest::newRow("pixel for pixel") << 2.0 << QTransform::fromTranslate(10, 5.5);
        QTest::newRow("scaled to fit") << 1.0 << QTransform::fromScale(0.7, 0.7);
    }
    void flatPictureInBands() {
        QFETCH(qreal, ratio);
        QFETCH(QTransform, world);
        QPixmap picture = QPixmap::fromImage(sheetPicture(ratio));
        picture.setDevicePixelRatio(ratio);
        QImage banded;
        QImage whole;
        for (QImage *image : {&banded, &whole}) {
            *image = QImage((QSizeF(240, 220) * ratio).toSize(), QImage::Format_RGB32);
            image->setDevicePixelRatio(ratio);
            image->fill(background);
            QPainter painter(image);
            painter.setTransform(world);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            if (image == &banded)
                paintFlatPicture(painter, sheet, picture);
            else
                painter.drawPixmap(sheet, picture, QRectF(picture.rect()));
        }
        QCOMPARE(banded, whole);
    }
};

VELMORA_GUI_TEST_MAIN(TurnProjectionTest)
#include "tst_turnprojection.moc"

#include "book/MacTextures.h"

#include "book/DiaryDecorative.h"

#include <QHash>
#include <QLoggingCategory>
#include <QMutex>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace velmora {

namespace {

Q_LOGGING_CATEGORY(lcTextures, "velmora.book")

// Beyond this a texture would take gigabytes; such a size is a caller's fault, not a window.
constexpr int largestTextureSide = 16384;
constexpr qsizetype cacheLimit = 8;

QColor rgba(double red, double green, double blue, double alpha) {
    return QColor::fromRgbF(float(red), float(green), float(blue), float(alpha));
}

QColor grey(double level, double alpha) {
    return rgba(level, level, level, alpha);
}

QColor transparent(QColor color) {
    color.setAlphaF(0);
    return color;
}

int markCount(double count, int ceiling) {
    return int(std::min(std::floor(count), double(ceiling)));
}

// A disc of one colour that fades to nothing at its rim.
void fadingDisc(QPainter &painter, const QPointF &centre, double radius, const QColor &color) {
    if (!(radius > 0))
        return;
    QRadialGradient gradient(centre, radius);
    gradient.setColorAt(0, color);
    gradient.setColorAt(1, transparent(color));
    painter.setBrush(gradient);
    painter.drawEllipse(centre, radius, radius);
}

// Tens of thousands of marks a pixel or a few across: the painter's general path would flatten a
// curve for each, so on an image they are rasterised here, with their coverage worked out per
// pixel, and blended source-over as the painter would.
class MarkCanvas {
public:
    explicit MarkCanvas(QPainter &painter)
        : m_painter(painter) {
        QPaintDevice *device = painter.device();
        if (!device || device->devType() != QInternal::Image)
            return;
        auto *image = static_cast<QImage *>(device);
        const QTransform transform = painter.deviceTransform();
        if (image->format() != QImage::Format_ARGB32_Premultiplied || !image->isDetached() ||
            transform.type() > QTransform::TxScale || painter.hasClipping() ||
            painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
            painter.opacity() != 1.0)
            return;
        m_image = image;
        m_transform = transform;
    }

    void fillEllipse(const QRectF &rect, const QColor &color) {
        if (!m_image) {
            m_painter.setBrush(color);
            m_painter.drawEllipse(rect);
            return;
        }
        const QRectF box = m_transform.mapRect(rect);
        const double a = box.width() / 2;
        const double b = box.height() / 2;
        if (!(a > 0) || !(b > 0))
            return;
        const double cx = box.center().x();
        const double cy = box.center().y();
        // Only pixels whose centres lie within half a pixel of the mark can be touched.
        const int x0 = std::max(0, int(std::ceil(box.left() - 1)));
        const int y0 = std::max(0, int(std::ceil(box.top() - 1)));
        const int x1 = std::min(m_image->width() - 1, int(std::floor(box.right())));
        const int y1 = std::min(m_image->height() - 1, int(std::floor(box.bottom())));
        const QRgb rgb = color.rgba();
        const int alpha = qAlpha(rgb);
        const double shortest = std::min(a, b);
        if (shortest < 1.5) {
            for (int y = y0; y <= y1; ++y) {
                auto *row = reinterpret_cast<QRgb *>(m_image->scanLine(y));
                for (int x = x0; x <= x1; ++x) {
                    const double covered = sampledCoverage(x - cx, y - cy, a, b);
                    if (covered > 0)
                        blend(row[x], rgb, int(covered * alpha + 0.5));
                }
            }
            return;
        }
        // A pixel farther than half a pixel inside or outside the rim is wholly in or out; the
        // rim is at least `shortest` from the centre in every direction.
        const double inner = std::pow(std::max(0.0, 1 - 0.5 / shortest), 2);
        const double outer = std::pow(1 + 0.5 / shortest, 2);
        const double ia2 = 1 / (a * a);
        const double ib2 = 1 / (b * b);
        for (int y = y0; y <= y1; ++y) {
            auto *row = reinterpret_cast<QRgb *>(m_image->scanLine(y));
            const double dy = y + 0.5 - cy;
            const double ny2 = dy * dy * ib2;
            for (int x = x0; x <= x1; ++x) {
                const double dx = x + 0.5 - cx;
                const double nx2 = dx * dx * ia2;
                const double q = nx2 + ny2;
                if (q >= outer)
                    continue;
                if (q <= inner) {
                    blend(row[x], rgb, alpha);
                    continue;
                }
                // Distance to the rim along the gradient of the normalised radius.
                const double r = std::sqrt(q);
                const double gradient = std::sqrt(nx2 * ia2 + ny2 * ib2);
                const double covered = std::clamp(0.5 - (r - 1) * r / gradient, 0.0, 1.0);
                blend(row[x], rgb, int(covered * alpha + 0.5));
            }
        }
    }

private:
    // Four by four samples of the pixel whose corner is (dx, dy) from the centre.
    static double sampledCoverage(double dx, double dy, double a, double b) {
        int inside = 0;
        for (int j = 0; j < 4; ++j) {
            const double ny = (dy + (j + 0.5) / 4) / b;
            for (int i = 0; i < 4; ++i) {
                const double nx = (dx + (i + 0.5) / 4) / a;
                inside += nx * nx + ny * ny <= 1;
            }
        }
        return inside / 16.0;
    }

    // Source-over of the colour at the given alpha onto a premultiplied pixel.
    static void blend(QRgb &target, QRgb color, int sourceAlpha) {
        if (sourceAlpha <= 0)
            return;
        const int keep = 255 - sourceAlpha;
        const auto channel = [&](int source, int destination) {
            return (source * sourceAlpha + 127) / 255 + (destination * keep + 127) / 255;
        };
        target = qRgba(channel(qRed(color), qRed(target)), channel(qGreen(color), qGreen(target)),
                       channel(qBlue(color), qBlue(target)), channel(255, qAlpha(target)));
    }

    QPainter &m_painter;
    QImage *m_image = nullptr;
    QTransform m_transform;
};

struct TextureCache {
    QMutex mutex;
    QHash<QString, QImage> images;
};

TextureCache &textureCache() {
    static TextureCache cache;
    return cache;
}

int pointSide(double side) {
    if (!std::isfinite(side) || side <= 0)
        return 1;
    if (side > largestTextureSide)
        return largestTextureSide + 1;
    return std::max(1, int(std::ceil(side)));
}

} // namespace

PaperTextureCounts drawPaperTexture(QPainter &painter, double w, double h) {
    PaperTextureCounts counts;
    TextureRandom random(TextureRandom::paperSeed);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    QLinearGradient wash(0, 0, w, h);
    wash.setColorAt(0, rgba(1.0, 0.99, 0.96, 0.16));
    wash.setColorAt(0.55, rgba(1.0, 0.99, 0.96, 0));
    wash.setColorAt(1, rgba(0.55, 0.42, 0.26, 0.035));
    painter.fillRect(QRectF(0, 0, w, h), wash);

    for (; counts.blots < 40; ++counts.blots) {
        const double u1 = random.next();
        const double u2 = random.next();
        const double u3 = random.next();
        const double u4 = random.next();
        const QColor color = u4 > 0.5 ? rgba(0.84, 0.74, 0.56, 0.028) : rgba(1.0, 0.99, 0.95, 0.07);
        fadingDisc(painter, QPointF(u2 * w, u3 * h), 60 + u1 * 120, color);
    }

    const int flecks = markCount(w * h / 900, 1600);
    for (; counts.flecks < flecks; ++counts.flecks) {
        const double u1 = random.next();
        const double u2 = random.next();
        const double u3 = random.next();
        const double u4 = random.next();
        const double u5 = random.next();
        const QColor color = u4 > 0.5 ? rgba(0.8, 0.69, 0.51, 0.01 + u5 * 0.012)
                                      : rgba(1.0, 1.0, 0.97, 0.03 + u5 * 0.03);
        fadingDisc(painter, QPointF(u2 * w, u3 * h), 4 + u1 * 10, color);
    }

    const int speckles = markCount(w * h * 0.0625, 100000);
    const QColor light = grey(1.0, 0.16);
    const QColor brown = rgba(0.5, 0.4, 0.27, 0.035);
    MarkCanvas canvas(painter);
    for (; counts.speckles < speckles; ++counts.speckles) {
        const QColor &color = counts.speckles % 3 == 0 ? brown : light;
        const double size = random.next(0.45, 0.9);
        const double x = random.next() * w;
        const double y = random.next() * h;
        canvas.fillEllipse(QRectF(x, y, size, size), color);
    }

    painter.setBrush(Qt::NoBrush);
    const int fibres = markCount(w * h / 2200, 700);
    for (; counts.fibres < fibres; ++counts.fibres) {
        const double u1 = random.next();
        const double y0 = random.next() * h;
        const double length = random.next(4, 14);
        const double x0 = u1 * w;
        const double angle = random.next(0, 2 * M_PI);
        const QPointF start(x0, y0);
        const QPointF end(x0 + std::cos(angle) * length, y0 + std::sin(angle) * length);
        QPointF control = (start + end) / 2;
        control.rx() += random.next(-3, 3);
        control.ry() += random.next(-3, 3);
        const QColor color = rgba(0.5, 0.4, 0.27, random.next(0.035, 0.07));
        QPen pen(color, random.next(0.3, 0.5));
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        QPainterPath fibre(start);
        fibre.quadTo(control, end);
        painter.drawPath(fibre);
    }
    painter.setPen(Qt::NoPen);

    const int inclusions = markCount(w * h / 16000, 80);
    for (; counts.inclusions < inclusions; ++counts.inclusions) {
        const double u1 = random.next();
        const double u2 = random.next();
        const double u3 = random.next();
        const double u4 = random.next();
        const double u5 = random.next();
        const double width = 0.5 + u1 * 0.7;
        canvas.fillEllipse(QRectF(u3 * w, u4 * h, width, width * (0.6 + u5 * 0.4)),
                           rgba(0.42, 0.31, 0.2, 0.07 + u2 * 0.06));
    }

    QLinearGradient gutter(0, 0, 52, 0);
    gutter.setColorAt(0, rgba(0.3, 0.2, 0.1, 0.14));
    gutter.setColorAt(0.35, rgba(0.3, 0.2, 0.1, 0.045));
    gutter.setColorAt(1, rgba(0.3, 0.2, 0.1, 0));
    painter.fillRect(QRectF(0, 0, std::min(52.0, w), h), gutter);

    QRadialGradient vignette(QPointF(0.52 * w, 0.5 * h), 0.58 * std::hypot(w, h));
    vignette.setColorAt(0, rgba(0.8, 0.66, 0.44, 0));
    vignette.setColorAt(0.66, rgba(0.8, 0.66, 0.44, 0));
    vignette.setColorAt(1, rgba(0.74, 0.58, 0.36, 0.1));
    painter.fillRect(QRectF(0, 0, w, h), vignette);

    painter.restore();
    return counts;
}

LeatherTextureCounts drawLeatherTexture(QPainter &painter, double w, double h) {
    LeatherTextureCounts counts;
    TextureRandom random(TextureRandom::leatherSeed);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    QLinearGradient base(0, 0, w, h);
    base.setColorAt(0, rgba(0.36, 0.22, 0.14, 1));
    base.setColorAt(0.45, rgba(0.44, 0.28, 0.18, 1));
    base.setColorAt(1, rgba(0.33, 0.2, 0.13, 1));
    painter.fillRect(QRectF(0, 0, w, h), base);

    for (; counts.blots < 28; ++counts.blots) {
        const double u1 = random.next();
        const double u2 = random.next();
        const double u3 = random.next();
        const double u4 = random.next();
        const QColor color = u4 > 0.5 ? rgba(0.55, 0.36, 0.22, 0.1) : rgba(0.18, 0.1, 0.06, 0.12);
        fadingDisc(painter, QPointF(u2 * w, u3 * h), 0.12 * w + u1 * (0.35 - 0.12) * w, color);
    }

    const int pores = markCount(w * h / 26, 90000);
    const QColor dark = rgba(0.12, 0.06, 0.03, 0.16);
    const QColor light = rgba(0.62, 0.42, 0.27, 0.08);
    MarkCanvas canvas(painter);
    for (; counts.pores < pores; ++counts.pores) {
        const double x = random.next() * w;
        const double y = random.next() * h;
        const double width = random.next(1.6, 3.8);
        const double height = width * random.next(0.7, 1.2);
        canvas.fillEllipse(QRectF(x + 0.5, y + 0.6, width, height), dark);
        canvas.fillEllipse(
            QRectF(x + 0.2 * width - 0.3, y + 0.2 * height - 0.3, 0.6 * width, 0.6 * height),
            light);
    }

    const QColor speck = rgba(0.08, 0.04, 0.02, 0.3);
    const int specks = markCount(w * h / 420, 9000);
    for (; counts.specks < specks; ++counts.specks) {
        const double size = random.next(0.35, 0.8);
        const double x = random.next() * w;
        const double y = random.next() * h;
        canvas.fillEllipse(QRectF(x, y, size, size), speck);
    }

    painter.setBrush(Qt::NoBrush);
    for (; counts.creases < 9; ++counts.creases) {
        const double u1 = random.next();
        const double y0 = random.next() * h;
        const double length = random.next(40, 180);
        const double x0 = u1 * w;
        const double tilt = random.next(-0.6, 0.6);
        const double baseAngle = random.next() > 0.5 ? 0 : M_PI / 2;
        const QPointF start(x0, y0);
        const QPointF end =
            start + QPointF(std::cos(baseAngle + tilt), std::sin(baseAngle + tilt)) * length;
        QPointF control = (start + end) / 2;
        control.rx() += random.next(-20, 20);
        control.ry() += random.next(-20, 20);
        QPainterPath crease(start);
        crease.quadTo(control, end);
        QPen shadow(rgba(0.1, 0.05, 0.02, 0.18), 1.1);
        shadow.setCapStyle(Qt::RoundCap);
        painter.setPen(shadow);
        painter.drawPath(crease);
        painter.save();
        painter.translate(0.8, 0.8);
        QPen highlight(rgba(0.66, 0.46, 0.3, 0.08), 0.8);
        highlight.setCapStyle(Qt::RoundCap);
        painter.setPen(highlight);
        painter.drawPath(crease);
        painter.restore();
    }
    painter.setPen(Qt::NoPen);

    QRadialGradient vignette(QPointF(0.5 * w, 0.45 * h), 0.62 * std::hypot(w, h));
    vignette.setColorAt(0, grey(1.0, 0.05));
    vignette.setColorAt(0.5, grey(0, 0));
    vignette.setColorAt(1, rgba(0.06, 0.03, 0.01, 0.42));
    painter.fillRect(QRectF(0, 0, w, h), vignette);

    painter.restore();
    return counts;
}

QSize texturePointSize(QSizeF size) {
    return {pointSide(size.width()), pointSide(size.height())};
}

QImage textureImage(const QString &name, QSizeF size, const TextureDrawing &draw) {
    const QSize points = texturePointSize(size);
    if (points.width() > largestTextureSide || points.height() > largestTextureSide) {
        qCWarning(lcTextures) << "Not drawing the" << name << "texture at" << size
                              << "points: larger than" << largestTextureSide << "a side";
        return {};
    }
    const QString key =
        QStringLiteral("%1-%2x%3").arg(name).arg(points.width()).arg(points.height());
    TextureCache &cache = textureCache();
    {
        const QMutexLocker lock(&cache.mutex);
        const auto it = cache.images.constFind(key);
        if (it != cache.images.constEnd())
            return *it;
    }

    QImage image(points * 2, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        qCWarning(lcTextures) << "No memory for the" << name << "texture at" << points;
        return {};
    }
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(2);
    {
        QPainter painter(&image);
        draw(painter, points.width(), points.height());
    }

    const QMutexLocker lock(&cache.mutex);
    if (cache.images.size() > cacheLimit)
        cache.images.clear();
    cache.images.insert(key, image);
    return image;
}

QImage leatherTextureImage(QSizeF size) {
    return textureImage(QStringLiteral("leather"), size, [](QPainter &painter, double w, double h) {
        drawLeatherTexture(painter, w, h);
    });
}

QImage paperTextureImage(QSizeF size) {
    return textureImage(QStringLiteral("paper"), size, [](QPainter &painter, double w, double h) {
        drawPaperTexture(painter, w, h);
    });
}

void paintLeatherTexture(QPainter &painter, const QRectF &rect) {
    const QImage image = leatherTextureImage(rect.size());
    if (!image.isNull())
        painter.drawImage(rect, image);
}

void paintPaperTexture(QPainter &painter, const QRectF &rect) {
    const QImage image = paperTextureImage(rect.size());
    if (!image.isNull())
        painter.drawImage(rect, image);
}

QStringList textureCacheKeys() {
    TextureCache &cache = textureCache();
    const QMutexLocker lock(&cache.mutex);
    return cache.images.keys();
}

void clearTextureCache() {
    TextureCache &cache = textureCache();
    const QMutexLocker lock(&cache.mutex);
    cache.images.clear();
}

MacLeatherTexture::MacLeatherTexture(QWidget *parent)
    : QWidget(parent) {
    makeDecorative(this);
}

void MacLeatherTexture::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    paintLeatherTexture(painter, rect());
}

MacPaperTexture::MacPaperTexture(QWidget *parent)
    : QWidget(parent) {
    makeDecorative(this);
}

void MacPaperTexture::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    paintPaperTexture(painter, rect());
}

} // namespace velmora

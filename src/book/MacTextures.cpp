#include "book/MacTextures.h"

#include "book/BookLogging.h"
#include "book/DiaryDecorative.h"

#include <QHash>
#include <QMutex>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QThreadPool>

#include <cmath>
#include <future>
#include <optional>
#include <vector>

namespace velmora {

namespace {

// Beyond this a texture would take gigabytes; such a size is a caller's fault, not a window.
constexpr int largestTextureSide = 16384;
constexpr qsizetype cacheLimit = 8;

QColor rgba(double red, double green, double blue, double alpha) {
    return QColor::fromRgbF(float(red), float(green), float(blue), float(alpha));
}

QColor grey(double level, double alpha) {
    return rgba(level, level, level, alpha);
}

int markCount(double count, int ceiling) {
    return int(std::min(std::floor(count), double(ceiling)));
}

// Tens of thousands of marks a pixel or a few across, and hundreds of fading discs: the painter's
// general path would flatten a curve or build a gradient table for each, so on an image they are
// rasterised here, with their coverage worked out per pixel, and blended source-over as the
// painter would. Anywhere else they go through the painter.
//
// Marks land at random all over a large image, so drawing each at once would miss the cache on
// nearly every row. They are queued instead and drawn band by band, each band taking every mark
// that reaches it in the order drawn, so every pixel sees the same blends in the same order.
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
            transform.type() > QTransform::TxScale || transform.m11() != transform.m22() ||
            painter.hasClipping() ||
            painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
            painter.opacity() != 1.0)
            return;
        m_image = image;
        m_transform = transform;
        m_bits = image->bits();
        m_bytesPerLine = image->bytesPerLine();
    }

    ~MarkCanvas() { flush(); }
    MarkCanvas(const MarkCanvas &) = delete;
    MarkCanvas &operator=(const MarkCanvas &) = delete;

    void fillEllipse(const QRectF &rect, const QColor &color) {
        if (!m_image) {
            m_painter.setPen(Qt::NoPen);
            m_painter.setBrush(color);
            m_painter.drawEllipse(rect);
            return;
        }
        const QRectF box = m_transform.mapRect(rect);
        const double a = box.width() / 2;
        const double b = box.height() / 2;
        if (!(a > 0) || !(b > 0))
            return;
        // Only pixels whose centres lie within half a pixel of the mark can be touched.
        queue({Mark::ellipse, box.center().x(), box.center().y(), a, b, color.rgba(),
               int(std::ceil(box.top() - 1)), int(std::floor(box.bottom()))});
    }

    // A disc of one colour whose opacity falls evenly from its centre to nothing at its rim, as
    // a two-stop radial gradient draws it.
    void fadingDisc(const QPointF &centre, double radius, const QColor &color) {
        if (!(radius > 0))
            return;
        if (!m_image) {
            QColor rim = color;
            rim.setAlphaF(0);
            QRadialGradient gradient(centre, radius);
            gradient.setColorAt(0, color);
            gradient.setColorAt(1, rim);
            m_painter.setPen(Qt::NoPen);
            m_painter.setBrush(gradient);
            m_painter.drawEllipse(centre, radius, radius);
            return;
        }
        const QPointF c = m_transform.map(centre);
        const double r = radius * m_transform.m11();
        queue({Mark::disc, c.x(), c.y(), r, r, color.rgba(), int(std::ceil(c.y() - r - 0.5)),
               int(std::floor(c.y() + r - 0.5))});
    }

    // Draws what is queued; the painter may draw over it afterwards.
    void flush() {
        if (m_marks.empty())
            return;
        const int bands = (m_image->height() + bandHeight - 1) / bandHeight;
        std::vector<std::vector<int>> reaching(static_cast<std::size_t>(bands));
        for (int i = 0; i < int(m_marks.size()); ++i) {
            const Mark &mark = m_marks[std::size_t(i)];
            const int first = std::max(0, mark.top) / bandHeight;
            const int last = std::min(m_image->height() - 1, mark.bottom) / bandHeight;
            for (int band = first; band <= last; ++band)
                reaching[std::size_t(band)].push_back(i);
        }
        for (int band = 0; band < bands; ++band) {
            const int top = band * bandHeight;
            const int bottom = std::min(m_image->height() - 1, top + bandHeight - 1);
            for (const int i : reaching[std::size_t(band)]) {
                const Mark &mark = m_marks[std::size_t(i)];
                const int y0 = std::max(top, mark.top);
                const int y1 = std::min(bottom, mark.bottom);
                if (mark.kind == Mark::ellipse)
                    drawEllipse(mark, y0, y1);
                else
                    drawDisc(mark, y0, y1);
            }
        }
        m_marks.clear();
    }

private:
    static constexpr int bandHeight = 32;
    static constexpr std::size_t batchSize = 8192;

    struct Mark {
        enum Kind { ellipse, disc } kind;
        double cx;
        double cy;
        double a;
        double b;
        QRgb color;
        int top;
        int bottom;
    };

    void queue(const Mark &mark) {
        if (mark.bottom < 0 || mark.top >= m_image->height() || mark.cx + mark.a < -1 ||
            mark.cx - mark.a > m_image->width() + 1)
            return;
        m_marks.push_back(mark);
        // Drawn a batch at a time, in order: a hundred thousand queued marks would take megabytes
        // while a batch already spreads over every band.
        if (m_marks.size() >= batchSize)
            flush();
    }

    QRgb *rowAt(int y) const {
        return reinterpret_cast<QRgb *>(m_bits + qsizetype(y) * m_bytesPerLine);
    }

    void drawEllipse(const Mark &mark, int y0, int y1) {
        const double a = mark.a;
        const double b = mark.b;
        const int x0 = std::max(0, int(std::ceil(mark.cx - a - 1)));
        const int x1 = std::min(m_image->width() - 1, int(std::floor(mark.cx + a)));
        const int alpha = qAlpha(mark.color);
        const double shortest = std::min(a, b);
        if (shortest < 1.5) {
            for (int y = y0; y <= y1; ++y) {
                QRgb *row = rowAt(y);
                for (int x = x0; x <= x1; ++x) {
                    const double covered = sampledCoverage(x - mark.cx, y - mark.cy, a, b);
                    if (covered > 0)
                        blend(row[x], mark.color, int(covered * alpha + 0.5));
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
            QRgb *row = rowAt(y);
            const double dy = y + 0.5 - mark.cy;
            const double ny2 = dy * dy * ib2;
            for (int x = x0; x <= x1; ++x) {
                const double dx = x + 0.5 - mark.cx;
                const double nx2 = dx * dx * ia2;
                const double q = nx2 + ny2;
                if (q >= outer)
                    continue;
                if (q <= inner) {
                    blend(row[x], mark.color, alpha);
                    continue;
                }
                // Distance to the rim along the gradient of the normalised radius.
                const double r = std::sqrt(q);
                const double gradient = std::sqrt(nx2 * ia2 + ny2 * ib2);
                const double covered = std::clamp(0.5 - (r - 1) * r / gradient, 0.0, 1.0);
                blend(row[x], mark.color, int(covered * alpha + 0.5));
            }
        }
    }

    void drawDisc(const Mark &mark, int y0, int y1) {
        const double r = mark.a;
        const double alpha = qAlpha(mark.color);
        const double inverseRadius = 1 / r;
        for (int y = y0; y <= y1; ++y) {
            const double dy = y + 0.5 - mark.cy;
            const double span = r * r - dy * dy;
            if (span <= 0)
                continue;
            const double half = std::sqrt(span);
            const int x0 = std::max(0, int(std::ceil(mark.cx - half - 0.5)));
            const int x1 = std::min(m_image->width() - 1, int(std::floor(mark.cx + half - 0.5)));
            QRgb *row = rowAt(y);
            for (int x = x0; x <= x1; ++x) {
                const double dx = x + 0.5 - mark.cx;
                const double fade = 1 - std::sqrt(dx * dx + dy * dy) * inverseRadius;
                if (fade > 0)
                    blend(row[x], mark.color, int(alpha * fade + 0.5));
            }
        }
    }

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

    // Each byte of x times a / 255, two channels at a time.
    static quint32 byteMul(quint32 x, quint32 a) {
        quint32 t = (x & 0xff00ff) * a;
        t = (t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8;
        t &= 0xff00ff;
        x = ((x >> 8) & 0xff00ff) * a;
        x = x + ((x >> 8) & 0xff00ff) + 0x800080;
        x &= 0xff00ff00;
        return x | t;
    }

    // Source-over of the colour at the given alpha onto a premultiplied pixel.
    static void blend(QRgb &target, QRgb color, int sourceAlpha) {
        if (sourceAlpha <= 0)
            return;
        const quint32 alpha = quint32(std::min(sourceAlpha, 255));
        target = byteMul(color | 0xff000000u, alpha) + byteMul(target, 255 - alpha);
    }

    QPainter &m_painter;
    QImage *m_image = nullptr;
    QTransform m_transform;
    uchar *m_bits = nullptr;
    qsizetype m_bytesPerLine = 0;
    std::vector<Mark> m_marks;
};

// The first layers, a wash and large soft blots, hold no detail that a quarter of the density
// would lose: on an image they are drawn at that density and stretched over it, which spares
// most of their pixels. Features smaller than about 16 pixels keep the full density.
class SmoothUnderlayer {
public:
    SmoothUnderlayer(QPainter &target, double w, double h, double smallestFeature)
        : m_target(target) {
        QPaintDevice *device = target.device();
        const QTransform transform = target.deviceTransform();
        m_density = std::clamp(16 / smallestFeature, 0.5, 2.0);
        if (!device || device->devType() != QInternal::Image ||
            transform.type() > QTransform::TxScale || transform.m11() != transform.m22() ||
            !(m_density < transform.m11()))
            return;
        m_image =
            QImage(std::max(1, int(std::ceil(w * m_density))),
                   std::max(1, int(std::ceil(h * m_density))), QImage::Format_ARGB32_Premultiplied);
        if (m_image.isNull())
            return;
        m_image.fill(Qt::transparent);
        m_painter.emplace(&m_image);
        m_painter->setRenderHint(QPainter::Antialiasing);
        m_painter->setPen(Qt::NoPen);
        m_painter->scale(m_density, m_density);
    }

    QPainter &painter() { return m_painter ? *m_painter : m_target; }

    void finish() {
        if (!m_painter)
            return;
        m_painter.reset();
        m_target.save();
        m_target.setRenderHint(QPainter::SmoothPixmapTransform);
        m_target.drawImage(QRectF(QPointF(), QSizeF(m_image.size()) / m_density), m_image);
        m_target.restore();
    }

private:
    QPainter &m_target;
    double m_density = 2;
    QImage m_image;
    std::optional<QPainter> m_painter;
};

struct TextureCache {
    QMutex mutex;
    QHash<QString, QImage> images;
    // Textures being drawn, for a caller that asks for one meanwhile.
    QHash<QString, std::shared_future<QImage>> drawing;
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

    SmoothUnderlayer underlayer(painter, w, h, 60);
    QLinearGradient wash(0, 0, w, h);
    wash.setColorAt(0, rgba(1.0, 0.99, 0.96, 0.16));
    wash.setColorAt(0.55, rgba(1.0, 0.99, 0.96, 0));
    wash.setColorAt(1, rgba(0.55, 0.42, 0.26, 0.035));
    underlayer.painter().fillRect(QRectF(0, 0, w, h), wash);
    {
        MarkCanvas soft(underlayer.painter());
        for (; counts.blots < 40; ++counts.blots) {
            const double u1 = random.next();
            const double u2 = random.next();
            const double u3 = random.next();
            const double u4 = random.next();
            const QColor color =
                u4 > 0.5 ? rgba(0.84, 0.74, 0.56, 0.028) : rgba(1.0, 0.99, 0.95, 0.07);
            soft.fadingDisc(QPointF(u2 * w, u3 * h), 60 + u1 * 120, color);
        }
    }
    underlayer.finish();

    MarkCanvas canvas(painter);

    const int flecks = markCount(w * h / 900, 1600);
    for (; counts.flecks < flecks; ++counts.flecks) {
        const double u1 = random.next();
        const double u2 = random.next();
        const double u3 = random.next();
        const double u4 = random.next();
        const double u5 = random.next();
        const QColor color = u4 > 0.5 ? rgba(0.8, 0.69, 0.51, 0.01 + u5 * 0.012)
                                      : rgba(1.0, 1.0, 0.97, 0.03 + u5 * 0.03);
        canvas.fadingDisc(QPointF(u2 * w, u3 * h), 4 + u1 * 10, color);
    }

    const int speckles = markCount(w * h * 0.0625, 100000);
    const QColor light = grey(1.0, 0.16);
    const QColor brown = rgba(0.5, 0.4, 0.27, 0.035);
    for (; counts.speckles < speckles; ++counts.speckles) {
        const QColor &color = counts.speckles % 3 == 0 ? brown : light;
        const double size = random.next(0.45, 0.9);
        const double x = random.next() * w;
        const double y = random.next() * h;
        canvas.fillEllipse(QRectF(x, y, size, size), color);
    }

    canvas.flush();
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

    canvas.flush();
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

    SmoothUnderlayer underlayer(painter, w, h, 0.12 * w);
    QLinearGradient base(0, 0, w, h);
    base.setColorAt(0, rgba(0.36, 0.22, 0.14, 1));
    base.setColorAt(0.45, rgba(0.44, 0.28, 0.18, 1));
    base.setColorAt(1, rgba(0.33, 0.2, 0.13, 1));
    underlayer.painter().fillRect(QRectF(0, 0, w, h), base);
    {
        MarkCanvas soft(underlayer.painter());
        for (; counts.blots < 28; ++counts.blots) {
            const double u1 = random.next();
            const double u2 = random.next();
            const double u3 = random.next();
            const double u4 = random.next();
            const QColor color =
                u4 > 0.5 ? rgba(0.55, 0.36, 0.22, 0.1) : rgba(0.18, 0.1, 0.06, 0.12);
            soft.fadingDisc(QPointF(u2 * w, u3 * h), 0.12 * w + u1 * (0.35 - 0.12) * w, color);
        }
    }
    underlayer.finish();

    MarkCanvas canvas(painter);
    const int pores = markCount(w * h / 26, 90000);
    const QColor dark = rgba(0.12, 0.06, 0.03, 0.16);
    const QColor light = rgba(0.62, 0.42, 0.27, 0.08);
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

    canvas.flush();
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

namespace {

constexpr double textureRatios[] = {1, 1.25, 1.5, 1.75, 2};

QString textureKey(const QString &name, QSize points, double pixelRatio) {
    QString key = QStringLiteral("%1-%2x%3").arg(name).arg(points.width()).arg(points.height());
    if (pixelRatio != 2)
        key += QStringLiteral("@%1x").arg(pixelRatio);
    return key;
}

} // namespace

double textureRatio(double ratio) {
    if (!(ratio > 1.01))
        return 1;
    // A hair over a step still takes that step.
    return std::min(2.0, std::ceil(ratio * 4 - 0.04) / 4);
}

QImage textureImage(const QString &name, QSizeF size, const TextureDrawing &draw,
                    double pixelRatio) {
    pixelRatio = textureRatio(pixelRatio);
    const QSize points = texturePointSize(size);
    if (points.width() > largestTextureSide || points.height() > largestTextureSide) {
        qCWarning(lcBook) << "Not drawing the" << name << "texture at" << size
                          << "points: larger than" << largestTextureSide << "a side";
        return {};
    }
    const QString key = textureKey(name, points, pixelRatio);
    TextureCache &cache = textureCache();
    std::promise<QImage> drawn;
    {
        QMutexLocker lock(&cache.mutex);
        const auto it = cache.images.constFind(key);
        if (it != cache.images.constEnd())
            return *it;
        const auto running = cache.drawing.constFind(key);
        if (running != cache.drawing.constEnd()) {
            const std::shared_future<QImage> other = *running;
            lock.unlock();
            // Already being drawn on another thread: waiting for it is never longer than drawing.
            return other.get();
        }
        cache.drawing.insert(key, drawn.get_future().share());
    }

    QImage image;
    try {
        image = QImage(int(std::ceil(points.width() * pixelRatio)),
                       int(std::ceil(points.height() * pixelRatio)),
                       QImage::Format_ARGB32_Premultiplied);
        if (image.isNull()) {
            qCWarning(lcBook) << "No memory for the" << name << "texture at" << points;
        } else {
            image.fill(Qt::transparent);
            image.setDevicePixelRatio(pixelRatio);
            QPainter painter(&image);
            draw(painter, points.width(), points.height());
        }
    } catch (...) {
        const QMutexLocker lock(&cache.mutex);
        cache.drawing.remove(key);
        drawn.set_exception(std::current_exception());
        throw;
    }

    {
        const QMutexLocker lock(&cache.mutex);
        cache.drawing.remove(key);
        if (!image.isNull()) {
            // A window shows a texture at one ratio at a time: the one drawn before goes.
            for (const double other : textureRatios)
                cache.images.remove(textureKey(name, points, other));
            if (cache.images.size() > cacheLimit)
                cache.images.clear();
            cache.images.insert(key, image);
        }
    }
    drawn.set_value(image);
    return image;
}

QImage leatherTextureImage(QSizeF size, double pixelRatio) {
    return textureImage(
        QStringLiteral("leather"), size,
        [](QPainter &painter, double w, double h) { drawLeatherTexture(painter, w, h); },
        pixelRatio);
}

void prepareLeatherTexture(QSizeF size, double pixelRatio) {
    QThreadPool::globalInstance()->start(
        [size, pixelRatio] { leatherTextureImage(size, pixelRatio); });
}

QImage paperTextureImage(QSizeF size, double pixelRatio) {
    return textureImage(
        QStringLiteral("paper"), size,
        [](QPainter &painter, double w, double h) { drawPaperTexture(painter, w, h); }, pixelRatio);
}

double texturePixelRatio(const QPainter &painter) {
    // Device pixels per point, the device's own ratio included.
    const QTransform toDevice = painter.deviceTransform();
    return textureRatio(std::max(std::hypot(toDevice.m11(), toDevice.m12()),
                                 std::hypot(toDevice.m21(), toDevice.m22())));
}

void paintLeatherTexture(QPainter &painter, const QRectF &rect) {
    const QImage image = leatherTextureImage(rect.size(), texturePixelRatio(painter));
    if (!image.isNull())
        painter.drawImage(rect, image);
}

void paintPaperTexture(QPainter &painter, const QRectF &rect) {
    const QImage image = paperTextureImage(rect.size(), texturePixelRatio(painter));
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

void releaseTexture(const QString &name, QSizeF size) {
    const QSize points = texturePointSize(size);
    TextureCache &cache = textureCache();
    const QMutexLocker lock(&cache.mutex);
    for (const double pixelRatio : textureRatios)
        cache.images.remove(textureKey(name, points, pixelRatio));
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

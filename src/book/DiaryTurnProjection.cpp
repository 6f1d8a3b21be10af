#include "book/DiaryTurnProjection.h"

#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora {

QPointF DiaryTurnProjection::map(const QPointF &point) const {
    const double along = point.x() - axisX;
    const double factor = eyeDistance / (eyeDistance - along * std::sin(radians));
    return {axisX + along * std::cos(radians) * factor, horizonY + (point.y() - horizonY) * factor};
}

QPolygonF DiaryTurnProjection::map(const QRectF &rect) const {
    return QPolygonF{{map(rect.topLeft()), map(rect.topRight()), map(rect.bottomRight()),
                      map(rect.bottomLeft())}};
}

QTransform DiaryTurnProjection::transform() const {
    const QTransform turn(std::cos(radians), 0, -std::sin(radians) / eyeDistance, 0, 1, 0, 0, 0, 1);
    return QTransform::fromTranslate(-axisX, -horizonY) * turn *
           QTransform::fromTranslate(axisX, horizonY);
}

namespace {

// Rows painted per blit: enough to keep the blits few, few enough to stay in the cache and for
// the painter to blit them on this thread.
constexpr int bandRows = 32;
constexpr int tileColumns = 64;

// Two horizontally adjacent premultiplied pixels on each of two rows, mixed by weights out of 128
// (the second column's and the second row's share).
inline QRgb bilinear(const QRgb *upper, const QRgb *lower, int across, int down) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i top =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(upper)), zero);
    const __m128i bottom =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(lower)), zero);
    // Differences times seven-bit weights stay within sixteen signed bits.
    __m128i mixed = _mm_add_epi16(
        top, _mm_srai_epi16(
                 _mm_mullo_epi16(_mm_sub_epi16(bottom, top), _mm_set1_epi16(short(down))), 7));
    mixed = _mm_add_epi16(
        mixed, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(_mm_srli_si128(mixed, 8), mixed),
                                              _mm_set1_epi16(short(across))),
                              7));
    return QRgb(_mm_cvtsi128_si32(_mm_packus_epi16(mixed, mixed)));
#else
    const auto mix = [](QRgb first, QRgb second, int weight) {
        const quint32 redBlue =
            (((first & 0xff00ff) * quint32(128 - weight) + (second & 0xff00ff) * quint32(weight)) >>
             7) &
            0xff00ff;
        const quint32 alphaGreen = ((((first >> 8) & 0xff00ff) * quint32(128 - weight) +
                                     ((second >> 8) & 0xff00ff) * quint32(weight))
                                    << 1) &
                                   0xff00ff00;
        return redBlue | alphaGreen;
    };
    return mix(mix(upper[0], upper[1], across), mix(lower[0], lower[1], across), down);
#endif
}

// A premultiplied pixel times a fraction out of 256.
inline QRgb scaled(QRgb pixel, int fraction) {
    const quint32 redBlue = (((pixel & 0xff00ff) * quint32(fraction)) >> 8) & 0xff00ff;
    const quint32 alphaGreen = (((pixel >> 8) & 0xff00ff) * quint32(fraction)) & 0xff00ff00;
    return redBlue | alphaGreen;
}

// A premultiplied pixel times a fraction out of 255, rounded.
inline QRgb multiplied(QRgb pixel, quint32 fraction) {
    quint32 redBlue = (pixel & 0xff00ff) * fraction;
    redBlue = ((redBlue + ((redBlue >> 8) & 0xff00ff) + 0x800080) >> 8) & 0xff00ff;
    quint32 alphaGreen = ((pixel >> 8) & 0xff00ff) * fraction;
    alphaGreen = (alphaGreen + ((alphaGreen >> 8) & 0xff00ff) + 0x800080) & 0xff00ff00;
    return redBlue | alphaGreen;
}

// Where one device column of the target finds its pixels in a picture: the projection moves
// every column of the sheet to one column of the screen and only stretches it about the horizon,
// so a column needs one pair of source columns and a linear map of rows.
struct ColumnSample {
    int left = 0;     // the first of the two source columns
    int across = 0;   // the second one's weight, out of 128
    int coverage = 0; // the column's share of the pixel and the opacity, out of 256
    int firstRow = 0; // device rows [firstRow, endRow) touch the picture
    int endRow = 0;
    float top = 0; // the picture's extent in device rows
    float bottom = 0;
    qint64 rowOrigin = 0; // source row = rowOrigin + rowStep × device row, in 1/65536 rows
    qint64 rowStep = 0;
};

class PictureSampler {
public:
    PictureSampler(const DiaryTurnProjection &projection, const DiaryTurnedPicture &picture,
                   const QTransform &device, double opacity)
        : m_projection(projection)
        , m_picture(picture)
        , m_device(device)
        , m_opacity(std::clamp(picture.opacity * opacity, 0.0, 1.0)) {}

    bool usable() const {
        const QImage &image = m_picture.image;
        return (image.format() == QImage::Format_ARGB32_Premultiplied ||
                image.format() == QImage::Format_RGB32) &&
               image.width() >= 2 && image.height() >= 2 && !m_picture.rect.isEmpty();
    }

    QRectF deviceBounds() const {
        return m_device.mapRect(
            m_projection.map(m_picture.rect).translated(m_picture.offset).boundingRect());
    }

    void prepare(int left, int right) {
        const QImage &image = m_picture.image;
        m_bits = reinterpret_cast<const QRgb *>(image.constBits());
        m_stride = image.bytesPerLine() / qsizetype(sizeof(QRgb));
        m_lastRow = (qint64(image.height() - 1) << 16) - 1;
        m_columns.assign(std::size_t(std::max(0, right - left)), ColumnSample{});

        const DiaryTurnProjection &p = m_projection;
        const QRectF &rect = m_picture.rect;
        const QPointF offset = m_picture.offset;
        const double scaleX = m_device.m11();
        const double scaleY = m_device.m22();
        const double shiftX = m_device.dx();
        const double shiftY = m_device.dy();
        const double cosine = std::cos(p.radians);
        const double sine = std::sin(p.radians);
        const double eye = p.eyeDistance;
        const double edgeA = scaleX * (p.map(rect.topLeft()).x() + offset.x()) + shiftX;
        const double edgeB = scaleX * (p.map(rect.topRight()).x() + offset.x()) + shiftX;
        const double leftEdge = std::min(edgeA, edgeB);
        const double rightEdge = std::max(edgeA, edgeB);
        const double pixelsAcross = image.width() / rect.width();
        const double pixelsDown = image.height() / rect.height();
        const double nearest = rect.left() - p.axisX;
        const double farthest = rect.right() - p.axisX;
        const int opacity = int(std::lround(m_opacity * 256));

        for (int x = left; x < right; ++x) {
            ColumnSample &column = m_columns[std::size_t(x - left)];
            const double share = std::min(x + 1.0, rightEdge) - std::max(double(x), leftEdge);
            if (share <= 0 || opacity == 0)
                continue;
            // Back from the screen to the sheet: the offset from the axis whose image is here.
            const double onScreen = (x + 0.5 - shiftX) / scaleX - offset.x() - p.axisX;
            const double denominator = cosine * eye + onScreen * sine;
            if (std::abs(denominator) < 1e-9)
                continue;
            const double along = std::clamp(onScreen * eye / denominator, nearest, farthest);
            const double depth = eye - along * sine;
            if (depth <= 0)
                continue;
            const double factor = eye / depth;

            const double source =
                std::clamp((along - nearest) * pixelsAcross - 0.5, 0.0, double(image.width() - 1));
            column.left = std::min(int(source), image.width() - 2);
            column.across = std::min(128, int((source - column.left) * 128));
            const double top =
                scaleY * (p.horizonY + (rect.top() - p.horizonY) * factor + offset.y()) + shiftY;
            const double bottom =
                scaleY * (p.horizonY + (rect.bottom() - p.horizonY) * factor + offset.y()) + shiftY;
            column.top = float(top);
            column.bottom = float(bottom);
            column.firstRow = int(std::floor(top));
            column.endRow = int(std::ceil(bottom));
            column.rowStep = std::llround(65536 * pixelsDown / (factor * scaleY));
            column.rowOrigin = std::llround(
                65536 *
                ((p.horizonY + ((0.5 - shiftY) / scaleY - offset.y() - p.horizonY) / factor -
                  rect.top()) *
                     pixelsDown -
                 0.5));
            column.coverage = int(std::lround(std::min(share, 1.0) * opacity));
        }
    }

    // Writes the pixels of columns [begin, end) on a device row from `out` on.
    void paintRow(int begin, int end, int row, QRgb *out) const {
        for (int index = begin; index < end; ++index, ++out) {
            const ColumnSample &column = m_columns[std::size_t(index)];
            *out = row >= column.firstRow && row < column.endRow
                       ? covered(column, row, at(column, row))
                       : 0;
        }
    }

    // Lays the pixels of columns [begin, end) on a device row under those from `out` on.
    void paintRowBeneath(int begin, int end, int row, QRgb *out) const {
        for (int index = begin; index < end; ++index, ++out) {
            const int opacity = qAlpha(*out);
            const ColumnSample &column = m_columns[std::size_t(index)];
            if (opacity == 255 || row < column.firstRow || row >= column.endRow)
                continue;
            const QRgb shade = covered(column, row, at(column, row));
            *out += multiplied(shade, quint32(255 - opacity));
        }
    }

private:
    QRgb at(const ColumnSample &column, int row) const {
        const qint64 source =
            std::clamp(column.rowOrigin + column.rowStep * row, qint64(0), m_lastRow);
        const QRgb *line = m_bits + (source >> 16) * m_stride + column.left;
        return bilinear(line, line + m_stride, column.across, int(source >> 9) & 127);
    }

    static QRgb covered(const ColumnSample &column, int row, QRgb pixel) {
        int coverage = column.coverage;
        if (row == column.firstRow || row == column.endRow - 1) {
            const float share =
                std::min(float(row + 1), column.bottom) - std::max(float(row), column.top);
            coverage = int(float(coverage) * std::clamp(share, 0.0f, 1.0f));
        }
        return coverage >= 256 ? pixel : scaled(pixel, coverage);
    }

    const DiaryTurnProjection &m_projection;
    const DiaryTurnedPicture &m_picture;
    QTransform m_device;
    double m_opacity;
    const QRgb *m_bits = nullptr;
    qsizetype m_stride = 0;
    qint64 m_lastRow = 0;
    std::vector<ColumnSample> m_columns;
};

// The painter's own perspective drawing, for painters that rotate or shear.
void paintThroughTransform(QPainter &painter, const DiaryTurnProjection &projection,
                           const DiaryTurnedPicture &picture, const DiaryTurnedPicture *beneath) {
    const double opacity = painter.opacity();
    for (const DiaryTurnedPicture *layer : {beneath, &picture}) {
        if (!layer || layer->image.isNull())
            continue;
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setTransform(projection.transform() *
                                 QTransform::fromTranslate(layer->offset.x(), layer->offset.y()),
                             true);
        painter.setOpacity(opacity * layer->opacity);
        painter.drawImage(layer->rect, layer->image);
        painter.restore();
    }
}

bool onlyScales(const QTransform &transform) {
    return transform.type() <= QTransform::TxScale && transform.m11() > 0 && transform.m22() > 0;
}

} // namespace

void paintTurnedPictures(QPainter &painter, const DiaryTurnProjection &projection,
                         const DiaryTurnedPicture &picture, const DiaryTurnedPicture *beneath) {
    if (std::abs(std::cos(projection.radians)) < 1e-6 || !(projection.eyeDistance > 0))
        return; // edge-on: nothing to see
    const QTransform device = painter.deviceTransform();
    PictureSampler top(projection, picture, device, painter.opacity());
    std::optional<PictureSampler> under;
    if (beneath && !beneath->image.isNull())
        under.emplace(projection, *beneath, device, painter.opacity());
    painter.save();
    painter.resetTransform();
    const QTransform unscaled = painter.deviceTransform();
    if (!painter.device() || !onlyScales(device) || !onlyScales(unscaled) || !top.usable() ||
        (under && !under->usable())) {
        painter.restore();
        paintThroughTransform(painter, projection, picture, beneath);
        return;
    }

    QRectF reach = top.deviceBounds();
    if (under)
        reach |= under->deviceBounds();
    const QPaintDevice &target = *painter.device();
    reach &= unscaled.mapRect(QRectF(0, 0, target.width(), target.height()));
    if (painter.hasClipping())
        reach &= unscaled.mapRect(painter.clipBoundingRect());
    const QRect area = reach.toAlignedRect();
    if (area.isEmpty()) {
        painter.restore();
        return;
    }
    top.prepare(area.left(), area.right() + 1);
    if (under)
        under->prepare(area.left(), area.right() + 1);

    const QTransform back = unscaled.inverted();
    painter.setOpacity(1);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    QImage band(area.width(), bandRows, QImage::Format_ARGB32_Premultiplied);
    for (int first = area.top(); first <= area.bottom(); first += bandRows) {
        const int rows = std::min(bandRows, area.bottom() + 1 - first);
        // Tile by tile, row by row: the rows of a tile read a few neighbouring source rows over
        // a short stretch, which stay in the cache for the next row.
        auto *pixels = reinterpret_cast<QRgb *>(band.bits());
        const qsizetype stride = band.bytesPerLine() / qsizetype(sizeof(QRgb));
        for (int begin = 0; begin < area.width(); begin += tileColumns) {
            const int end = std::min(begin + tileColumns, area.width());
            for (int r = 0; r < rows; ++r) {
                QRgb *out = pixels + r * stride + begin;
                top.paintRow(begin, end, first + r, out);
                if (under)
                    under->paintRowBeneath(begin, end, first + r, out);
            }
        }
        painter.drawImage(back.mapRect(QRectF(area.left(), first, area.width(), rows)), band,
                          QRectF(0, 0, area.width(), rows));
    }
    painter.restore();
}

void paintFlatPicture(QPainter &painter, const QRectF &rect, const QPixmap &picture) {
    if (picture.isNull())
        return;
    const QRectF source(picture.rect());
    const QRectF onDevice = painter.deviceTransform().mapRect(rect);
    const bool pixelForPixel = painter.deviceTransform().type() <= QTransform::TxScale &&
                               std::abs(onDevice.width() - source.width()) < 1e-6 &&
                               std::abs(onDevice.height() - source.height()) < 1e-6 &&
                               std::abs(onDevice.left() - std::round(onDevice.left())) < 1e-6 &&
                               std::abs(onDevice.top() - std::round(onDevice.top())) < 1e-6;
    if (!pixelForPixel) {
        painter.drawPixmap(rect, picture, source);
        return;
    }
    // Pixel for pixel there is nothing to smooth, and the plain copy is the fast one.
    const bool smooth = painter.testRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const double pointsPerRow = rect.height() / source.height();
    for (int first = 0; first < picture.height(); first += bandRows) {
        const int rows = std::min(bandRows, picture.height() - first);
        painter.drawPixmap(QRectF(rect.left(), rect.top() + first * pointsPerRow, rect.width(),
                                  rows * pointsPerRow),
                           picture, QRectF(0, first, source.width(), rows));
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
}

} // namespace velmora

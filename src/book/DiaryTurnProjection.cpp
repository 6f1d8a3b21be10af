#include "book/DiaryTurnProjection.h"

#include <QPaintDevice>
#include <QPainter>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
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
    // Rows [fastFirst, fastEnd) are wholly covered and read inside the picture.
    int fastFirst = 0;
    int fastEnd = 0;
};

#if defined(__SSE2__)
// The low 32 bits of each lane's product.
inline __m128i multipliedLanes(__m128i a, __m128i b) {
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}
#endif

class PictureSampler {
public:
    PictureSampler(const DiaryTurnProjection &projection, const DiaryTurnedPicture &picture,
                   const QTransform &device, double opacity)
        : m_projection(projection)
        , m_picture(picture)
        , m_device(device)
        , m_opacity(int(std::lround(std::clamp(picture.opacity * opacity, 0.0, 1.0) * 256))) {}

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

        for (int x = left; x < right; ++x) {
            ColumnSample &column = m_columns[std::size_t(x - left)];
            const double share = std::min(x + 1.0, rightEdge) - std::max(double(x), leftEdge);
            if (share <= 0 || m_opacity == 0)
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
            column.coverage = int(std::lround(std::min(share, 1.0) * m_opacity));
        }
        prepareRuns();
    }

    // Writes the pixels of columns [begin, end) on a device row from `out` on; `begin` is a
    // multiple of four.
    void paintRow(int begin, int end, int row, QRgb *out) const {
        int index = begin;
#if defined(__SSE2__)
        for (; index + 4 <= end; index += 4, out += 4) {
            const std::size_t group = std::size_t(index) / 4;
            if (row >= m_groupFirst[group] && row < m_groupEnd[group]) {
                paintFour(index, row, out);
                continue;
            }
            for (int k = 0; k < 4; ++k)
                out[k] = pixel(index + k, row);
        }
#endif
        for (; index < end; ++index, ++out)
            *out = pixel(index, row);
    }

private:
    QRgb pixel(int index, int row) const {
        const ColumnSample &column = m_columns[std::size_t(index)];
        return row >= column.firstRow && row < column.endRow ? covered(column, row, at(column, row))
                                                             : 0;
    }

    // Where whole groups of four columns can be painted at once, and their numbers laid out
    // for it.
    void prepareRuns() {
        const std::size_t count = m_columns.size();
        m_origins.resize(count);
        m_steps.resize(count);
        m_lefts.resize(count);
        m_acrossPatterns.resize(count + 1);
        for (std::size_t i = 0; i < count; ++i) {
            ColumnSample &column = m_columns[i];
            column.fastFirst = std::numeric_limits<int>::max();
            column.fastEnd = std::numeric_limits<int>::min();
            // Whole columns only, read between the first source row and the last.
            if (column.coverage == m_opacity && m_opacity > 0 && column.rowStep > 0 &&
                column.rowStep < (qint64(1) << 24)) {
                const qint64 fromRow =
                    column.rowOrigin >= 0
                        ? 0
                        : (-column.rowOrigin + column.rowStep - 1) / column.rowStep;
                const qint64 toRow = column.rowOrigin > m_lastRow
                                         ? -1
                                         : (m_lastRow - column.rowOrigin) / column.rowStep;
                column.fastFirst = int(std::max<qint64>(column.firstRow + 1, fromRow));
                column.fastEnd = int(std::min<qint64>(column.endRow - 1, toRow + 1));
            }
            // Products and sums wrap alike in 32 bits, and the rows read fit in them.
            m_origins[i] = qint32(quint32(quint64(column.rowOrigin)));
            m_steps[i] = qint32(column.rowStep);
            m_lefts[i] = column.left;
            m_acrossPatterns[i] = quint64(column.across) * 0x0001000100010001ULL;
        }
        m_groupFirst.assign(count / 4, std::numeric_limits<int>::max());
        m_groupEnd.assign(count / 4, std::numeric_limits<int>::min());
        for (std::size_t group = 0; group < count / 4; ++group) {
            int first = std::numeric_limits<int>::min();
            int end = std::numeric_limits<int>::max();
            for (std::size_t k = 0; k < 4; ++k) {
                first = std::max(first, m_columns[group * 4 + k].fastFirst);
                end = std::min(end, m_columns[group * 4 + k].fastEnd);
            }
            m_groupFirst[group] = first;
            m_groupEnd[group] = end;
        }
    }

#if defined(__SSE2__)
    // Four whole columns on a row, with the arithmetic of `at` and `covered` four at a time.
    void paintFour(int index, int row, QRgb *out) const {
        const __m128i zero = _mm_setzero_si128();
        const auto lanes = [](const qint32 *values) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i *>(values));
        };
        const __m128i source =
            _mm_add_epi32(lanes(m_origins.data() + index),
                          multipliedLanes(lanes(m_steps.data() + index), _mm_set1_epi32(row)));
        alignas(16) qint32 offsets[4];
        _mm_store_si128(reinterpret_cast<__m128i *>(offsets),
                        _mm_add_epi32(multipliedLanes(_mm_srli_epi32(source, 16),
                                                      _mm_set1_epi32(qint32(m_stride))),
                                      lanes(m_lefts.data() + index)));
        // Rows below are read a few rows later; their lines are on the way by then.
        _mm_prefetch(reinterpret_cast<const char *>(m_bits + offsets[0] + 4 * m_stride),
                     _MM_HINT_T0);
        const __m128i down = _mm_and_si128(_mm_srli_epi32(source, 9), _mm_set1_epi32(127));
        const __m128i downs =
            _mm_unpacklo_epi16(_mm_packs_epi32(down, down), _mm_packs_epi32(down, down));
        const auto pair = [&](int k, __m128i weight) {
            const QRgb *line = m_bits + offsets[k];
            const __m128i top =
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(line)), zero);
            const __m128i bottom = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i *>(line + m_stride)), zero);
            return _mm_add_epi16(
                top, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(bottom, top), weight), 7));
        };
        const auto across = [&](__m128i first, __m128i second, int k) {
            const __m128i left = _mm_unpacklo_epi64(first, second);
            const __m128i right = _mm_unpackhi_epi64(first, second);
            const __m128i weight =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(m_acrossPatterns.data() + k));
            return _mm_add_epi16(
                left, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(right, left), weight), 7));
        };
        __m128i firstTwo = across(pair(0, _mm_shuffle_epi32(downs, 0x00)),
                                  pair(1, _mm_shuffle_epi32(downs, 0x55)), index);
        __m128i lastTwo = across(pair(2, _mm_shuffle_epi32(downs, 0xaa)),
                                 pair(3, _mm_shuffle_epi32(downs, 0xff)), index + 2);
        if (m_opacity < 256) {
            const __m128i opacity = _mm_set1_epi16(short(m_opacity));
            firstTwo = _mm_srli_epi16(_mm_mullo_epi16(firstTwo, opacity), 8);
            lastTwo = _mm_srli_epi16(_mm_mullo_epi16(lastTwo, opacity), 8);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(firstTwo, lastTwo));
    }
#endif

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

    DiaryTurnProjection m_projection;
    DiaryTurnedPicture m_picture;
    QTransform m_device;
    // The picture's and the painter's opacity, out of 256.
    const int m_opacity;
    const QRgb *m_bits = nullptr;
    qsizetype m_stride = 0;
    qint64 m_lastRow = 0;
    std::vector<ColumnSample> m_columns;
    std::vector<qint32> m_origins;
    std::vector<qint32> m_steps;
    std::vector<qint32> m_lefts;
    std::vector<quint64> m_acrossPatterns;
    std::vector<int> m_groupFirst;
    std::vector<int> m_groupEnd;
};

// Lays `shade` under the premultiplied pixels from `out` on.
void layBeneath(QRgb *out, const QRgb *shade, int count) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(255);
    const __m128i half = _mm_set1_epi16(0x80);
    const auto under = [&](__m128i top, __m128i shadow) {
        const __m128i opacity = _mm_shufflehi_epi16(_mm_shufflelo_epi16(top, 0xff), 0xff);
        __m128i product = _mm_mullo_epi16(shadow, _mm_sub_epi16(full, opacity));
        product = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(product, _mm_srli_epi16(product, 8)), half), 8);
        return product;
    };
    for (; i + 4 <= count; i += 4) {
        const __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i *>(out + i));
        const __m128i shadow = _mm_loadu_si128(reinterpret_cast<const __m128i *>(shade + i));
        const __m128i low = under(_mm_unpacklo_epi8(top, zero), _mm_unpacklo_epi8(shadow, zero));
        const __m128i high = under(_mm_unpackhi_epi8(top, zero), _mm_unpackhi_epi8(shadow, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                         _mm_add_epi8(top, _mm_packus_epi16(low, high)));
    }
#endif
    for (; i < count; ++i)
        if (shade[i])
            out[i] += multiplied(shade[i], quint32(255 - qAlpha(out[i])));
}

// Whether every pixel from `out` on is opaque.
bool opaque(const QRgb *out, int count) {
    quint32 all = 0xff000000;
    for (int i = 0; i < count; ++i)
        all &= out[i];
    return all == 0xff000000;
}

// The painter's own perspective drawing, for painters that rotate or shear.
void paintThroughTransform(QPainter &painter, const DiaryTurnProjection &projection,
                           const DiaryTurnedPicture &picture, const DiaryTurnedPicture *beneath,
                           const DiaryOutlineShadow *outlineShadow) {
    const double opacity = painter.opacity();
    if (outlineShadow) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(outlineShadow->color, outlineShadow->edgeWidth, Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(outlineShadow->color);
        painter.drawPolygon(outlineShadow->outline);
        painter.restore();
    }
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

// The outline shadow at device pixels: the distance to the outline decides how much of a
// pixel the fill and the band cover.
class OutlineShader {
public:
    OutlineShader(const DiaryOutlineShadow &shadow, const QTransform &device) {
        const QPolygonF outline = device.map(shadow.outline);
        const qsizetype count = outline.size();
        const double scale = std::sqrt(std::abs(device.determinant()));
        m_half = shadow.edgeWidth * scale / 2;
        QColor color = shadow.color;
        m_alpha = color.alphaF();
        color.setAlphaF(1);
        m_color = color.rgba();
        double area = 0;
        for (qsizetype i = 0; i < count; ++i) {
            const QPointF &a = outline[i];
            const QPointF &b = outline[(i + 1) % count];
            area += a.x() * b.y() - b.x() * a.y();
        }
        for (qsizetype i = 0; i < count; ++i) {
            const QPointF a = outline[i];
            const QPointF d = outline[(i + 1) % count] - a;
            const double length = std::hypot(d.x(), d.y());
            if (length <= 0)
                continue;
            // Outward normals: a positive side means outside.
            const QPointF normal = QPointF(d.y(), -d.x()) * ((area > 0 ? 1 : -1) / length);
            m_edges.push_back({a, d, normal, length * length});
        }
        m_bounds =
            outline.boundingRect().adjusted(-m_half - 1, -m_half - 1, m_half + 1, m_half + 1);
        m_deepInside = shade(1, 0);
    }

    bool usable() const { return m_edges.size() >= 3 && m_alpha > 0; }
    QRectF deviceBounds() const { return m_bounds; }

    // Lays the shadow under the premultiplied pixels of device row `row` from column `left`
    // on, where they let it show.
    void layBeneath(int left, int row, QRgb *out, int count) const {
        const double y = row + 0.5;
        if (y < m_bounds.top() || y > m_bounds.bottom())
            return;
        for (int i = 0; i < count; ++i) {
            const int above = qAlpha(out[i]);
            if (above == 255)
                continue;
            const double x = left + i + 0.5;
            if (x < m_bounds.left() || x > m_bounds.right())
                continue;
            const QRgb shade = at(QPointF(x, y));
            if (shade)
                out[i] += multiplied(shade, quint32(255 - above));
        }
    }

private:
    struct Edge {
        QPointF start;
        QPointF direction;
        QPointF normal;
        double lengthSquared;
    };

    QRgb at(const QPointF &point) const {
        // The sides' distances settle most pixels: far outside, or deep inside where only the
        // fill reaches.
        double outside = -std::numeric_limits<double>::max();
        for (const Edge &edge : m_edges)
            outside = std::max(outside, QPointF::dotProduct(point - edge.start, edge.normal));
        if (outside > m_half + 1)
            return 0;
        if (outside < -m_half - 1)
            return m_deepInside;
        double nearestSquared = std::numeric_limits<double>::max();
        for (const Edge &edge : m_edges) {
            const QPointF offset = point - edge.start;
            const double along = std::clamp(
                QPointF::dotProduct(offset, edge.direction) / edge.lengthSquared, 0.0, 1.0);
            const QPointF nearest = offset - edge.direction * along;
            nearestSquared = std::min(nearestSquared, QPointF::dotProduct(nearest, nearest));
        }
        const double distance = std::sqrt(nearestSquared);
        const double fill = std::clamp(outside <= 0 ? 0.5 + distance : 0.5 - distance, 0.0, 1.0);
        const double band = std::clamp(m_half + 0.5 - distance, 0.0, 1.0);
        return shade(fill, band);
    }

    // The band is laid over the fill in the same colour.
    QRgb shade(double fill, double band) const {
        const double alpha = 1 - (1 - m_alpha * fill) * (1 - m_alpha * band);
        return alpha <= 0 ? 0 : multiplied(m_color, quint32(std::lround(alpha * 255)));
    }

    std::vector<Edge> m_edges;
    QRectF m_bounds;
    double m_half = 0;
    double m_alpha = 0;
    QRgb m_color = 0;
    QRgb m_deepInside = 0;
};

// One frame's bands, shared by the GUI thread and the helpers that paint some of them.
struct TurnedFrame {
    TurnedFrame(PictureSampler &&top, std::optional<PictureSampler> &&under,
                std::optional<OutlineShader> &&outline, const QRect &area)
        : top(std::move(top))
        , under(std::move(under))
        , outline(std::move(outline))
        , area(area)
        , count((area.height() + bandRows - 1) / bandRows)
        , bands(std::size_t(count))
        , states(std::make_unique<std::atomic<int>[]>(std::size_t(count))) {}

    enum State { waiting, painting, painted };

    // Paints band `index` into `image`.
    void paint(int index, QImage &image) const {
        const int first = area.top() + index * bandRows;
        const int rows = std::min(bandRows, area.bottom() + 1 - first);
        image = QImage(area.width(), rows, QImage::Format_ARGB32_Premultiplied);
        auto *pixels = reinterpret_cast<QRgb *>(image.bits());
        const qsizetype stride = image.bytesPerLine() / qsizetype(sizeof(QRgb));
        QRgb shade[tileColumns];
        // Tile by tile, row by row: the rows of a tile read a few neighbouring source rows over
        // a short stretch, which stay in the cache for the next row.
        for (int begin = 0; begin < area.width(); begin += tileColumns) {
            const int end = std::min(begin + tileColumns, area.width());
            for (int r = 0; r < rows; ++r) {
                QRgb *out = pixels + r * stride + begin;
                top.paintRow(begin, end, first + r, out);
                if (under && !opaque(out, end - begin)) {
                    under->paintRow(begin, end, first + r, shade);
                    layBeneath(out, shade, end - begin);
                }
                if (outline)
                    outline->layBeneath(area.left() + begin, first + r, out, end - begin);
            }
        }
    }

    // Takes the next band nobody has taken and paints it; false once none is left.
    bool paintNext() {
        const int index = next.fetch_add(1);
        if (index >= count)
            return false;
        states[std::size_t(index)].store(painting);
        paint(index, bands[std::size_t(index)]);
        states[std::size_t(index)].store(painted, std::memory_order_release);
        return true;
    }

    const PictureSampler top;
    const std::optional<PictureSampler> under;
    const std::optional<OutlineShader> outline;
    const QRect area;
    const int count;
    std::vector<QImage> bands;
    std::unique_ptr<std::atomic<int>[]> states;
    std::atomic<int> next{0};
};

// Helpers share a frame's bands when the pool has idle threads: as many as leave a core to the
// GUI thread, which paints bands too. It never waits for one: it paints what nobody has taken,
// and repaints itself a band a helper is still on, so a helper the system has put aside costs
// nothing but its own time.
int helperCount() {
    return std::max(0, QThreadPool::globalInstance()->maxThreadCount() - 1);
}

} // namespace

void paintTurnedPictures(QPainter &painter, const DiaryTurnProjection &projection,
                         const DiaryTurnedPicture &picture, const DiaryTurnedPicture *beneath,
                         const DiaryOutlineShadow *outlineShadow) {
    if (std::abs(std::cos(projection.radians)) < 1e-6 || !(projection.eyeDistance > 0))
        return; // edge-on: nothing to see
    const QTransform device = painter.deviceTransform();
    PictureSampler top(projection, picture, device, painter.opacity());
    std::optional<PictureSampler> under;
    if (beneath && !beneath->image.isNull())
        under.emplace(projection, *beneath, device, painter.opacity());
    std::optional<OutlineShader> outline;
    if (outlineShadow && outlineShadow->color.alpha() > 0 && painter.opacity() > 0) {
        DiaryOutlineShadow faded = *outlineShadow;
        faded.color.setAlphaF(float(faded.color.alphaF() * painter.opacity()));
        outline.emplace(faded, device);
    }
    painter.save();
    painter.resetTransform();
    const QTransform unscaled = painter.deviceTransform();
    if (!painter.device() || !onlyScales(device) || !onlyScales(unscaled) || !top.usable() ||
        (under && !under->usable()) || (outline && !outline->usable())) {
        painter.restore();
        paintThroughTransform(painter, projection, picture, beneath, outlineShadow);
        return;
    }

    QRectF reach = top.deviceBounds();
    if (under)
        reach |= under->deviceBounds();
    if (outline)
        reach |= outline->deviceBounds();
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
    auto frame =
        std::make_shared<TurnedFrame>(std::move(top), std::move(under), std::move(outline), area);
    for (int i = 0; i < std::min(helperCount(), frame->count - 1); ++i)
        if (!QThreadPool::globalInstance()->tryStart([frame] {
                while (frame->paintNext()) {
                }
            }))
            break;
    QImage own;
    for (int index = 0; index < frame->count; ++index) {
        auto &state = frame->states[std::size_t(index)];
        while (state.load(std::memory_order_acquire) != TurnedFrame::painted &&
               frame->paintNext()) {
        }
        const QImage *band = &frame->bands[std::size_t(index)];
        if (state.load(std::memory_order_acquire) != TurnedFrame::painted) {
            frame->paint(index, own);
            band = &own;
        }
        const int first = area.top() + index * bandRows;
        painter.drawImage(back.mapRect(QRectF(area.left(), first, area.width(), band->height())),
                          *band);
    }
    // Helpers still at work finish a band nobody needs and let the frame go.
    frame->next.store(frame->count);
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

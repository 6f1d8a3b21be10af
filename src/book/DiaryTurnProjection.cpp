#include "book/DiaryTurnProjection.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QRegion>
#include <QThreadPool>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__) && defined(__SSE2__)
#include <immintrin.h>
// The tile loops have a build of their own for processors with AVX2, chosen when a frame starts.
#define VELMORA_AVX2_TILES 1
#define VELMORA_AVX2 __attribute__((target("avx2")))
#endif

// The sampling loops are built twice, for processors with AVX2 and for the rest, and the loader
// picks one: the same code in the wider instruction encoding takes about a tenth fewer
// instructions.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VELMORA_WIDE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VELMORA_WIDE_CLONES
#endif

namespace velmora {

namespace {
std::atomic<DiarySampling> requestedSampling{DiarySampling::widest};
}

void setDiarySampling(DiarySampling sampling) {
    requestedSampling.store(sampling, std::memory_order_relaxed);
}

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
constexpr int tileColumns = 256;
// The bytes of one source row mixed across for a tile's columns, as a shift.
constexpr int mixedRowShift = 11;
static_assert(tileColumns * 4 * 2 == 1 << mixedRowShift);

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

// The build of the sampling loops a frame uses.
enum class SamplingWidth { plain, sse2, avx2 };

SamplingWidth samplingWidth() {
    const DiarySampling requested = requestedSampling.load(std::memory_order_relaxed);
#if defined(__SSE2__)
    if (requested == DiarySampling::plain)
        return SamplingWidth::plain;
#if defined(VELMORA_AVX2_TILES)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (requested == DiarySampling::widest && avx2)
        return SamplingWidth::avx2;
#endif
    return SamplingWidth::sse2;
#else
    (void)requested;
    return SamplingWidth::plain;
#endif
}

// Eight source pixels from `base` on that hold both pixels each column of a group of four reads,
// and where they are among the eight, in the order the tile mixes them: the left pixels of the
// first two columns, their right ones, then the same for the last two. Each channel of a column
// is mixed as left × (128 − w) + right × w with both weights in a signed byte: a column that reads
// one pixel alone reads it twice at half weight. No window when `base` is negative.
struct SourceWindow {
    qint32 base = -1;
    qint32 lanes[8] = {};
    qint8 weights[32] = {};
};

#if defined(VELMORA_AVX2_TILES)
VELMORA_AVX2 inline __m256i load256(const void *at) {
    return _mm256_loadu_si256(static_cast<const __m256i *>(at));
}

VELMORA_AVX2 inline void store256(void *at, __m256i value) {
    _mm256_storeu_si256(static_cast<__m256i *>(at), value);
}

// first + (second − first) × weight / 128 in each 16-bit lane: differences times seven-bit
// weights stay within sixteen signed bits.
VELMORA_AVX2 inline __m256i mixedLanes(__m256i first, __m256i second, __m256i weight) {
    return _mm256_add_epi16(
        first, _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(second, first), weight), 7));
}

// The 8 bytes at each of four places, in that order.
VELMORA_AVX2 inline __m256i fourPairs(const char *a, const char *b, const char *c, const char *d) {
    const auto load = [](const char *at) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(at));
    };
    return _mm256_set_m128i(_mm_unpacklo_epi64(load(c), load(d)),
                            _mm_unpacklo_epi64(load(a), load(b)));
}
#endif

// Where the groups of four columns of a tile are painted from source rows mixed across: each
// group's device rows [fastFrom, fastTo), the source rows [groupLow, groupHigh] they read, and
// the source rows [low, high] of them all.
struct TileRows {
    int groups = 0;
    int fastFrom[tileColumns / 4];
    int fastTo[tileColumns / 4];
    qint64 groupLow[tileColumns / 4];
    qint64 groupHigh[tileColumns / 4];
    qint64 low = std::numeric_limits<qint64>::max();
    qint64 high = std::numeric_limits<qint64>::min();
};

// Working memory of one thread's tiles, kept for the tiles that follow.
class TileScratch {
public:
    quint16 *mixed(std::size_t size) {
        if (size > m_size) {
            m_mixed = std::make_unique_for_overwrite<quint16[]>(size);
            m_size = size;
        }
        return m_mixed.get();
    }

private:
    std::unique_ptr<quint16[]> m_mixed;
    std::size_t m_size = 0;
};

class PictureSampler {
public:
    PictureSampler(const DiaryTurnProjection &projection, const DiaryTurnedPicture &picture,
                   const QTransform &device, double opacity)
        : m_projection(projection)
        , m_picture(picture)
        , m_device(device)
        , m_opacity(int(std::lround(std::clamp(picture.opacity * opacity, 0.0, 1.0) * 256)))
        , m_width(samplingWidth()) {}

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
    VELMORA_WIDE_CLONES void paintRow(int begin, int end, int row, QRgb *out) const {
        int index = begin;
#if defined(VELMORA_AVX2_TILES)
        if (m_width == SamplingWidth::avx2)
            for (; index + 8 <= end; index += 8, out += 8) {
                const std::size_t group = std::size_t(index) / 4;
                if (row >= std::max(m_groupFirst[group], m_groupFirst[group + 1]) &&
                    row < std::min(m_groupEnd[group], m_groupEnd[group + 1]))
                    paintEight(index, row, out);
                else
                    for (int k = 0; k < 8; k += 4)
                        paintGroup(index + k, row, out + k);
            }
#endif
#if defined(__SSE2__)
        for (; m_width != SamplingWidth::plain && index + 4 <= end; index += 4, out += 4)
            paintGroup(index, row, out);
#endif
        for (; index < end; ++index, ++out)
            *out = pixel(index, row);
    }

    // Paints columns [begin, end) of device rows [first, first + rows) into `out`, whose rows
    // lie `stride` pixels apart; `begin` is a multiple of four. Where whole groups of four
    // columns lie inside the picture, every source row the tile reads is first mixed across for
    // each column, once, and the columns are then mixed down: the source is read row by row,
    // and the arithmetic of each source row is shared by the device rows that read it.
    VELMORA_WIDE_CLONES void paintTile(int begin, int end, int first, int rows, QRgb *out,
                                       qsizetype stride,
                                       [[maybe_unused]] TileScratch &scratch) const {
#if defined(VELMORA_AVX2_TILES)
        if (m_width == SamplingWidth::avx2) {
            paintTileAvx2(begin, end, first, rows, out, stride, scratch);
            return;
        }
#endif
#if defined(__SSE2__)
        if (m_width == SamplingWidth::plain) {
            for (int r = 0; r < rows; ++r)
                paintRow(begin, end, first + r, out + r * stride);
            return;
        }
        const TileRows tile = tileRows(begin, end, first, rows);
        // Mixed across: per source row, four 16-bit channels for each of the tile's columns.
        constexpr int mixedRow = tileColumns * 4;
        quint16 *const mixed = tile.low <= tile.high
                                   ? scratch.mixed(std::size_t(tile.high - tile.low + 1) * mixedRow)
                                   : nullptr;
        if (mixed) {
            const __m128i zero = _mm_setzero_si128();
            for (qint64 row = tile.low; row <= tile.high; ++row) {
                const QRgb *line = m_bits + row * m_stride;
                quint16 *to = mixed + (row - tile.low) * mixedRow;
                for (int g = 0; g < tile.groups; ++g) {
                    if (row < tile.groupLow[g] || row > tile.groupHigh[g])
                        continue;
                    for (int pair = 0; pair < 4; pair += 2) {
                        const std::size_t k = std::size_t(begin + g * 4 + pair);
                        const __m128i a = _mm_unpacklo_epi8(
                            _mm_loadl_epi64(reinterpret_cast<const __m128i *>(line + m_lefts[k])),
                            zero);
                        const __m128i b =
                            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(
                                                  line + m_lefts[k + 1])),
                                              zero);
                        const __m128i lefts = _mm_unpacklo_epi64(a, b);
                        const __m128i rights = _mm_unpackhi_epi64(a, b);
                        const __m128i weights = _mm_loadu_si128(
                            reinterpret_cast<const __m128i *>(m_acrossPatterns.data() + k));
                        _mm_storeu_si128(
                            reinterpret_cast<__m128i *>(to + (g * 4 + pair) * 4),
                            _mm_add_epi16(
                                lefts,
                                _mm_srai_epi16(
                                    _mm_mullo_epi16(_mm_sub_epi16(rights, lefts), weights), 7)));
                    }
                }
            }
        }

        // Mixed down, device row by device row; each group's source rows advance by their steps.
        __m128i sources[tileColumns / 4];
        __m128i steps[tileColumns / 4];
        for (int g = 0; g < tile.groups; ++g) {
            const std::size_t k = std::size_t(begin + g * 4);
            const auto lanes = [](const qint32 *values) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i *>(values));
            };
            steps[g] = lanes(m_steps.data() + k);
            alignas(16) qint32 at[4];
            for (std::size_t i = 0; i < 4; ++i)
                at[i] = qint32(quint32(quint64(m_origins[k + i]) +
                                       quint64(m_steps[k + i]) * quint64(qint64(first))));
            sources[g] = _mm_load_si128(reinterpret_cast<const __m128i *>(at));
        }
        const __m128i down = _mm_set1_epi32(127);
        const __m128i lowRow = _mm_set1_epi32(int(mixed ? tile.low : 0));
        const __m128i opacity = _mm_set1_epi16(short(m_opacity));
        const __m128i lanes = _mm_set_epi32(24, 16, 8, 0);
        const __m128i zero4 = _mm_setzero_si128();
        const auto *bytes = reinterpret_cast<const char *>(mixed);
        for (int r = 0; r < rows; ++r) {
            const int row = first + r;
            QRgb *line = out + r * stride;
            for (int g = 0; g < tile.groups; ++g) {
                const __m128i source = sources[g];
                sources[g] = _mm_add_epi32(source, steps[g]);
                if (row < tile.fastFrom[g] || row >= tile.fastTo[g]) {
                    const std::size_t group = std::size_t(begin) / 4 + std::size_t(g);
                    if (row < m_groupTop[group] || row >= m_groupBottom[group])
                        _mm_storeu_si128(reinterpret_cast<__m128i *>(line + g * 4), zero4);
                    else
                        for (int k = 0; k < 4; ++k)
                            line[g * 4 + k] = pixel(begin + g * 4 + k, row);
                    continue;
                }
                // Byte offsets of each column's upper source row in `mixed`.
                const __m128i offsets =
                    _mm_add_epi32(_mm_slli_epi32(_mm_sub_epi32(_mm_srli_epi32(source, 16), lowRow),
                                                 mixedRowShift),
                                  _mm_add_epi32(lanes, _mm_set1_epi32(g * 32)));
                const __m128i weight = _mm_and_si128(_mm_srli_epi32(source, 9), down);
                const __m128i weight16 = _mm_unpacklo_epi16(_mm_packs_epi32(weight, weight),
                                                            _mm_packs_epi32(weight, weight));
                const char *p0 = bytes + _mm_cvtsi128_si32(offsets);
                const auto load = [](const char *at) {
                    return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(at));
                };
                const auto load2 = [](const char *at) {
                    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
                };
                __m128i top01, top23, bottom01, bottom23;
                // The four columns usually read the same source rows, whose mixed values lie
                // side by side.
                const __m128i rowsRead = _mm_srli_epi32(source, 16);
                if (_mm_movemask_epi8(_mm_cmpeq_epi32(rowsRead, _mm_shuffle_epi32(rowsRead, 0))) ==
                    0xffff) {
                    top01 = load2(p0);
                    top23 = load2(p0 + 16);
                    bottom01 = load2(p0 + mixedRow * 2);
                    bottom23 = load2(p0 + mixedRow * 2 + 16);
                } else {
                    const char *p1 = bytes + _mm_cvtsi128_si32(_mm_shuffle_epi32(offsets, 0x55));
                    const char *p2 = bytes + _mm_cvtsi128_si32(_mm_shuffle_epi32(offsets, 0xaa));
                    const char *p3 = bytes + _mm_cvtsi128_si32(_mm_shuffle_epi32(offsets, 0xff));
                    top01 = _mm_unpacklo_epi64(load(p0), load(p1));
                    top23 = _mm_unpacklo_epi64(load(p2), load(p3));
                    bottom01 = _mm_unpacklo_epi64(load(p0 + mixedRow * 2), load(p1 + mixedRow * 2));
                    bottom23 = _mm_unpacklo_epi64(load(p2 + mixedRow * 2), load(p3 + mixedRow * 2));
                }
                __m128i first2 = _mm_add_epi16(
                    top01, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(bottom01, top01),
                                                          _mm_unpacklo_epi32(weight16, weight16)),
                                          7));
                __m128i last2 = _mm_add_epi16(
                    top23, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(bottom23, top23),
                                                          _mm_unpackhi_epi32(weight16, weight16)),
                                          7));
                if (m_opacity < 256) {
                    first2 = _mm_srli_epi16(_mm_mullo_epi16(first2, opacity), 8);
                    last2 = _mm_srli_epi16(_mm_mullo_epi16(last2, opacity), 8);
                }
                _mm_storeu_si128(reinterpret_cast<__m128i *>(line + g * 4),
                                 _mm_packus_epi16(first2, last2));
            }
            for (int index = begin + tile.groups * 4; index < end; ++index)
                line[index - begin] = pixel(index, row);
        }
#else
        for (int r = 0; r < rows; ++r)
            paintRow(begin, end, first + r, out + r * stride);
#endif
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
        m_groupTop.assign(count / 4, std::numeric_limits<int>::max());
        m_groupBottom.assign(count / 4, std::numeric_limits<int>::min());
        m_windows.assign(count / 4, SourceWindow{});
        const int width = m_picture.image.width();
        for (std::size_t group = 0; group < count / 4; ++group) {
            int first = std::numeric_limits<int>::min();
            int end = std::numeric_limits<int>::max();
            int leftmost = std::numeric_limits<int>::max();
            int rightmost = std::numeric_limits<int>::min();
            for (std::size_t k = 0; k < 4; ++k) {
                const ColumnSample &column = m_columns[group * 4 + k];
                first = std::max(first, column.fastFirst);
                end = std::min(end, column.fastEnd);
                if (column.firstRow < column.endRow) {
                    m_groupTop[group] = std::min(m_groupTop[group], column.firstRow);
                    m_groupBottom[group] = std::max(m_groupBottom[group], column.endRow);
                }
                leftmost = std::min(leftmost, column.left);
                rightmost = std::max(rightmost, column.left + 1);
            }
            m_groupFirst[group] = first;
            m_groupEnd[group] = end;
            // Kept inside the row: the last pixel read is at most width − 1.
            if (width >= 8 && rightmost - leftmost < 8) {
                SourceWindow &window = m_windows[group];
                window.base = std::min(leftmost, width - 8);
                for (int half = 0; half < 2; ++half)
                    for (int k = 0; k < 2; ++k) {
                        const int c = half * 2 + k;
                        const ColumnSample &column = m_columns[group * 4 + std::size_t(c)];
                        const bool alone = column.across == 0 || column.across == 128;
                        const int left = column.left + (column.across == 128 ? 1 : 0);
                        window.lanes[half * 4 + k] = left - window.base;
                        window.lanes[half * 4 + 2 + k] = left + (alone ? 0 : 1) - window.base;
                        for (int channel = 0; channel < 4; ++channel) {
                            window.weights[c * 8 + channel * 2] =
                                qint8(alone ? 64 : 128 - column.across);
                            window.weights[c * 8 + channel * 2 + 1] =
                                qint8(alone ? 64 : column.across);
                        }
                    }
            }
        }
    }

#if defined(VELMORA_AVX2_TILES)
    // paintTile for processors with AVX2: a group's source rows are mixed across with one load
    // of the eight source pixels its columns read, and device rows are mixed down eight columns
    // at a time. The pixels are those of the narrower build.
    VELMORA_AVX2 void paintTileAvx2(int begin, int end, int first, int rows, QRgb *out,
                                    qsizetype stride, TileScratch &scratch) const {
        constexpr int mostGroups = tileColumns / 4;
        const std::size_t firstGroup = std::size_t(begin) / 4;
        // Locals, so that the stores below do not make the compiler load them again.
        const int *const groupTop = m_groupTop.data() + firstGroup;
        const int *const groupBottom = m_groupBottom.data() + firstGroup;
        const SourceWindow *const windows = m_windows.data() + firstGroup;
        const qint32 *const origins = m_origins.data() + begin;
        const qint32 *const steps = m_steps.data() + begin;
        const qint32 *const lefts = m_lefts.data() + begin;
        const quint64 *const acrossWeights = m_acrossPatterns.data() + begin;
        const QRgb *const bits = m_bits;
        const qsizetype sourceStride = m_stride;
        const int opacity = m_opacity;

        const TileRows tile = tileRows(begin, end, first, rows);
        // Device rows of each pair of groups that are painted from the rows mixed across.
        int pairFrom[mostGroups / 2];
        int pairTo[mostGroups / 2];
        const int pairs = (tile.groups + 1) / 2;
        for (int p = 0; p < pairs; ++p) {
            const bool whole = p * 2 + 1 < tile.groups;
            pairFrom[p] = whole ? std::max(tile.fastFrom[p * 2], tile.fastFrom[p * 2 + 1])
                                : std::numeric_limits<int>::max();
            pairTo[p] = whole ? std::min(tile.fastTo[p * 2], tile.fastTo[p * 2 + 1]) : 0;
        }

        constexpr int mixedRow = tileColumns * 4;
        quint16 *const mixed = tile.low <= tile.high
                                   ? scratch.mixed(std::size_t(tile.high - tile.low + 2) * mixedRow)
                                   : nullptr;
        const __m256i zero = _mm256_setzero_si256();
        if (mixed) {
            for (int g = 0; g < tile.groups; ++g) {
                if (tile.groupLow[g] > tile.groupHigh[g])
                    continue;
                const __m256i weights = load256(acrossWeights + g * 4);
                const QRgb *line = bits + tile.groupLow[g] * sourceStride;
                quint16 *to = mixed + (tile.groupLow[g] - tile.low) * mixedRow + g * 16;
                const qint64 count = tile.groupHigh[g] - tile.groupLow[g] + 1;
                const SourceWindow &window = windows[g];
                if (window.base >= 0) {
                    const __m256i lanes = load256(window.lanes);
                    const __m256i pairWeights = load256(window.weights);
                    // Each column's left and right pixel, channel by channel.
                    const __m256i interleave =
                        _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8,
                                         1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
                    line += window.base;
                    for (qint64 i = 0; i < count; ++i, line += sourceStride, to += mixedRow) {
                        // The groups to the right read the next line of each row soon.
                        _mm_prefetch(reinterpret_cast<const char *>(line + 16), _MM_HINT_T0);
                        const __m256i picked = _mm256_permutevar8x32_epi32(load256(line), lanes);
                        store256(to, _mm256_srli_epi16(
                                         _mm256_maddubs_epi16(
                                             _mm256_shuffle_epi8(picked, interleave), pairWeights),
                                         7));
                    }
                    continue;
                }
                // Columns far apart: each one's pair of pixels on its own.
                const qsizetype l0 = lefts[g * 4] * 4;
                const qsizetype l1 = lefts[g * 4 + 1] * 4;
                const qsizetype l2 = lefts[g * 4 + 2] * 4;
                const qsizetype l3 = lefts[g * 4 + 3] * 4;
                for (qint64 i = 0; i < count; ++i, line += sourceStride, to += mixedRow) {
                    const auto *at = reinterpret_cast<const char *>(line);
                    _mm_prefetch(at + l3 + 64, _MM_HINT_T0);
                    const __m256i picked = _mm256_shuffle_epi32(
                        fourPairs(at + l0, at + l1, at + l2, at + l3), _MM_SHUFFLE(3, 1, 2, 0));
                    store256(to, mixedLanes(_mm256_unpacklo_epi8(picked, zero),
                                            _mm256_unpackhi_epi8(picked, zero), weights));
                }
            }
        }

        // Mixed down. Each column's source row, in 1/65536 rows from the first row of `mixed`,
        // advances by its step from device row to device row; products and sums wrap alike in 32
        // bits.
        __m256i sources[mostGroups / 2];
        __m256i advances[mostGroups / 2];
        const quint64 lowest = quint64(mixed ? tile.low : 0) << 16;
        for (int p = 0; p < pairs; ++p) {
            alignas(32) qint32 at[8] = {};
            alignas(32) qint32 step[8] = {};
            for (int k = 0; k < std::min(8, tile.groups * 4 - p * 8); ++k) {
                step[k] = steps[p * 8 + k];
                at[k] = qint32(quint32(quint64(origins[p * 8 + k]) +
                                       quint64(step[k]) * quint64(qint64(first)) - lowest));
            }
            sources[p] = load256(at);
            advances[p] = load256(step);
        }
        const __m256i fraction = _mm256_set1_epi32(127);
        const __m256i faded = _mm256_set1_epi16(short(opacity));
        // Byte offsets of a pair's columns in a row of `mixed`.
        const __m256i columnBytes = _mm256_setr_epi32(0, 8, 16, 24, 32, 40, 48, 56);
        const __m256i firstFour = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
        const __m256i lastFour = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
        const auto *bytes = reinterpret_cast<const char *>(mixed);
        constexpr int nextRow = mixedRow * 2;
        const auto fade = [&](__m256i value) VELMORA_AVX2 {
            return opacity < 256 ? _mm256_srli_epi16(_mm256_mullo_epi16(value, faded), 8) : value;
        };
        // The four columns from lane `half` × 4 of a pair's `source`, group `g`, into `to`.
        const auto four = [&](__m256i source, int half, int g, QRgb *to) VELMORA_AVX2 {
            const __m256i rowsRead = _mm256_srli_epi32(source, 16);
            __m256i weight = _mm256_and_si256(_mm256_srli_epi32(source, 9), fraction);
            weight = _mm256_or_si256(weight, _mm256_slli_epi32(weight, 16));
            const __m256i offsets = _mm256_add_epi32(
                _mm256_slli_epi32(rowsRead, mixedRowShift),
                _mm256_add_epi32(columnBytes, _mm256_set1_epi32(g * 32 - half * 32)));
            alignas(32) qint32 offset[8];
            store256(offset, offsets);
            const char *p0 = bytes + offset[half * 4];
            const char *p1 = bytes + offset[half * 4 + 1];
            const char *p2 = bytes + offset[half * 4 + 2];
            const char *p3 = bytes + offset[half * 4 + 3];
            __m256i top;
            __m256i bottom;
            if (p1 == p0 + 8 && p3 == p0 + 24 && p2 == p0 + 16) {
                top = load256(p0);
                bottom = load256(p0 + nextRow);
            } else {
                top = fourPairs(p0, p1, p2, p3);
                bottom = fourPairs(p0 + nextRow, p1 + nextRow, p2 + nextRow, p3 + nextRow);
            }
            const __m256i mixedDown = fade(mixedLanes(
                top, bottom, _mm256_permutevar8x32_epi32(weight, half ? lastFour : firstFour)));
            const __m256i packed = _mm256_permute4x64_epi64(
                _mm256_packus_epi16(mixedDown, mixedDown), _MM_SHUFFLE(3, 1, 2, 0));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to), _mm256_castsi256_si128(packed));
        };
        // A row of a group outside its fast rows: cleared, or pixel by pixel at the edges.
        const auto edge = [&](__m256i source, int half, int g, int row, QRgb *to) VELMORA_AVX2 {
            if (row >= tile.fastFrom[g] && row < tile.fastTo[g]) {
                four(source, half, g, to);
            } else if (row < groupTop[g] || row >= groupBottom[g]) {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(to), _mm_setzero_si128());
            } else {
                for (int k = 0; k < 4; ++k)
                    to[k] = pixel(begin + g * 4 + k, row);
            }
        };
        const __m256i oneRow = _mm256_set1_epi32(1);
        // Pair by pair, down the tile.
        for (int p = 0; p < pairs; ++p) {
            const int g = p * 2;
            const bool whole = g + 1 < tile.groups;
            __m256i source = sources[p];
            const __m256i advance = advances[p];
            const int from = int(std::clamp<qint64>(qint64(pairFrom[p]) - first, 0, rows));
            const int until = int(std::clamp<qint64>(qint64(pairTo[p]) - first, from, rows));
            QRgb *to = out + p * 8;
            const auto edges = [&](int r) VELMORA_AVX2 {
                edge(source, 0, g, first + r, to);
                if (whole)
                    edge(source, 1, g + 1, first + r, to + 4);
            };
            int r = 0;
            for (; r < from; ++r, to += stride, source = _mm256_add_epi32(source, advance))
                edges(r);
            // Each half's columns read the same source row or the next one: the three rows from the
            // least on are read, and each column picks its two.
            const char *const pairBytes = bytes + p * 64;
            for (; r < until; ++r, to += stride, source = _mm256_add_epi32(source, advance)) {
                const __m256i rowsRead = _mm256_srli_epi32(source, 16);
                __m256i least = _mm256_min_epi32(
                    rowsRead, _mm256_shuffle_epi32(rowsRead, _MM_SHUFFLE(2, 3, 0, 1)));
                least =
                    _mm256_min_epi32(least, _mm256_shuffle_epi32(least, _MM_SHUFFLE(1, 0, 3, 2)));
                const __m256i below = _mm256_sub_epi32(rowsRead, least);
                if (_mm256_movemask_epi8(_mm256_cmpgt_epi32(below, oneRow)) != 0) {
                    edges(r);
                    continue;
                }
                __m256i weight = _mm256_and_si256(_mm256_srli_epi32(source, 9), fraction);
                weight = _mm256_or_si256(weight, _mm256_slli_epi32(weight, 16));
                const __m256i lower = _mm256_sub_epi32(_mm256_setzero_si256(), below);
                const __m256i leastBytes = _mm256_slli_epi32(least, mixedRowShift);
                const char *const a = pairBytes + quint32(_mm256_cvtsi256_si32(leastBytes));
                const char *const b =
                    pairBytes + 32 +
                    quint32(_mm_cvtsi128_si32(_mm256_extracti128_si256(leastBytes, 1)));
                const auto half = [&](const char *at, __m256i spread) VELMORA_AVX2 {
                    const __m256i pick = _mm256_permutevar8x32_epi32(lower, spread);
                    const __m256i middle = load256(at + nextRow);
                    return fade(
                        mixedLanes(_mm256_blendv_epi8(load256(at), middle, pick),
                                   _mm256_blendv_epi8(middle, load256(at + 2 * nextRow), pick),
                                   _mm256_permutevar8x32_epi32(weight, spread)));
                };
                store256(to, _mm256_permute4x64_epi64(
                                 _mm256_packus_epi16(half(a, firstFour), half(b, lastFour)),
                                 _MM_SHUFFLE(3, 1, 2, 0)));
            }
            for (; r < rows; ++r, to += stride, source = _mm256_add_epi32(source, advance))
                edges(r);
        }
        for (int r = 0; r < rows; ++r) {
            QRgb *const line = out + r * stride;
            for (int index = begin + tile.groups * 4; index < end; ++index)
                line[index - begin] = pixel(index, first + r);
        }
    }
#endif

    TileRows tileRows(int begin, int end, int first, int rows) const {
        TileRows tile;
        tile.groups = std::min((end - begin) / 4, tileColumns / 4);
        for (int g = 0; g < tile.groups; ++g) {
            const std::size_t group = std::size_t(begin) / 4 + std::size_t(g);
            tile.fastFrom[g] = std::max(m_groupFirst[group], first);
            tile.fastTo[g] = std::min(m_groupEnd[group], first + rows);
            tile.groupLow[g] = std::numeric_limits<qint64>::max();
            tile.groupHigh[g] = std::numeric_limits<qint64>::min();
            if (tile.fastFrom[g] >= tile.fastTo[g])
                continue;
            for (std::size_t k = group * 4; k < group * 4 + 4; ++k) {
                const ColumnSample &column = m_columns[k];
                tile.groupLow[g] = std::min(
                    tile.groupLow[g], (column.rowOrigin + column.rowStep * tile.fastFrom[g]) >> 16);
                tile.groupHigh[g] = std::max(
                    tile.groupHigh[g],
                    ((column.rowOrigin + column.rowStep * (tile.fastTo[g] - 1)) >> 16) + 1);
            }
            tile.low = std::min(tile.low, tile.groupLow[g]);
            tile.high = std::max(tile.high, tile.groupHigh[g]);
        }
        return tile;
    }

#if defined(__SSE2__)
    // The group of four columns from `index` on a row: at once where they are whole, cleared
    // where none of them reaches, else pixel by pixel.
    void paintGroup(int index, int row, QRgb *out) const {
        const std::size_t group = std::size_t(index) / 4;
        if (row >= m_groupFirst[group] && row < m_groupEnd[group])
            paintFour(index, row, out);
        else if (row < m_groupTop[group] || row >= m_groupBottom[group])
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_setzero_si128());
        else
            for (int k = 0; k < 4; ++k)
                out[k] = pixel(index + k, row);
    }
#endif

#if defined(VELMORA_AVX2_TILES)
    // paintFour for two groups with AVX2.
    VELMORA_AVX2 void paintEight(int index, int row, QRgb *out) const {
        const __m256i zero = _mm256_setzero_si256();
        const __m256i source = _mm256_add_epi32(
            load256(m_origins.data() + index),
            _mm256_mullo_epi32(load256(m_steps.data() + index), _mm256_set1_epi32(row)));
        const qsizetype stride = m_stride;
        alignas(32) qint32 offsets[8];
        store256(offsets, _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srli_epi32(source, 16),
                                                              _mm256_set1_epi32(qint32(stride))),
                                           load256(m_lefts.data() + index)));
        const QRgb *const bits = m_bits;
        // Rows below are read a few rows later; their lines are on the way by then.
        _mm_prefetch(reinterpret_cast<const char *>(bits + offsets[0] + 4 * stride), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(bits + offsets[7] + 4 * stride), _MM_HINT_T0);
        __m256i down = _mm256_and_si256(_mm256_srli_epi32(source, 9), _mm256_set1_epi32(127));
        down = _mm256_or_si256(down, _mm256_slli_epi32(down, 16));
        const auto at = [&](int k, qsizetype below) {
            return reinterpret_cast<const char *>(bits + offsets[k] + below);
        };
        const __m256i opacity = _mm256_set1_epi16(short(m_opacity));
        // Columns k..k + 3: each one's pair of pixels mixed down, then across.
        const auto four = [&](int k) VELMORA_AVX2 {
            const __m256i top = fourPairs(at(k, 0), at(k + 1, 0), at(k + 2, 0), at(k + 3, 0));
            const __m256i bottom =
                fourPairs(at(k, stride), at(k + 1, stride), at(k + 2, stride), at(k + 3, stride));
            // Columns k and k + 2 in the low halves of the lanes, k + 1 and k + 3 in the high.
            const __m256i even =
                mixedLanes(_mm256_unpacklo_epi8(top, zero), _mm256_unpacklo_epi8(bottom, zero),
                           _mm256_permutevar8x32_epi32(
                               down, _mm256_setr_epi32(k, k, k, k, k + 2, k + 2, k + 2, k + 2)));
            const __m256i odd = mixedLanes(
                _mm256_unpackhi_epi8(top, zero), _mm256_unpackhi_epi8(bottom, zero),
                _mm256_permutevar8x32_epi32(down, _mm256_setr_epi32(k + 1, k + 1, k + 1, k + 1,
                                                                    k + 3, k + 3, k + 3, k + 3)));
            __m256i mixed =
                mixedLanes(_mm256_unpacklo_epi64(even, odd), _mm256_unpackhi_epi64(even, odd),
                           load256(m_acrossPatterns.data() + index + k));
            if (m_opacity < 256)
                mixed = _mm256_srli_epi16(_mm256_mullo_epi16(mixed, opacity), 8);
            return mixed;
        };
        store256(out, _mm256_permute4x64_epi64(_mm256_packus_epi16(four(0), four(4)),
                                               _MM_SHUFFLE(3, 1, 2, 0)));
    }
#endif

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
    // Each group's device rows [top, bottom) touch the picture; none of its pixels elsewhere.
    std::vector<int> m_groupTop;
    std::vector<int> m_groupBottom;
    std::vector<SourceWindow> m_windows;
    const SamplingWidth m_width;
};

// Writes `top` laid over `bottom` times a fraction out of 256 to `out` (which may be either of
// them), premultiplied, with the rounding of the painter's own source-over blending.
inline void over(const QRgb *top, const QRgb *bottom, QRgb *out, int count, int fraction = 256) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(255);
    const __m128i half = _mm_set1_epi16(0x80);
    const __m128i share = _mm_set1_epi16(short(fraction));
    const __m128i alphas = _mm_set1_epi32(int(0xff000000));
    const auto under = [&](__m128i above, __m128i below) {
        if (fraction < 256)
            below = _mm_srli_epi16(_mm_mullo_epi16(below, share), 8);
        const __m128i opacity = _mm_shufflehi_epi16(_mm_shufflelo_epi16(above, 0xff), 0xff);
        __m128i product = _mm_mullo_epi16(below, _mm_sub_epi16(full, opacity));
        product = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(product, _mm_srli_epi16(product, 8)), half), 8);
        return product;
    };
    for (; i + 4 <= count; i += 4) {
        const __m128i above = _mm_loadu_si128(reinterpret_cast<const __m128i *>(top + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(above, alphas), alphas)) == 0xffff) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), above);
            continue;
        }
        const __m128i below = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bottom + i));
        const __m128i low = under(_mm_unpacklo_epi8(above, zero), _mm_unpacklo_epi8(below, zero));
        const __m128i high = under(_mm_unpackhi_epi8(above, zero), _mm_unpackhi_epi8(below, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                         _mm_add_epi8(above, _mm_packus_epi16(low, high)));
    }
#endif
    for (; i < count; ++i) {
        const QRgb below = fraction < 256 ? scaled(bottom[i], fraction) : bottom[i];
        out[i] = top[i] + multiplied(below, quint32(255 - qAlpha(top[i])));
    }
}

// Lays `shade` under the premultiplied pixels from `out` on.
void layBeneath(QRgb *out, const QRgb *shade, int count) {
    over(out, shade, out, count);
}

// A flat picture lying pixel for pixel on the device, at whole device pixels: what a sampler
// would find for each device pixel is the picture's own pixel, so it is read straight from the
// picture's rows, times the opacity.
class AlignedPicture {
public:
    static std::optional<AlignedPicture> of(const DiaryTurnedPicture &picture,
                                            const QTransform &device, double opacity) {
        const QImage &image = picture.image;
        if ((image.format() != QImage::Format_ARGB32_Premultiplied &&
             image.format() != QImage::Format_RGB32) ||
            device.type() > QTransform::TxScale)
            return std::nullopt;
        const QRectF onDevice = device.mapRect(picture.rect.translated(picture.offset));
        const auto whole = [](double value) { return std::abs(value - std::round(value)) < 1e-6; };
        if (!whole(onDevice.left()) || !whole(onDevice.top()) ||
            std::abs(onDevice.width() - image.width()) > 1e-6 ||
            std::abs(onDevice.height() - image.height()) > 1e-6)
            return std::nullopt;
        return AlignedPicture(
            image, QPoint(int(std::lround(onDevice.left())), int(std::lround(onDevice.top()))),
            int(std::lround(std::clamp(picture.opacity * opacity, 0.0, 1.0) * 256)));
    }

    // Whether it lies at full opacity and without a see-through pixel under all of `area`.
    bool coversOpaquely(const QRect &area) const {
        return m_opacity >= 256 && m_image.format() == QImage::Format_RGB32 &&
               QRect(m_origin, QSize(m_width, m_height)).contains(area);
    }

    // Lays the picture's pixels of device row `row`, columns [left, right), under the
    // premultiplied pixels from `out` on.
    void layBeneath(int left, int right, int row, QRgb *out) const {
        const int y = row - m_origin.y();
        const int from = std::max(left, m_origin.x());
        const int to = std::min(right, m_origin.x() + m_width);
        if (y < 0 || y >= m_height || from >= to || m_opacity == 0)
            return;
        const QRgb *line = m_bits + qsizetype(y) * m_stride + (from - m_origin.x());
        QRgb *onto = out + (from - left);
        over(onto, line, onto, to - from, m_opacity);
    }

private:
    AlignedPicture(const QImage &image, QPoint origin, int opacity)
        : m_image(image)
        , m_bits(reinterpret_cast<const QRgb *>(m_image.constBits()))
        , m_stride(m_image.bytesPerLine() / qsizetype(sizeof(QRgb)))
        , m_width(m_image.width())
        , m_height(m_image.height())
        , m_origin(origin)
        , m_opacity(opacity) {}

    // Kept for helpers that finish a band after the frame was drawn.
    QImage m_image;
    const QRgb *m_bits;
    qsizetype m_stride;
    int m_width;
    int m_height;
    QPoint m_origin;
    // Out of 256, as a sampler's.
    int m_opacity;
};

// Whether the four pixels from `out` on are all opaque.
inline bool fourOpaque(const QRgb *out) {
#if defined(__SSE2__)
    const __m128i alphas = _mm_set1_epi32(int(0xff000000));
    const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i *>(out));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(four, alphas), alphas)) == 0xffff;
#else
    return (out[0] & out[1] & out[2] & out[3]) >= 0xff000000;
#endif
}

// Whether the sixteen pixels from `out` on are all opaque: their alphas ANDed, with one branch.
inline bool sixteenOpaque(const QRgb *out) {
#if defined(__SSE2__)
    const auto four = [out](int at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(out + at));
    };
    const __m128i alphas = _mm_set1_epi32(int(0xff000000));
    const __m128i all =
        _mm_and_si128(_mm_and_si128(four(0), four(4)), _mm_and_si128(four(8), four(12)));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(all, alphas), alphas)) == 0xffff;
#else
    return fourOpaque(out) && fourOpaque(out + 4) && fourOpaque(out + 8) && fourOpaque(out + 12);
#endif
}

// The stretch [first, end) of `count` pixels that holds every one that is not opaque, with
// `first` a multiple of four; empty when all are opaque. What lies beneath is painted there only.
std::pair<int, int> seeThrough(const QRgb *out, int count) {
    int first = 0;
    while (first + 16 <= count && sixteenOpaque(out + first))
        first += 16;
    while (first + 4 <= count && fourOpaque(out + first))
        first += 4;
    while (first < count && qAlpha(out[first]) == 255)
        ++first;
    if (first == count)
        return {0, 0};
    int end = count;
    while (end - 16 > first && sixteenOpaque(out + end - 16))
        end -= 16;
    while (end - 4 > first && fourOpaque(out + end - 4))
        end -= 4;
    while (qAlpha(out[end - 1]) == 255)
        --end;
    return {first & ~3, end};
}

// The painter's own perspective drawing, for painters that rotate or shear.
void paintThroughTransform(QPainter &painter, const DiaryTurnProjection &projection,
                           const DiaryTurnedPicture &picture, const DiaryTurnedPicture *beneath,
                           const DiaryOutlineShadow *outlineShadow,
                           const DiaryTurnedPicture *ground) {
    const double opacity = painter.opacity();
    if (ground && !ground->image.isNull()) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setOpacity(opacity * ground->opacity);
        painter.drawImage(ground->rect.translated(ground->offset), ground->image);
        painter.restore();
    }
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
        // Along a row each side's distance changes linearly, so the sides alone tell where the
        // row lies far outside the outline (nothing to lay) or deep inside it (the fill alone);
        // only the pixels near the outline are measured. A small margin leaves pixels on the
        // borders of those stretches to be measured too.
        constexpr double margin = 1e-3;
        constexpr double unbounded = 1e9;
        double nearFrom = m_bounds.left();
        double nearTo = m_bounds.right();
        double deepFrom = -unbounded;
        double deepTo = unbounded;
        for (const Edge &edge : m_edges) {
            const double slope = edge.normal.x();
            const double offset =
                edge.normal.y() * y - QPointF::dotProduct(edge.start, edge.normal);
            // Narrows [from, to] to where slope × x + offset stays below `limit`.
            const auto below = [&](double limit, double &from, double &to) {
                if (std::abs(slope) < 1e-12) {
                    if (offset >= limit) {
                        from = unbounded;
                        to = -unbounded;
                    }
                } else if (slope > 0) {
                    to = std::min(to, (limit - offset) / slope);
                } else {
                    from = std::max(from, (limit - offset) / slope);
                }
            };
            below(m_half + 1, nearFrom, nearTo);
            below(-m_half - 1, deepFrom, deepTo);
        }
        // Pixel i lies at left + i + 0.5.
        const auto index = [&](double x) {
            return std::clamp(x - left - 0.5, -1.0, double(count) + 1);
        };
        const int nearBegin = std::max(0, int(std::ceil(index(nearFrom - margin))));
        const int nearEnd = std::min(count, int(std::floor(index(nearTo + margin))) + 1);
        const int deepBegin =
            std::clamp(int(std::floor(index(deepFrom + margin))) + 1, nearBegin, nearEnd);
        const int deepEnd = std::clamp(int(std::ceil(index(deepTo - margin))), deepBegin, nearEnd);
        for (int i = nearBegin; i < nearEnd; ++i) {
            const int above = qAlpha(out[i]);
            if (above == 255)
                continue;
            const QRgb shade =
                i >= deepBegin && i < deepEnd ? m_deepInside : at(QPointF(left + i + 0.5, y));
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

// Memory for bands, kept from frame to frame: fresh memory for every band of every frame would
// cost a page fault for every few kilobytes painted. As many blocks are kept as a frame has bands
// in flight at once.
class BandMemory {
public:
    struct Block {
        std::unique_ptr<QRgb[]> pixels;
        std::size_t size = 0;
    };

    Block take(std::size_t size) {
        {
            const std::lock_guard lock(m_mutex);
            const auto found =
                std::find_if(m_free.begin(), m_free.end(),
                             [size](const Block &block) { return block.size >= size; });
            if (found != m_free.end()) {
                Block block = std::move(*found);
                m_free.erase(found);
                return block;
            }
        }
        return {std::make_unique_for_overwrite<QRgb[]>(size), size};
    }

    void give(Block block, std::size_t kept) {
        if (!block.pixels)
            return;
        const std::lock_guard lock(m_mutex);
        if (m_free.size() < kept) {
            m_free.push_back(std::move(block));
            return;
        }
        // A larger block serves more frames than the smallest one kept.
        const auto smallest =
            std::min_element(m_free.begin(), m_free.end(),
                             [](const Block &a, const Block &b) { return a.size < b.size; });
        if (smallest->size < block.size)
            *smallest = std::move(block);
    }

    // Never destroyed: a helper may let its frame go while the program ends.
    static BandMemory &shared() {
        static BandMemory *const memory = new BandMemory;
        return *memory;
    }

private:
    std::mutex m_mutex;
    std::vector<Block> m_free;
};

// The rows of the image a raster painter paints on, where finished bands are laid straight,
// without the painter: within `visible` the painter's clip is that one rectangle.
struct DirectTarget {
    QRgb *bits = nullptr;
    qsizetype stride = 0;
    QRect visible;
};

// One band of a frame: its pixels, whether every one of them is opaque, and on each row the
// stretch [first, end) that holds every pixel that is not.
struct Band {
    BandMemory::Block memory;
    bool opaque = false;
    std::array<std::pair<int, int>, bandRows> seeThrough;
    // Painted straight onto the target's rows instead.
    bool onTarget = false;
};

// One frame's bands, shared by the GUI thread and the helpers that paint some of them.
struct TurnedFrame {
    TurnedFrame(PictureSampler &&top, std::optional<PictureSampler> &&under,
                std::optional<OutlineShader> &&outline, std::optional<PictureSampler> &&ground,
                std::optional<AlignedPicture> &&alignedGround, const QRect &area,
                bool opaqueBeneath, std::optional<DirectTarget> inPlace, std::size_t keptBlocks)
        : top(std::move(top))
        , under(std::move(under))
        , outline(std::move(outline))
        , ground(std::move(ground))
        , alignedGround(std::move(alignedGround))
        , area(area)
        , opaqueBeneath(opaqueBeneath)
        , inPlace(opaqueBeneath ? inPlace : std::nullopt)
        , count((area.height() + bandRows - 1) / bandRows)
        , keptBlocks(keptBlocks)
        , bands(std::size_t(count))
        , states(std::make_unique<std::atomic<int>[]>(std::size_t(count))) {}
    ~TurnedFrame() {
        for (Band &band : bands)
            release(band);
    }
    TurnedFrame(const TurnedFrame &) = delete;
    TurnedFrame &operator=(const TurnedFrame &) = delete;

    enum State { waiting, painting, painted };

    int rowsOf(int index) const {
        return std::min(bandRows, area.bottom() + 1 - (area.top() + index * bandRows));
    }

    // The band's pixels as an image for the painter: an opaque band is copied, not blended.
    QImage image(int index, const Band &band) const {
        return QImage(reinterpret_cast<const uchar *>(band.memory.pixels.get()), area.width(),
                      rowsOf(index), qsizetype(area.width()) * qsizetype(sizeof(QRgb)),
                      band.opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    }

    // Lays band `index` on the target's rows as the painter would draw its image.
    void lay(int index, const Band &band, const DirectTarget &target) const {
        const int first = area.top() + index * bandRows;
        const int width = area.width();
        const QRgb *pixels = band.memory.pixels.get();
        for (int r = 0; r < rowsOf(index); ++r) {
            const QRgb *from = pixels + qsizetype(r) * width;
            QRgb *onto = target.bits + qsizetype(first + r) * target.stride + area.left();
            const auto [left, right] = band.seeThrough[std::size_t(r)];
            if (left >= right) {
                std::memcpy(onto, from, std::size_t(width) * sizeof(QRgb));
                continue;
            }
            std::memcpy(onto, from, std::size_t(left) * sizeof(QRgb));
            over(from + left, onto + left, onto + left, right - left);
            std::memcpy(onto + right, from + right, std::size_t(width - right) * sizeof(QRgb));
        }
    }

    // Paints band `index` into `band`: the turned picture, and only where it lets them show,
    // what lies beneath it.
    // The GUI thread paints straight onto the target's rows where it can.
    void paint(int index, Band &band, bool onTarget = false) const {
        const int first = area.top() + index * bandRows;
        const int rows = rowsOf(index);
        const int width = area.width();
        band.onTarget = onTarget && inPlace;
        QRgb *pixels = nullptr;
        qsizetype stride = width;
        if (band.onTarget) {
            pixels = inPlace->bits + qsizetype(first) * inPlace->stride + area.left();
            stride = inPlace->stride;
        } else {
            band.memory = BandMemory::shared().take(std::size_t(width) * std::size_t(rows));
            pixels = band.memory.pixels.get();
        }
        QRgb shade[tileColumns];
        TileScratch scratch;
        band.seeThrough.fill({width, 0});
        // Tile by tile: the rows of a tile read a few neighbouring source rows over a short
        // stretch, which stay in the cache.
        for (int begin = 0; begin < width; begin += tileColumns) {
            const int end = std::min(begin + tileColumns, width);
            top.paintTile(begin, end, first, rows, pixels + begin, stride, scratch);
            for (int r = 0; r < rows; ++r) {
                QRgb *out = pixels + qsizetype(r) * stride + begin;
                const auto [from, to] = seeThrough(out, end - begin);
                if (from == to)
                    continue;
                QRgb *through = out + from;
                const int count = to - from;
                if (under) {
                    under->paintRow(begin + from, begin + to, first + r, shade);
                    layBeneath(through, shade, count);
                }
                if (outline)
                    outline->layBeneath(area.left() + begin + from, first + r, through, count);
                if (alignedGround) {
                    alignedGround->layBeneath(area.left() + begin + from, area.left() + begin + to,
                                              first + r, through);
                } else if (ground) {
                    ground->paintRow(begin + from, begin + to, first + r, shade);
                    layBeneath(through, shade, count);
                }
                // What still lets the target show through; nothing where an opaque ground lies
                // under all of the frame.
                if (opaqueBeneath)
                    continue;
                const auto [left, right] = seeThrough(through, count);
                if (left < right) {
                    auto &stretch = band.seeThrough[std::size_t(r)];
                    stretch = {std::min(stretch.first, begin + from + left),
                               std::max(stretch.second, begin + from + right)};
                }
            }
        }
        band.opaque =
            std::all_of(band.seeThrough.begin(), band.seeThrough.begin() + rows,
                        [](const auto &stretch) { return stretch.first >= stretch.second; });
    }

    // Takes the next band nobody has taken and paints it; false once none is left.
    bool paintNext(bool onTarget = false) {
        const int index = next.fetch_add(1);
        if (index >= count)
            return false;
        states[std::size_t(index)].store(painting);
        paint(index, bands[std::size_t(index)], onTarget);
        states[std::size_t(index)].store(painted, std::memory_order_release);
        return true;
    }

    void release(Band &band) const {
        BandMemory::shared().give(std::move(band.memory), keptBlocks);
        band.memory = {};
    }

    const PictureSampler top;
    const std::optional<PictureSampler> under;
    const std::optional<OutlineShader> outline;
    const std::optional<PictureSampler> ground;
    const std::optional<AlignedPicture> alignedGround;
    const QRect area;
    // Every pixel comes out opaque.
    const bool opaqueBeneath;
    // Where every pixel comes out opaque, nothing of the target shows and the GUI thread paints
    // its bands straight onto the target's rows; a helper never does, as the GUI thread may
    // have moved on when it finishes.
    const std::optional<DirectTarget> inPlace;
    const int count;
    const std::size_t keptBlocks;
    std::vector<Band> bands;
    std::unique_ptr<std::atomic<int>[]> states;
    std::atomic<int> next{0};
};

// Where the painter blends over a 32-bit image and its clip within `area` is one rectangle, the
// bands can be laid on the image's rows by the frame itself; otherwise the painter draws them.
std::optional<DirectTarget> directTarget(QPainter &painter, const QTransform &unscaled,
                                         const QRect &area) {
    QPaintEngine *engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver)
        return std::nullopt;
    QPaintDevice *surface = engine->paintDevice();
    if (!surface || surface->devType() != QInternal::Image)
        return std::nullopt;
    auto *image = static_cast<QImage *>(surface);
    if (image->format() != QImage::Format_RGB32 &&
        image->format() != QImage::Format_ARGB32_Premultiplied)
        return std::nullopt;
    QRegion visible(area & image->rect());
    if (const QRegion system = engine->systemClip(); !system.isEmpty())
        visible &= system;
    if (painter.hasClipping()) {
        // Only a clip that falls on whole device pixels: the painter rounds other ones its way.
        const QRectF bounds = unscaled.mapRect(painter.clipBoundingRect());
        if (bounds != QRectF(bounds.toAlignedRect()))
            return std::nullopt;
        visible &= unscaled.map(painter.clipRegion());
    }
    if (visible.rectCount() > 1)
        return std::nullopt;
    // The painter was given the image's pixels to paint on; so is the frame, without detaching.
    return DirectTarget{reinterpret_cast<QRgb *>(const_cast<uchar *>(image->constBits())),
                        image->bytesPerLine() / qsizetype(sizeof(QRgb)), visible.boundingRect()};
}

// Helpers share a frame's bands when the pool has idle threads: as many as leave a core to the
// GUI thread, which paints bands too. It never waits for one: it paints what nobody has taken,
// and repaints itself a band a helper is still on, so a helper the system has put aside costs
// nothing but its own time.
int helperCount() {
    return std::max(0, QThreadPool::globalInstance()->maxThreadCount() - 1);
}

// Draws the part of a flat picture that falls on the device pixels `part` with the painter's own
// drawing, in bands of rows (see paintFlatPicture); `device` maps the picture's points to device
// pixels and `back` device pixels to the painter's.
void paintFlatPart(QPainter &painter, const DiaryTurnedPicture &picture, const QTransform &device,
                   const QTransform &back, const QRect &part) {
    const QRectF onDevice = device.mapRect(picture.rect.translated(picture.offset));
    const double across = picture.image.width() / onDevice.width();
    const double down = picture.image.height() / onDevice.height();
    for (int first = part.top(); first <= part.bottom(); first += bandRows) {
        const QRectF rows(part.left(), first, part.width(),
                          std::min(bandRows, part.bottom() + 1 - first));
        const QRectF source((rows.left() - onDevice.left()) * across,
                            (rows.top() - onDevice.top()) * down, rows.width() * across,
                            rows.height() * down);
        painter.drawImage(back.mapRect(rows), picture.image, source);
    }
}

} // namespace

void paintTurnedPictures(QPainter &painter, const DiaryTurnProjection &projection,
                         const DiaryTurnedPicture &picture, const DiaryTurnedPicture *beneath,
                         const DiaryOutlineShadow *outlineShadow,
                         const DiaryTurnedPicture *ground) {
    if (ground && ground->image.isNull())
        ground = nullptr;
    if (std::abs(std::cos(projection.radians)) < 1e-6 || !(projection.eyeDistance > 0)) {
        // Edge-on: only the ground shows.
        if (ground)
            paintThroughTransform(painter, projection, {}, nullptr, nullptr, ground);
        return;
    }
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
    // The ground lies flat: the projection of a sheet not turned at all.
    std::optional<PictureSampler> flat;
    if (ground)
        flat.emplace(DiaryTurnProjection{}, *ground, device, painter.opacity());
    painter.save();
    painter.resetTransform();
    const QTransform unscaled = painter.deviceTransform();
    if (!painter.device() || !onlyScales(device) || !onlyScales(unscaled) || !top.usable() ||
        (under && !under->usable()) || (outline && !outline->usable()) ||
        (flat && !flat->usable())) {
        painter.restore();
        paintThroughTransform(painter, projection, picture, beneath, outlineShadow, ground);
        return;
    }

    QRectF reach = top.deviceBounds();
    if (under)
        reach |= under->deviceBounds();
    if (outline)
        reach |= outline->deviceBounds();
    // What can be seen: the pixels of the surface painted on (a window's backing store, an
    // image; its width and height count device pixels), and of a widget only its own.
    const QPaintDevice *target = painter.device();
    const QPaintDevice *surface =
        painter.paintEngine() ? painter.paintEngine()->paintDevice() : nullptr;
    QRectF bounds = surface && surface->devType() == QInternal::Image
                        ? QRectF(0, 0, surface->width(), surface->height())
                        : unscaled.mapRect(QRectF(0, 0, target->width(), target->height()));
    if (target->devType() == QInternal::Widget)
        bounds &= unscaled.mapRect(QRectF(0, 0, target->width(), target->height()));
    if (painter.hasClipping())
        bounds &= unscaled.mapRect(painter.clipBoundingRect());
    const QRect reached = (reach & bounds).toAlignedRect();
    const QRect groundArea = flat ? (flat->deviceBounds() & bounds).toAlignedRect() : QRect();
    const QTransform back = unscaled.inverted();
    const std::optional<DirectTarget> direct = directTarget(painter, unscaled, reached);
    const QRect area = direct ? direct->visible : reached;
    // A ground lying pixel for pixel is read straight from its rows.
    std::optional<AlignedPicture> aligned;
    if (flat)
        aligned = AlignedPicture::of(*ground, device, painter.opacity());

    // The ground around the turned pictures is drawn flat; beneath them it is painted with them.
    const double opacity = painter.opacity();
    const auto paintGroundAround = [&] {
        if (!ground)
            return;
        painter.save();
        painter.setOpacity(opacity * ground->opacity);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        for (const QRect &part : QRegion(groundArea).subtracted(QRegion(reached)))
            paintFlatPart(painter, *ground, device, back, part);
        painter.restore();
    };
    if (area.isEmpty()) {
        paintGroundAround();
        painter.restore();
        return;
    }
    top.prepare(area.left(), area.right() + 1);
    if (under)
        under->prepare(area.left(), area.right() + 1);
    const bool opaqueBeneath = aligned && aligned->coversOpaquely(area);
    if (aligned)
        flat.reset();
    else if (flat)
        flat->prepare(area.left(), area.right() + 1);

    painter.setOpacity(1);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const int helpers = helperCount();
    auto frame = std::make_shared<TurnedFrame>(std::move(top), std::move(under), std::move(outline),
                                               std::move(flat), std::move(aligned), area,
                                               opaqueBeneath, direct, std::size_t(helpers) + 3);
    for (int i = 0; i < std::min(helpers, frame->count - 1); ++i)
        if (!QThreadPool::globalInstance()->tryStart([frame] {
                while (frame->paintNext()) {
                }
            }))
            break;
    // Drawn while the helpers start on the bands, whose rows it does not touch.
    paintGroundAround();
    Band own;
    for (int index = 0; index < frame->count; ++index) {
        auto &state = frame->states[std::size_t(index)];
        while (state.load(std::memory_order_acquire) != TurnedFrame::painted &&
               frame->paintNext(true)) {
        }
        Band *band = &frame->bands[std::size_t(index)];
        if (state.load(std::memory_order_acquire) != TurnedFrame::painted) {
            frame->paint(index, own, true);
            band = &own;
        }
        const int first = area.top() + index * bandRows;
        if (direct && !band->onTarget)
            frame->lay(index, *band, *direct);
        else if (!direct)
            painter.drawImage(
                back.mapRect(QRectF(area.left(), first, area.width(), frame->rowsOf(index))),
                frame->image(index, *band));
        frame->release(*band);
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

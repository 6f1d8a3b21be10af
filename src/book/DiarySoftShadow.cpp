#include "book/DiarySoftShadow.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace velmora {

namespace {

// Three box widths whose successive blurs approximate a Gaussian of the deviation.
std::array<int, 3> boxesForGauss(double sigma) {
    const double ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
    int lower = int(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    const int upper = lower + 2;
    const double wanted =
        (12 * sigma * sigma - 3 * lower * lower - 4 * 3 * lower - 3 * 3) / (-4.0 * lower - 4);
    const int lowerCount = int(std::round(wanted));
    std::array<int, 3> sizes{};
    for (int i = 0; i < 3; ++i)
        sizes[std::size_t(i)] = i < lowerCount ? lower : upper;
    return sizes;
}

// One box blur of the given half-width along rows (or columns) of an 8-bit plane, edges
// treated as empty.
void boxBlur(std::vector<int> &source, std::vector<int> &target, int width, int height, int half,
             bool alongRows) {
    const int lines = alongRows ? height : width;
    const int length = alongRows ? width : height;
    const int stride = alongRows ? 1 : width;
    const int lineStep = alongRows ? width : 1;
    const int span = 2 * half + 1;
    for (int line = 0; line < lines; ++line) {
        const int base = line * lineStep;
        int sum = 0;
        for (int i = 0; i < std::min(half, length); ++i)
            sum += source[std::size_t(base + i * stride)];
        for (int i = 0; i < length; ++i) {
            const int entering = i + half;
            const int leaving = i - half - 1;
            if (entering < length)
                sum += source[std::size_t(base + entering * stride)];
            if (leaving >= 0)
                sum -= source[std::size_t(base + leaving * stride)];
            target[std::size_t(base + i * stride)] = (sum + span / 2) / span;
        }
    }
}

} // namespace

BlurredShape blurredShape(const QPainterPath &shape, const QColor &color, double radius,
                          qreal devicePixelRatio) {
    const double sigma = std::max(radius, 0.0) / 2 * devicePixelRatio;
    // Beyond a few pixels of deviation a coarser grid loses nothing the blur would keep.
    const double downscale = std::max(1.0, std::floor(sigma / 4));
    const double pixelsPerPoint = devicePixelRatio / downscale;
    const double reach = 1.5 * std::max(radius, 0.0) + 1;
    const QRectF area = shape.boundingRect().adjusted(-reach, -reach, reach, reach);
    const int width = std::max(1, int(std::ceil(area.width() * pixelsPerPoint)));
    const int height = std::max(1, int(std::ceil(area.height() * pixelsPerPoint)));

    if (qint64(width) * height > qint64(64) * 1024 * 1024)
        return {};

    QImage mask(width, height, QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(pixelsPerPoint, pixelsPerPoint);
        painter.translate(-area.topLeft());
        painter.fillPath(shape, Qt::black);
    }

    std::vector<int> plane(std::size_t(width) * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        const uchar *row = mask.constScanLine(y);
        std::copy(row, row + width, plane.begin() + std::ptrdiff_t(y) * width);
    }
    std::vector<int> scratch(plane.size());
    if (sigma / downscale > 0.2) {
        for (const int box : boxesForGauss(sigma / downscale)) {
            const int half = (box - 1) / 2;
            boxBlur(plane, scratch, width, height, half, true);
            boxBlur(scratch, plane, width, height, half, false);
        }
    }

    QImage blurred(width, height, QImage::Format_ARGB32_Premultiplied);
    const QRgb base = color.rgba();
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(blurred.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int coverage = plane[std::size_t(y) * std::size_t(width) + std::size_t(x)];
            row[x] = qPremultiply(
                qRgba(qRed(base), qGreen(base), qBlue(base), qAlpha(base) * coverage / 255));
        }
    }
    return {blurred, QRectF(area.topLeft(), QSizeF(width, height) / pixelsPerPoint)};
}

double DiarySoftShadow::reach() const {
    return 1.5 * m_radius + 1 + std::max(std::abs(m_offset.x()), std::abs(m_offset.y()));
}

void DiarySoftShadow::paint(QPainter &painter, const QPainterPath &shape) {
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatio() : 1.0;
    if (m_blurred.image.isNull() || ratio != m_devicePixelRatio || !(shape == m_shape)) {
        m_blurred = blurredShape(shape, m_color, m_radius, ratio);
        m_shape = shape;
        m_devicePixelRatio = ratio;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(m_blurred.rect.translated(m_offset), m_blurred.image);
    painter.restore();
}

} // namespace velmora

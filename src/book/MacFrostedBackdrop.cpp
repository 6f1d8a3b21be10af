#include "book/MacFrostedBackdrop.h"

#include "book/DiaryDecorative.h"
#include "book/DiarySoftShadow.h"
#include "book/MacBookShadow.h"
#include "book/theme/DiaryTheme.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

const QColor &backdropTop() {
    static const QColor color = colorFromHex(QStringLiteral("4A2713"));
    return color;
}

const QColor &backdropBottom() {
    static const QColor color = colorFromHex(QStringLiteral("26140A"));
    return color;
}

const QColor &glowColor() {
    static const QColor color = colorFromHex(QStringLiteral("F4D9AE"));
    return color;
}

QColor black(double opacity) {
    return QColor::fromRgbF(0, 0, 0, float(opacity));
}

} // namespace

FrostedBackdropGeometry frostedBackdropGeometry(QSizeF area) {
    FrostedBackdropGeometry geometry;
    geometry.scale = diaryBookScale(area);
    geometry.book = diaryBookSize * geometry.scale;
    const QSizeF glowSize(geometry.book.width() * 1.3, geometry.book.height() * 1.02);
    geometry.glow = QRectF(QPointF(), glowSize);
    geometry.glow.moveCenter(QPointF(area.width() / 2, area.height() / 2));
    geometry.glowCornerRadius = geometry.book.width() * 0.2;
    geometry.glowBlurRadius = geometry.book.width() * 0.16;
    geometry.vignetteStartRadius = geometry.book.height() * 0.45;
    geometry.vignetteEndRadius = 0.75 * std::max(area.width(), area.height());
    return geometry;
}

void paintFrostedBackdrop(QPainter &painter, const QRectF &rect) {
    const FrostedBackdropGeometry geometry = frostedBackdropGeometry(rect.size());
    painter.save();
    painter.setClipRect(rect);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    QLinearGradient base(rect.topLeft(), rect.bottomLeft());
    base.setColorAt(0, backdropTop());
    base.setColorAt(1, backdropBottom());
    painter.fillRect(rect, base);

    if (geometry.scale > 0) {
        QPainterPath glow;
        glow.addRoundedRect(geometry.glow.translated(rect.topLeft()), geometry.glowCornerRadius,
                            geometry.glowCornerRadius);
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatio() : 1.0;
        const BlurredShape blurred =
            blurredShape(glow, withOpacity(glowColor(), 0.45), geometry.glowBlurRadius, ratio);
        painter.drawImage(blurred.rect, blurred.image);
    }

    QLinearGradient sheen(rect.topLeft(), rect.bottomLeft());
    sheen.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.08f));
    sheen.setColorAt(0.5, black(0));
    sheen.setColorAt(1, black(0.18));
    painter.fillRect(rect, sheen);

    if (geometry.vignetteEndRadius > 0) {
        QRadialGradient vignette(rect.center(), geometry.vignetteEndRadius);
        const double start =
            std::clamp(geometry.vignetteStartRadius / geometry.vignetteEndRadius, 0.0, 1.0);
        vignette.setColorAt(0, black(0));
        vignette.setColorAt(start, black(0));
        vignette.setColorAt(1, black(0.35));
        painter.fillRect(rect, vignette);
    }
    painter.restore();
}

MacFrostedBackdrop::MacFrostedBackdrop(QWidget *parent)
    : QWidget(parent) {
    makeDecorative(this);
}

void MacFrostedBackdrop::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    // Nothing in the backdrop is sharp: kept at a quarter of the screen's pixels each way and
    // enlarged smoothly, it looks the same and takes a sixteenth of the memory.
    const qreal ratio = painter.device()->devicePixelRatio() / 4;
    if (m_cachedSize != size() || m_cachedRatio != ratio) {
        const QSize pixels(std::max(1, int(std::ceil(width() * ratio))),
                           std::max(1, int(std::ceil(height() * ratio))));
        m_cached = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        m_cached.fill(Qt::transparent);
        QPainter cache(&m_cached);
        // Scaled by hand (a painter does not shrink for a device ratio under 1), to fill every
        // pixel: a half-covered last column would show as a pale edge once enlarged.
        cache.scale(qreal(pixels.width()) / std::max(1, width()),
                    qreal(pixels.height()) / std::max(1, height()));
        paintFrostedBackdrop(cache, rect());
        m_cachedSize = size();
        m_cachedRatio = ratio;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(rect()), m_cached);
}

} // namespace velmora

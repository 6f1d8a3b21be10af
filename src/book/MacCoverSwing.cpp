#include "book/MacCoverSwing.h"

#include "book/DiaryCoverTransition.h"
#include "book/DiarySoftShadow.h"
#include "book/MacBookShadow.h"

#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <cmath>
#include <numbers>

namespace velmora {

QPolygonF coverSwingQuad(const QRectF &cover, double angleDegrees, double perspective) {
    const double eye = std::max(cover.width(), cover.height()) / perspective;
    // A negative angle lifts the trailing edge towards the eye.
    const double turn = -angleDegrees * std::numbers::pi / 180;
    const double middle = cover.center().y();
    const auto project = [&](double along, double y) {
        const double depth = along * std::sin(turn);
        const double factor = eye / (eye - depth);
        return QPointF(cover.left() + along * std::cos(turn) * factor,
                       middle + (y - middle) * factor);
    };
    return QPolygonF{{project(0, cover.top()), project(cover.width(), cover.top()),
                      project(cover.width(), cover.bottom()), project(0, cover.bottom())}};
}

CoverShadowImage makeCoverShadow(const QRectF &cover, qreal devicePixelRatio) {
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QPointF(), cover.size()), 6, 6);
    // One blur for the whole swing: its radius grows from 18 to 28 points, at the book's scale.
    const double scale = cover.width() / diaryBookSize.width();
    const BlurredShape blurred = blurredShape(shape, Qt::black, 23 * scale, devicePixelRatio);
    return {blurred.image, blurred.rect};
}

void paintCoverSwing(QPainter &painter, const QRectF &cover, double progress,
                     const QPixmap &coverImage, const QPixmap &bookImage, const QImage &coverShadow,
                     const QRectF &coverShadowRect) {
    const double reveal = diaryReveal(progress);
    if (reveal > 0 && !bookImage.isNull()) {
        painter.setOpacity(reveal);
        painter.drawPixmap(QPointF(), bookImage);
    }
    const CoverSwingLook look = coverSwing(progress);
    if (look.opacity <= 0 || coverImage.isNull())
        return;
    const QRectF local(QPointF(), cover.size());
    QTransform turn;
    if (!QTransform::quadToQuad(QPolygonF(local).mid(0, 4),
                                coverSwingQuad(cover, look.angleDegrees), turn))
        return; // edge-on: nothing to see
    const double scale = cover.width() / diaryBookSize.width();
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!coverShadow.isNull()) {
        painter.setTransform(turn * QTransform::fromTranslate(look.shadowOffset.x() * scale,
                                                              look.shadowOffset.y() * scale),
                             true);
        painter.setOpacity(look.opacity * look.shadowColor.alphaF());
        painter.drawImage(coverShadowRect, coverShadow);
        painter.restore();
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    }
    painter.setTransform(turn, true);
    painter.setOpacity(look.opacity);
    painter.drawPixmap(local, coverImage, QRectF(coverImage.rect()));
    painter.restore();
}

} // namespace velmora

#include "book/MacCoverSwing.h"

#include "book/DiaryCoverTransition.h"
#include "book/DiarySoftShadow.h"
#include "book/DiaryTurnProjection.h"
#include "book/MacBookShadow.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace velmora {

namespace {

DiaryTurnProjection coverTurn(const QRectF &cover, double angleDegrees, double perspective) {
    // A negative angle lifts the trailing edge towards the eye.
    return {cover.left(), cover.center().y(), -angleDegrees * std::numbers::pi / 180,
            std::max(cover.width(), cover.height()) / perspective};
}

} // namespace

QPolygonF coverSwingQuad(const QRectF &cover, double angleDegrees, double perspective) {
    return coverTurn(cover, angleDegrees, perspective).map(cover);
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
    const bool pages = reveal > 0 && !bookImage.isNull();
    const CoverSwingLook look = coverSwing(progress);
    if (look.opacity <= 0 || coverImage.isNull()) {
        if (pages) {
            painter.save();
            painter.setOpacity(reveal);
            paintFlatPicture(painter, cover, bookImage);
            painter.restore();
        }
        return;
    }
    const double scale = cover.width() / diaryBookSize.width();
    const DiaryTurnedPicture face{coverImage.toImage(), cover, QPointF(), look.opacity};
    const DiaryTurnedPicture shadow{
        coverShadow, coverShadowRect.translated(cover.topLeft()),
        QPointF(look.shadowOffset.x() * scale, look.shadowOffset.y() * scale),
        look.opacity * look.shadowColor.alphaF()};
    // The pages are painted with the cover, so what the cover hides of them costs nothing.
    const DiaryTurnedPicture book{pages ? bookImage.toImage() : QImage(), cover, QPointF(), reveal};
    paintTurnedPictures(painter, coverTurn(cover, look.angleDegrees, 0.4), face,
                        coverShadow.isNull() ? nullptr : &shadow, nullptr, pages ? &book : nullptr);
}

} // namespace velmora

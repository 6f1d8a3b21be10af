#include "pagescreen/MacPageTurnView.h"

#include "book/DiaryTurnProjection.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace velmora {

void paintPageTurnFrame(QPainter &painter, const QRectF &rect, const PageTurnFrame &frame) {
    if (frame.turning.isNull() || std::abs(frame.angle) >= 90) {
        if (!frame.under.isNull()) {
            painter.save();
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            paintFlatPicture(painter, rect, frame.under);
            painter.restore();
        }
        return;
    }
    // A rotation about the vertical axis seen from rect.height() / perspective away.
    const DiaryTurnProjection turn{frame.anchorLeading ? rect.left() : rect.right(),
                                   rect.center().y(), frame.angle * M_PI / 180,
                                   rect.height() / pageTurnPerspective};
    // The shadow: the leaf's outline, offset, with a soft edge of the shadow's radius.
    const DiaryOutlineShadow shadow{turn.map(rect.translated(frame.shadowOffsetX, 4)),
                                    frame.shadowRadius,
                                    QColor(0, 0, 0, int(255 * frame.shadowOpacity / 2))};
    // The uncovered leaf is painted with the turning one, so what the turning leaf hides of it
    // costs nothing.
    const DiaryTurnedPicture under{frame.under.toImage(), rect, QPointF(), 1};
    paintTurnedPictures(
        painter, turn, DiaryTurnedPicture{frame.turning.toImage(), rect, QPointF(), 1}, nullptr,
        frame.shadowOpacity > 0 ? &shadow : nullptr, frame.under.isNull() ? nullptr : &under);
}

MacPageTurnView::MacPageTurnView(LeafPicture picture, QWidget *parent)
    : QWidget(parent)
    , m_picture(std::move(picture)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
    connect(&m_controller, &MacPageTurnController::turnPrepared, this,
            &MacPageTurnView::prepareTurn);
    connect(&m_controller, &MacPageTurnController::frameChanged, this,
            &MacPageTurnView::updateTurnFrame);
}

void MacPageTurnView::prepareTurn() {
    const auto &arranged = m_controller.arrangedObjects();
    if (arranged.size() != 2 || !m_picture)
        return;
    // Drawn once per turn; every frame reuses these.
    m_earlier = m_picture(arranged.at(0));
    m_later = m_picture(arranged.at(1));
}

void MacPageTurnView::updateTurnFrame(double animatedIndex) {
    // The earlier leaf turns over the spine to uncover the later one: at index 0 it lies flat,
    // at index 1 it has turned away; a backward turn plays the same frames in reverse.
    const double progress = std::clamp(animatedIndex, 0.0, 1.0);
    m_frame = PageTurnFrame{m_later,
                            m_earlier,
                            -180 * progress,
                            true,
                            0.28 * std::sin(progress * M_PI),
                            18 * std::sin(progress * M_PI),
                            -8};
    update();
}

void MacPageTurnView::showEdgeDrag(const QPixmap &current, const QPixmap &under,
                                   PageTurnDirection direction, double progress) {
    const bool backward = direction == PageTurnDirection::backward;
    m_frame = PageTurnFrame{under,
                            current,
                            backward ? progress * 52 : -progress * 52,
                            backward,
                            progress * 0.28,
                            progress * 18,
                            backward ? 8.0 : -8.0};
    update();
}

void MacPageTurnView::endEdgeDrag() {
    m_frame = {};
}

void MacPageTurnView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    paintPageTurnFrame(painter, QRectF(rect()), m_frame);
}

} // namespace velmora

#include "pagescreen/PageOverlayMotion.h"

#include "book/DiaryDecorative.h"
#include "book/DiaryStage.h"

#include <QLayout>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>

namespace velmora {

PageOverlayMotion::PageOverlayMotion(QWidget *target, QWidget *parent)
    : QWidget(parent)
    , m_target(target)
    , m_animation(new QVariantAnimation(this)) {
    makeDecorative(this);
    setAttribute(Qt::WA_TranslucentBackground);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = m_from + (m_to - m_from) * m_curve.progress(value.toDouble());
        update();
    });
    connect(m_animation, &QVariantAnimation::finished, this, &PageOverlayMotion::finish);
    m_progress = target && !target->isHidden() ? 1 : 0;
    m_to = m_progress;
    hide();
}

bool PageOverlayMotion::isMoving() const {
    return m_animation->state() != QAbstractAnimation::Stopped;
}

void PageOverlayMotion::setShown(bool shown, const VuzIvoduPageAnimation &animation) {
    const double to = shown ? 1 : 0;
    if (!m_target || (to == m_to && (isMoving() || m_target->isHidden() != shown)))
        return;
    if (!animation.isAnimated()) {
        m_animation->stop();
        m_progress = m_to = to;
        hide();
        m_target->setVisible(shown);
        return;
    }
    // One picture of the widget as it stands, without a background of its own.
    if (!isMoving()) {
        if (QLayout *layout = m_target->layout())
            layout->activate();
        m_picture =
            diaryPicture(m_target, diaryStagePixelRatio(m_target), QRect(), QWidget::DrawChildren);
    }
    setGeometry(m_target->geometry());
    m_target->hide();
    run(to, animation);
}

void PageOverlayMotion::fadeOut(const QPixmap &picture, const VuzIvoduPageAnimation &animation) {
    if (!animation.isAnimated() || picture.isNull())
        return;
    // A leaf that changes again while the first change still fades keeps the first picture.
    if (isMoving())
        return;
    m_picture = picture;
    m_progress = 1;
    run(0, animation);
}

void PageOverlayMotion::run(double to, const VuzIvoduPageAnimation &animation) {
    m_animation->stop();
    m_from = m_progress;
    m_to = to;
    m_curve = animation;
    m_animation->setDuration(int(std::max<qint64>(animation.duration.count(), 1)));
    // In the target's place in the stack; a layer without one stays where its owner put it.
    if (m_target)
        stackUnder(m_target);
    show();
    update();
    m_animation->start();
}

void PageOverlayMotion::finish() {
    m_progress = m_to;
    hide();
    m_picture = QPixmap();
    if (m_target)
        m_target->setVisible(m_to > 0);
}

void PageOverlayMotion::paintEvent(QPaintEvent *) {
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(std::clamp(m_progress, 0.0, 1.0));
    const QRectF area = rect();
    const double scale = m_hiddenScale + (1 - m_hiddenScale) * m_progress;
    painter.translate(m_hiddenOffset * (1 - m_progress) + area.center());
    painter.scale(scale, scale);
    painter.translate(-area.center());
    painter.drawPixmap(area, m_picture, QRectF(m_picture.rect()));
}

} // namespace velmora

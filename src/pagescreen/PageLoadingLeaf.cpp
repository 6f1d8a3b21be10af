#include "pagescreen/PageLoadingLeaf.h"

#include "book/DiaryStage.h"

#include <QPainter>
#include <QVariantAnimation>

#include <cmath>
#include <numbers>

namespace velmora {

PageLoadingLeaf::PageLoadingLeaf(QWidget *parent)
    : QWidget(parent)
    , m_spin(new QVariantAnimation(this)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_spin->setStartValue(0);
    m_spin->setEndValue(spokes);
    m_spin->setDuration(1000);
    m_spin->setLoopCount(-1);
    connect(m_spin, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        const int step = value.toInt() % spokes;
        if (step == m_step)
            return;
        m_step = step;
        update();
    });
}

void PageLoadingLeaf::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    m_frames.clear();
    update();
}

bool PageLoadingLeaf::isSpinning() const {
    return m_spin->state() == QAbstractAnimation::Running;
}

void PageLoadingLeaf::showEvent(QShowEvent *) {
    m_spin->start();
}

void PageLoadingLeaf::hideEvent(QHideEvent *) {
    m_spin->stop();
}

void PageLoadingLeaf::paintEvent(QPaintEvent *) {
    const double ratio = diaryStagePixelRatio(this);
    if (m_frames.size() != spokes || m_frames.constFirst().devicePixelRatio() != ratio) {
        m_frames.clear();
        for (int frame = 0; frame < spokes; ++frame) {
            QPixmap picture((QSizeF(indicatorSize, indicatorSize) * ratio).toSize());
            picture.setDevicePixelRatio(ratio);
            picture.fill(Qt::transparent);
            QPainter painter(&picture);
            scalePainterToPicture(painter, picture);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.translate(indicatorSize / 2.0, indicatorSize / 2.0);
            for (int spoke = 0; spoke < spokes; ++spoke) {
                // The leading spoke is darkest; those behind it fade.
                const int behind = (frame - spoke + spokes) % spokes;
                QPen pen(withOpacity(m_theme.ink(), 0.75 * (1.0 - behind / double(spokes))), 1.5,
                         Qt::SolidLine, Qt::RoundCap);
                painter.setPen(pen);
                const double angle = 2 * std::numbers::pi * spoke / spokes;
                const QPointF direction(std::sin(angle), -std::cos(angle));
                painter.drawLine(direction * 3.5, direction * 7);
            }
            m_frames.append(picture);
        }
    }
    QPainter painter(this);
    painter.fillRect(rect(), m_theme.paper());
    const QPoint corner(width() / 2 - indicatorSize / 2, height() / 2 - indicatorSize / 2);
    painter.drawPixmap(corner, m_frames.at(m_step));
}

} // namespace velmora

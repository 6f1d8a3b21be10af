#include "book/DiaryStage.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>
#include <QWidget>

#include <cmath>

namespace velmora {

namespace {

// The view that shows the widget's book, if it is shown through one.
const QGraphicsView *stageView(const QWidget *widget, const QGraphicsProxyWidget **proxyOut) {
    const QGraphicsProxyWidget *proxy = widget->window()->graphicsProxyWidget();
    if (!proxy || !proxy->scene() || proxy->scene()->views().isEmpty())
        return nullptr;
    *proxyOut = proxy;
    return proxy->scene()->views().constFirst();
}

} // namespace

QWidget *diaryStageWindow(const QWidget *widget) {
    const QGraphicsProxyWidget *proxy = nullptr;
    if (const QGraphicsView *view = stageView(widget, &proxy))
        return view->window();
    return widget->window();
}

qreal diaryStagePixelRatio(const QWidget *widget) {
    const QGraphicsProxyWidget *proxy = nullptr;
    const QGraphicsView *view = stageView(widget, &proxy);
    if (!view)
        return widget->devicePixelRatioF();
    const QTransform shown = proxy->sceneTransform() * view->transform();
    const qreal scale = std::hypot(shown.m11(), shown.m12());
    return scale > 0 ? scale * view->devicePixelRatioF() : view->devicePixelRatioF();
}

QPixmap diaryPicture(QWidget *widget, qreal ratio, const QRect &area, QWidget::RenderFlags flags) {
    const QRect shown = area.isNull() ? widget->rect() : area.intersected(widget->rect());
    QPixmap picture((QSizeF(shown.size()) * ratio).toSize());
    if (picture.isNull())
        return picture;
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    scalePainterToPicture(painter, picture);
    widget->render(&painter, QPoint(), QRegion(shown), flags);
    return picture;
}

QPixmap diaryStagePicture(QWidget *widget, const QRect &area) {
    return diaryPicture(widget, diaryStagePixelRatio(widget), area);
}

void scalePainterToPicture(QPainter &painter, const QPixmap &picture) {
    const qreal applied = painter.deviceTransform().m11();
    const qreal wanted = picture.devicePixelRatio();
    if (applied > 0 && std::abs(applied - wanted) > 1e-9)
        painter.scale(wanted / applied, wanted / applied);
}

} // namespace velmora

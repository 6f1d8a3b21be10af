#pragma once

#include <QPixmap>
#include <QRect>
#include <QWidget>

class QPainter;

namespace velmora {

// The open book is drawn scaled to its window. Pictures of its parts that animations paint (a
// leaf turning, a card arriving, the book under the swinging cover) are taken at the density the
// part is shown at, so that they stay as sharp as the part itself and are drawn without resampling
// more pixels than the screen shows.

// Device pixels per point where `widget` is shown: its screen's ratio times the scale of the stage
// that holds it.
qreal diaryStagePixelRatio(const QWidget *widget);

// The widget (or `area` of it) at `ratio` device pixels a point, transparent where it draws
// nothing.
QPixmap diaryPicture(QWidget *widget, qreal ratio, const QRect &area = QRect(),
                     QWidget::RenderFlags flags = QWidget::DrawWindowBackground |
                                                  QWidget::DrawChildren);
// The widget (or `area` of it) with its children, at the density it is shown at.
QPixmap diaryStagePicture(QWidget *widget, const QRect &area = QRect());

// Makes a painter on a picture draw points at the picture's ratio. The toolkit applies a ratio
// only above 1; a book shown smaller than its design size has pictures of less than 1.
void scalePainterToPicture(QPainter &painter, const QPixmap &picture);

// The window the widget is shown in: the one that holds the stage, for a widget of the book.
QWidget *diaryStageWindow(const QWidget *widget);

} // namespace velmora

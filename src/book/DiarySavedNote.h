#pragma once

#include "book/DiarySoftShadow.h"
#include "book/theme/DiaryTheme.h"

#include <QWidget>

namespace velmora {

// The capsule's size: the checkmark, 10 points, the word and 26 points either side wide; the
// taller of checkmark and word and 14 points above and below high.
QSizeF savedNoteSize();

// The capsule with its checkmark and "Saved", filling the rectangle (no shadow).
void paintSavedNote(QPainter &painter, const QRectF &capsule, const DiaryTheme &theme);

// The small cream note that floats over the book for a moment after an explicit save. It takes
// no input; whoever shows it decides when and animates it. The widget keeps room around the
// capsule for its shadow, the same on every side, so centring the widget centres the capsule.
class DiarySavedNote : public QWidget {
    Q_OBJECT

public:
    explicit DiarySavedNote(const DiaryTheme &theme = {}, QWidget *parent = nullptr);

    void setTheme(const DiaryTheme &theme);
    const DiaryTheme &theme() const { return m_theme; }

    // Where the capsule lies inside the widget.
    QRectF capsuleRect() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    DiaryTheme m_theme;
    DiarySoftShadow m_shadow;
};

} // namespace velmora

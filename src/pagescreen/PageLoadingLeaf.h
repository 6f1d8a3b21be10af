#pragma once

#include "book/theme/DiaryTheme.h"

#include <QList>
#include <QPixmap>
#include <QWidget>

class QVariantAnimation;

namespace velmora {

// What the page shows while no leaf is laid out yet: paper with a small spinning indicator in
// its centre. The indicator turns only while it is on screen.
class PageLoadingLeaf : public QWidget {
    Q_OBJECT

public:
    static constexpr int spokes = 12;
    // The small control size.
    static constexpr int indicatorSize = 16;

    explicit PageLoadingLeaf(QWidget *parent = nullptr);

    void setTheme(const DiaryTheme &theme);
    // The spoke drawn darkest, turning once around every second.
    int step() const { return m_step; }
    bool isSpinning() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    DiaryTheme m_theme;
    QVariantAnimation *m_spin;
    // One picture per step, drawn once for the theme and the screen.
    QList<QPixmap> m_frames;
    int m_step = 0;
};

} // namespace velmora

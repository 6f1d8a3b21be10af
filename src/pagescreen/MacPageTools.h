#pragma once

#include "book/DiaryGlyphs.h"
#include "book/theme/DiaryTheme.h"
#include "pagescreen/VuzIvoduPageAnimation.h"

#include <QAbstractButton>
#include <QWidget>

#include <functional>
#include <optional>

namespace velmora {

class DiaryRibbonBookmark;
class PageOverlayMotion;

// One small button of the page: a glyph in leather that brightens under the pointer, with an
// optional faint disc behind it (the toolbar's) and a tooltip that repeats its label.
class MacPageToolButton : public QAbstractButton {
    Q_OBJECT

public:
    struct Style {
        double side = 42;
        double glyphPointSize = 17;
        DiaryGlyphWeight weight = DiaryGlyphWeight::regular;
        double restingOpacity = 0.82;
        double hoveredOpacity = 1.0;
        bool hoverDisc = true;
        bool roundHitArea = true;
    };

    MacPageToolButton(DiaryGlyphSymbol symbol, const QString &label, const QString &identifier,
                      Style style, QWidget *parent = nullptr);

    bool isHovered() const { return underMouse(); }
    void setTheme(const DiaryTheme &theme);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    DiaryGlyph m_glyph;
    Style m_style;
    DiaryTheme m_theme;
};

// The row of round buttons in the page's top trailing corner (Search, Calendar, Settings, Close
// Diary) and, while the page is not today's, the ribbon that turns back to today.
class MacPageTools : public QWidget {
    Q_OBJECT

public:
    explicit MacPageTools(QWidget *parent = nullptr);

    void setAwayFromToday(bool away, const VuzIvoduPageAnimation &animation = {});
    bool isAwayFromToday() const { return m_away; }
    void setTheme(const DiaryTheme &theme);

    MacPageToolButton *button(const QString &identifier) const;
    DiaryRibbonBookmark *ribbon() const { return m_ribbon; }

Q_SIGNALS:
    void searchRequested();
    void calendarRequested();
    void settingsRequested();
    void closeRequested();
    void todayRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void place();

    QList<MacPageToolButton *> m_buttons;
    DiaryRibbonBookmark *m_ribbon;
    PageOverlayMotion *m_ribbonMotion;
    bool m_away = false;
};

// The two chevrons in the page's bottom trailing corner that turn back and forward one leaf.
class MacPageArrows : public QWidget {
    Q_OBJECT

public:
    explicit MacPageArrows(QWidget *parent = nullptr);
    void setTheme(const DiaryTheme &theme);
    MacPageToolButton *previous() const { return m_previous; }
    MacPageToolButton *next() const { return m_next; }

Q_SIGNALS:
    void previousRequested();
    void nextRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    MacPageToolButton *m_previous;
    MacPageToolButton *m_next;
};

} // namespace velmora

#include "pagescreen/MacPageTools.h"

#include "book/DiaryRibbonBookmark.h"
#include "pagescreen/PageOverlayMotion.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QPainter>

namespace velmora {

MacPageToolButton::MacPageToolButton(DiaryGlyphSymbol symbol, const QString &label,
                                     const QString &identifier, Style style, QWidget *parent)
    : QAbstractButton(parent)
    , m_glyph(symbol, style.weight)
    , m_style(style) {
    setObjectName(identifier);
    setAccessibleName(label);
    setToolTip(label);
    setText(label);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    resize(sizeHint());
}

void MacPageToolButton::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    update();
}

QSize MacPageToolButton::sizeHint() const {
    return {int(m_style.side), int(m_style.side)};
}

bool MacPageToolButton::hitButton(const QPoint &position) const {
    if (!m_style.roundHitArea)
        return rect().contains(position);
    const QPointF centre = QRectF(rect()).center();
    const QPointF offset = QPointF(position) - centre;
    return offset.x() * offset.x() + offset.y() * offset.y() <= centre.x() * centre.x();
}

void MacPageToolButton::enterEvent(QEnterEvent *event) {
    QAbstractButton::enterEvent(event);
    update();
}

void MacPageToolButton::leaveEvent(QEvent *event) {
    QAbstractButton::leaveEvent(event);
    update();
}

void MacPageToolButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool hovered = underMouse();
    const QRectF frame(rect());
    if (m_style.hoverDisc && hovered) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(withOpacity(m_theme.leather(), 0.09));
        painter.drawEllipse(frame);
    }
    const QSizeF glyphSize = m_glyph.sizeForPointSize(m_style.glyphPointSize);
    const QRectF glyphRect(frame.center() - QPointF(glyphSize.width(), glyphSize.height()) / 2,
                           glyphSize);
    m_glyph.paint(
        painter, glyphRect,
        withOpacity(m_theme.leather(), hovered ? m_style.hoveredOpacity : m_style.restingOpacity));
}

MacPageTools::MacPageTools(QWidget *parent)
    : QWidget(parent)
    , m_ribbon(new DiaryRibbonBookmark(this))
    , m_ribbonMotion(new PageOverlayMotion(m_ribbon, this)) {
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    struct Row {
        DiaryGlyphSymbol symbol;
        const char *label;
        const char *identifier;
        void (MacPageTools::*signal)();
    };
    const Row rows[] = {
        {DiaryGlyphSymbol::magnifyingglass, QT_TRANSLATE_NOOP("velmora::MacPageTools", "Search"),
         "diary-toolbar-search", &MacPageTools::searchRequested},
        {DiaryGlyphSymbol::calendar, QT_TRANSLATE_NOOP("velmora::MacPageTools", "Calendar"),
         "diary-toolbar-calendar", &MacPageTools::calendarRequested},
        {DiaryGlyphSymbol::gearshape, QT_TRANSLATE_NOOP("velmora::MacPageTools", "Settings"),
         "diary-toolbar-settings", &MacPageTools::settingsRequested},
        {DiaryGlyphSymbol::xmark, QT_TRANSLATE_NOOP("velmora::MacPageTools", "Close Diary"),
         "diary-toolbar-close", &MacPageTools::closeRequested},
    };
    for (const Row &row : rows) {
        auto *button = new MacPageToolButton(
            row.symbol, QCoreApplication::translate("velmora::MacPageTools", row.label),
            QString::fromLatin1(row.identifier), {}, this);
        connect(button, &QAbstractButton::clicked, this, row.signal);
        m_buttons.append(button);
    }
    // Its help tag; the ribbon keeps its own name, "Bookmark", and hint.
    m_ribbon->setToolTip(tr("Back to today"));
    m_ribbon->hide();
    m_ribbonMotion->setHiddenOffset(QPointF(0, -DiaryRibbonBookmark::frameSize.height()));
    connect(m_ribbon, &QAbstractButton::clicked, this, &MacPageTools::todayRequested);
}

MacPageToolButton *MacPageTools::button(const QString &identifier) const {
    for (MacPageToolButton *button : m_buttons) {
        if (button->objectName() == identifier)
            return button;
    }
    return nullptr;
}

void MacPageTools::setAwayFromToday(bool away, const VuzIvoduPageAnimation &animation) {
    m_away = away;
    m_ribbonMotion->setShown(away, animation);
}

void MacPageTools::setTheme(const DiaryTheme &theme) {
    for (MacPageToolButton *button : std::as_const(m_buttons))
        button->setTheme(theme);
}

void MacPageTools::resizeEvent(QResizeEvent *) {
    place();
}

void MacPageTools::place() {
    // Four 42-point buttons 2 points apart, 26 from the top and 14 from the trailing edge.
    const int side = 42;
    int x = width() - 14 - (4 * side + 3 * 2);
    for (MacPageToolButton *button : std::as_const(m_buttons)) {
        button->setGeometry(x, 26, side, side);
        x += side + 2;
    }
    const QSize ribbon = DiaryRibbonBookmark::frameSize;
    m_ribbon->setGeometry(width() - 188 - ribbon.width(), 0, ribbon.width(), ribbon.height());
}

MacPageArrows::MacPageArrows(QWidget *parent)
    : QWidget(parent) {
    const MacPageToolButton::Style style{30,    12,   DiaryGlyphWeight::semibold, 0.6, 0.95,
                                         false, false};
    m_previous = new MacPageToolButton(DiaryGlyphSymbol::chevronLeft, tr("Previous Page"),
                                       QStringLiteral("diary-navigation-previous"), style, this);
    m_next = new MacPageToolButton(DiaryGlyphSymbol::chevronRight, tr("Next Page"),
                                   QStringLiteral("diary-navigation-next"), style, this);
    connect(m_previous, &QAbstractButton::clicked, this, &MacPageArrows::previousRequested);
    connect(m_next, &QAbstractButton::clicked, this, &MacPageArrows::nextRequested);
}

void MacPageArrows::setTheme(const DiaryTheme &theme) {
    m_previous->setTheme(theme);
    m_next->setTheme(theme);
}

void MacPageArrows::resizeEvent(QResizeEvent *) {
    // Side by side, 22 points from the trailing edge and 27 from the bottom.
    const int x = width() - 22 - 60;
    const int y = height() - 27 - 30;
    m_previous->setGeometry(x, y, 30, 30);
    m_next->setGeometry(x + 30, y, 30, 30);
}

} // namespace velmora

#include "book/PaperSealRitualView.h"

#include "book/DiaryGlyphs.h"

#include <QEasingCurve>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>

namespace velmora {

namespace {

constexpr double cornerRadius = 10;

// The system's serif design stands in as the serif face the writing fonts offer.
QFont serifFont(double points, QFont::Weight weight) {
    QFont font = resolveDiaryFont(QStringLiteral("New York"), points);
    font.setWeight(weight);
    return font;
}

QFont buttonFont() {
    return diarySystemFont(13);
}

void setTextColor(QLabel *label, const QColor &color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

} // namespace

DiarySealCardButton::DiarySealCardButton(const QString &text, Style style, const DiaryTheme &theme,
                                         QWidget *parent)
    : QAbstractButton(parent)
    , m_style(style)
    , m_theme(theme) {
    setText(text);
    setFont(buttonFont());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void DiarySealCardButton::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    update();
}

QSize DiarySealCardButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {std::max(110, metrics.horizontalAdvance(text()) + 24),
            std::max(44, metrics.height() + 12)};
}

void DiarySealCardButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = rect();
    QColor textColor = withOpacity(m_theme.ink(), 0.7);
    if (m_style == Style::prominent) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(isDown() ? m_theme.leather().darker(120) : m_theme.leather());
        painter.drawRoundedRect(area, area.height() / 2, area.height() / 2);
        textColor = Qt::white;
    } else if (isDown()) {
        textColor = m_theme.ink();
    }
    if (hasFocus()) {
        painter.setPen(QPen(withOpacity(m_theme.accent(), 0.9), 1.5));
        painter.setBrush(Qt::NoBrush);
        const QRectF ring = area.adjusted(1, 1, -1, -1);
        painter.drawRoundedRect(ring, ring.height() / 2, ring.height() / 2);
    }
    painter.setPen(textColor);
    painter.setFont(font());
    painter.drawText(area, Qt::AlignCenter, text());
}

PaperSealRitualView::PaperSealRitualView(Mode mode, const DiaryTheme &theme, QWidget *parent)
    : QWidget(parent)
    , m_mode(mode)
    , m_theme(theme)
    , m_shadow(QColor::fromRgbF(0, 0, 0, 0.18f), 18, QPointF(0, 8))
    , m_seal(new DiaryGlyphView(DiaryGlyph(DiaryGlyphSymbol::seal, DiaryGlyphWeight::light), 30,
                                theme.leather(), this))
    , m_title(new QLabel(tr("Seal this page?"), this))
    , m_message(
          new QLabel(tr("Its words will become permanent and cannot be edited afterward."), this))
    , m_acknowledgement(new QLabel(tr("Page sealed"), this))
    , m_buttons(new QWidget(this))
    , m_cancel(new DiarySealCardButton(tr("Keep Writing"), DiarySealCardButton::Style::plain, theme,
                                       m_buttons))
    , m_confirm(new DiarySealCardButton(tr("Seal Page"), DiarySealCardButton::Style::prominent,
                                        theme, m_buttons))
    , m_breath(new QVariantAnimation(this)) {
    // Floats over the book: only the card and its shadow are drawn.
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::StrongFocus);
    m_title->setFont(serifFont(20, QFont::DemiBold));
    m_title->setAlignment(Qt::AlignCenter);
    m_message->setFont(serifFont(13, QFont::Normal));
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    m_message->setFixedWidth(290);
    m_acknowledgement->setObjectName(QStringLiteral("diary-seal-acknowledgement"));
    m_acknowledgement->setFont(serifFont(17, QFont::Medium));
    m_acknowledgement->setAlignment(Qt::AlignCenter);
    m_cancel->setObjectName(QStringLiteral("diary-seal-cancel"));
    m_confirm->setObjectName(QStringLiteral("diary-seal-confirm"));
    for (QLabel *label : {m_title, m_message, m_acknowledgement})
        label->setAccessibleName(label->text());
    m_cancel->setAccessibleName(m_cancel->text());
    m_confirm->setAccessibleName(m_confirm->text());

    auto *row = new QHBoxLayout(m_buttons);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    row->addWidget(m_cancel);
    row->addWidget(m_confirm);

    const int reach = int(std::ceil(m_shadow.reach()));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(reach + 28, reach + 22, reach + 28, reach + 22);
    column->setSpacing(14);
    column->setSizeConstraint(QLayout::SetFixedSize);
    column->addWidget(m_seal, 0, Qt::AlignHCenter);
    column->addWidget(m_title, 0, Qt::AlignHCenter);
    column->addWidget(m_message, 0, Qt::AlignHCenter);
    column->addWidget(m_buttons, 0, Qt::AlignHCenter);
    column->addWidget(m_acknowledgement, 0, Qt::AlignHCenter);

    connect(m_cancel, &QAbstractButton::clicked, this, [this] {
        if (m_mode == Mode::confirmation)
            Q_EMIT cancelRequested();
    });
    connect(m_confirm, &QAbstractButton::clicked, this, [this] {
        if (m_mode == Mode::confirmation)
            Q_EMIT confirmRequested();
    });

    // One breath: the filled seal swells a little and settles.
    m_breath->setDuration(900);
    m_breath->setStartValue(0.0);
    m_breath->setEndValue(1.0);
    connect(m_breath, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_seal->setDrawScale(1.0 + 0.12 * std::sin(M_PI * value.toDouble()));
    });
    connect(m_breath, &QVariantAnimation::finished, this, [this] { m_seal->setDrawScale(1.0); });

    applyTheme();
    applyMode();
    if (m_mode == Mode::acknowledgement)
        m_breath->start();
}

void PaperSealRitualView::setMode(Mode mode) {
    if (mode == m_mode)
        return;
    m_mode = mode;
    applyMode();
    if (m_mode == Mode::acknowledgement)
        m_breath->start();
}

void PaperSealRitualView::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    applyTheme();
    update();
}

void PaperSealRitualView::setBreathDuration(int milliseconds) {
    m_breath->setDuration(std::max(1, milliseconds));
}

QRectF PaperSealRitualView::cardRect() const {
    const double reach = std::ceil(m_shadow.reach());
    return QRectF(rect()).adjusted(reach, reach, -reach, -reach);
}

void PaperSealRitualView::applyMode() {
    const bool confirming = m_mode == Mode::confirmation;
    if (!confirming)
        m_breath->stop();
    m_seal->setGlyph(DiaryGlyph(confirming ? DiaryGlyphSymbol::seal : DiaryGlyphSymbol::sealFill,
                                DiaryGlyphWeight::light));
    m_seal->setDrawScale(1.0);
    m_title->setVisible(confirming);
    m_message->setVisible(confirming);
    m_buttons->setVisible(confirming);
    m_acknowledgement->setVisible(!confirming);
}

void PaperSealRitualView::applyTheme() {
    m_seal->setColor(m_theme.leather());
    setTextColor(m_title, m_theme.ink());
    setTextColor(m_message, withOpacity(m_theme.ink(), 0.7));
    setTextColor(m_acknowledgement, m_theme.ink());
    m_cancel->setTheme(m_theme);
    m_confirm->setTheme(m_theme);
}

void PaperSealRitualView::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void PaperSealRitualView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = cardRect();
    QPainterPath shape;
    shape.addRoundedRect(card, cornerRadius, cornerRadius);
    m_shadow.paint(painter, shape);
    painter.fillPath(shape, m_theme.paper());
    const QRectF border = card.adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(withOpacity(m_theme.leather(), 0.18), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(border, cornerRadius - 0.5, cornerRadius - 0.5);
}

} // namespace velmora

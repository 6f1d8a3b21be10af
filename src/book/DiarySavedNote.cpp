#include "book/DiarySavedNote.h"

#include "book/DiaryGlyphs.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace velmora {

namespace {

const DiaryGlyph checkmark(DiaryGlyphSymbol::checkmark, DiaryGlyphWeight::semibold);
constexpr double symbolPoints = 14;
constexpr double spacing = 10;
constexpr double horizontalPadding = 26;
constexpr double verticalPadding = 14;

QFont noteFont() {
    return resolveDiaryFont(QStringLiteral("Georgia"), 19);
}

QString noteText() {
    return DiarySavedNote::tr("Saved");
}

} // namespace

QSizeF savedNoteSize() {
    const QFontMetricsF metrics(noteFont());
    const QSizeF symbol = checkmark.sizeForPointSize(symbolPoints);
    return {symbol.width() + spacing + metrics.horizontalAdvance(noteText()) +
                2 * horizontalPadding,
            std::max(symbol.height(), metrics.height()) + 2 * verticalPadding};
}

void paintSavedNote(QPainter &painter, const QRectF &capsule, const DiaryTheme &theme) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = capsule.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(colorFromHex(QStringLiteral("FBF6EC")));
    painter.drawRoundedRect(capsule, radius, radius);
    // Stroked inside the border: the line's centre sits a quarter point in.
    const QRectF border = capsule.adjusted(0.25, 0.25, -0.25, -0.25);
    painter.setPen(QPen(withOpacity(theme.leather(), 0.16), 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(border, border.height() / 2, border.height() / 2);

    const QFont font = noteFont();
    const QFontMetricsF metrics(font);
    const QSizeF symbol = checkmark.sizeForPointSize(symbolPoints);
    const double left = capsule.left() + horizontalPadding;
    checkmark.paint(painter,
                    QRectF(QPointF(left, capsule.center().y() - symbol.height() / 2), symbol),
                    theme.leather());
    painter.setFont(font);
    painter.setPen(theme.ink());
    const QRectF text(left + symbol.width() + spacing, capsule.center().y() - metrics.height() / 2,
                      metrics.horizontalAdvance(noteText()), metrics.height());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, noteText());
    painter.restore();
}

DiarySavedNote::DiarySavedNote(const DiaryTheme &theme, QWidget *parent)
    : QWidget(parent)
    , m_theme(theme)
    , m_shadow(QColor::fromRgbF(0, 0, 0, 0.12f), 18, QPointF(0, 8)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Floats over the book: only the card and its shadow are drawn.
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QStringLiteral("diary-saved"));
    setAccessibleName(noteText());
    resize(sizeHint());
}

void DiarySavedNote::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    update();
}

QRectF DiarySavedNote::capsuleRect() const {
    QRectF capsule(QPointF(), savedNoteSize());
    capsule.moveCenter(QRectF(rect()).center());
    return capsule;
}

QSize DiarySavedNote::sizeHint() const {
    const QSizeF size = savedNoteSize();
    const double margin = 2 * std::ceil(m_shadow.reach());
    return {int(std::ceil(size.width() + margin)), int(std::ceil(size.height() + margin))};
}

void DiarySavedNote::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = capsuleRect();
    QPainterPath shape;
    shape.addRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    m_shadow.paint(painter, shape);
    paintSavedNote(painter, capsule, m_theme);
}

} // namespace velmora

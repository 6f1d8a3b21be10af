#include "book/MacClosedCover.h"

#include "book/DiaryGlyphs.h"
#include "book/MacGoldOrnament.h"
#include "book/MacTextures.h"
#include "book/theme/DiaryTheme.h"

#include <QEasingCurve>
#include <QFontMetricsF>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QShortcut>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QVariantAnimation>

#include <cmath>

namespace velmora {

namespace {

constexpr double spineWidth = 18;
constexpr double columnSpacing = 16;
constexpr double namePadding = 48;
constexpr int nameLineLimit = 2;
constexpr double nameSize = 56;
constexpr double nameSmallestScale = 0.6;
constexpr double bottomSpacer = 46;
const DiaryGlyph bookGlyph(DiaryGlyphSymbol::book, DiaryGlyphWeight::medium);
constexpr double bookGlyphPoints = 12;

QColor hex(const char *digits, double opacity = 1) {
    return withOpacity(colorFromHex(QString::fromLatin1(digits)), opacity);
}

QColor gold(double opacity) {
    return withOpacity(diaryGoldColor(), opacity);
}

QFont georgia(double points, bool italic = false, double tracking = 0) {
    QFont font = resolveDiaryFont(QStringLiteral("Georgia"), points);
    font.setItalic(italic);
    if (tracking != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

QFont yearFont() {
    QFont font = resolveDiaryFont(QStringLiteral("New York"), 15);
    font.setWeight(QFont::Medium);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 5);
    return font;
}

QFont welcomeFont() {
    return georgia(22, true);
}

QFont myDiaryFont() {
    return georgia(60);
}

QFont openFont() {
    return georgia(15, false, 1);
}

QFont privacyFont() {
    return georgia(11, true);
}

QFont monogramFont() {
    return georgia(20, false, 2);
}

QString welcomeText() {
    return MacClosedCover::tr("Welcome,");
}

QString myDiaryText() {
    return MacClosedCover::tr("My Diary");
}

QString openText() {
    return MacClosedCover::tr("Open Diary");
}

QString privacyText() {
    return MacClosedCover::tr("Your pages stay on this computer and in your own sync folder.");
}

// A text's advance with its tracking; the last letter's spacing is not part of it.
double advance(const QFont &font, const QString &text) {
    return QFontMetricsF(font).horizontalAdvance(text);
}

double lineHeight(const QFont &font) {
    return QFontMetricsF(font).height();
}

// The name's first lines at one size, wrapped within the width: at most one more than allowed,
// which says that it does not fit at that size. Laying out only those keeps the work to what can
// be shown: a word too long for a line is measured to its end for every line it fills.
QStringList wrappedLines(const QFont &font, const QString &text, double width) {
    QTextLayout layout(text, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    while (lines.size() <= nameLineLimit) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines;
}

struct FittedName {
    QFont font;
    QStringList lines;
};

// The largest size from 56 down to 0.6 of it at which the name fits in two lines; below that
// the second line is cut short with an ellipsis.
FittedName fitName(const QString &name, double width) {
    for (double size = nameSize; size >= nameSize * nameSmallestScale - 1e-9; size -= 0.5) {
        const QFont font = georgia(size);
        const QStringList lines = wrappedLines(font, name, width);
        if (lines.size() <= nameLineLimit)
            return {font, lines};
    }
    const QFont font = georgia(nameSize * nameSmallestScale);
    QStringList lines = wrappedLines(font, name, width);
    // The lines after the first run past the width, so their first two elide as all would.
    const QString rest = lines.mid(1).join(QLatin1Char(' '));
    lines = {lines.first(), QFontMetricsF(font).elidedText(rest, Qt::ElideRight, width)};
    return {font, lines};
}

QRectF centredRow(double top, double width, double height, double centreX) {
    return {centreX - width / 2, top, width, height};
}

// A text carved into the leather: a dark edge above and a faint light edge below, painted under
// the text in the order the light falls.
void drawEngravedText(QPainter &painter, const QPainterPath &text, const QBrush &fill) {
    painter.fillPath(text.translated(0, 1), hex("E8C9A0", 0.18));
    painter.fillPath(text.translated(0, -1), QColor::fromRgbF(0, 0, 0, 0.55f));
    painter.fillPath(text, fill);
}

QLinearGradient goldGradient(const QRectF &frame) {
    QLinearGradient gradient(frame.topLeft(), frame.bottomRight());
    gradient.setColorAt(0, hex("E6CC8F"));
    gradient.setColorAt(1.0 / 3, hex("C49A55"));
    gradient.setColorAt(2.0 / 3, hex("E9D39C"));
    gradient.setColorAt(1, hex("B8894A"));
    return gradient;
}

QPainterPath textPath(const QFont &font, const QStringList &lines, const QRectF &frame) {
    QPainterPath path;
    const QFontMetricsF metrics(font);
    double baseline = frame.top() + metrics.ascent();
    for (const QString &line : lines) {
        const double width = metrics.horizontalAdvance(line);
        path.addText(QPointF(frame.center().x() - width / 2, baseline), font, line);
        baseline += metrics.height();
    }
    return path;
}

// Text that screen readers find where the cover paints it; it draws nothing itself.
class CoverTextElement : public QLabel {
public:
    CoverTextElement(const QString &text, QWidget *parent)
        : QLabel(text, parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override {}
};

} // namespace

class MacClosedCoverOpenButton : public QAbstractButton {
public:
    explicit MacClosedCoverOpenButton(QWidget *parent)
        : QAbstractButton(parent)
        , m_hover(new QVariantAnimation(this)) {
        setText(openText());
        setObjectName(QStringLiteral("Open Diary"));
        setAccessibleName(openText());
        setToolTip(MacClosedCover::tr("Open the diary (Return)"));
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
        m_hover->setDuration(150);
        m_hover->setEasingCurve(QEasingCurve::OutCubic);
        connect(m_hover, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            m_progress = value.toDouble();
            update();
        });
    }

    void setScale(double scale) {
        m_scale = scale;
        update();
    }
    bool isHovering() const { return m_hovering; }
    double hoverProgress() const { return m_progress; }

protected:
    bool hitButton(const QPoint &position) const override {
        QPainterPath capsule;
        const QRectF area = rect();
        capsule.addRoundedRect(area, area.height() / 2, area.height() / 2);
        return capsule.contains(QPointF(position) + QPointF(0.5, 0.5));
    }

    void enterEvent(QEnterEvent *event) override {
        setHovering(true);
        QAbstractButton::enterEvent(event);
    }

    void leaveEvent(QEvent *event) override {
        setHovering(false);
        QAbstractButton::leaveEvent(event);
    }

    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(m_scale, m_scale);
        paintClosedCoverOpenButton(painter, QRectF(QPointF(), QSizeF(size()) / m_scale),
                                   m_progress);
        if (hasFocus()) {
            const QRectF ring = QRectF(QPointF(), QSizeF(size()) / m_scale).adjusted(1, 1, -1, -1);
            painter.setPen(QPen(gold(0.9), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(ring, ring.height() / 2, ring.height() / 2);
        }
    }

private:
    void setHovering(bool hovering) {
        if (hovering == m_hovering)
            return;
        m_hovering = hovering;
        m_hover->stop();
        m_hover->setStartValue(m_progress);
        m_hover->setEndValue(hovering ? 1.0 : 0.0);
        m_hover->start();
    }

    QVariantAnimation *m_hover;
    bool m_hovering = false;
    double m_progress = 0;
    double m_scale = 1;
};

QString diaryInitials(const QString &userName) {
    const QString trimmed = userName.trimmed();
    if (trimmed.isEmpty())
        return {};
    QStringList letters;
    for (const QString &word :
         trimmed.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        if (letters.size() == 3)
            break;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, word);
        const qsizetype end = finder.toNextBoundary();
        letters.append(word.left(end > 0 ? end : 1).toUpper());
    }
    return letters.join(QChar(0x00B7));
}

MacClosedCoverLayout layOutClosedCover(const MacClosedCoverContent &content) {
    MacClosedCoverLayout layout;
    layout.spine = QRectF(0, 0, spineWidth, MacClosedCover::designSize.height());
    layout.board = QRectF(spineWidth, 0, MacClosedCover::designSize.width() - spineWidth,
                          MacClosedCover::designSize.height());
    const double centre = layout.board.center().x();
    const QString name = content.displayName();

    const QSizeF topOrnament = goldOrnamentSize(110);
    const QSizeF bottomOrnament = goldOrnamentSize(64);
    double welcomeHeight = 0;
    double welcomeWidth = 0;
    if (!name.isEmpty()) {
        welcomeHeight = lineHeight(welcomeFont());
        welcomeWidth = advance(welcomeFont(), welcomeText());
        const FittedName fitted = fitName(name, layout.board.width() - 2 * namePadding);
        layout.titleFont = fitted.font;
        layout.titleLines = fitted.lines;
    } else {
        layout.titleFont = myDiaryFont();
        layout.titleLines = {myDiaryText()};
    }
    double titleWidth = 0;
    for (const QString &line : layout.titleLines)
        titleWidth = std::max(titleWidth, advance(layout.titleFont, line));
    const double titleHeight = lineHeight(layout.titleFont) * double(layout.titleLines.size());
    const QSizeF year(advance(yearFont(), content.year), lineHeight(yearFont()));
    const QSizeF glyph = bookGlyph.sizeForPointSize(bookGlyphPoints);
    const QSizeF button(glyph.width() + 8 + advance(openFont(), openText()) + 44,
                        std::max(glyph.height(), lineHeight(openFont())) + 18);
    const double privacyHeight = content.showsPrivacyNote ? lineHeight(privacyFont()) : 0;

    // The column: spacer, ornament, [welcome], title, year, ornament, spacer, button, [privacy
    // note], fixed spacer; the two flexible spacers share what is left.
    QList<double> fixed{topOrnament.height(),    titleHeight,     year.height(),
                        bottomOrnament.height(), button.height(), bottomSpacer};
    if (!name.isEmpty())
        fixed.append(welcomeHeight);
    if (content.showsPrivacyNote)
        fixed.append(privacyHeight);
    double used = 0;
    for (const double height : fixed)
        used += height;
    const int children = int(fixed.size()) + 2;
    used += columnSpacing * (children - 1);
    const double spacer = std::max(0.0, (layout.board.height() - used) / 2);

    double y = layout.board.top() + spacer + columnSpacing;
    layout.topOrnament = centredRow(y, topOrnament.width(), topOrnament.height(), centre);
    y += topOrnament.height() + columnSpacing;
    if (!name.isEmpty()) {
        layout.welcome = centredRow(y, welcomeWidth, welcomeHeight, centre);
        y += welcomeHeight + columnSpacing;
    }
    layout.title = centredRow(y, titleWidth, titleHeight, centre);
    y += titleHeight + columnSpacing;
    layout.year = centredRow(y, year.width(), year.height(), centre);
    y += year.height() + columnSpacing;
    layout.bottomOrnament = centredRow(y, bottomOrnament.width(), bottomOrnament.height(), centre);
    y += bottomOrnament.height() + columnSpacing + spacer + columnSpacing;
    layout.openButton = centredRow(y, button.width(), button.height(), centre);
    y += button.height() + columnSpacing;
    if (content.showsPrivacyNote)
        layout.privacyNote =
            centredRow(y, advance(privacyFont(), privacyText()), privacyHeight, centre);

    const QString initials = diaryInitials(content.userName);
    if (!initials.isEmpty()) {
        const QSizeF size(advance(monogramFont(), initials), lineHeight(monogramFont()));
        layout.monogram = QRectF(QPointF(layout.board.right() - 46 - size.width(),
                                         layout.board.bottom() - 42 - size.height()),
                                 size);
    }
    return layout;
}

void paintClosedCover(QPainter &painter, const MacClosedCoverContent &content,
                      const MacClosedCoverLayout &layout) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(), MacClosedCover::designSize), 6, 6);
    painter.setClipPath(clip);

    // The spine, with its crease at the hinge and three raised bands.
    const QRectF spine = layout.spine;
    paintLeatherTexture(painter, spine);
    painter.fillRect(QRectF(spine.right() - 3, spine.top(), 2, spine.height()),
                     QColor::fromRgbF(0, 0, 0, 0.28f));
    painter.fillRect(QRectF(spine.right() - 1, spine.top(), 1, spine.height()),
                     QColor::fromRgbF(1, 1, 1, 0.05f));
    const double bandGap = 0.12 * spine.height();
    const double bandsTop = spine.center().y() - (3 * 3 + 2 * bandGap) / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.2f));
    for (int band = 0; band < 3; ++band)
        painter.drawRoundedRect(
            QRectF(spine.center().x() - 4, bandsTop + band * (3 + bandGap), 8, 3), 1.5, 1.5);

    // The board, with a frame pressed into it and a gold line laid in the frame.
    const QRectF board = layout.board;
    paintLeatherTexture(painter, board);
    const QRectF frame = board.adjusted(22, 22, -22, -22);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.35f), 2.5));
    painter.drawRoundedRect(frame.translated(0, 1), 8, 8);
    painter.setPen(QPen(gold(0.7), 1.3));
    painter.drawRoundedRect(frame, 8, 8);

    paintGoldOrnament(painter, layout.topOrnament, 110);
    if (!layout.welcome.isEmpty())
        drawEngravedText(painter, textPath(welcomeFont(), {welcomeText()}, layout.welcome),
                         gold(0.85));
    drawEngravedText(painter, textPath(layout.titleFont, layout.titleLines, layout.title),
                     goldGradient(layout.title));
    drawEngravedText(painter, textPath(yearFont(), {content.year}, layout.year), gold(0.8));
    paintGoldOrnament(painter, layout.bottomOrnament, 64);

    if (!layout.privacyNote.isEmpty())
        painter.fillPath(textPath(privacyFont(), {privacyText()}, layout.privacyNote), gold(0.55));

    if (!layout.monogram.isEmpty()) {
        const QPainterPath monogram =
            textPath(monogramFont(), {diaryInitials(content.userName)}, layout.monogram);
        painter.fillPath(monogram.translated(0, -1), QColor::fromRgbF(0, 0, 0, 0.4f));
        painter.fillPath(monogram.translated(0, 1), hex("B98A60", 0.35));
        painter.fillPath(monogram, hex("2C1A10", 0.55));
    }
    painter.restore();
}

void paintClosedCoverOpenButton(QPainter &painter, const QRectF &button, double hover) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = button.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, float(0.12 + 0.10 * hover)));
    painter.drawRoundedRect(button, radius, radius);
    const QRectF border = button.adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(gold(0.45 + 0.30 * hover), 1));
    painter.drawRoundedRect(border, border.height() / 2, border.height() / 2);

    const QSizeF glyph = bookGlyph.sizeForPointSize(bookGlyphPoints);
    const QRectF label = button.adjusted(22, 9, -22, -9);
    const QRectF glyphBox(QPointF(label.left(), label.center().y() - glyph.height() / 2), glyph);
    const QFont font = openFont();
    const double textHeight = lineHeight(font);
    const QRectF textFrame(glyphBox.right() + 8, label.center().y() - textHeight / 2,
                           advance(font, openText()), textHeight);
    QPainterPath shape = bookGlyph.path(glyphBox);
    shape.addPath(textPath(font, {openText()}, textFrame));
    drawEngravedText(painter, shape, goldGradient(label));
    painter.restore();
}

MacClosedCover::MacClosedCover(const QString &userName, bool showsPrivacyNote, QWidget *parent,
                               std::function<QDateTime()> now)
    : QWidget(parent)
    , m_userName(userName)
    , m_showsPrivacyNote(showsPrivacyNote)
    , m_now(std::move(now))
    , m_button(new MacClosedCoverOpenButton(this)) {
    setObjectName(QStringLiteral("diary-cover"));
    setAttribute(Qt::WA_TranslucentBackground);
    connect(m_button, &QAbstractButton::clicked, this, &MacClosedCover::openRequested);
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto *shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, m_button, &QAbstractButton::click);
    }
    resize(sizeHint());
    relayout();
}

void MacClosedCover::setUserName(const QString &userName) {
    m_userName = userName;
    relayout();
    update();
}

void MacClosedCover::setShowsPrivacyNote(bool shows) {
    m_showsPrivacyNote = shows;
    relayout();
    update();
}

bool MacClosedCover::isHoveringOpen() const {
    return m_button->isHovering();
}

QAbstractButton *MacClosedCover::openButton() const {
    return m_button;
}

double MacClosedCover::scale() const {
    return std::min(width() / designSize.width(), height() / designSize.height());
}

QRectF MacClosedCover::coverRect() const {
    QRectF cover(QPointF(), designSize * scale());
    cover.moveCenter(QRectF(rect()).center());
    return cover;
}

void MacClosedCover::prepareTextures(QSizeF size, qreal devicePixelRatio) {
    const double scale =
        std::min(size.width() / designSize.width(), size.height() / designSize.height());
    if (!(scale > 0) || !(devicePixelRatio > 0))
        return;
    // Neither the board nor the spine depends on what the cover says.
    const MacClosedCoverLayout layout = layOutClosedCover({});
    prepareLeatherTexture(layout.board.size(), scale * devicePixelRatio);
    prepareLeatherTexture(layout.spine.size(), scale * devicePixelRatio);
}

MacClosedCoverContent MacClosedCover::content() const {
    return {m_userName, m_showsPrivacyNote, yearFormatter().string(m_now())};
}

void MacClosedCover::relayout() {
    m_content = content();
    m_layout = layOutClosedCover(m_content);
    const MacClosedCoverContent &now = m_content;
    const MacClosedCoverLayout &layout = m_layout;
    const double factor = scale();
    const QPointF origin = coverRect().topLeft();
    const auto place = [&](const QRectF &design) {
        return QRectF(origin + design.topLeft() * factor, design.size() * factor).toAlignedRect();
    };
    m_button->setScale(factor);
    m_button->setGeometry(place(layout.openButton));

    qDeleteAll(m_accessibleTexts);
    m_accessibleTexts.clear();
    const auto addText = [&](const QString &text, const QRectF &where) {
        if (where.isEmpty())
            return;
        auto *element = new CoverTextElement(text, this);
        element->setGeometry(place(where));
        element->lower();
        element->show();
        m_accessibleTexts.append(element);
    };
    if (!layout.welcome.isEmpty())
        addText(welcomeText(), layout.welcome);
    addText(now.displayName().isEmpty() ? myDiaryText() : now.displayName(), layout.title);
    addText(now.year, layout.year);
    addText(privacyText(), layout.privacyNote);
    if (!layout.monogram.isEmpty()) {
        addText(diaryInitials(m_userName), layout.monogram);
        m_accessibleTexts.last()->setAccessibleName(
            tr("Initials %1").arg(diaryInitials(m_userName)));
    }
}

void MacClosedCover::paintEvent(QPaintEvent *) {
    // The year is read at each paint, as the cover may stay closed across New Year.
    if (!(content() == m_content))
        relayout();
    QPainter painter(this);
    const QRectF cover = coverRect();
    painter.translate(cover.topLeft());
    painter.scale(scale(), scale());
    paintClosedCover(painter, m_content, m_layout);
}

void MacClosedCover::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    relayout();
}

void MacClosedCover::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    // Hidden itself, not with its window, the cover stays so while the book is open: its board's
    // leather, the largest texture (12 MB on a dense screen), is drawn again should the book close.
    if (isHidden())
        releaseTexture(QStringLiteral("leather"), m_layout.board.size());
}

void MacClosedCover::mouseDoubleClickEvent(QMouseEvent *event) {
    if (coverRect().contains(event->position())) {
        event->accept();
        Q_EMIT openRequested();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

} // namespace velmora

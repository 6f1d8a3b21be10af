#include "book/MacRuledTextView.h"

#include "book/BookLogging.h"
#include "book/SpellChecker.h"
#include "book/theme/DiaryTheme.h"
#include "pages/MacTextKitLeafPaginator.h"

#include <QAbstractTextDocumentLayout>
#include <QContextMenuEvent>
#include <QEasingCurve>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTimer>

#include <cmath>

namespace velmora {

namespace {

constexpr double caretWidth = 2;
constexpr double ruleThickness = 0.85;
constexpr double ruleOpacity = 0.55;
constexpr double selectionOpacity = 0.28;
constexpr double placeholderOpacity = 0.72;

QFont unhinted(QFont font) {
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// No positive line height leaves each line its font's natural height.
QTextBlockFormat ruledBlockFormat(double lineHeight) {
    QTextBlockFormat format;
    if (lineHeight <= 0)
        return format;
    // Fixed, as the leaves' lines are, whatever the fonts of a line need; the document layout
    // scales the height from 96 dpi to its device's 72.
    format.setLineHeight(lineHeight * 96 / 72, QTextBlockFormat::FixedHeight);
    return format;
}

void setTopMargin(QTextDocument *document, double margin) {
    QTextFrameFormat format = document->rootFrame()->frameFormat();
    // Scaled from 96 dpi to the layout's 72, like the line height.
    format.setTopMargin(margin * 96 / 72);
    document->rootFrame()->setFrameFormat(format);
}

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

// A straight quote opens after nothing, white space or an opening bracket, quote or dash.
bool opensQuotation(QChar before) {
    if (before.isNull() || before.isSpace() || before == QChar::ParagraphSeparator ||
        before == QChar::LineSeparator)
        return true;
    static const QString openers = QStringLiteral("([{<\u201C\u2018\u2014\u2013");
    return openers.contains(before);
}

const QColor misspellingColor(0xD0, 0x2B, 0x2B);

// A wave under [x1, x2] around y, as spelling marks are drawn.
void appendWave(QPainterPath &path, double x1, double x2, double y) {
    constexpr double step = 2;
    constexpr double amplitude = 1;
    path.moveTo(x1, y);
    bool up = true;
    for (double x = x1 + step; x < x2 + step; x += step) {
        path.lineTo(std::min(x, x2), y + (up ? -amplitude : amplitude));
        up = !up;
    }
}

} // namespace

DiaryRuledLines DiaryRuledLines::of(const QFontMetricsF &metrics, double lineHeight) {
    if (lineHeight <= 0)
        return {};
    return {lineHeight, std::max(std::round(lineHeight / 5 - metrics.descent()), 0.0)};
}

MacCaretView::MacCaretView(QWidget *parent)
    : QWidget(parent)
    , m_color(diaryInkColor())
    , m_hold(new QTimer(this)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    m_hold->setSingleShot(true);
    m_blink.setStartValue(1.0);
    m_blink.setKeyValueAt(0.4, 1.0);
    m_blink.setKeyValueAt(0.5, 0.0);
    m_blink.setKeyValueAt(0.9, 0.0);
    m_blink.setEndValue(1.0);
    m_blink.setLoopCount(-1);
    setBlinkDurations(500, 1000);
    connect(m_hold, &QTimer::timeout, &m_blink, [this] { m_blink.start(); });
    connect(&m_blink, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setOpacity(value.toDouble()); });
    hide();
}

void MacCaretView::setColor(const QColor &color) {
    m_color = color;
    update();
}

void MacCaretView::setBlinkDurations(int holdMilliseconds, int periodMilliseconds) {
    m_hold->setInterval(holdMilliseconds);
    m_blink.setDuration(periodMilliseconds);
}

bool MacCaretView::isBlinking() const {
    return m_hold->isActive() || m_blink.state() == QAbstractAnimation::Running;
}

void MacCaretView::restartBlink() {
    m_hold->stop();
    m_blink.stop();
    setOpacity(1);
    if (m_reducedMotion || isHidden())
        return;
    m_hold->start();
}

void MacCaretView::setOpacity(double opacity) {
    if (opacity == m_opacity)
        return;
    m_opacity = opacity;
    update();
}

void MacCaretView::paintEvent(QPaintEvent *) {
    if (m_opacity <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawRoundedRect(QRectF(rect()), 1, 1);
}

MacRuledTextView::MacRuledTextView(QWidget *parent)
    : QTextEdit(parent)
    , m_placeholderDocument(new QTextDocument(this))
    , m_spelling(new SpellCheckHighlighter(document()))
    , m_caret(new MacCaretView(viewport()))
    , m_pointDevice(MacTextKitLeafPaginator::pointPaintDevice())
    , m_font(resolveDiaryFont(defaultDiaryFontName, 16)) {
    setAcceptRichText(false);
    setUndoRedoEnabled(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A scroll bar would narrow the lines and so move their breaks away from the leaves'.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // The system caret is never seen; MacCaretView stands in for it.
    setCursorWidth(0);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);

    applyColors();

    for (QTextDocument *shown : {document(), m_placeholderDocument}) {
        shown->setDocumentMargin(0);
        shown->documentLayout()->setPaintDevice(&m_pointDevice);
    }
    m_placeholderDocument->setUndoRedoEnabled(false);

    m_scroll.setDuration(220);
    // The ease-out curve of the platform's animations.
    QEasingCurve easeOut(QEasingCurve::BezierSpline);
    easeOut.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    m_scroll.setEasingCurve(easeOut);
    connect(&m_scroll, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        verticalScrollBar()->setValue(qRound(value.toDouble()));
    });

    connect(this, &QTextEdit::textChanged, this, &MacRuledTextView::documentEdited);
    connect(this, &QTextEdit::cursorPositionChanged, this, [this] { updateCaret(true); });
    connect(this, &QTextEdit::selectionChanged, this, [this] { updateCaret(true); });
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] {
                extendScrollRange();
                updateCaret(false);
            });
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this,
            &MacRuledTextView::extendScrollRange);
    // During an edit the block is not laid out yet, so its rectangle is asked for afterwards.
    connect(m_spelling, &SpellCheckHighlighter::misspellingsChanged, this,
            &MacRuledTextView::repaintBlock, Qt::QueuedConnection);

    restyleText();
    setSpellCheckLanguages(SpellChecker::languagesFor(QLocale()));
}

MacRuledTextView::~MacRuledTextView() = default;

void MacRuledTextView::setTheme(const DiaryTheme &theme) {
    if (theme == m_theme)
        return;
    m_theme = theme;
    applyColors();
    setPlaceholder(m_placeholder);
    viewport()->update();
}

void MacRuledTextView::applyColors() {
    QPalette colors = palette();
    colors.setColor(QPalette::Base, Qt::transparent);
    colors.setColor(QPalette::Text, m_theme.ink());
    colors.setColor(QPalette::Highlight, withAlpha(m_theme.accent(), selectionOpacity));
    colors.setColor(QPalette::HighlightedText, m_theme.ink());
    setPalette(colors);
    m_caret->setColor(m_theme.leather());
}

void MacRuledTextView::setText(const QString &text) {
    if (m_textApplied && text == m_text)
        return;
    // Replacing the text now would throw away what the input method is composing.
    if (m_composing)
        return;
    replaceText(text, !m_textApplied);
    m_textApplied = true;
}

void MacRuledTextView::replaceText(const QString &text, bool initial) {
    QTextDocument *doc = document();
    const int location = textCursor().selectionStart();
    // Words added elsewhere come after the caret that stood at the end: what is typed next follows
    // them instead of landing before them, or inside a word that now stands where the text ended.
    const bool atEnd = !textCursor().hasSelection() && location == doc->characterCount() - 1;
    m_applyingText = true;
    doc->setUndoRedoEnabled(false);
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    cursor.setBlockFormat(ruledBlockFormat(m_lineHeight));
    cursor.setCharFormat(QTextCharFormat());
    cursor.insertText(text);
    cursor.endEditBlock();
    doc->setUndoRedoEnabled(true);
    m_text = text;
    m_applyingText = false;

    const int length = doc->characterCount() - 1;
    cursor.setPosition(initial || atEnd ? length : std::min(location, length));
    setTextCursor(cursor);
    updateCaret(false);
    viewport()->update();
}

QString MacRuledTextView::documentText() const {
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

void MacRuledTextView::documentEdited() {
    if (m_applyingText)
        return;
    updateCaret(true);
    QString text = documentText();
    if (text == m_text)
        return;
    // What the person writes is the page's text from now on, whatever page it is.
    m_textApplied = true;
    m_text = std::move(text);
    Q_EMIT textEdited(m_text);
}

void MacRuledTextView::setEditable(bool editable) {
    setReadOnly(!editable);
    setTextInteractionFlags(editable ? Qt::TextEditorInteraction : Qt::TextSelectableByMouse);
    setFocusPolicy(editable ? Qt::StrongFocus : Qt::NoFocus);
    m_spelling->setEnabled(editable);
    if (!editable && hasFocus())
        clearFocus();
    updateCaret(true);
}

void MacRuledTextView::setFontAndLineHeight(const QFont &font, double lineHeight) {
    if (font == m_font && lineHeight == m_lineHeight)
        return;
    m_font = font;
    m_lineHeight = lineHeight;
    restyleText();
}

void MacRuledTextView::restyleText() {
    const QFont font = unhinted(m_font);
    // The widget's font becomes the document's default, so both change together.
    setFont(font);
    document()->setDefaultFont(font);
    QTextDocument *doc = document();
    m_applyingText = true;
    doc->setUndoRedoEnabled(false);
    QTextCursor cursor(doc);
    cursor.select(QTextCursor::Document);
    cursor.setBlockFormat(ruledBlockFormat(m_lineHeight));
    doc->setUndoRedoEnabled(true);
    m_applyingText = false;

    m_textOffset =
        DiaryRuledLines::of(QFontMetricsF(font, &m_pointDevice), m_lineHeight).textOffset;
    setTopMargin(doc, m_textOffset);

    QFont italic = font;
    italic.setItalic(true);
    m_placeholderDocument->setDefaultFont(italic);
    setTopMargin(
        m_placeholderDocument,
        DiaryRuledLines::of(QFontMetricsF(italic, &m_pointDevice), m_lineHeight).textOffset);
    setPlaceholder(m_placeholder);
    viewport()->update();
    updateCaret(false);
}

void MacRuledTextView::setPlaceholder(const QString &placeholder) {
    const bool changed = placeholder != m_placeholder;
    m_placeholder = placeholder;
    m_placeholderDocument->clear();
    QTextCursor cursor(m_placeholderDocument);
    cursor.setBlockFormat(ruledBlockFormat(m_lineHeight));
    QTextCharFormat format;
    format.setForeground(withAlpha(m_theme.ink(), placeholderOpacity));
    cursor.insertText(placeholder, format);
    m_placeholderDocument->setTextWidth(viewport()->width());
    if (changed)
        viewport()->update();
}

void MacRuledTextView::setInk(const QImage &ink) {
    if (ink.cacheKey() == m_ink.cacheKey() && ink.isNull() == m_ink.isNull())
        return;
    m_ink = ink;
    // Converted once here, not on every paint.
    m_inkDrawn = ink.format() == QImage::Format_ARGB32_Premultiplied
                     ? ink
                     : ink.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    viewport()->update();
    extendScrollRange();
}

void MacRuledTextView::setFocusRequest(int request) {
    if (isReadOnly() || request == m_lastFocusRequest)
        return;
    m_lastFocusRequest = request;
    // Whatever took the keyboard after the request (a card the user opened) keeps it; the page
    // around the editor, which holds the keyboard for it while the book opens, is no such thing.
    const QPointer<QWidget> focusedAtRequest = window()->focusWidget();
    QTimer::singleShot(0, this, [this, focusedAtRequest] {
        const QWidget *focused = window()->focusWidget();
        if (isReadOnly() || (m_mayTakeFocus && !m_mayTakeFocus()) ||
            (focused && focused != this && focused != focusedAtRequest &&
             !focused->isAncestorOf(this)))
            return;
        setFocus(Qt::OtherFocusReason);
    });
}

void MacRuledTextView::setReducedMotion(bool reduced) {
    m_reducedMotion = reduced;
    m_caret->setReducedMotion(reduced);
    if (reduced && isScrollAnimating()) {
        const QVariant end = m_scroll.endValue();
        m_scroll.stop();
        verticalScrollBar()->setValue(qRound(end.toDouble()));
    }
    updateCaret(true);
}

void MacRuledTextView::setSpellCheckLanguages(const QStringList &languages) {
    QPointer<SpellCheckHighlighter> spelling = m_spelling;
    SpellChecker::openShared(languages, m_spelling,
                             [spelling](std::shared_ptr<SpellChecker> checker) {
                                 if (spelling)
                                     spelling->setSpellChecker(std::move(checker));
                             });
}

SpellChecker *MacRuledTextView::spellChecker() const {
    return m_spelling->spellChecker();
}

bool MacRuledTextView::isSpellCheckPending() const {
    return (m_spelling->isEnabled() && !m_spelling->spellChecker()) || m_spelling->isSweeping();
}

std::optional<QRectF> MacRuledTextView::lineRect(int position) const {
    QTextDocument *doc = document();
    QTextBlock block = doc->findBlock(std::max(position, 0));
    if (!block.isValid())
        block = doc->lastBlock();
    // Asking for the block's rectangle lays the document out up to it.
    const QRectF blockRect = doc->documentLayout()->blockBoundingRect(block);
    const QTextLayout *layout = block.layout();
    if (!layout || layout->lineCount() < 1)
        return std::nullopt;
    const int inBlock = std::clamp(position - block.position(), 0, block.length() - 1);
    QTextLine line = layout->lineForTextPosition(inBlock);
    if (!line.isValid())
        line = layout->lineAt(layout->lineCount() - 1);
    if (m_lineHeight <= 0)
        return QRectF(0, blockRect.top() + line.y(), viewport()->width(), line.height());
    const double top = blockRect.top() - m_textOffset + line.lineNumber() * m_lineHeight;
    return QRectF(0, top, viewport()->width(), m_lineHeight);
}

std::optional<QRectF> MacRuledTextView::caretRect(int position) const {
    const std::optional<QRectF> line = lineRect(position);
    if (!line)
        return std::nullopt;
    QTextBlock block = document()->findBlock(std::max(position, 0));
    if (!block.isValid())
        block = document()->lastBlock();
    const QTextLayout *layout = block.layout();
    const int inBlock = std::clamp(position - block.position(), 0, block.length() - 1);
    const QTextLine textLine = layout->lineForTextPosition(inBlock);
    const double x = textLine.isValid() ? textLine.cursorToX(inBlock) + layout->position().x() : 0;
    const QFontMetricsF metrics(unhinted(m_font), &m_pointDevice);
    const double height = std::min(std::ceil(metrics.ascent() + metrics.descent()), line->height());
    const double width = viewport()->width();
    const double caretX = std::min(std::max(x - 1, 0.0), std::max(width - caretWidth, 0.0));
    return QRectF(caretX, line->bottom() - height, caretWidth, height);
}

double MacRuledTextView::documentHeight() const {
    const double inkHeight = m_ink.isNull() ? 0 : m_ink.deviceIndependentSize().height();
    return std::max({document()->size().height(), double(viewport()->height()), inkHeight});
}

void MacRuledTextView::extendScrollRange() {
    if (m_extendingRange)
        return;
    // Handwriting taller than the text must stay reachable.
    const int needed = int(std::ceil(documentHeight())) - viewport()->height();
    QScrollBar *bar = verticalScrollBar();
    if (needed != bar->maximum()) {
        m_extendingRange = true;
        bar->setRange(bar->minimum(), needed);
        bar->setPageStep(viewport()->height());
        m_extendingRange = false;
    }
}

void MacRuledTextView::updateCaret(bool restartBlink) {
    const QTextCursor cursor = textCursor();
    std::optional<QRectF> rect;
    if (!isReadOnly() && !cursor.hasSelection() && isVisible() && isActiveWindow() && hasFocus())
        rect = caretRect(cursor.position());
    if (!rect) {
        m_caret->hide();
        return;
    }
    const QPoint offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QRect placed(qRound(rect->x()) - offset.x(), qRound(rect->y()) - offset.y(),
                       int(caretWidth), qRound(rect->height()));
    const bool moved = placed != m_caret->geometry() || m_caret->isHidden();
    m_caret->setGeometry(placed);
    m_caret->show();
    if (restartBlink || moved)
        m_caret->restartBlink();
}

void MacRuledTextView::updateCaretLater() {
    QTimer::singleShot(0, this, [this] { updateCaret(true); });
}

void MacRuledTextView::drawRules(QPainter &painter, const QRectF &dirty) const {
    if (m_lineHeight <= 0)
        return;
    const double originY = 0;
    const int first = std::max(1, int(std::floor((dirty.top() - originY) / m_lineHeight)));
    const double limit = std::min(documentHeight(), dirty.bottom() + m_lineHeight);
    const QColor color = withAlpha(m_theme.ruledLine(), ruleOpacity);
    const double width = viewport()->width();
    for (double y = originY + first * m_lineHeight; y <= limit; y += m_lineHeight)
        painter.fillRect(QRectF(0, y - ruleThickness, width, ruleThickness), color);
}

void MacRuledTextView::repaintBlock(int position) {
    const QTextBlock block = document()->findBlock(position);
    if (!block.isValid())
        return;
    const QRectF rect = document()->documentLayout()->blockBoundingRect(block);
    const QPointF offset(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    viewport()->update(rect.translated(offset).toAlignedRect().adjusted(0, 0, 0, 4));
}

void MacRuledTextView::drawMisspellings(QPainter &painter, const QRectF &dirty) const {
    QTextDocument *doc = document();
    QAbstractTextDocumentLayout *layout = doc->documentLayout();
    const int first = layout->hitTest(QPointF(0, dirty.top()), Qt::FuzzyHit);
    QPainterPath waves;
    for (QTextBlock block = doc->findBlock(std::max(first, 0)); block.isValid();
         block = block.next()) {
        const QRectF blockRect = layout->blockBoundingRect(block);
        if (blockRect.top() > dirty.bottom())
            break;
        const QList<WordRange> words = SpellCheckHighlighter::misspellings(block);
        const QTextLayout *lines = block.layout();
        if (words.isEmpty() || !lines)
            continue;
        for (const WordRange &word : words) {
            for (int i = 0; i < lines->lineCount(); ++i) {
                const QTextLine line = lines->lineAt(i);
                const int start = std::max(int(word.start), line.textStart());
                const int end =
                    std::min(int(word.start + word.length), line.textStart() + line.textLength());
                if (start >= end)
                    continue;
                const double x1 = line.cursorToX(start);
                const double x2 = line.cursorToX(end);
                const double y = blockRect.top() + line.y() + line.ascent() +
                                 std::min(line.descent() * 0.45, 3.0);
                appendWave(waves, std::min(x1, x2), std::max(x1, x2), y);
            }
        }
    }
    if (waves.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(misspellingColor, 0.9));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(waves);
    painter.restore();
}

void MacRuledTextView::drawPlaceholder(QPainter &painter) const {
    if (!document()->isEmpty() || m_composing || !m_ink.isNull() || m_placeholder.isEmpty())
        return;
    const QRectF firstLine(0, 0, viewport()->width(), m_lineHeight);
    painter.save();
    painter.setClipRect(firstLine, Qt::IntersectClip);
    m_placeholderDocument->drawContents(&painter, firstLine);
    painter.restore();
}

void MacRuledTextView::paintEvent(QPaintEvent *event) {
    const QPointF offset(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    {
        QPainter painter(viewport());
        painter.translate(offset);
        drawRules(painter, QRectF(event->rect()).translated(-offset));
        if (!m_ink.isNull() && m_lineHeight > 0)
            painter.drawImage(QPointF(0, 0), m_inkDrawn);
    }
    QTextEdit::paintEvent(event);
    QPainter painter(viewport());
    painter.translate(offset);
    drawMisspellings(painter, QRectF(event->rect()).translated(-offset));
    drawPlaceholder(painter);
}

void MacRuledTextView::resizeEvent(QResizeEvent *event) {
    QTextEdit::resizeEvent(event);
    m_placeholderDocument->setTextWidth(viewport()->width());
    extendScrollRange();
    updateCaret(false);
}

template <typename Edit> void MacRuledTextView::scrollingToCaret(Edit &&edit) {
    const int before = verticalScrollBar()->value();
    const int position = textCursor().position();
    const int anchor = textCursor().anchor();
    const int revision = document()->revision();
    edit();
    const QTextCursor after = textCursor();
    if (after.position() == position && after.anchor() == anchor &&
        document()->revision() == revision)
        return;
    scrollToCaret(before);
}

void MacRuledTextView::scrollToCaret(int from) {
    QScrollBar *bar = verticalScrollBar();
    const std::optional<QRectF> target = lineRect(textCursor().position());
    if (!target)
        return;
    // The editor's own idea of where the caret is, not the toolkit's: the whole ruled line
    // shows, and the view moves the least distance that shows it.
    const double visibleHeight = viewport()->height();
    double y = from;
    if (from + visibleHeight < target->bottom())
        y = target->bottom() - visibleHeight;
    else if (target->top() < from)
        y = target->top();
    y = std::min(std::max(y, 0.0), std::max(documentHeight() - visibleHeight, 0.0));
    const int destination = std::min(int(std::ceil(y)), bar->maximum());
    const bool animating = isScrollAnimating();
    if (destination == from && !animating) {
        bar->setValue(from);
        return;
    }
    if (animating && destination == from)
        return;
    m_scroll.stop();
    if (m_reducedMotion || !isVisible()) {
        bar->setValue(destination);
        return;
    }
    bar->setValue(from);
    m_scroll.setStartValue(double(from));
    m_scroll.setEndValue(double(destination));
    m_scroll.start();
}

void MacRuledTextView::keyPressEvent(QKeyEvent *event) {
    scrollingToCaret([this, event] {
        if (!substituteTypedCharacter(event) && !insertParagraph(event))
            QTextEdit::keyPressEvent(event);
    });
}

// A new paragraph is a ruled one. The toolkit's own Return, in an empty paragraph whose format
// is not its default, resets that format instead of breaking the paragraph (ending a heading or
// a list item): the break was lost and the lines after it left the rules.
bool MacRuledTextView::insertParagraph(QKeyEvent *event) {
    if (isReadOnly() || event != QKeySequence::InsertParagraphSeparator)
        return false;
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    cursor.insertBlock(ruledBlockFormat(m_lineHeight), cursor.charFormat());
    cursor.endEditBlock();
    setTextCursor(cursor);
    event->accept();
    return true;
}

bool MacRuledTextView::substituteTypedCharacter(QKeyEvent *event) {
    if (isReadOnly() || event->text().size() != 1 ||
        (event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)))
        return false;
    const QChar typed = event->text().front();
    QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const QChar before = start > 0 ? document()->characterAt(start - 1) : QChar();
    QString replacement;
    bool joinsPrevious = false;
    if (typed == u'\'') {
        replacement = opensQuotation(before) ? QStringLiteral("\u2018") : QStringLiteral("\u2019");
    } else if (typed == u'"') {
        replacement = opensQuotation(before) ? QStringLiteral("\u201C") : QStringLiteral("\u201D");
    } else if (typed == u'-' && !cursor.hasSelection() && before == u'-') {
        replacement = QStringLiteral("\u2014");
        joinsPrevious = true;
    } else {
        return false;
    }
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    if (joinsPrevious)
        cursor.deletePreviousChar();
    cursor.insertText(replacement);
    cursor.endEditBlock();
    setTextCursor(cursor);
    event->accept();
    return true;
}

void MacRuledTextView::inputMethodEvent(QInputMethodEvent *event) {
    scrollingToCaret([this, event] { QTextEdit::inputMethodEvent(event); });
    m_composing = !isReadOnly() && !event->preeditString().isEmpty();
    viewport()->update();
}

void MacRuledTextView::mousePressEvent(QMouseEvent *event) {
    QTextEdit::mousePressEvent(event);
    updateCaret(true);
}

void MacRuledTextView::focusInEvent(QFocusEvent *event) {
    QTextEdit::focusInEvent(event);
    qCInfo(lcBook) << "The page takes the keyboard";
    updateCaretLater();
}

void MacRuledTextView::focusOutEvent(QFocusEvent *event) {
    QTextEdit::focusOutEvent(event);
    updateCaretLater();
}

void MacRuledTextView::changeEvent(QEvent *event) {
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::EnabledChange)
        updateCaret(true);
}

void MacRuledTextView::showEvent(QShowEvent *event) {
    QTextEdit::showEvent(event);
    // A new editor takes the focus when first shown, as a first focus request would give it.
    if (m_lastFocusRequest == -1)
        setFocusRequest(0);
    extendScrollRange();
    updateCaret(true);
}

void MacRuledTextView::scrollContentsBy(int dx, int dy) {
    QTextEdit::scrollContentsBy(dx, dy);
    updateCaret(false);
}

void MacRuledTextView::contextMenuEvent(QContextMenuEvent *event) {
    QMenu *menu = createStandardContextMenu(event->pos());
    SpellChecker *checker = m_spelling->spellChecker();
    if (checker && !isReadOnly()) {
        const QTextCursor at = cursorForPosition(event->pos());
        const QTextBlock block = at.block();
        const int inBlock = at.position() - block.position();
        const QString blockText = block.text();
        for (const WordRange &word : SpellChecker::words(blockText)) {
            if (inBlock < word.start || inBlock > word.start + word.length)
                continue;
            const QString spelling = blockText.mid(word.start, word.length);
            if (!checker->isMisspelled(spelling))
                break;
            QAction *first = menu->actions().value(0);
            const int from = block.position() + int(word.start);
            const int length = int(word.length);
            for (const QString &suggestion : checker->suggestions(spelling)) {
                auto *action = new QAction(suggestion, menu);
                connect(action, &QAction::triggered, this, [this, from, length, suggestion] {
                    QTextCursor cursor(document());
                    cursor.setPosition(from);
                    cursor.setPosition(from + length, QTextCursor::KeepAnchor);
                    cursor.insertText(suggestion);
                    setTextCursor(cursor);
                });
                menu->insertAction(first, action);
            }
            auto *learn = new QAction(tr("Add to dictionary"), menu);
            connect(learn, &QAction::triggered, this, [this, spelling] {
                if (SpellChecker *current = m_spelling->spellChecker()) {
                    current->addToDictionary(spelling);
                    m_spelling->recheckAll();
                }
            });
            menu->insertAction(first, learn);
            menu->insertSeparator(first);
            break;
        }
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

bool MacRuledTextView::canInsertFromMimeData(const QMimeData *source) const {
    return !isReadOnly() && source->hasText();
}

void MacRuledTextView::insertFromMimeData(const QMimeData *source) {
    if (isReadOnly() || !source->hasText())
        return;
    // Typed-in text inherits the ruled paragraph format; a pasted fragment would bring its own.
    QTextCursor cursor = textCursor();
    cursor.insertText(source->text());
    setTextCursor(cursor);
}

QMimeData *MacRuledTextView::createMimeDataFromSelection() const {
    auto *data = new QMimeData;
    QString selected = textCursor().selectedText();
    selected.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    data->setText(selected);
    return data;
}

} // namespace velmora

#pragma once

#include "book/theme/DiaryTheme.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPointer>
#include <QTextEdit>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QTextDocument;

namespace velmora {

class SpellCheckHighlighter;
class SpellChecker;

// Where ruled paper puts the text of a font: lines `lineHeight` apart, each with its rule along
// its bottom and its baseline one descent above that rule, in whole points. The editor lays its
// lines out so, and so does any sample of the writing that is to look like the page.
struct DiaryRuledLines {
    double lineHeight = 0;
    // How far the text stands below where a fixed line height puts its baseline (four fifths of
    // the line); whole points, since the editor's layout rounds the margin that carries it.
    double textOffset = 0;

    // `metrics` of the font at 72 dpi, where a point is a pixel. No positive line height leaves
    // the font's natural lines, with no offset.
    static DiaryRuledLines of(const QFontMetricsF &metrics, double lineHeight);

    // The baseline of line `line` (from 0), and the bottom of its rule, below the first line's top.
    double baseline(int line) const { return line * lineHeight + lineHeight * 4 / 5 + textOffset; }
    double ruleBottom(int line) const { return (line + 1) * lineHeight; }
};

// The editor's own insertion point: a rounded bar that clicks pass through. It blinks by
// fading (fully on for half a second after each move, then on 0.4 s, fade 0.1 s, off 0.4 s,
// fade 0.1 s), or stays steady under reduced motion.
class MacCaretView : public QWidget {
    Q_OBJECT

public:
    explicit MacCaretView(QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    void setReducedMotion(bool reduced) { m_reducedMotion = reduced; }
    bool isBlinking() const;
    double opacity() const { return m_opacity; }

    void restartBlink();

    // The blink's timing; tests shorten it.
    void setBlinkDurations(int holdMilliseconds, int periodMilliseconds);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void setOpacity(double opacity);

    QColor m_color;
    double m_opacity = 1;
    bool m_reducedMotion = false;
    QVariantAnimation m_blink;
    QTimer *m_hold;
};

// The ruled writing surface: a plain-text editor on ruled paper. Every line is exactly
// lineHeight points high, laid out on a 72 dpi device like the paginator, so its lines break
// where the page's leaves do for the same text, font and width. Rules fall at the bottom of each
// line; a handwriting image lies under the text from the text origin; an italic prompt shows on
// an empty page; its own caret replaces the system one.
//
// Text flows one way at a time: typing emits textEdited() with the whole plain text; setText()
// brings text from outside and never interrupts an input-method composition.
class MacRuledTextView : public QTextEdit {
    Q_OBJECT

public:
    explicit MacRuledTextView(QWidget *parent = nullptr);
    ~MacRuledTextView() override;

    // The page's text. A text that differs from the shown one replaces it (except during a
    // composition, when it is ignored); the caret keeps its place, or goes to the end when the
    // text became shorter or the caret stood at the end. The first text applied puts the caret
    // at the end.
    QString text() const { return m_text; }
    void setText(const QString &text);
    // The next text is another page's, applied as the first one is: the caret goes to its end.
    void startNewPage() { m_textApplied = false; }

    bool isEditable() const { return !isReadOnly(); }
    // A read-only editor stays selectable but never takes the keyboard focus.
    void setEditable(bool editable);

    QFont diaryFont() const { return m_font; }
    double lineHeight() const { return m_lineHeight; }
    // Re-styles the whole text only when the font or the line height changed.
    void setFontAndLineHeight(const QFont &font, double lineHeight);

    // The named colours of the page: ink, rules, caret, selection and prompt.
    const DiaryTheme &theme() const { return m_theme; }
    void setTheme(const DiaryTheme &theme);

    QString placeholder() const { return m_placeholder; }
    void setPlaceholder(const QString &placeholder);

    // Handwriting drawn under the text at the text origin, at the image's own size in points
    // (its device pixel ratio is honoured). The same image (same cacheKey) changes nothing; any
    // other repaints and re-tiles, since the page must stay scrollable to the image's bottom.
    QImage ink() const { return m_ink; }
    void setInk(const QImage &ink);

    // A counter: each new value asks for the keyboard focus (the first one always differs). It is
    // answered on the next turn of the event loop, and not at all when the owner's check says no
    // or when another widget has taken the keyboard since the request.
    int focusRequest() const { return m_lastFocusRequest; }
    void setFocusRequest(int request);
    void setFocusRequestCheck(std::function<bool()> mayTakeFocus) {
        m_mayTakeFocus = std::move(mayTakeFocus);
    }

    // The desktop's reduced-motion setting: a steady caret and scrolling without animation.
    bool reducedMotion() const { return m_reducedMotion; }
    void setReducedMotion(bool reduced);

    void setAccessibilityIdentifier(const QString &identifier) { setObjectName(identifier); }

    // Spelling dictionaries to try, best first; by default the user's locale, then English.
    void setSpellCheckLanguages(const QStringList &languages);
    SpellChecker *spellChecker() const;
    bool isSpellCheckPending() const;

    // Where the caret stands for a UTF-16 position, in document coordinates: 2 points wide,
    // on the bottom of its line, inside the view. None when the text cannot place it.
    std::optional<QRectF> caretRect(int position) const;
    // The line box holding a position, in document coordinates.
    std::optional<QRectF> lineRect(int position) const;
    MacCaretView *caretView() const { return m_caret; }
    // The height the page scrolls over: the text, the handwriting and at least the view.
    double documentHeight() const;
    // Whether an input method is composing text right now.
    bool isComposing() const { return m_composing; }

    // Scroll timing; tests shorten it.
    void setScrollDuration(int milliseconds) { m_scroll.setDuration(milliseconds); }
    bool isScrollAnimating() const { return m_scroll.state() == QAbstractAnimation::Running; }

Q_SIGNALS:
    // The user changed the text.
    void textEdited(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    void restyleText();
    void applyColors();
    void replaceText(const QString &text, bool initial);
    void documentEdited();
    void updateCaret(bool restartBlink);
    void updateCaretLater();
    void extendScrollRange();
    bool substituteTypedCharacter(QKeyEvent *event);
    bool insertParagraph(QKeyEvent *event);
    void drawRules(QPainter &painter, const QRectF &dirty) const;
    void drawPlaceholder(QPainter &painter) const;
    void drawMisspellings(QPainter &painter, const QRectF &dirty) const;
    void repaintBlock(int position);
    template <typename Edit> void scrollingToCaret(Edit &&edit);
    void scrollToCaret(int from);
    QString documentText() const;

    QTextDocument *m_placeholderDocument;
    SpellCheckHighlighter *m_spelling;
    MacCaretView *m_caret;
    QVariantAnimation m_scroll;
    QImage m_pointDevice;
    QString m_text;
    DiaryTheme m_theme;
    QFont m_font;
    double m_lineHeight = 40;
    // The text's distance below the top of its line boxes (see DiaryRuledLines).
    double m_textOffset = 0;
    QString m_placeholder;
    QImage m_ink;
    QImage m_inkDrawn;
    int m_lastFocusRequest = -1;
    std::function<bool()> m_mayTakeFocus;
    bool m_reducedMotion = false;
    bool m_textApplied = false;
    bool m_applyingText = false;
    bool m_composing = false;
    bool m_extendingRange = false;
};

} // namespace velmora

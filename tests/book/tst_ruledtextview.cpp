#include "book/MacRuledTextView.h"
#include "book/SpellChecker.h"
#include "pages/MacTextKitLeafPaginator.h"
#include "pages/PageLayoutService.h"
#include "support/GuiTestMain.h"
#include "support/RuledLines.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <pwd.h>
#include <unistd.h>

using namespace velmora;
using velmora::test::editorBaselines;
using velmora::test::waitUntil;

namespace {

constexpr int writingWidth = 696;

QFont georgia(double size) {
    return resolveDiaryFont(QStringLiteral("Georgia"), size);
}

// An editor as the page shows it: the writing area's width, some lines tall.
std::unique_ptr<MacRuledTextView> makeEditor(int width = writingWidth, int height = 400) {
    auto editor = std::make_unique<MacRuledTextView>();
    editor->resize(width, height);
    editor->setFontAndLineHeight(georgia(16), 40);
    editor->show();
    if (!QTest::qWaitForWindowExposed(editor.get()))
        qWarning("The editor was not shown");
    return editor;
}

QImage render(MacRuledTextView &editor) {
    QImage image(editor.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    editor.viewport()->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QImage strokes(QSize size) {
    QImage ink(size, QImage::Format_ARGB32_Premultiplied);
    ink.fill(Qt::transparent);
    QPainter painter(&ink);
    painter.setPen(QPen(QColor(0x1F, 0x3A, 0x6B), 3));
    painter.drawLine(20, 20, 200, 60);
    painter.drawEllipse(QPoint(120, size.height() - 40), 30, 20);
    return ink;
}

// Where each line of the editor starts, as UTF-16 positions of its text.
QList<qsizetype> editorLineStarts(MacRuledTextView &editor) {
    QTextDocument *doc = editor.document();
    doc->documentLayout()->blockBoundingRect(doc->lastBlock());
    QList<qsizetype> starts;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QTextLayout *layout = block.layout();
        for (int i = 0; i < layout->lineCount(); ++i)
            starts.append(block.position() + layout->lineAt(i).textStart());
    }
    return starts;
}

QString repeated(const QString &piece, int times) {
    QString text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

int paintCount(QWidget *widget, const std::function<void()> &action) {
    struct Counter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override {
            if (event->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    } counter;
    widget->installEventFilter(&counter);
    action();
    QCoreApplication::processEvents();
    QTest::qWait(20);
    widget->removeEventFilter(&counter);
    return counter.paints;
}

void compose(QWidget *editor, const QString &preedit, const QString &commit = {}) {
    QInputMethodEvent event(preedit, {});
    if (!commit.isEmpty())
        event.setCommitString(commit);
    QCoreApplication::sendEvent(editor, &event);
}

// An edit made as a person makes it, through keys, the clipboard and menus.
using EditorScript = std::function<void(MacRuledTextView &editor)>;

void typeParagraphs(MacRuledTextView &editor, const QStringList &paragraphs) {
    for (qsizetype i = 0; i < paragraphs.size(); ++i) {
        if (i > 0)
            QTest::keyClick(&editor, Qt::Key_Return);
        QTest::keyClicks(&editor, paragraphs.at(i));
    }
}

void pasteMime(MacRuledTextView &editor, QMimeData *data) {
    QApplication::clipboard()->setMimeData(data);
    QTest::keyClick(&editor, Qt::Key_V, Qt::ControlModifier);
}

} // namespace

// The editor's lines start where the paginator's leaves do when a leaf holds one line, and each
// is exactly one ruled line high.
void verifyLineBreaks(const QString &text, int width, const QFont &font) {
    const double lineHeight = PageLayoutService::ruledLineHeight(font.pointSizeF());
    auto editor = makeEditor(width);
    editor->setFontAndLineHeight(font, lineHeight);
    editor->setText(text);
    QList<qsizetype> leafStarts;
    for (const UTF16TextRange &leaf : MacTextKitLeafPaginator().leafRanges(
             text, makeRuledTextAttributes(font, lineHeight), width, lineHeight, 0, 0))
        leafStarts.append(leaf.location);
    QList<qsizetype> lineStarts = editorLineStarts(*editor);
    // The empty line after a final newline holds no text, so no leaf starts there.
    while (!lineStarts.isEmpty() && lineStarts.last() >= text.size() && !text.isEmpty())
        lineStarts.removeLast();
    QCOMPARE(lineStarts, leafStarts);
    const int lines = int(editorLineStarts(*editor).size());
    QCOMPARE(editor->lineRect(int(text.size()))->bottom(), lines * lineHeight);
}

// Whether the spelling mark's red shows under text[start, end) in a rendering of the editor.
bool isMarked(MacRuledTextView &editor, const QImage &image, int start, int end) {
    const QRectF line = *editor.lineRect(start);
    const int left = int(editor.caretRect(start)->right()) + 1;
    const int right = int(editor.caretRect(end)->left()) - 1;
    for (int y = int(line.top()); y < int(line.bottom()) && y < image.height(); ++y) {
        for (int x = left; x < right; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            // The wave's red, however faint its antialiased edge; not ink, rule or caret.
            if (pixel.red() > 120 && pixel.red() - pixel.green() > 40 &&
                pixel.red() - pixel.blue() > 40)
                return true;
        }
    }
    return false;
}

class RuledTextViewTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;

private Q_SLOTS:
    // Words added to the dictionary go to a personal list under the user's configuration
    // folder, or in the home folder itself for some dictionaries (~/.aspell.en.pws): neither may
    // be the real one, or a later run finds the word known. The test runner gives every test a
    // home of its own.
    void initTestCase() {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        const passwd *account = ::getpwuid(::getuid());
        QVERIFY2(!account || QDir(QDir::homePath()) != QDir(QFile::decodeName(account->pw_dir)),
                 "run through scripts/run-test, which gives every test a home of its own");
    }

    void placeholder_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("withInk");
        QTest::addColumn<bool>("shown");
        QTest::newRow("empty page") << QString() << false << true;
        QTest::newRow("written page") << QStringLiteral("a") << false << false;
        QTest::newRow("empty page with handwriting") << QString() << true << false;
    }

    void placeholder() {
        QFETCH(QString, text);
        QFETCH(bool, withInk);
        QFETCH(bool, shown);
        auto editor = makeEditor();
        editor->setText(text);
        if (withInk)
            editor->setInk(strokes(QSize(300, 200)));
        const QImage without = render(*editor);
        editor->setPlaceholder(QStringLiteral("What made you smile today?"));
        const QImage with = render(*editor);
        QCOMPARE(with != without, shown);
        if (!shown)
            return;
        // The prompt sits on the first line only, and typing one character removes it.
        QCOMPARE(with.copy(0, 40, with.width(), with.height() - 40),
                 without.copy(0, 40, with.width(), with.height() - 40));
        QTest::keyClick(editor.get(), Qt::Key_A);
        editor->setPlaceholder(QString());
        const QImage typedWithout = render(*editor);
        editor->setPlaceholder(QStringLiteral("What made you smile today?"));
        QCOMPARE(render(*editor), typedWithout);
    }

    void noLineHeightDrawsNoRulesAndNoInk() {
        auto editor = makeEditor();
        editor->setFontAndLineHeight(georgia(16), 0);
        editor->setEditable(false);
        editor->setInk(strokes(QSize(300, 200)));
        QImage blank(editor->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
        blank.fill(Qt::white);
        QCOMPARE(render(*editor), blank);
        editor->setText(QStringLiteral("Natural height"));
        QVERIFY(editor->caretRect(3));
        QVERIFY(editor->lineRect(3)->height() > 0);
    }

    void caretGeometry_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("edge"); // "left", "right" or "" for inside the line
        QTest::newRow("empty text") << QString() << 0 << 0 << "left";
        QTest::newRow("start of text") << QStringLiteral("Dear diary") << 0 << 0 << "left";
        QTest::newRow("end of text") << QStringLiteral("Dear diary") << 10 << 0 << "";
        QTest::newRow("after a final newline")
            << QStringLiteral("Dear diary\n") << 11 << 1 << "left";
        QTest::newRow("empty middle line") << QStringLiteral("a\n\nb") << 2 << 1 << "left";
        QTest::newRow("wrapped second line")
            << repeated(QStringLiteral("word "), 60) << 100 << 1 << "";
        QTest::newRow("past the right edge")
            << QStringLiteral("a") + repeated(QStringLiteral(" "), 400) << 401 << 0 << "right";
    }

    void caretGeometry() {
        QFETCH(QString, text);
        QFETCH(int, position);
        QFETCH(int, line);
        QFETCH(QString, edge);
        auto editor = makeEditor();
        editor->setText(text);
        const std::optional<QRectF> caret = editor->caretRect(position);
        QVERIFY(caret);
        QImage device = MacTextKitLeafPaginator::pointPaintDevice();
        QFont font = georgia(16);
        font.setHintingPreference(QFont::PreferNoHinting);
        const QFontMetricsF metrics(font, &device);
        const double height = std::min(std::ceil(metrics.ascent() + metrics.descent()), 40.0);
        QCOMPARE(caret->width(), 2.0);
        QCOMPARE(caret->height(), height);
        // The caret stands on the rule under its line.
        QCOMPARE(caret->bottom(), (line + 1) * 40.0);
        if (edge == u"left")
            QCOMPARE(caret->x(), 0.0);
        else if (edge == u"right")
            QCOMPARE(caret->x(), writingWidth - 2.0);
        else
            QVERIFY(caret->x() > 0 && caret->x() < writingWidth - 2.0);
    }

    void caretShowsOnlyForAnActiveFocusedEmptySelection() {
        QWidget window;
        window.resize(writingWidth, 400);
        auto *editor = new MacRuledTextView(&window);
        editor->resize(writingWidth, 400);
        editor->setText(QStringLiteral("Dear diary"));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(waitUntil([&] { return editor->hasFocus(); }));
        QVERIFY(waitUntil([&] { return editor->caretView()->isVisible(); }));
        const QRect expected = editor->caretRect(10)->toRect();
        QCOMPARE(editor->caretView()->geometry().bottom(), expected.bottom());
        QVERIFY(editor->caretView()->isBlinking());

        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(waitUntil([&] { return !editor->caretView()->isVisible(); }));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(waitUntil([&] { return editor->caretView()->isVisible(); }));
        QVERIFY(editor->caretView()->isBlinking());

        editor->setReducedMotion(true);
        QVERIFY(!editor->caretView()->isBlinking());
        QCOMPARE(editor->caretView()->opacity(), 1.0);

        editor->selectAll();
        QVERIFY(!editor->caretView()->isVisible());
        editor->moveCursor(QTextCursor::End);
        QVERIFY(editor->caretView()->isVisible());
        editor->setEditable(false);
        QVERIFY(!editor->caretView()->isVisible());
    }

    void focusRequests_data() {
        QTest::addColumn<bool>("editable");
        QTest::newRow("editable") << true;
        QTest::newRow("read-only") << false;
    }

    void focusRequests() {
        QFETCH(bool, editable);
        QWidget window;
        auto *other = new QTextEdit(&window);
        auto *editor = new MacRuledTextView(&window);
        editor->setEditable(editable);
        editor->setFocusRequest(0);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // Focus arrives on a later turn of the event loop, if at all.
        const auto settlesOn = [&](bool focused) {
            if (focused)
                return waitUntil([&] { return editor->hasFocus(); });
            QTest::qWait(50);
            return !editor->hasFocus();
        };
        QVERIFY(settlesOn(editable));
        other->setFocus();
        editor->setFocusRequest(0);
        QVERIFY(settlesOn(false));
        editor->setFocusRequest(1);
        QVERIFY(settlesOn(editable));
        // Taken elsewhere before the answer: the keyboard stays where it went.
        auto *card = new QLineEdit(&window);
        card->show();
        editor->setFocusRequest(2);
        card->setFocus();
        QVERIFY(settlesOn(false));
        QVERIFY(card->hasFocus());
        // The owner says no while its card is open.
        bool cardOpen = true;
        editor->setFocusRequestCheck([&] { return !cardOpen; });
        editor->setFocusRequest(3);
        QVERIFY(settlesOn(false));
        cardOpen = false;
        editor->setFocusRequest(4);
        QVERIFY(settlesOn(editable));
    }

    void externalTextWaitsForTheComposition() {
        auto editor = makeEditor();
        editor->setText(QStringLiteral("Tea at four"));
        QSignalSpy edited(editor.get(), &MacRuledTextView::textEdited);
        compose(editor.get(), QStringLiteral("ka"));
        QVERIFY(editor->isComposing());
        editor->setText(QStringLiteral("Replaced from outside"));
        QCOMPARE(editor->document()->toPlainText(), QStringLiteral("Tea at four"));
        QCOMPARE(editor->textCursor().block().layout()->preeditAreaText(), QStringLiteral("ka"));

        compose(editor.get(), QString(), QStringLiteral("\u304B"));
        QVERIFY(!editor->isComposing());
        QCOMPARE(edited.size(), 1);
        QCOMPARE(edited.last().first().toString(), QStringLiteral("Tea at four\u304B"));
        editor->setText(QStringLiteral("Replaced from outside"));
        QCOMPARE(editor->text(), QStringLiteral("Replaced from outside"));
        QCOMPARE(editor->document()->toPlainText(), QStringLiteral("Replaced from outside"));
        QCOMPARE(edited.size(), 1);
    }

    void replacementKeepsTheCaret_data() {
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<int>("expected");
        QTest::newRow("longer text keeps the place") << 3 << QStringLiteral("abcdefgh") << 3;
        QTest::newRow("shorter text puts it at the end") << 6 << QStringLiteral("ab") << 2;
        QTest::newRow("empty text") << 6 << QString() << 0;
        // Words added on another device: the next words typed follow them, and never land inside
        // a word that now stands where the old text ended.
        QTest::newRow("at the end, words added") << 6 << QStringLiteral("Sunday roast") << 12;
        QTest::newRow("at the end, words changed") << 6 << QStringLiteral("Sunburnt") << 8;
    }

    void replacementKeepsTheCaret() {
        QFETCH(int, caret);
        QFETCH(QString, replacement);
        QFETCH(int, expected);
        auto editor = makeEditor();
        editor->setText(QStringLiteral("Sunday"));
        QCOMPARE(editor->textCursor().position(), 6);
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(caret);
        editor->setTextCursor(cursor);
        editor->setText(replacement);
        QCOMPARE(editor->textCursor().position(), expected);
        // Every replaced line keeps the ruled height.
        QCOMPARE(editor->lineRect(0)->height(), 40.0);
        QCOMPARE(editor->lineRect(int(replacement.size()))->bottom(), 40.0);
    }

    void ink() {
        auto editor = makeEditor(writingWidth, 200);
        editor->setText(QStringLiteral("A short line."));
        editor->show();
        QVERIFY(QTest::qWaitForWindowExposed(editor.get()));
        const QImage tall = strokes(QSize(writingWidth, 900));
        QVERIFY(paintCount(editor->viewport(), [&] { editor->setInk(tall); }) > 0);
        // Tall handwriting stays reachable by scrolling.
        QCOMPARE(editor->verticalScrollBar()->maximum(), 900 - editor->viewport()->height());
        QCOMPARE(paintCount(editor->viewport(), [&] { editor->setInk(tall); }), 0);
        const QImage sameLooking = tall.copy();
        QVERIFY(sameLooking.cacheKey() != tall.cacheKey());
        QVERIFY(paintCount(editor->viewport(), [&] { editor->setInk(sameLooking); }) > 0);
        QVERIFY(paintCount(editor->viewport(), [&] { editor->setInk(QImage()); }) > 0);
        QCOMPARE(editor->verticalScrollBar()->maximum(), 0);
    }

    void lineBreaksMatchTheLeaves_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<double>("pointSize");
        const QString prose = QStringLiteral(
            "The rain kept on through the morning and I wrote by the window, watching the "
            "street go grey and then silver. ");
        QTest::newRow("prose") << repeated(prose, 8) << writingWidth << 16.0;
        QTest::newRow("prose, large font") << repeated(prose, 8) << writingWidth << 30.0;
        QTest::newRow("paragraphs and empty lines")
            << repeated(prose + QStringLiteral("\n\n"), 4) << writingWidth << 16.0;
        QTest::newRow("line separators")
            << repeated(QStringLiteral("one\u2028two three "), 30) << 300 << 16.0;
        QTest::newRow("long words")
            << repeated(QStringLiteral("Donaudampfschifffahrtsgesellschaftskapit\u00E4n "), 12)
            << 200 << 16.0;
        QTest::newRow("one very long word")
            << QStringLiteral("start ") + repeated(QStringLiteral("x"), 900) +
                   QStringLiteral(" end")
            << writingWidth << 16.0;
        QTest::newRow("mixed scripts")
            << repeated(QStringLiteral("caf\u00E9 \u0434\u043D\u0435\u0432\u043D\u0438\u043A "
                                       "\u03B7\u03BC\u03AD\u03C1\u03B1 \U0001F327\uFE0F "),
                        25)
            << 300 << 16.0;
        QTest::newRow("CJK") << repeated(QStringLiteral(
                                             "\u4ECA\u65E5\u306F\u96E8\u304C\u964D\u3063\u3066"
                                             "\u3044\u307E\u3057\u305F\u3002"),
                                         20)
                             << 300 << 16.0;
        QTest::newRow("right to left")
            << repeated(QStringLiteral("\u05D4\u05D9\u05D5\u05DD \u05D9\u05E8\u05D3 "
                                       "\u05D2\u05E9\u05DD \u0627\u0644\u064A\u0648\u0645 "),
                        25)
            << 300 << 16.0;
        QTest::newRow("tabs") << repeated(QStringLiteral("Monday\tTuesday\t\twet "), 30) << 300
                              << 16.0;
        QTest::newRow("no-break spaces")
            << repeated(QStringLiteral("ten\u00A0o\u2019clock and\u202Fsome "), 30) << 250 << 16.0;
    }

    void lineBreaksMatchTheLeaves() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(double, pointSize);
        verifyLineBreaks(text, width, georgia(pointSize));
    }

    void lineBreaksMatchInEveryFont_data() {
        QTest::addColumn<QString>("fontName");
        QTest::addColumn<double>("pointSize");
        for (const QString &name : diaryFontNames()) {
            QTest::addRow("%s 16", qPrintable(name)) << name << 16.0;
            QTest::addRow("%s 33.6", qPrintable(name)) << name << 33.6;
        }
    }

    void lineBreaksMatchInEveryFont() {
        QFETCH(QString, fontName);
        QFETCH(double, pointSize);
        verifyLineBreaks(repeated(QStringLiteral("Sunday, a slow walk to the harbour; caf\u00E9 "
                                                 "au lait and a letter \u2014 finally! "),
                                  12),
                         writingWidth, resolveDiaryFont(fontName, pointSize));
    }

    void smartQuotesAndDashes_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("single quotes")
            << QStringLiteral("'tea'") << QStringLiteral("\u2018tea\u2019");
        QTest::newRow("apostrophe") << QStringLiteral("don't") << QStringLiteral("don\u2019t");
        QTest::newRow("double quotes after a space")
            << QStringLiteral("she said \"hi\"") << QStringLiteral("she said \u201Chi\u201D");
        QTest::newRow("inside brackets")
            << QStringLiteral("(\"x\")") << QStringLiteral("(\u201Cx\u201D)");
        QTest::newRow("nested") << QStringLiteral("\"'a'\"")
                                << QStringLiteral("\u201C\u2018a\u2019\u201D");
        QTest::newRow("double hyphen")
            << QStringLiteral("yes--no") << QStringLiteral("yes\u2014no");
        QTest::newRow("quote after a dash")
            << QStringLiteral("well--'so'") << QStringLiteral("well\u2014\u2018so\u2019");
        QTest::newRow("single hyphen stays")
            << QStringLiteral("well-known") << QStringLiteral("well-known");
    }

    void smartQuotesAndDashes() {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        auto editor = makeEditor();
        QTest::keyClicks(editor.get(), typed);
        QCOMPARE(editor->text(), expected);
    }

    void substitutionUndoesInOneStep() {
        auto editor = makeEditor();
        QTest::keyClicks(editor.get(), QStringLiteral("a-"));
        QTest::keyClicks(editor.get(), QStringLiteral("-"));
        QCOMPARE(editor->text(), QStringLiteral("a\u2014"));
        editor->undo();
        QCOMPARE(editor->text(), QStringLiteral("a-"));
    }

    void misspellingsAreUnderlined_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("misspelled");
        QTest::newRow("one misspelling")
            << QStringLiteral("The quick brwon fox") << QStringList{QStringLiteral("brwon")};
        QTest::newRow("correct words and a contraction")
            << QStringLiteral("I don\u2019t mind the rain") << QStringList{};
        QTest::newRow("numbers are not words")
            << QStringLiteral("At 10am we left, 2024") << QStringList{};
        QTest::newRow("two paragraphs")
            << QStringLiteral("Fine words\nwrittn badlly") << QStringList{"writtn", "badlly"};
    }

    void misspellingsAreUnderlined() {
        QFETCH(QString, text);
        QFETCH(QStringList, misspelled);
        auto editor = makeEditor();
        editor->setSpellCheckLanguages({QStringLiteral("en_US")});
        editor->setText(text);
        QVERIFY(waitUntil([&] { return !editor->isSpellCheckPending(); }));
        QCOMPARE(editor->spellChecker()->language(), QStringLiteral("en_US"));
        QStringList found;
        QList<WordRange> ranges;
        for (QTextBlock block = editor->document()->begin(); block.isValid();
             block = block.next()) {
            for (const WordRange &word : SpellCheckHighlighter::misspellings(block)) {
                found.append(block.text().mid(word.start, word.length));
                ranges.append({block.position() + word.start, word.length});
            }
        }
        QCOMPARE(found, misspelled);
        // Each misspelling is underlined with the red wave, and no correct word is.
        QCoreApplication::processEvents();
        const QImage image = render(*editor);
        const QString plain = editor->document()->toPlainText();
        for (const WordRange &word : SpellChecker::words(plain)) {
            const bool wrong = ranges.contains(word);
            QCOMPARE(isMarked(*editor, image, int(word.start), int(word.start + word.length)),
                     wrong);
        }

        // A read-only page is not proofread.
        editor->setEditable(false);
        QVERIFY(waitUntil([&] { return !editor->isSpellCheckPending(); }));
        for (QTextBlock block = editor->document()->begin(); block.isValid(); block = block.next())
            QVERIFY(SpellCheckHighlighter::misspellings(block).isEmpty());
        QVERIFY(!isMarked(*editor, render(*editor), 0, int(plain.size())));
    }

    void addedWordsAreKnownFromThenOn() {
        const QString word = QStringLiteral("Velmoraesque");
        {
            auto checker = SpellChecker::open({QStringLiteral("en_US")});
            QVERIFY(checker);
            QVERIFY(checker->isMisspelled(word));
            QVERIFY(checker->suggestions(QStringLiteral("brwon")).contains(u"brown"));
            checker->addToDictionary(word);
            QVERIFY(!checker->isMisspelled(word));
        }
        QVERIFY(QFile::exists(m_config.filePath(QStringLiteral("enchant/en_US.dic"))));
        auto reopened = SpellChecker::open({QStringLiteral("en_US")});
        QVERIFY(!reopened->isMisspelled(word));
        QVERIFY(!SpellChecker::open({QStringLiteral("xx_NOPE")}));
    }

    void contextMenuOffersSuggestions() {
        auto editor = makeEditor();
        editor->setSpellCheckLanguages({QStringLiteral("en_US")});
        editor->setText(QStringLiteral("The quick brwon fox"));
        QVERIFY(waitUntil([&] { return !editor->isSpellCheckPending(); }));
        const QPoint onWord = editor->caretRect(12)->center().toPoint();
        QContextMenuEvent event(QContextMenuEvent::Mouse, onWord,
                                editor->viewport()->mapToGlobal(onWord));
        QCoreApplication::sendEvent(editor->viewport(), &event);
        QMenu *menu = nullptr;
        QVERIFY(waitUntil([&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (auto *shown = qobject_cast<QMenu *>(widget); shown && shown->isVisible())
                    menu = shown;
            }
            return menu != nullptr;
        }));
        QStringList titles;
        for (QAction *action : menu->actions())
            titles.append(action->text());
        QVERIFY2(titles.indexOf(u"brown") >= 0, qPrintable(titles.join(u'|')));
        QVERIFY(titles.indexOf(u"Add to dictionary") > titles.indexOf(u"brown"));
        menu->actions().at(titles.indexOf(u"brown"))->trigger();
        menu->close();
        QCOMPARE(editor->text(), QStringLiteral("The quick brown fox"));
        QVERIFY(SpellCheckHighlighter::misspellings(editor->document()->begin()).isEmpty());
    }

    void typingChecksTheChangedBlock() {
        auto editor = makeEditor();
        editor->setSpellCheckLanguages({QStringLiteral("en_US")});
        editor->setText(QStringLiteral("First line\nSecond line"));
        QVERIFY(waitUntil([&] { return !editor->isSpellCheckPending(); }));
        QTest::keyClicks(editor.get(), QStringLiteral(" zzqx"));
        QVERIFY(!editor->isSpellCheckPending());
        const QTextBlock last = editor->document()->lastBlock();
        const QList<WordRange> words = SpellCheckHighlighter::misspellings(last);
        QCOMPARE(words.size(), 1);
        QCOMPARE(last.text().mid(words.first().start, words.first().length),
                 QStringLiteral("zzqx"));
    }

    // Whatever edit made the text, every line stands on its rule exactly where the same text
    // set afresh (as the paginator lays it out) stands, and the caret on its line.
    void linesStayOnTheirRules_data() {
        QTest::addColumn<EditorScript>("script");
        QTest::addColumn<QString>("text");
        QTest::newRow("typing") << EditorScript([](MacRuledTextView &editor) {
            QTest::keyClicks(&editor, QStringLiteral("A line typed letter by letter"));
        }) << QStringLiteral("A line typed letter by letter");
        QTest::newRow("Return") << EditorScript([](MacRuledTextView &editor) {
            typeParagraphs(editor, {QStringLiteral("First"), QStringLiteral("Second"),
                                    QStringLiteral("Third")});
        }) << QStringLiteral("First\nSecond\nThird");
        QTest::newRow("two Returns") << EditorScript([](MacRuledTextView &editor) {
            QTest::keyClicks(&editor, QStringLiteral("One"));
            QTest::keyClick(&editor, Qt::Key_Return);
            QTest::keyClick(&editor, Qt::Key_Return);
            QTest::keyClicks(&editor, QStringLiteral("Two"));
        }) << QStringLiteral("One\n\nTwo");
        QTest::newRow("Backspace joins") << EditorScript([](MacRuledTextView &editor) {
            typeParagraphs(editor, {QStringLiteral("One"), QStringLiteral("Two")});
            QTest::keyClick(&editor, Qt::Key_Home);
            QTest::keyClick(&editor, Qt::Key_Backspace);
            QTest::keyClick(&editor, Qt::Key_Return);
        }) << QStringLiteral("One\nTwo");
        QTest::newRow("select all, delete, type") << EditorScript([](MacRuledTextView &editor) {
            typeParagraphs(editor, {QStringLiteral("Gone"), QStringLiteral("Also gone")});
            QTest::keyClick(&editor, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(&editor, Qt::Key_Delete);
            typeParagraphs(editor, {QStringLiteral("New"), QStringLiteral("Lines")});
        }) << QStringLiteral("New\nLines");
        QTest::newRow("select all, type over") << EditorScript([](MacRuledTextView &editor) {
            typeParagraphs(editor, {QStringLiteral("Gone"), QStringLiteral("Also gone")});
            QTest::keyClick(&editor, Qt::Key_A, Qt::ControlModifier);
            typeParagraphs(editor, {QStringLiteral("New"), QStringLiteral("Lines")});
        }) << QStringLiteral("New\nLines");
        QTest::newRow("paste plain") << EditorScript([](MacRuledTextView &editor) {
            auto *data = new QMimeData;
            data->setText(QStringLiteral("Pasted\nthree\nlines"));
            pasteMime(editor, data);
        }) << QStringLiteral("Pasted\nthree\nlines");
        QTest::newRow("paste rich") << EditorScript([](MacRuledTextView &editor) {
            auto *data = new QMimeData;
            data->setHtml(QStringLiteral("<h1 style='line-height:12px'>Big</h1><p>small</p>"));
            data->setText(QStringLiteral("Big\nsmall"));
            pasteMime(editor, data);
            QTest::keyClick(&editor, Qt::Key_Return);
        }) << QStringLiteral("Big\nsmall\n");
        QTest::newRow("paste over everything") << EditorScript([](MacRuledTextView &editor) {
            typeParagraphs(editor, {QStringLiteral("Old")});
            QTest::keyClick(&editor, Qt::Key_A, Qt::ControlModifier);
            auto *data = new QMimeData;
            data->setText(QStringLiteral("One\nTwo"));
            pasteMime(editor, data);
        }) << QStringLiteral("One\nTwo");
        QTest::newRow("undo and redo") << EditorScript([](MacRuledTextView &editor) {
            typeParagraphs(editor, {QStringLiteral("Kept"), QStringLiteral("Undone")});
            QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier);
            QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier);
            QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            QTest::keyClick(&editor, Qt::Key_Return);
        }) << QString();
        QTest::newRow("undo everything") << EditorScript([](MacRuledTextView &editor) {
            typeParagraphs(editor, {QStringLiteral("All"), QStringLiteral("of it")});
            for (int i = 0; i < 12; ++i)
                QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier);
            typeParagraphs(editor, {QStringLiteral("Again"), QStringLiteral("anew")});
        }) << QString();
        QTest::newRow("smart quotes") << EditorScript([](MacRuledTextView &editor) {
            typeParagraphs(editor, {QStringLiteral("\"Quoted\" -- it's"), QStringLiteral("x")});
        }) << QStringLiteral("\u201CQuoted\u201D \u2014 it\u2019s\nx");
        QTest::newRow("text set from outside, then Return")
            << EditorScript([](MacRuledTextView &editor) {
                   editor.setText(QStringLiteral("From the store"));
                   QTest::keyClick(&editor, Qt::Key_End, Qt::ControlModifier);
                   QTest::keyClick(&editor, Qt::Key_Return);
                   QTest::keyClicks(&editor, QStringLiteral("typed"));
               })
            << QStringLiteral("From the store\ntyped");
    }

    void linesStayOnTheirRules() {
        QFETCH(EditorScript, script);
        QFETCH(QString, text);
        auto editor = makeEditor();
        editor->setText(QString());
        editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(editor.get()));
        script(*editor);
        if (!text.isNull())
            QCOMPARE(editor->text(), text);
        const double lineHeight = editor->lineHeight();
        auto reference = makeEditor();
        reference->setText(editor->text());
        const QList<double> lines = editorBaselines(*editor);
        QCOMPARE(lines, editorBaselines(*reference));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QVERIFY2(qFuzzyCompare(lines.at(i) - lines.first() + 1, i * lineHeight + 1),
                     qPrintable(QStringLiteral("line %1 at %2").arg(i).arg(lines.at(i))));
            QVERIFY(lines.at(i) < (i + 1) * lineHeight && lines.at(i) > i * lineHeight);
        }
        QCOMPARE(editorLineStarts(*editor), editorLineStarts(*reference));
        // The caret stands on the bottom of its line, on the rule.
        const int position = editor->textCursor().position();
        const QRectF caret = *editor->caretRect(position);
        QCOMPARE(caret.bottom(), reference->lineRect(position)->bottom());
    }

    void scrollingFollowsTheCaret_data() {
        QTest::addColumn<bool>("reducedMotion");
        QTest::newRow("animated") << false;
        QTest::newRow("reduced motion jumps") << true;
    }

    void scrollingFollowsTheCaret() {
        QFETCH(bool, reducedMotion);
        auto editor = makeEditor(writingWidth, 200);
        editor->setReducedMotion(reducedMotion);
        editor->setScrollDuration(300);
        editor->show();
        QVERIFY(QTest::qWaitForWindowExposed(editor.get()));
        editor->setText(QString());
        for (const QChar letter : QStringLiteral("abcde")) {
            QTest::keyClicks(editor.get(), QString(letter));
            QTest::keyClick(editor.get(), Qt::Key_Return);
        }
        QTest::keyClicks(editor.get(), QStringLiteral("f"));
        QCOMPARE(editor->isScrollAnimating(), !reducedMotion);
        // Six lines of 40 in a view 200 tall: the least scroll shows the last line whole.
        QVERIFY(waitUntil([&] { return editor->verticalScrollBar()->value() == 40; }));
    }
};

VELMORA_GUI_TEST_MAIN(RuledTextViewTest)
#include "tst_ruledtextview.moc"

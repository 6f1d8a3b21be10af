#include "book/MacRuledTextView.h"
#include "book/theme/DiaryTheme.h"
#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

#include <QPainter>
#include <QPainterPath>

using namespace velmora;

namespace {

// The editor on a paper-coloured page, as the writable leaf hosts it.
struct Page {
    QWidget paper;
    MacRuledTextView *editor;

    explicit Page(DiaryTheme theme = {})
        : editor(new MacRuledTextView(&paper)) {
        paper.resize(760, 440);
        QPalette colors = paper.palette();
        colors.setColor(QPalette::Window, theme.paper());
        editor->setTheme(theme);
        paper.setPalette(colors);
        paper.setAutoFillBackground(true);
        editor->setGeometry(32, 20, 696, 400);
        editor->setFontAndLineHeight(resolveDiaryFont(QStringLiteral("Georgia"), 16), 40);
        editor->setSpellCheckLanguages({QStringLiteral("en_US")});
    }

    void shoot(const QString &name) {
        paper.show();
        paper.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&paper));
        QVERIFY(test::waitUntil([&] { return !editor->isSpellCheckPending(); }));
        QVERIFY(test::waitUntil([&] { return editor->hasFocus(); }));
        QCoreApplication::processEvents();
        QVERIFY(test::saveScreenshot(test::grabWidget(&paper), name));
    }
};

// A few pen strokes standing in for handwriting from the companion tablet.
QImage handwriting() {
    QImage ink(QSize(696, 360) * 2, QImage::Format_ARGB32_Premultiplied);
    ink.setDevicePixelRatio(2);
    ink.fill(Qt::transparent);
    QPainter painter(&ink);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x23, 0x3A, 0x66), 2.2, Qt::SolidLine, Qt::RoundCap));
    QPainterPath word;
    word.moveTo(30, 150);
    word.cubicTo(50, 110, 70, 160, 90, 130);
    word.cubicTo(110, 100, 120, 160, 150, 140);
    word.cubicTo(170, 120, 190, 150, 220, 130);
    painter.drawPath(word);
    QPainterPath underline;
    underline.moveTo(30, 190);
    underline.cubicTo(120, 184, 220, 196, 320, 188);
    painter.drawPath(underline);
    painter.drawEllipse(QPointF(480, 260), 60, 34);
    return ink;
}

} // namespace

class EditorScreensTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyPageWithPrompt() {
        Page page;
        page.editor->setText(QString());
        page.editor->setPlaceholder(QStringLiteral("What made you smile today?"));
        page.shoot(QStringLiteral("editor-empty-prompt"));
    }

    void writtenPage_data() {
        QTest::addColumn<DiaryColorScheme>("scheme");
        QTest::addColumn<QString>("name");
        QTest::newRow("light") << DiaryColorScheme::light << QStringLiteral("editor-written");
        QTest::newRow("dark") << DiaryColorScheme::dark << QStringLiteral("editor-written-dark");
    }

    void writtenPage() {
        QFETCH(DiaryColorScheme, scheme);
        QFETCH(QString, name);
        Page page(DiaryTheme{scheme});
        page.editor->setText(QStringLiteral(
            "Dear diary,\n\nThe rain kept on through the morning and I wrote by the window, "
            "watching the street go gray and then silver. \u201CTomorrow,\u201D she said "
            "\u2014 and then laughed, because we both knew it wouldn\u2019t be.\n"
            "A misspeled word, for the checker."));
        QTextCursor cursor = page.editor->textCursor();
        cursor.setPosition(20);
        cursor.setPosition(45, QTextCursor::KeepAnchor);
        page.editor->setTextCursor(cursor);
        page.shoot(name);
    }

    void pageWithInk() {
        Page page;
        page.editor->setText(QStringLiteral("Typed over the handwriting."));
        page.editor->setInk(handwriting());
        page.editor->setPlaceholder(QStringLiteral("Never shown with ink"));
        page.shoot(QStringLiteral("editor-ink"));
    }
};

VELMORA_GUI_TEST_MAIN(EditorScreensTest)
#include "tst_screens_editor.moc"

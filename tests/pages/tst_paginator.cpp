#include "pages/MacTextKitLeafPaginator.h"
#include "pages/PageLayoutService.h"
#include "support/GuiTestMain.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QTextLayout>

using namespace velmora;

namespace {

const QString emoji = QString::fromUtf8("👩‍👩‍👧‍👦");
const QString combining = QStringLiteral("e\u0301\u0327");

TextAttributes attributesFor(double pointSize) {
    const QFont font = resolveDiaryFont(QStringLiteral("Georgia"), pointSize);
    return makeRuledTextAttributes(font, PageLayoutService::ruledLineHeight(pointSize));
}

QString repeated(const QString &piece, int times) {
    QString text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

QString prose(int paragraphs) {
    QString text;
    for (int i = 0; i < paragraphs; ++i) {
        text += QStringLiteral("Day %1. The rain kept on through the morning and I wrote by the "
                               "window, watching the street go grey and then silver. ")
                    .arg(i);
        text += i % 3 == 0 ? QStringLiteral("\r\n") : QStringLiteral("\n");
    }
    return text;
}

// The leaves must cover the text from 0 without gap, each holding something, and cut only
// between grapheme clusters.
void verifyPartition(const QList<UTF16TextRange> &ranges, const QString &text) {
    QVERIFY(!ranges.isEmpty());
    QVERIFY(PageLayoutService::isValidPartition(ranges, text.size()));
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    for (const UTF16TextRange &range : ranges) {
        if (text.isEmpty())
            break;
        graphemes.setPosition(range.location);
        QVERIFY2(graphemes.isAtBoundary(), qPrintable(QString::number(range.location)));
    }
}

qsizetype leafCount(const QString &text, double pointSize, double width, double height) {
    return MacTextKitLeafPaginator()
        .leafRanges(text, attributesFor(pointSize), width, height, 0, 0)
        .size();
}

// Where the text layout itself breaks one paragraph into lines, in the paginator's font.
QList<qint64> layoutLineStarts(const QString &paragraph, const QFont &font, double lineWidth) {
    const QImage device = MacTextKitLeafPaginator::pointPaintDevice();
    QFont unhinted = font;
    unhinted.setHintingPreference(QFont::PreferNoHinting);
    QTextLayout layout(paragraph, QFont(unhinted, &device), &device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QList<qint64> starts;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(lineWidth);
        starts.append(line.textStart());
    }
    layout.endLayout();
    return starts;
}

// One "word" without a break opportunity of Latin or Western scripts: runs of random letters
// of several scripts, joined without spaces.
QString unbrokenMixedScripts(int length, const QList<std::pair<char16_t, char16_t>> &scripts) {
    QRandomGenerator random(33);
    QString text;
    while (text.size() < length) {
        const auto [first, last] = scripts.at(int(random.bounded(qsizetype(scripts.size()))));
        for (int i = int(random.bounded(1, 9)); i > 0 && text.size() < length; --i)
            text += QChar(char16_t(first + random.bounded(int(last - first) + 1)));
    }
    return text;
}

const QList<std::pair<char16_t, char16_t>> manyScripts{
    {u'a', u'z'},           {u'\u03B1', u'\u03C9'}, {u'\u0430', u'\u044F'}, {u'\u05D0', u'\u05EA'},
    {u'\u0627', u'\u064A'}, {u'\u0915', u'\u0939'}, {u'\u0E01', u'\u0E2E'}, {u'\u4E00', u'\u4FFF'},
    {u'\uAC00', u'\uAFFF'}, {u'\u10D0', u'\u10F0'}};

// How many lines the leaf's text takes laid out on its own: each paragraph whole.
qsizetype linesAlone(const QString &leaf, const QFont &font, double lineWidth) {
    static const QRegularExpression separators(QStringLiteral("\r\n|[\n\r\u2029]"));
    QStringList paragraphs = leaf.split(separators);
    // What follows a final line end is the next leaf's.
    if (paragraphs.size() > 1 && paragraphs.last().isEmpty())
        paragraphs.removeLast();
    qsizetype lines = 0;
    for (const QString &paragraph : std::as_const(paragraphs))
        lines += layoutLineStarts(paragraph, font, lineWidth).size();
    return lines;
}

} // namespace

class PaginatorTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void partitions_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("height");
        QTest::addColumn<double>("inset");
        QTest::newRow("empty") << QString() << 696.0 << 840.0 << 0.0;
        QTest::newRow("one letter") << QStringLiteral("a") << 696.0 << 840.0 << 0.0;
        QTest::newRow("only newlines")
            << repeated(QStringLiteral("\n"), 100) << 696.0 << 840.0 << 0.0;
        QTest::newRow("crlf lines")
            << repeated(QStringLiteral("line\r\n"), 200) << 300.0 << 200.0 << 0.0;
        QTest::newRow("line and paragraph separators")
            << repeated(QStringLiteral("one\u2028two\u2029three\r"), 120) << 300.0 << 200.0 << 0.0;
        QTest::newRow("prose with insets") << prose(120) << 560.0 << 520.0 << 36.0;
        QTest::newRow("one long word")
            << repeated(QStringLiteral("x"), 5000) << 200.0 << 200.0 << 0.0;
        QTest::newRow("emoji sequences") << repeated(emoji, 600) << 120.0 << 100.0 << 0.0;
        QTest::newRow("combining marks") << repeated(combining, 800) << 120.0 << 100.0 << 0.0;
        QTest::newRow("page smaller than a line")
            << repeated(emoji + combining + QStringLiteral("\r\nab"), 20) << 696.0 << 30.0 << 0.0;
        QTest::newRow("insets wider than the page") << prose(4) << 60.0 << 200.0 << 40.0;
        QTest::newRow("zero page") << prose(2) << 0.0 << 0.0 << 0.0;
    }

    void partitions() {
        QFETCH(QString, text);
        QFETCH(double, width);
        QFETCH(double, height);
        QFETCH(double, inset);
        const auto ranges =
            MacTextKitLeafPaginator().leafRanges(text, attributesFor(16), width, height, inset, 0);
        verifyPartition(ranges, text);
    }

    // A page too short for one line takes one grapheme cluster per leaf.
    void containerTakingNothingAdvancesOneGrapheme_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qint64>>("lengths");
        QTest::newRow("emoji, marks and a line end") << emoji + combining + QStringLiteral("\r\nab")
                                                     << QList<qint64>{emoji.size(), 3, 2, 1, 1};
        // Inside Thai text Qt's own cluster analysis cuts emoji apart.
        QTest::newRow("emoji inside thai")
            << QString::fromUtf8("ดี😀") + emoji + QString::fromUtf8("น้ำ🇹🇭ไทย")
            << QList<qint64>{2, 2, emoji.size(), 3, 4, 1, 1, 1};
    }

    void containerTakingNothingAdvancesOneGrapheme() {
        QFETCH(QString, text);
        QFETCH(QList<qint64>, lengths);
        QList<qint64> leafLengths;
        for (const UTF16TextRange &range :
             MacTextKitLeafPaginator().leafRanges(text, attributesFor(16), 696, 30, 0, 0))
            leafLengths.append(range.length);
        QCOMPARE(leafLengths, lengths);
    }

    // With room for one line per leaf, leaves are lines: they must break where the text layout
    // breaks the paragraph, also around runs with no break opportunity.
    void leavesOfOneLineFollowTheLayout_data() {
        QTest::addColumn<QString>("paragraph");
        const QString run = QString(900, u'x');
        const QString words = QStringLiteral("a few ordinary words to wrap around ");
        QTest::newRow("prose") << repeated(words, 20);
        QTest::newRow("run between words") << words + run + QStringLiteral(" tail words ") + words;
        QTest::newRow("run first") << run + words;
        QTest::newRow("run last") << words + run;
        QTest::newRow("two runs") << run + QStringLiteral(" ") + run + QStringLiteral("  ") + words;
        QTest::newRow("emoji run") << words + repeated(emoji, 120) + words;
        QTest::newRow("short unbroken runs") << repeated(QString(70, u'y') + u' ', 12);
        QTest::newRow("no-break spaces")
            << words + repeated(QStringLiteral("ab\u00A0"), 300) + words;
        QTest::newRow("narrow no-break spaces")
            << words + repeated(QStringLiteral("ab\u202F"), 300) + words;
        QTest::newRow("runs glued by a no-break space")
            << words + QString(70, u'x') + u'\u00A0' + QString(70, u'y') + u' ' + words;
        QTest::newRow("emoji inside thai")
            << repeated(QString::fromUtf8("วันนี้😀อากาศ") + emoji + QString::fromUtf8("ดี🇹🇭มาก"), 40);
    }

    void leavesOfOneLineFollowTheLayout() {
        QFETCH(QString, paragraph);
        const TextAttributes attributes = attributesFor(16);
        const auto ranges =
            MacTextKitLeafPaginator().leafRanges(paragraph, attributes, 300, 40, 0, 0);
        QList<qint64> starts;
        for (const UTF16TextRange &range : ranges)
            starts.append(range.location);
        QCOMPARE(starts, layoutLineStarts(paragraph, attributes.font, 300));
    }

    // Long paragraphs are laid out in pieces; with short pieces and a line per leaf, the leaves
    // must still be the lines of one whole layout.
    void longParagraphsBreakAsOneLayout_data() {
        QTest::addColumn<QString>("paragraph");
        QTest::newRow("korean without spaces") << repeated(QStringLiteral("한국어문장입니다"), 400);
        QTest::newRow("thai without spaces")
            << repeated(QStringLiteral("วันนี้อากาศดีมากฉันไปเดินเล่น"), 120);
        QTest::newRow("prose") << repeated(QStringLiteral("a few ordinary words to wrap "), 120);
        QTest::newRow("marks and emoji")
            << repeated(combining + QStringLiteral("한글") + emoji + QStringLiteral("abc "), 300);
        // The text is analysed in windows as long as the pieces; their edges fall inside
        // clusters, Thai words and pairs of regional indicators.
        QTest::newRow("thai tone marks and sara am")
            << repeated(QStringLiteral("ผู้เชี่ยวชาญกำลังทำงานอย่างตั้งใจน้ำ"), 110);
        QTest::newRow("conjoining jamo")
            << repeated(QStringLiteral("\u1112\u1161\u11AB\u1100\u1173\u11AF"), 500);
        QTest::newRow("flags with an odd indicator") << repeated(QString::fromUtf8("🇯🇵🇫🇷🇩🇪🇰"), 150);
        QTest::newRow("unbroken run longer than a window inside thai")
            << repeated(QStringLiteral("วันนี้อากาศดีมาก"), 20) + QString(400, u'x') +
                   repeated(QStringLiteral("ฉันไปเดินเล่น"), 20);
        QTest::newRow("marks longer than a window")
            << repeated(QStringLiteral("a few words e") + QString(300, u'\u0301') + u' ', 8);
    }

    void longParagraphsBreakAsOneLayout() {
        QFETCH(QString, paragraph);
        const TextAttributes attributes = attributesFor(16);
        const auto ranges =
            MacTextKitLeafPaginator(100).leafRanges(paragraph, attributes, 300, 40, 0, 0);
        QList<qint64> starts;
        for (const UTF16TextRange &range : ranges)
            starts.append(range.location);
        QCOMPARE(starts, layoutLineStarts(paragraph, attributes.font, 300));
        verifyPartition(ranges, paragraph);
    }

    // A leaf is shown laid out alone, from its own first character: each must fit its page so,
    // whatever the pieces and runs the paginator laid out apart.
    void everyLeafFitsItsPageAlone_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("height");
        const QString mixed = unbrokenMixedScripts(50000, manyScripts);
        QTest::newRow("mixed scripts unbroken, writing area") << mixed << 696.0 << 840.0;
        QTest::newRow("mixed scripts unbroken, small page") << mixed << 300.0 << 432.0;
        QTest::newRow("joining scripts unbroken")
            << unbrokenMixedScripts(20000, {{u'\u0627', u'\u064A'},
                                            {u'\u0915', u'\u0939'},
                                            {u'\u0E01', u'\u0E2E'},
                                            {u'a', u'z'}})
            << 300.0 << 432.0;
        QTest::newRow("mixed scripts between words")
            << repeated(unbrokenMixedScripts(700, manyScripts) + QStringLiteral(" and words\n"), 30)
            << 696.0 << 840.0;
        QTest::newRow("thai without spaces")
            << repeated(QStringLiteral("วันนี้อากาศดีมากฉันไปเดินเล่น"), 600) << 300.0 << 432.0;
        QTest::newRow("prose") << prose(300) << 696.0 << 840.0;
    }

    void everyLeafFitsItsPageAlone() {
        QFETCH(QString, text);
        QFETCH(double, width);
        QFETCH(double, height);
        const TextAttributes attributes = attributesFor(16);
        const auto ranges =
            MacTextKitLeafPaginator().leafRanges(text, attributes, width, height, 0, 0);
        verifyPartition(ranges, text);
        const qsizetype linesPerLeaf = qsizetype(height / PageLayoutService::ruledLineHeight(16));
        for (const UTF16TextRange &range : ranges) {
            const qsizetype lines =
                linesAlone(text.mid(range.location, range.length), attributes.font, width);
            QVERIFY2(lines <= linesPerLeaf,
                     qPrintable(QStringLiteral("the leaf at %1 takes %2 lines of %3")
                                    .arg(range.location)
                                    .arg(lines)
                                    .arg(linesPerLeaf)));
        }
    }

    void leafCountsFollowTextAndPage() {
        const QString text = prose(60);
        const qsizetype base = leafCount(text, 16, 696, 840);
        QVERIFY(base > 1);
        QVERIFY(leafCount(text + text, 16, 696, 840) > base);
        QVERIFY(leafCount(text, 16, 696, 420) > base);
        QVERIFY(leafCount(text, 16, 348, 840) > base);
        QVERIFY(leafCount(text, 32, 696, 840) > base);
    }

    // Every line is as tall as the ruled surface's line, so a leaf holds a whole number of them.
    void blankLinesFillLeavesByLineHeight() {
        const QString text = repeated(QStringLiteral("\n"), 100);
        const auto ranges =
            MacTextKitLeafPaginator().leafRanges(text, attributesFor(16), 696, 840, 0, 0);
        const int linesPerLeaf = int(840 / PageLayoutService::ruledLineHeight(16));
        QCOMPARE(ranges.first().length, linesPerLeaf);
        QCOMPARE(ranges.size(), (100 + linesPerLeaf - 1) / linesPerLeaf);
    }
};

VELMORA_GUI_TEST_MAIN(PaginatorTest)
#include "tst_paginator.moc"

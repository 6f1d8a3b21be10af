#include "book/DiaryGlyphs.h"
#include "book/DiarySavedNote.h"
#include "book/MacTextures.h"
#include "book/PaperSealRitualView.h"
#include "book/theme/DiaryTheme.h"
#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QSignalSpy>

using namespace velmora;

namespace {

const QStringList glyphNames{
    QStringLiteral("exclamationmark.triangle.fill"),
    QStringLiteral("lock.fill"),
    QStringLiteral("checkmark"),
    QStringLiteral("seal"),
    QStringLiteral("seal.fill"),
    QStringLiteral("book"),
    QStringLiteral("diamond.fill"),
    QStringLiteral("magnifyingglass"),
    QStringLiteral("calendar"),
    QStringLiteral("gearshape"),
    QStringLiteral("xmark"),
    QStringLiteral("chevron.left"),
    QStringLiteral("chevron.right"),
    QStringLiteral("touchid"),
};

// The share of pixels in the image that are not fully transparent.
double coverage(const QImage &image) {
    qint64 covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            covered += qAlpha(image.pixel(x, y)) > 0;
    return double(covered) / double(image.width() * image.height());
}

QString accessibleName(QWidget *widget) {
    QAccessibleInterface *interface = QAccessible::queryAccessibleInterface(widget);
    return interface ? interface->text(QAccessible::Name) : QString();
}

QLabel *labelWithText(QWidget *parent, const QString &text) {
    for (QLabel *label : parent->findChildren<QLabel *>())
        if (label->text() == text)
            return label;
    return nullptr;
}

const DiaryTheme dark{DiaryColorScheme::dark};

} // namespace

class ScreensAppearanceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every symbol the views name is drawn, inside the box it is given, in the colour asked.
    void glyphs() {
        const int cell = 48;
        QImage sheet(QSize(cell * int(glyphNames.size()), cell * 2) * 2,
                     QImage::Format_ARGB32_Premultiplied);
        sheet.setDevicePixelRatio(2);
        sheet.fill(diaryPaperColor());
        QPainter painter(&sheet);
        for (int i = 0; i < glyphNames.size(); ++i) {
            const auto glyph = DiaryGlyph::named(glyphNames[i]);
            QVERIFY2(glyph, qPrintable(glyphNames[i]));
            const QRectF box(i * cell + 8, 8, 32, 32);
            const QRectF bounds = glyph->path(box).boundingRect();
            QVERIFY2(box.adjusted(-0.01, -0.01, 0.01, 0.01).contains(bounds),
                     qPrintable(glyphNames[i]));
            QVERIFY(qAbs(bounds.width() - 32) < 0.01 || qAbs(bounds.height() - 32) < 0.01);
            glyph->paint(painter, box, diaryLeatherColor());
            DiaryGlyph(glyph->symbol(), DiaryGlyphWeight::bold)
                .paint(painter, box.translated(0, cell), diaryInkColor());

            QImage alone(64, 64, QImage::Format_ARGB32_Premultiplied);
            alone.fill(Qt::transparent);
            QPainter single(&alone);
            glyph->paint(single, QRectF(0, 0, 64, 64), Qt::red);
            single.end();
            const double covered = coverage(alone);
            QVERIFY2(covered > 0.04 && covered < 0.9, qPrintable(glyphNames[i]));
        }
        painter.end();
        QVERIFY(!DiaryGlyph::named(QStringLiteral("touchid.fill")));
        QCOMPARE(DiaryGlyph::named(QStringLiteral("touchid"))->symbol(), DiaryGlyphSymbol::key);
        QVERIFY(test::saveScreenshot(sheet, QStringLiteral("appearance-glyphs")));
    }

    // A glyph's natural size grows with the text beside it, and a heavier weight is thicker.
    void glyphSizes() {
        const DiaryGlyph check(DiaryGlyphSymbol::checkmark, DiaryGlyphWeight::semibold);
        const QSizeF at14 = check.sizeForPointSize(14);
        QVERIFY(at14.height() > 8 && at14.height() < 16);
        QCOMPARE(check.sizeForPointSize(28), at14 * 2);
        const auto area = [](const DiaryGlyph &glyph) {
            QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            glyph.paint(painter, QRectF(10, 10, 80, 80), Qt::black);
            painter.end();
            return coverage(image);
        };
        QVERIFY(area(DiaryGlyph(DiaryGlyphSymbol::seal, DiaryGlyphWeight::light)) <
                area(DiaryGlyph(DiaryGlyphSymbol::seal, DiaryGlyphWeight::bold)));
        QVERIFY(area(DiaryGlyph(DiaryGlyphSymbol::seal)) <
                area(DiaryGlyph(DiaryGlyphSymbol::sealFill)));

        DiaryGlyphView view(check, 14, diaryLeatherColor());
        QCOMPARE(view.sizeHint(), QSize(qCeil(at14.width()), qCeil(at14.height())));
    }

    // A whole board and a whole leaf of the book's size, as the cover and the page show them;
    // the same size drawn again after the cache was emptied is the same picture.
    void boardAndLeaf() {
        QWidget leaf;
        leaf.setFixedSize(780, 1024);
        leaf.setAutoFillBackground(true);
        QPalette palette = leaf.palette();
        palette.setColor(QPalette::Window, diaryPaperColor());
        leaf.setPalette(palette);
        auto *paper = new MacPaperTexture(&leaf);
        paper->setGeometry(leaf.rect());
        MacLeatherTexture board;
        board.setFixedSize(780, 1024);

        const QImage leafShot = test::grabWidget(&leaf);
        const QImage boardShot = test::grabWidget(&board);
        QCOMPARE(leafShot.size(), QSize(1560, 2048));
        clearTextureCache();
        QVERIFY(test::grabWidget(&leaf) == leafShot);
        QVERIFY(test::grabWidget(&board) == boardShot);
        QVERIFY(textureCacheKeys().contains(QStringLiteral("leather-780x1024")));
        QVERIFY(test::saveScreenshot(leafShot, QStringLiteral("appearance-paper-leaf")));
        QVERIFY(test::saveScreenshot(boardShot, QStringLiteral("appearance-leather-board")));
    }

    // The note is as wide as its checkmark, gap, word and padding, never cut, and one element.
    void savedNote() {
        DiarySavedNote note;
        const QFontMetricsF metrics(resolveDiaryFont(QStringLiteral("Georgia"), 19));
        const QSizeF mark = DiaryGlyph(DiaryGlyphSymbol::checkmark, DiaryGlyphWeight::semibold)
                                .sizeForPointSize(14);
        const QSizeF expected(mark.width() + 10 +
                                  metrics.horizontalAdvance(QStringLiteral("Saved")) + 52,
                              std::max(mark.height(), metrics.height()) + 28);
        QCOMPARE(note.capsuleRect().size(), expected);
        QVERIFY(QRectF(note.rect()).contains(note.capsuleRect().adjusted(-18, -18, 18, 26)));
        QCOMPARE(note.capsuleRect().center(), QRectF(note.rect()).center());
        QCOMPARE(note.objectName(), QStringLiteral("diary-saved"));
        QCOMPARE(accessibleName(&note), QStringLiteral("Saved"));
        QVERIFY(note.children().isEmpty());
        QVERIFY(note.testAttribute(Qt::WA_TransparentForMouseEvents));

        const QImage light = test::grabWidget(&note);
        QVERIFY(test::saveScreenshot(light, QStringLiteral("appearance-saved-note")));
        // The capsule's centre is cream, its corners outside are only shadow.
        const QPoint centre = (note.capsuleRect().center() * 2).toPoint();
        QCOMPARE(QColor(light.pixel(centre.x() - 4, centre.y())).name(), QStringLiteral("#fbf6ec"));
        QVERIFY(qAlpha(light.pixel(2, 2)) < 8);
        note.setTheme(dark);
        QVERIFY(test::saveScreenshot(test::grabWidget(&note),
                                     QStringLiteral("appearance-saved-note-dark")));
    }

    void sealCardConfirmation() {
        PaperSealRitualView card;
        card.show();
        QSignalSpy cancelled(&card, &PaperSealRitualView::cancelRequested);
        QSignalSpy confirmed(&card, &PaperSealRitualView::confirmRequested);
        auto *cancel = card.findChild<QAbstractButton *>(QStringLiteral("diary-seal-cancel"));
        auto *confirm = card.findChild<QAbstractButton *>(QStringLiteral("diary-seal-confirm"));
        QVERIFY(cancel && confirm);
        QCOMPARE(cancel->text(), QStringLiteral("Keep Writing"));
        QCOMPARE(confirm->text(), QStringLiteral("Seal Page"));
        QCOMPARE(accessibleName(confirm), QStringLiteral("Seal Page"));
        for (QAbstractButton *button : {cancel, confirm})
            QVERIFY(button->width() >= 110 && button->height() >= 44);
        QLabel *title = labelWithText(&card, QStringLiteral("Seal this page?"));
        QLabel *message = labelWithText(
            &card,
            QStringLiteral("Its words will become permanent and cannot be edited afterward."));
        QVERIFY(title && message);
        QVERIFY(!title->isHidden() && !message->isHidden());
        // The message wraps within 290 points, so the card grows rather than cutting it.
        QCOMPARE(message->width(), 290);
        QVERIFY(message->height() >= 2 * QFontMetrics(message->font()).height());
        QVERIFY(card.findChild<QLabel *>(QStringLiteral("diary-seal-acknowledgement"))->isHidden());
        QVERIFY(card.cardRect().width() >= 290 + 56);

        QTest::mouseClick(cancel, Qt::LeftButton);
        QCOMPARE(cancelled.size(), 1);
        QCOMPARE(confirmed.size(), 0);
        QTest::mouseClick(confirm, Qt::LeftButton);
        QCOMPARE(confirmed.size(), 1);

        QVERIFY(test::saveScreenshot(test::grabWidget(&card),
                                     QStringLiteral("appearance-seal-confirmation")));
        card.setTheme(dark);
        QVERIFY(test::saveScreenshot(test::grabWidget(&card),
                                     QStringLiteral("appearance-seal-confirmation-dark")));
    }

    // Once sealed the card only acknowledges: no buttons, nothing either request can start.
    void sealCardAcknowledgement() {
        PaperSealRitualView card;
        card.setBreathDuration(30);
        QSignalSpy cancelled(&card, &PaperSealRitualView::cancelRequested);
        QSignalSpy confirmed(&card, &PaperSealRitualView::confirmRequested);
        card.setMode(PaperSealRitualView::Mode::acknowledgement);
        card.show();
        auto *acknowledgement =
            card.findChild<QLabel *>(QStringLiteral("diary-seal-acknowledgement"));
        QVERIFY(acknowledgement && !acknowledgement->isHidden());
        QCOMPARE(acknowledgement->text(), QStringLiteral("Page sealed"));
        auto *cancel = card.findChild<QAbstractButton *>(QStringLiteral("diary-seal-cancel"));
        auto *confirm = card.findChild<QAbstractButton *>(QStringLiteral("diary-seal-confirm"));
        QVERIFY(!cancel->isVisibleTo(&card) && !confirm->isVisibleTo(&card));
        cancel->click();
        confirm->click();
        QCOMPARE(cancelled.size() + confirmed.size(), 0);
        auto *seal = card.findChild<DiaryGlyphView *>();
        QCOMPARE(seal->glyph().symbol(), DiaryGlyphSymbol::sealFill);
        QCOMPARE(seal->color(), diaryLeatherColor());
        // The breath ends where it began.
        QTest::qWait(120);
        QVERIFY(test::saveScreenshot(test::grabWidget(&card),
                                     QStringLiteral("appearance-seal-acknowledgement")));
        QVERIFY(card.height() < PaperSealRitualView().sizeHint().height());
    }
};

VELMORA_GUI_TEST_MAIN(ScreensAppearanceTest)
#include "tst_screens_appearance.moc"

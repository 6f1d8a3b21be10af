#include "book/DiaryDecorative.h"
#include "book/DiaryGlyphs.h"
#include "book/DiaryRibbonBookmark.h"
#include "book/DiarySavedNote.h"
#include "book/MacBookBinding.h"
#include "book/MacBookShadow.h"
#include "book/MacClosedCover.h"
#include "book/MacFrostedBackdrop.h"
#include "book/MacGoldOrnament.h"
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

#include <algorithm>
#include <cstdlib>

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
    QStringLiteral("chevron.down"),
    QStringLiteral("xmark.circle.fill"),
    QStringLiteral("pencil.and.scribble"),
    QStringLiteral("book.closed.fill"),
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
        // Leather covers the board to its very edges.
        for (const QPoint corner :
             {QPoint(0, 0), QPoint(1559, 0), QPoint(0, 2047), QPoint(1559, 2047)})
            QCOMPARE(qAlpha(boardShot.pixel(corner)), 255);
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

    void ornamentRules_data() {
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("rule");
        QTest::newRow("cover divider") << 200.0 << 92.0;
        QTest::newRow("just the diamond") << 16.0 << 0.0;
        QTest::newRow("narrower than the gaps") << 10.0 << 0.0;
        QTest::newRow("negative") << -40.0 << 0.0;
        QTest::newRow("not a number") << qQNaN() << 0.0;
    }

    // A rule is never drawn with a negative width, which would paint it backwards.
    void ornamentRules() {
        QFETCH(double, width);
        QFETCH(double, rule);
        QCOMPARE(goldOrnamentRuleWidth(width), rule);
        const QSizeF diamond = DiaryGlyph(DiaryGlyphSymbol::diamondFill).sizeForPointSize(5);
        QCOMPARE(goldOrnamentSize(width).width(), 2 * rule + 16 + diamond.width());
        QImage image(240, 20, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintGoldOrnament(painter, image.rect(), width);
        painter.end();
        // Nothing is painted left of where the left rule should start.
        const int start = int(120 - goldOrnamentSize(width).width() / 2) - 1;
        for (int x = 0; x < start; ++x)
            QCOMPARE(qAlpha(image.pixel(x, 10)), 0);
        QVERIFY(qAlpha(image.pixel(120, 10)) > 0);
    }

    void ribbonShape_data() {
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("notch");
        QTest::newRow("ribbon") << 14.0 << 6.0;
        QTest::newRow("narrow") << 10.0 << 4.5;
        QTest::newRow("where the cap begins") << 6 / 0.45 << 6.0;
    }

    void ribbonShape() {
        QFETCH(double, width);
        QFETCH(double, notch);
        const QPainterPath path = ribbonShapePath(QRectF(10, 0, width, 46));
        QCOMPARE(path.elementCount(), 6);
        const QPointF tip = path.elementAt(3);
        QCOMPARE(tip.x(), 10 + width / 2);
        QVERIFY(qAbs(tip.y() - (46 - notch)) < 1e-9);
    }

    // The whole 44 × 46 frame turns back to today, margins and notch included.
    void ribbonBookmark() {
        DiaryRibbonBookmark ribbon;
        QSignalSpy clicked(&ribbon, &QAbstractButton::clicked);
        QCOMPARE(ribbon.objectName(), QStringLiteral("ribbon-bookmark"));
        QCOMPARE(accessibleName(&ribbon), QStringLiteral("Bookmark"));
        QCOMPARE(ribbon.accessibleDescription(), QStringLiteral("Turns to today\u2019s page"));
        QCOMPARE(ribbon.ribbonRect(), QRectF(15, 0, 14, 46));
        for (const QPoint point : {QPoint(2, 2), QPoint(42, 40), QPoint(22, 44), QPoint(22, 20)})
            QTest::mouseClick(&ribbon, Qt::LeftButton, {}, point);
        QCOMPARE(clicked.size(), 4);
        QTest::mouseClick(&ribbon, Qt::LeftButton, {}, QPoint(22, 48));
        QCOMPARE(clicked.size(), 4);
        const QImage shot = test::grabWidget(&ribbon, 4);
        QVERIFY(test::saveScreenshot(shot, QStringLiteral("appearance-ribbon")));
        // Claret down the middle, nothing but a little shadow in the margins.
        QVERIFY(qRed(shot.pixel(22 * 4, 20 * 4)) > qBlue(shot.pixel(22 * 4, 20 * 4)) + 40);
        QCOMPARE(qAlpha(shot.pixel(4 * 4, 20 * 4)), 0);
    }

    void backdropGeometry_data() {
        QTest::addColumn<QSizeF>("area");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QSizeF>("glow");
        QTest::addColumn<double>("corner");
        QTest::addColumn<double>("blur");
        QTest::addColumn<double>("vignetteStart");
        QTest::addColumn<double>("vignetteEnd");
        QTest::newRow("book-sized window") << QSizeF(780, 1024) << 1.0 << QSizeF(1014, 1044.48)
                                           << 156.0 << 124.8 << 460.8 << 768.0;
        QTest::newRow("wide window") << QSizeF(1560, 1024) << 1.0 << QSizeF(1014, 1044.48) << 156.0
                                     << 124.8 << 460.8 << 1170.0;
        QTest::newRow("half size")
            << QSizeF(390, 600) << 0.5 << QSizeF(507, 522.24) << 78.0 << 62.4 << 230.4 << 450.0;
    }

    void backdropGeometry() {
        QFETCH(QSizeF, area);
        QFETCH(double, scale);
        QFETCH(QSizeF, glow);
        QFETCH(double, corner);
        QFETCH(double, blur);
        QFETCH(double, vignetteStart);
        QFETCH(double, vignetteEnd);
        const FrostedBackdropGeometry geometry = frostedBackdropGeometry(area);
        QCOMPARE(geometry.scale, scale);
        QCOMPARE(geometry.glow.size(), glow);
        QCOMPARE(geometry.glow.center(), QPointF(area.width() / 2, area.height() / 2));
        QCOMPARE(geometry.glowCornerRadius, corner);
        QCOMPARE(geometry.glowBlurRadius, blur);
        QCOMPARE(geometry.vignetteStartRadius, vignetteStart);
        QCOMPARE(geometry.vignetteEndRadius, vignetteEnd);
    }

    // The setting of the book: backdrop, shadow, a leather board with its binding and an
    // ornament. None of it is read out or takes a click, except the binding and ornament,
    // which stop clicks as solid things do.
    void bookSetting() {
        QWidget stage;
        stage.resize(1000, 1024);
        auto *backdrop = new MacFrostedBackdrop(&stage);
        backdrop->setGeometry(stage.rect());
        auto *shadow = new MacBookShadow(&stage);
        shadow->setGeometry(stage.rect());
        const QRect book = fittedBookRect(stage.rect()).toRect();
        QCOMPARE(book, QRect(110, 0, 780, 1024));
        auto *board = new MacLeatherTexture(&stage);
        board->setGeometry(book);
        auto *binding = new MacBookBinding(&stage);
        binding->move(book.topLeft());
        auto *ornament = new MacGoldOrnament(200, &stage);
        ornament->move(book.center() - QPoint(ornament->width() / 2, 0));
        QCOMPARE(binding->size(), QSize(12, 1024));

        for (QWidget *widget :
             std::initializer_list<QWidget *>{backdrop, shadow, board, binding, ornament}) {
            QVERIFY(isDecorative(widget));
            QVERIFY(QAccessible::queryAccessibleInterface(widget)->state().invisible);
        }
        QVERIFY(shadow->testAttribute(Qt::WA_TransparentForMouseEvents));
        QVERIFY(!binding->testAttribute(Qt::WA_TransparentForMouseEvents));

        const QImage shot = test::grabWidget(&stage, 1);
        QVERIFY(test::saveScreenshot(shot, QStringLiteral("appearance-book-setting")));
        // The shadow is darkest under the book and fades out beside it.
        MacBookShadow alone;
        alone.resize(stage.size());
        const QImage shade = test::grabWidget(&alone, 1);
        QCOMPARE(qAlpha(shade.pixel(500, 512)), qRound(0.45 * 255));
        QVERIFY(qAlpha(shade.pixel(105, 512)) > qAlpha(shade.pixel(95, 512)));
        QVERIFY(qAlpha(shade.pixel(95, 512)) > qAlpha(shade.pixel(5, 512)));
        MacFrostedBackdrop wide;
        wide.resize(1560, 1024);
        const QImage surroundings = test::grabWidget(&wide, 1);
        QVERIFY(test::saveScreenshot(surroundings, QStringLiteral("appearance-backdrop-wide")));
        // The glow behind the book is warmer than the vignetted corner.
        QVERIFY(qGray(surroundings.pixel(780, 512)) > qGray(surroundings.pixel(3, 3)) + 20);
        // The binding's trailing edge is darker than its leading side.
        QVERIFY(qGray(shot.pixel(121, 500)) < qGray(shot.pixel(112, 500)));
    }

    // The backdrop is kept at a fraction of the screen's pixels; enlarged, it matches the
    // backdrop painted at full resolution.
    void backdropKeptSmallLooksTheSame_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("wide, plain screen") << QSize(1560, 1024) << 1.0;
        QTest::newRow("window, sharp screen") << QSize(605, 796) << 2.0;
        QTest::newRow("odd size, fractional ratio") << QSize(334, 518) << 1.5;
    }

    void backdropKeptSmallLooksTheSame() {
        QFETCH(QSize, size);
        QFETCH(qreal, ratio);
        MacFrostedBackdrop backdrop;
        backdrop.resize(size);
        const QImage shown = test::grabWidget(&backdrop, ratio);
        QImage full(shown.size(), QImage::Format_ARGB32_Premultiplied);
        full.setDevicePixelRatio(ratio);
        full.fill(Qt::transparent);
        {
            QPainter painter(&full);
            paintFrostedBackdrop(painter, QRectF(QPointF(), QSizeF(size)));
        }
        QVERIFY(test::saveScreenshot(shown, QStringLiteral("appearance-backdrop-%1x%2@%3")
                                                .arg(size.width())
                                                .arg(size.height())
                                                .arg(ratio)));
        QVERIFY(test::saveScreenshot(full, QStringLiteral("appearance-backdrop-full-%1x%2@%3")
                                               .arg(size.width())
                                               .arg(size.height())
                                               .arg(ratio)));
        int worst = 0;
        for (int y = 0; y < full.height(); ++y) {
            for (int x = 0; x < full.width(); ++x) {
                const QRgb a = shown.pixel(x, y);
                const QRgb b = full.pixel(x, y);
                worst =
                    std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
            }
        }
        QVERIFY2(worst <= 4, qPrintable(QString::number(worst)));
    }

    // The closed book, unnamed with its first-launch note, and named.
    void closedCover_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("privacyNote");
        QTest::addColumn<QString>("screen");
        QTest::newRow("no name") << QString() << true << "appearance-cover";
        QTest::newRow("named") << "  ada lovelace " << false << "appearance-cover-named";
    }

    void closedCover() {
        QFETCH(QString, name);
        QFETCH(bool, privacyNote);
        QFETCH(QString, screen);
        MacClosedCover cover(name, privacyNote, nullptr,
                             [] { return QDateTime(QDate(2026, 12, 31), QTime(22, 0)); });
        const QImage shot = test::grabWidget(&cover);
        QCOMPARE(shot.size(), QSize(1560, 2048));
        QVERIFY(test::saveScreenshot(shot, screen));
        // The rounded corner lets the backdrop through; the leather covers everything else.
        QCOMPARE(qAlpha(shot.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(shot.pixel(780, 1024)), 255);
        // The title is gold on brown.
        const QRectF title = cover.coverLayout().title;
        bool golden = false;
        for (int x = int(title.left() * 2); x < int(title.right() * 2) && !golden; ++x) {
            const QColor pixel = shot.pixelColor(x, int(title.center().y() * 2));
            golden = pixel.red() > 180 && pixel.green() > 140;
        }
        QVERIFY(golden);
        QVERIFY(test::grabWidget(&cover) == shot);
    }
};

VELMORA_GUI_TEST_MAIN(ScreensAppearanceTest)
#include "tst_screens_appearance.moc"

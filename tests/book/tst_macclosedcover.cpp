#include "book/MacClosedCover.h"
#include "book/MacTextures.h"
#include "support/GuiTestMain.h"

#include <QAccessible>
#include <QLabel>
#include <QSignalSpy>
#include <QThreadPool>

using namespace velmora;

namespace {

const auto newYearsEve = [] { return QDateTime(QDate(2026, 12, 31), QTime(22, 0)); };

QStringList accessibleTexts(QWidget *cover) {
    QStringList texts;
    for (QLabel *label : cover->findChildren<QLabel *>()) {
        QAccessibleInterface *interface = QAccessible::queryAccessibleInterface(label);
        texts.append(interface->text(QAccessible::Name));
    }
    return texts;
}

} // namespace

class MacClosedCoverTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initials_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("initials");
        QTest::newRow("blank") << "  \n "
                               << "";
        QTest::newRow("two words, lower case, spaces around") << "  ada lovelace "
                                                              << "A·L";
        QTest::newRow("one word") << "Ada"
                                  << "A";
        QTest::newRow("four words keep three") << "mary ann evans eliot"
                                               << "M·A·E";
        QTest::newRow("runs of white space") << "jean\t\n  luc"
                                             << "J·L";
        QTest::newRow("a letter of two code points") << "e\u0301mile zola"
                                                     << "E\u0301·Z";
        QTest::newRow("a letter beyond the basic plane") << "\U0001D49C lice"
                                                         << "\U0001D49C·L";
    }

    void initials() {
        QFETCH(QString, name);
        QFETCH(QString, initials);
        QCOMPARE(diaryInitials(name), initials);
    }

    void titles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("monogram");
        QTest::newRow("no name") << " \n" << QStringList{"My Diary", "2026"} << false;
        QTest::newRow("a name") << "  ada lovelace "
                                << QStringList{"Welcome,", "ada lovelace", "2026", "Initials A·L"}
                                << true;
    }

    void titles() {
        QFETCH(QString, name);
        QFETCH(QStringList, texts);
        QFETCH(bool, monogram);
        MacClosedCover cover(name, false, nullptr, newYearsEve);
        QStringList shown = accessibleTexts(&cover);
        for (const QString &text : texts)
            QVERIFY2(shown.contains(text), qPrintable(shown.join(QStringLiteral(" | "))));
        QCOMPARE(!cover.coverLayout().monogram.isEmpty(), monogram);
        QCOMPARE(cover.coverLayout().welcome.isEmpty(), !monogram);
        QCOMPARE(cover.objectName(), QStringLiteral("diary-cover"));
    }

    // A long name keeps to two lines, shrinking no further than 0.6 of its size.
    void longNames() {
        MacClosedCover shortName(QStringLiteral("Ada"), false, nullptr, newYearsEve);
        QCOMPARE(shortName.coverLayout().titleFont.pointSizeF(), 56.0);
        MacClosedCover longName(QStringLiteral("Augusta Ada King Countess of Lovelace and Baroness "
                                               "Wentworth of Nesting"),
                                false, nullptr, newYearsEve);
        const MacClosedCoverLayout &layout = longName.coverLayout();
        QVERIFY(layout.titleLines.size() <= 2);
        QVERIFY(layout.titleFont.pointSizeF() < 56);
        QVERIFY(layout.titleFont.pointSizeF() >= 56 * 0.6);
        QVERIFY(layout.title.width() <= 762 - 96 + 0.5);
        MacClosedCover endless(
            QString(QStringLiteral("Wolfeschlegelsteinhausenbergerdorff ")).repeated(6), false,
            nullptr, newYearsEve);
        QCOMPARE(endless.coverLayout().titleLines.size(), 2);
        QCOMPARE(endless.coverLayout().titleFont.pointSizeF(), 56 * 0.6);
        QVERIFY(endless.coverLayout().titleLines.last().endsWith(QChar(0x2026)));
    }

    // A name with no place to break costs no more than the two lines it shows: each line used to
    // measure the whole rest of the word, which froze the window for a long name.
    void wordsWithoutBreaks_data() {
        QTest::addColumn<qsizetype>("length");
        QTest::newRow("forty thousand letters") << qsizetype(40'000);
        QTest::newRow("a quarter million letters") << qsizetype(250'000);
    }

    void wordsWithoutBreaks() {
        QFETCH(qsizetype, length);
        MacClosedCover cover(QString(length, QLatin1Char('W')), false, nullptr, newYearsEve);
        const MacClosedCoverLayout &layout = cover.coverLayout();
        QCOMPARE(layout.titleLines.size(), 2);
        QCOMPARE(layout.titleFont.pointSizeF(), 56 * 0.6);
        QVERIFY(layout.titleLines.first().startsWith(QStringLiteral("WWW")));
        QVERIFY(layout.titleLines.last().endsWith(QChar(0x2026)));
        QVERIFY(layout.title.width() <= 762 - 96 + 0.5);
    }

    // Without the privacy note the fixed 46-point space stays at the bottom, under the button.
    void privacyNote() {
        MacClosedCover with(QString(), true, nullptr, newYearsEve);
        MacClosedCover without(QString(), false, nullptr, newYearsEve);
        QVERIFY(!with.coverLayout().privacyNote.isEmpty());
        QVERIFY(without.coverLayout().privacyNote.isEmpty());
        QVERIFY(accessibleTexts(&with).contains(
            QStringLiteral("Your pages stay on this computer and in your own sync folder.")));
        QCOMPARE(without.coverLayout().openButton.bottom(), 1024.0 - 46 - 16);
        QCOMPARE(with.coverLayout().privacyNote.bottom(), 1024.0 - 46 - 16);
        QVERIFY(with.coverLayout().openButton.bottom() < without.coverLayout().openButton.bottom());
    }

    // The button, Return and a double click on the leather open the book; a single click on the
    // leather does not.
    void opening() {
        MacClosedCover cover(QStringLiteral("Ada"), false, nullptr, newYearsEve);
        cover.resize(480, 600);
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        QSignalSpy opened(&cover, &MacClosedCover::openRequested);
        QAbstractButton *button = cover.findChild<QAbstractButton *>(QStringLiteral("Open Diary"));
        QVERIFY(button);
        QCOMPARE(button, cover.openButton());
        QCOMPARE(button->toolTip(), QStringLiteral("Open the diary (Return)"));
        QCOMPARE(button->accessibleName(), QStringLiteral("Open Diary"));
        // Scaled with the cover, which fits the widget by its height.
        QCOMPARE(cover.scale(), 600.0 / 1024);
        const double expected = cover.coverLayout().openButton.width() * cover.scale();
        QVERIFY2(qAbs(button->width() - expected) <= 2,
                 qPrintable(QStringLiteral("%1 vs %2").arg(button->width()).arg(expected)));

        QTest::mouseClick(&cover, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(opened.size(), 0);
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        QCOMPARE(opened.size(), 1);
        QTest::keyClick(&cover, Qt::Key_Return);
        QCOMPARE(opened.size(), 2);
        QTest::mouseDClick(&cover, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(opened.size(), 3);
    }

    // The board's leather is the largest texture; the cover hidden under the open book must not
    // hold it, and must find it again when it closes.
    void hiddenCoverLetsItsLeatherGo() {
        QWidget window;
        auto *cover = new MacClosedCover(QString(), false, &window, newYearsEve);
        cover->resize(MacClosedCover::designSize.toSize());
        window.resize(cover->size());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize board = cover->coverLayout().board.size().toSize();
        const auto holdsBoard = [&] {
            return textureCacheKeys()
                .filter(QStringLiteral("leather-%1x%2").arg(board.width()).arg(board.height()))
                .size();
        };
        cover->repaint();
        QCOMPARE(holdsBoard(), 1);

        window.hide();
        QCOMPARE(holdsBoard(), 1);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        cover->hide();
        QCOMPARE(holdsBoard(), 0);
        const QImage closing = cover->grab().toImage();
        QCOMPARE(holdsBoard(), 1);
        cover->show();
        QCOMPARE(cover->grab().toImage(), closing);
    }

    // What is drawn ahead for a cover of a size is what that cover paints with.
    void texturesPreparedAheadAreTheOnesPainted_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<double>("deviceRatio");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("reduced") << QSize(609, 781) << 1.0 << "@1x";
        QTest::newRow("a little magnified") << QSize(914, 1181) << 1.0 << "@1.25x";
        QTest::newRow("dense screen") << QSize(609, 781) << 2.0 << "@1.75x";
    }

    void texturesPreparedAheadAreTheOnesPainted() {
        QFETCH(QSize, size);
        QFETCH(double, deviceRatio);
        QFETCH(QString, suffix);
        clearTextureCache();
        MacClosedCover::prepareTextures(size, deviceRatio);
        QThreadPool::globalInstance()->waitForDone();
        QStringList prepared = textureCacheKeys();
        prepared.sort();
        QCOMPARE(prepared.size(), 2);
        QVERIFY2(prepared.filter(suffix).size() == 2,
                 qPrintable(prepared.join(QStringLiteral(", "))));

        MacClosedCover cover(QStringLiteral("Ada"), true, nullptr, newYearsEve);
        cover.resize(size);
        QImage target(size * deviceRatio, QImage::Format_ARGB32_Premultiplied);
        target.setDevicePixelRatio(deviceRatio);
        cover.render(&target);
        QStringList painted = textureCacheKeys();
        painted.sort();
        QCOMPARE(painted, prepared);
    }

    void hover() {
        MacClosedCover cover(QString(), false, nullptr, newYearsEve);
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        QVERIFY(!cover.isHoveringOpen());
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(cover.openButton(), &enter);
        QVERIFY(cover.isHoveringOpen());
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(cover.openButton(), &leave);
        QVERIFY(!cover.isHoveringOpen());
    }
};

VELMORA_GUI_TEST_MAIN(MacClosedCoverTest)
#include "tst_macclosedcover.moc"

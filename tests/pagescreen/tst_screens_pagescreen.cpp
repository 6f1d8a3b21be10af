#include "PageScreenFixture.h"

#include "book/DiaryRibbonBookmark.h"
#include "book/DiarySavedNote.h"
#include "book/MacReadingLeaf.h"
#include "book/MacRuledTextView.h"
#include "book/PaperSealRitualView.h"
#include "pagescreen/MacPageNotice.h"
#include "pagescreen/MacPageTools.h"
#include "pagescreen/MacPageTurnView.h"
#include "pagescreen/PageOverlayMotion.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

#include <QMessageBox>
#include <QPainter>
#include <QPushButton>

using namespace velmora;
using namespace velmora::test;

namespace {

QStringList buttonTexts(const QMessageBox *box) {
    QStringList texts;
    for (const QAbstractButton *button : box->buttons())
        texts.append(button->text());
    texts.sort();
    return texts;
}

// The fixture's short timings, but overlays that stay until they are photographed: on a busy
// machine a note shown for a few milliseconds can be gone before the test looks.
VuzIvoduPageTimings screenTimings() {
    VuzIvoduPageTimings timings = PageScreenFixture::timings;
    timings.savedNote = timings.savedNoteReducedMotion = std::chrono::seconds(60);
    timings.sealAcknowledgement = std::chrono::seconds(60);
    return timings;
}

// The open book in a window of its own over the fixture's real store.
struct Screen {
    ScopedLocale locale{QStringLiteral("en_US")};
    PageScreenFixture f;
    VuzIvoduPageWidget widget{*f.session, *f.pages, f.router, *f.settings, screenTimings()};

    bool open(const std::optional<DayKey> &day = std::nullopt) {
        widget.show();
        const auto shown = [&](const DayKey &key) {
            return f.session->phase().kind != DiarySessionPhase::Kind::loading &&
                   f.session->selectedDay() == key && f.pages->selectedDescriptor() &&
                   f.pages->selectedDescriptor()->dayKey == key &&
                   f.pages->transition().phase == PageTransitionPhase::idle;
        };
        // A new leaf fades in over the one it replaces; photograph the page once it has settled.
        const auto settled = [&] { return !widget.leafFade()->isVisible(); };
        if (!waitUntil([&] { return shown(PageScreenFixture::today); }) || !waitUntil(settled))
            return false;
        if (!day)
            return true;
        widget.controller().navigate(*day);
        return waitUntil([&] { return shown(*day); }) && waitUntil(settled);
    }

    void shoot(QWidget *target, const QString &name) { shootWidget(target, name); }

    static void shootWidget(QWidget *target, const QString &name) {
        QCoreApplication::processEvents();
        QVERIFY(saveScreenshot(grabWidget(target), name));
    }
};

} // namespace

class PageScreensTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyPageWithPrompt() {
        Screen screen;
        QVERIFY(screen.open());
        QVERIFY(screen.widget.writableLeaf()->isVisible());
        QVERIFY(screen.widget.editor()->isVisible());
        QVERIFY(screen.widget.editor()->text().isEmpty());
        QCOMPARE(screen.widget.writableLeaf()->content().date, QDate(2024, 3, 15));
        screen.shoot(&screen.widget, QStringLiteral("pagescreen-empty-prompt"));
    }

    // The greeting takes the name as kept, however long a name the settings file holds.
    void promptGreetsWithTheNameAsKept() {
        Screen screen;
        const QString endless(1000, QLatin1Char('N'));
        screen.f.defaults->setString(UserDefaultsSettingsStore::userNameSetting.key, endless);
        QVERIFY(screen.open());
        const QString prompt = screen.widget.editor()->placeholder();
        QVERIFY2(prompt.startsWith(QStringLiteral("Good morning, ") + endless.left(100) +
                                   QStringLiteral(". ")),
                 qPrintable(prompt.left(200)));
    }

    void writtenPage() {
        Screen screen;
        QVERIFY(screen.open());
        const QString text = QStringLiteral(
            "The market smelled of oranges and rain. I bought bread, walked the long way home "
            "by the river, and wrote this before the light went.");
        screen.widget.controller().setEntryTextFromEditor(text);
        QCOMPARE(screen.widget.editor()->text(), text);
        QVERIFY(waitUntil([&] {
            return screen.widget.writableLeaf()->content().footerNote ==
                   QStringLiteral("Draft saved");
        }));
        screen.shoot(&screen.widget, QStringLiteral("pagescreen-written"));

        // While a restore holds the page, the footer says so and the words stay as they were.
        QVERIFY(test::waitFor(screen.f.session->beginReplacement(DiaryReplacementKind::restore)));
        QCOMPARE(screen.widget.writableLeaf()->content().footerNote, QStringLiteral("Restoring…"));
        QVERIFY(!screen.widget.editor()->isEditable());
        screen.shoot(&screen.widget, QStringLiteral("pagescreen-restoring"));
        test::waitFor(screen.f.session->endReplacement());

        screen.f.router.send(DiaryCommand::save);
        QVERIFY(waitUntil([&] { return screen.widget.savedNote()->isVisible(); }));
        screen.shoot(&screen.widget, QStringLiteral("pagescreen-saved-note"));

        screen.f.router.send(DiaryCommand::seal);
        QVERIFY(screen.widget.sealCard()->isVisible());
        QVERIFY(waitUntil([&] {
            return !screen.widget.sealCardMotion()->isMoving() &&
                   !screen.widget.savedNoteMotion()->isMoving();
        }));
        // The card is drawn whole, with nothing over it: where its paper lies, the page's
        // picture is the card's own.
        QCoreApplication::processEvents();
        PaperSealRitualView *card = screen.widget.sealCard();
        const QImage page = grabWidget(&screen.widget);
        const QImage alone = grabWidget(card);
        const QPoint origin = card->mapTo(&screen.widget, QPoint(0, 0)) * 2;
        const QRect paper = QRectF(card->cardRect().topLeft() * 2, card->cardRect().size() * 2)
                                .toAlignedRect()
                                .adjusted(10, 10, -10, -10);
        int covered = 0;
        for (int y = paper.top(); y <= paper.bottom(); ++y)
            for (int x = paper.left(); x <= paper.right(); ++x)
                covered += page.pixel(origin + QPoint(x, y)) != alone.pixel(x, y);
        QCOMPARE(covered, 0);
        screen.shoot(&screen.widget, QStringLiteral("pagescreen-seal-confirmation"));
    }

    void sealedPage() {
        Screen screen;
        QString text;
        for (int paragraph = 0; paragraph < 24; ++paragraph)
            text += QStringLiteral("A sealed evening, its words kept as they were written. ")
                        .repeated(3) +
                    QLatin1Char('\n');
        screen.f.seed("2024-03-15", text, true);
        QVERIFY(screen.open());
        QVERIFY(screen.widget.readingLeaf()->isVisible());
        QVERIFY(!screen.widget.writableLeaf()->isVisible());
        QVERIFY(screen.widget.readingLeaf()->content().isSealed);
        QCOMPARE(screen.widget.readingLeaf()->content().pageCount->number, 1);
        QVERIFY(screen.widget.readingLeaf()->content().pageCount->total >= 2);
        QCOMPARE(screen.widget.readingLeaf()->textView()->objectName(),
                 QStringLiteral("diary-sealed-leaf"));
        screen.shoot(&screen.widget, QStringLiteral("pagescreen-sealed"));
    }

    void sealedLeafTwoOfThreeAndAMidTurnFrame() {
        Screen screen;
        QString text;
        for (int paragraph = 0; paragraph < 40; ++paragraph)
            text += QStringLiteral("The tide went out and left the harbour quiet and grey. ")
                        .repeated(3) +
                    QLatin1Char('\n');
        screen.f.seed("2024-03-10", text, true);
        QVERIFY(screen.open(day("2024-03-10")));
        QVERIFY(screen.f.pages->descriptors().size() >= 3);
        // Coming back from a later day opens a day on its last leaf; one leaf back is a physical
        // turn within the day.
        const qint64 last = screen.f.pages->descriptors().size() - 1;
        QCOMPARE(screen.f.pages->selectedLeafIndex(), last);
        screen.widget.controller().turnToPreviousPage();
        QVERIFY(waitUntil([&] { return screen.widget.turnView()->isVisible(); }));
        QCOMPARE(screen.f.pages->transition().mode, PageTransitionMode::physical);
        QVERIFY(waitUntil([&] {
            return screen.f.pages->selectedLeafIndex() == last - 1 &&
                   screen.f.pages->transition() == PageTransitionState::idle();
        }));
        QVERIFY(!screen.widget.turnView()->isVisible());
        QCOMPARE(screen.widget.readingLeaf()->content().pageCount->number, int(last));
        QVERIFY(waitUntil([&] { return screen.widget.tools()->ribbon()->isVisible(); }));
        QCOMPARE(screen.widget.motionMarker()->objectName(),
                 QStringLiteral("diary-motion-physical"));
        screen.shoot(&screen.widget, QStringLiteral("pagescreen-sealed-page-2"));

        // A frame from the middle of a turn, drawn from the two leaves' cached pictures.
        const auto &leaves = screen.f.pages->descriptors();
        PageTurnFrame frame{screen.widget.leafPicture(leaves.at(2)),
                            screen.widget.leafPicture(leaves.at(1)),
                            -60,
                            true,
                            0.24,
                            15,
                            -8};
        QImage image(QSize(768, 1024) * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(Qt::white);
        QPainter painter(&image);
        paintPageTurnFrame(painter, QRectF(0, 0, 768, 1024), frame);
        painter.end();
        QVERIFY(saveScreenshot(image, QStringLiteral("pagescreen-mid-turn")));
    }

    void keysTurnPagesButLeaveWordMovementToTheEditor() {
        Screen screen;
        QVERIFY(screen.open());
        screen.widget.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&screen.widget));
        MacRuledTextView *editor = screen.widget.editor();
        QVERIFY(waitUntil([&] { return editor->hasFocus(); }));
        QTest::keyClicks(editor, QStringLiteral("one two three"));
        QTest::keyClick(editor, Qt::Key_Left, Qt::ControlModifier);
        QCOMPARE(editor->textCursor().position(), 8);
        QTest::qWait(30);
        QCOMPARE(screen.f.session->selectedDay(), PageScreenFixture::today);
        QTest::keyClick(editor, Qt::Key_PageUp, Qt::ControlModifier);
        QVERIFY(waitUntil([&] { return screen.f.session->selectedDay() == day("2024-03-14"); }));
    }

    void toolbarAndArrows() {
        Screen screen;
        QVERIFY(screen.open());
        MacPageTools *tools = screen.widget.tools();
        for (const char *identifier : {"diary-toolbar-search", "diary-toolbar-calendar",
                                       "diary-toolbar-settings", "diary-toolbar-close"})
            QVERIFY(tools->button(QString::fromLatin1(identifier)));
        QCOMPARE(tools->button(QStringLiteral("diary-toolbar-close"))->toolTip(),
                 QStringLiteral("Close Diary"));
        QVERIFY(!tools->ribbon()->isVisible());
        QTest::mouseClick(screen.widget.arrows()->next(), Qt::LeftButton);
        QVERIFY(waitUntil([&] { return screen.f.session->selectedDay() == day("2024-03-16"); }));
        QVERIFY(waitUntil([&] { return tools->ribbon()->isVisible(); }));
        screen.shoot(&screen.widget, QStringLiteral("pagescreen-toolbar-ribbon"));
        QTest::mouseClick(tools->ribbon(), Qt::LeftButton);
        QVERIFY(
            waitUntil([&] { return screen.f.session->selectedDay() == PageScreenFixture::today; }));
    }

    void notices_data() {
        QTest::addColumn<QString>("dayText");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("hasAction");
        QTest::addColumn<QString>("name");
        QTest::newRow("earlier") << "2024-03-01"
                                 << "Write for this date?" << true << "pagescreen-notice-earlier";
        QTest::newRow("future") << "2024-03-20"
                                << "This page is waiting for its day." << false
                                << "pagescreen-notice-future";
    }

    void notices() {
        QFETCH(QString, dayText);
        QFETCH(QString, title);
        QFETCH(bool, hasAction);
        QFETCH(QString, name);
        Screen screen;
        QVERIFY(screen.open(*DayKey::fromRawValue(dayText)));
        MacPageNotice *notice = screen.widget.notice();
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->title(), title);
        QCOMPARE(notice->actionButton()->isVisible(), hasAction);
        screen.shoot(&screen.widget, name);
        if (!hasAction)
            return;
        QTest::mouseClick(notice->actionButton(), Qt::LeftButton);
        QVERIFY(screen.widget.editor()->isVisible());
    }

    void writingNotSavedAlert() {
        Screen screen;
        QVERIFY(screen.open());
        screen.f.repository->failSaves = true;
        screen.widget.controller().setEntryTextFromEditor(QStringLiteral("Words worth keeping"));
        QVERIFY(waitUntil([&] {
            return screen.widget.persistenceAlert() &&
                   screen.widget.persistenceAlert()->isVisible();
        }));
        QMessageBox *alert = screen.widget.persistenceAlert();
        QCOMPARE(alert->text(), QStringLiteral("Writing Not Saved"));
        QCOMPARE(alert->informativeText(),
                 QStringLiteral("The diary could not be saved: The disk is full."));
        QCOMPARE(buttonTexts(alert),
                 QStringList({QStringLiteral("Keep Writing"), QStringLiteral("Retry"),
                              QStringLiteral("Save a Copy…")}));
        QVERIFY(waitUntil([&] {
            return screen.widget.writableLeaf()->content().footerNote ==
                   QStringLiteral("Not saved");
        }));
        screen.shoot(&screen.widget, QStringLiteral("pagescreen-not-saved"));
        screen.shoot(alert, QStringLiteral("pagescreen-alert-writing-not-saved"));

        // Save a Copy… writes the editor's text where the panel says.
        const QString copyPath = screen.f.store.dir.filePath(QStringLiteral("copy.txt"));
        QString proposed;
        screen.widget.setCopyPathChooser([&](const QString &name) {
            proposed = name;
            return copyPath;
        });
        for (QAbstractButton *button : alert->buttons()) {
            if (button->text() == QStringLiteral("Save a Copy…"))
                button->click();
        }
        QCOMPARE(proposed, QStringLiteral("Velmora - 2024-03-15.txt"));
        QVERIFY(waitUntil([&] { return QFile::exists(copyPath); }));

        screen.f.repository->failSaves = false;
        QVERIFY(
            waitUntil([&] { return !screen.widget.controller().isPersistenceErrorPresented(); }));
        screen.widget.controller().retry();
        QVERIFY(screen.f.settled());
    }

    void leafFooterKeepsTheAuthorWhole() {
        ScopedLocale locale(QStringLiteral("en_US"));
        const VuzIvoduLeafContent::Quote quote{QStringLiteral("Be kind"),
                                               QStringLiteral("Mary Ann Evans")};
        QCOMPARE(leafQuoteLine(quote),
                 QStringLiteral("\u201cBe kind\u201d\u00a0\u00a0\u2014\u00a0Mary"
                                "\u00a0Ann\u00a0Evans"));
        VuzIvoduLeaf leaf;
        VuzIvoduLeafContent content;
        content.date = QDate(2024, 3, 15);
        content.footerNote = QStringLiteral("Saving…");
        content.pageCount = VuzIvoduLeafContent::PageCount{2, 3};
        content.quote = VuzIvoduLeafContent::Quote{
            QStringLiteral("It is a long road that has no turning, and a longer one that has no "
                           "inn along it where a tired walker may sit, and think, and write down "
                           "what the day has shown"),
            QStringLiteral("Someone Long Remembered")};
        content.headerTrailingClearance = 180;
        leaf.setContent(content);
        Screen::shootWidget(&leaf, QStringLiteral("pagescreen-leaf-long-quote"));
    }

    void leaveThisPageAlert() {
        Screen screen;
        QVERIFY(screen.open());
        QSignalSpy closed(&screen.widget, &VuzIvoduPageWidget::closeRequested);
        screen.widget.controller().setEntryTextFromEditor(QStringLiteral("Half a thought"));
        screen.widget.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&screen.widget));
        QTest::keyClick(screen.widget.editor(), Qt::Key_Escape);
        QVERIFY(waitUntil(
            [&] { return screen.widget.leaveAlert() && screen.widget.leaveAlert()->isVisible(); }));
        QMessageBox *alert = screen.widget.leaveAlert();
        QCOMPARE(alert->text(), QStringLiteral("Leave this page?"));
        QCOMPARE(alert->informativeText(), QStringLiteral("Lock it, or come back and write."));
        QCOMPARE(buttonTexts(alert),
                 QStringList({QStringLiteral("I'll come back"), QStringLiteral("Keep Writing"),
                              QStringLiteral("Lock this page")}));
        screen.shoot(alert, QStringLiteral("pagescreen-alert-leave"));
        for (QAbstractButton *button : alert->buttons()) {
            if (button->text() == QStringLiteral("I'll come back"))
                button->click();
        }
        QVERIFY(waitUntil([&] { return closed.count() == 1; }));
        QCOMPARE(screen.f.stored(PageScreenFixture::today)->content,
                 QStringLiteral("Half a thought"));
    }
};

VELMORA_GUI_TEST_MAIN(PageScreensTest)
#include "tst_screens_pagescreen.moc"

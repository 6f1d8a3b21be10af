#include "PageScreenFixture.h"

#include "book/MacReadingLeaf.h"
#include "book/MacRuledTextView.h"
#include "book/PaperSealRitualView.h"
#include "pagescreen/MacPageNotice.h"
#include "pagescreen/MacPageTools.h"
#include "pagescreen/PageTypeAhead.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "pagescreen/VuzIvoduRecallCards.h"
#include "support/GuiTestMain.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace velmora;
using namespace velmora::test;

namespace {

// The open book in a window beside another field that can hold the keyboard, as the book window
// holds its menus and the book: the page's keys must answer wherever the keyboard is.
struct BookWindow {
    PageScreenFixture f;
    QWidget window;
    QLineEdit *elsewhere = nullptr;
    VuzIvoduPageWidget *book = nullptr;

    BookWindow() {
        f.page.reset();
        auto *layout = new QVBoxLayout(&window);
        elsewhere = new QLineEdit(&window);
        book = new VuzIvoduPageWidget(*f.session, *f.pages, f.router, *f.settings,
                                      PageScreenFixture::timings, &window);
        layout->addWidget(elsewhere);
        layout->addWidget(book);
        // The menu's Seal This Page… key.
        auto *seal = new QAction(&window);
        seal->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
        window.addAction(seal);
        QObject::connect(seal, &QAction::triggered, &f.router,
                         [this] { f.router.send(DiaryCommand::seal); });
    }

    VuzIvoduPageView &page() const { return book->controller(); }

    bool open() {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window) && waitUntil([&] {
                   return page().focusRequest() >= 1 && book->editor()->hasFocus() &&
                          !page().isSettling();
               });
    }

    bool settledOn(const char *dayText) {
        return waitUntil([&] {
            return f.session->selectedDay() == day(dayText) && !page().isSettling() &&
                   book->typeAhead()->heldKeys() == 0;
        });
    }

    // Keys as the window delivers them: to whatever holds the keyboard.
    static void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    }
    static void type(const QString &text) { QTest::keyClicks(QApplication::focusWidget(), text); }
};

} // namespace

class PageKeysTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Ctrl+PgUp / Ctrl+PgDn and Escape answer wherever the keyboard is in the window: on a
    // sealed page or a notice (where the editor is gone), or outside the book altogether.
    void turnKeysWorkAnywhereInTheWindow_data() {
        QTest::addColumn<QString>("holder");
        QTest::newRow("another field of the window") << "elsewhere";
        QTest::newRow("a sealed page") << "sealed";
        QTest::newRow("a blank earlier day") << "blank";
    }

    void turnKeysWorkAnywhereInTheWindow() {
        QFETCH(QString, holder);
        BookWindow b;
        b.f.seed("2024-03-14", QStringLiteral("Sealed yesterday"), true);
        QVERIFY(b.open());
        if (holder == QStringLiteral("elsewhere")) {
            b.elsewhere->setFocus();
            QVERIFY(waitUntil([&] { return b.elsewhere->hasFocus(); }));
            BookWindow::press(Qt::Key_PageUp, Qt::ControlModifier);
            QVERIFY(b.settledOn("2024-03-14"));
        } else {
            BookWindow::press(Qt::Key_PageUp, Qt::ControlModifier);
            QVERIFY(b.settledOn("2024-03-14"));
            QVERIFY(b.book->readingLeaf()->isVisible());
            if (holder == QStringLiteral("blank")) {
                BookWindow::press(Qt::Key_PageUp, Qt::ControlModifier);
                QVERIFY(b.settledOn("2024-03-13"));
                QVERIFY(b.book->notice()->isVisible());
            }
        }
        // Back to today from wherever the keyboard was left.
        const QDate today(2024, 3, 15);
        while (b.f.session->selectedDay() != PageScreenFixture::today) {
            const DayKey before = b.f.session->selectedDay();
            BookWindow::press(Qt::Key_PageDown, Qt::ControlModifier);
            QVERIFY(waitUntil(
                [&] { return b.f.session->selectedDay() != before && !b.page().isSettling(); }));
        }
        QCOMPARE(b.f.session->selectedDay(),
                 DayKey::fromCivilDate(today.year(), today.month(), today.day()));
        // Escape reaches the page too: with nothing written it closes the book.
        QSignalSpy closing(&b.page(), &VuzIvoduPageView::closeDiaryRequested);
        b.elsewhere->setFocus();
        BookWindow::press(Qt::Key_Escape);
        QVERIFY(waitUntil([&] { return closing.count() == 1; }));
    }

    // A card is modal to the page: keys typed under it, Tab among them, neither write nor turn
    // the page; Escape closes it and the editor has the keyboard again.
    void keysUnderACard_data() {
        QTest::addColumn<QString>("card");
        QTest::newRow("the seal card") << QStringLiteral("seal");
        QTest::newRow("the calendar card") << QStringLiteral("diary-toolbar-calendar");
        QTest::newRow("the search card") << QStringLiteral("diary-toolbar-search");
    }

    void keysUnderACard() {
        QFETCH(QString, card);
        BookWindow b;
        QVERIFY(b.open());
        BookWindow::type(QStringLiteral("Almost done"));
        if (card == u"seal")
            BookWindow::press(Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
        else
            QTest::mouseClick(b.book->tools()->button(card), Qt::LeftButton);
        const auto cardWidget = [&]() -> QWidget * {
            if (card == u"seal")
                return b.book->sealCard();
            if (card == u"diary-toolbar-search")
                return b.book->recallCards()->searchCard();
            return b.book->recallCards()->calendarCard();
        };
        const auto inCard = [&] {
            QWidget *shown = cardWidget();
            const QWidget *focused = QApplication::focusWidget();
            return shown && focused && (focused == shown || shown->isAncestorOf(focused));
        };
        QVERIFY(b.page().isPageCovered());
        QVERIFY(waitUntil(inCard));
        BookWindow::press(Qt::Key_Return);
        BookWindow::press(Qt::Key_Tab);
        BookWindow::press(Qt::Key_Tab);
        BookWindow::type(QStringLiteral("t2"));
        for (int i = 0; i < 3; ++i)
            BookWindow::press(Qt::Key_Tab);
        BookWindow::press(Qt::Key_Left);
        BookWindow::type(QStringLiteral("ZZ"));
        BookWindow::press(Qt::Key_Backtab, Qt::ShiftModifier);
        BookWindow::press(Qt::Key_PageUp, Qt::ControlModifier);
        BookWindow::press(Qt::Key_PageDown, Qt::ControlModifier);
        QTest::qWait(50);
        QCOMPARE(b.page().entryText(), QStringLiteral("Almost done"));
        QVERIFY(inCard());
        QCOMPARE(b.f.session->selectedDay(), PageScreenFixture::today);
        QVERIFY(b.page().isPageCovered());
        QVERIFY(b.f.settled());
        QVERIFY(!b.f.stored(PageScreenFixture::today)->isSealed());

        BookWindow::press(Qt::Key_Escape);
        QVERIFY(!b.page().isPageCovered());
        QVERIFY(waitUntil([&] { return b.book->editor()->hasFocus(); }));
        BookWindow::type(QStringLiteral("."));
        QCOMPARE(b.page().entryText(), QStringLiteral("Almost done."));
    }

    // A page held while the diary is replaced turns the keyboard away, and asks nothing about
    // the page (Escape's leave prompt, the seal card); once the new diary is on the page the
    // editor takes it, even when the page asked for it while it was held (a card closed
    // meanwhile).
    void theKeyboardComesBackAfterTheDiaryIsReplaced() {
        BookWindow b;
        QVERIFY(b.open());
        BookWindow::type(QStringLiteral("Words"));
        QVERIFY(b.f.settled());
        b.page().toggleSearch();
        QVERIFY(waitUntil([&] {
            const QWidget *focused = QApplication::focusWidget();
            return focused && focused != b.book->editor() && b.book->isAncestorOf(focused);
        }));
        QVERIFY(test::waitFor(b.f.session->beginReplacement(DiaryReplacementKind::import)));
        const int asked = b.page().focusRequest();
        b.page().closeSearch();
        QCOMPARE(b.page().focusRequest(), asked + 1);
        BookWindow::press(Qt::Key_Escape);
        BookWindow::press(Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::qWait(50);
        QVERIFY(!b.page().isPageCovered());
        test::waitFor(b.f.session->endReplacement());
        QVERIFY(waitUntil([&] { return b.book->editor()->hasFocus(); }));
        BookWindow::type(QStringLiteral("x"));
        QCOMPARE(b.page().entryText(), QStringLiteral("Wordsx"));
    }

    // The page asks for the keyboard for its editor, and the page itself takes it before the
    // editor does, as the stage gives it to the book when the cover is open on a slow machine:
    // the editor still takes it.
    void theEditorTakesTheKeyboardFromThePageAroundIt() {
        BookWindow b;
        QVERIFY(b.open());
        b.page().toggleSearch();
        QVERIFY(waitUntil([&] {
            const QWidget *focused = QApplication::focusWidget();
            return focused && focused != b.book->editor() && b.book->isAncestorOf(focused);
        }));
        b.page().closeSearch();
        b.book->setFocus();
        QVERIFY(waitUntil([&] { return b.book->editor()->hasFocus(); }));
    }

    // The page itself holds the keyboard, as it does for a moment when it has just come on screen
    // and before its editor takes the keyboard: what is typed there is written on the page.
    void keysTypedAtThePageItself() {
        BookWindow b;
        QVERIFY(b.open());
        b.book->setFocus();
        QVERIFY(waitUntil([&] { return b.book->hasFocus(); }));
        BookWindow::type(QStringLiteral("ab"));
        QVERIFY(waitUntil([&] { return b.book->typeAhead()->heldKeys() == 0; }));
        QCOMPARE(b.page().entryText(), QStringLiteral("ab"));
    }

    // Keys typed while the page turns are typed into the page it lands on once that page takes
    // writing, ahead of any typed as it comes to rest; a page that never will lets them go, and
    // nothing reaches the page that went.
    void keysTypedDuringATurn_data() {
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<QString>("landed");
        QTest::addColumn<QString>("typedAsItLands");
        QTest::addColumn<QString>("typed");
        // A page turned to is written on from its end.
        QTest::newRow("a written day") << false << QStringLiteral("Yesterday's page") << QString()
                                       << QStringLiteral("Yesterday's pagezz ");
        QTest::newRow("a written day, typing on as it lands")
            << false << QStringLiteral("Yesterday's page") << QStringLiteral("!")
            << QStringLiteral("Yesterday's pagezz !");
        QTest::newRow("a blank earlier day, once confirmed")
            << false << QString() << QString() << QStringLiteral("zz ");
        QTest::newRow("a sealed day") << true << QStringLiteral("Sealed") << QString() << QString();
    }

    void keysTypedDuringATurn() {
        QFETCH(bool, sealed);
        QFETCH(QString, landed);
        QFETCH(QString, typedAsItLands);
        QFETCH(QString, typed);
        BookWindow b;
        if (!landed.isEmpty())
            b.f.seed("2024-03-14", landed, sealed);
        QVERIFY(b.open());
        BookWindow::type(QStringLiteral("Today"));
        QVERIFY(b.f.settled());
        // The day before is read slowly: the turn is still on its way while the keys come.
        b.f.repository->heldReads = day("2024-03-14");
        BookWindow::press(Qt::Key_PageUp, Qt::ControlModifier);
        QVERIFY(b.page().isSettling());
        BookWindow::type(QStringLiteral("zz "));
        QCOMPARE(b.book->typeAhead()->heldKeys(), 3);
        // The very moment the page comes to rest, before the held keys are typed.
        QMetaObject::Connection landing;
        if (!typedAsItLands.isEmpty())
            landing =
                connect(&b.page(), &VuzIvoduPageView::settlingChanged, this, [&](bool settling) {
                    if (settling)
                        return;
                    disconnect(landing);
                    BookWindow::type(typedAsItLands);
                });
        b.f.repository->heldReads.reset();
        QVERIFY(waitUntil([&] {
            return b.f.session->selectedDay() == day("2024-03-14") && !b.page().isSettling();
        }));
        if (landed.isEmpty()) {
            // Held until the blank day is confirmed for writing, which a key does not do.
            QTest::qWait(50);
            BookWindow::press(Qt::Key_Space);
            BookWindow::press(Qt::Key_Return);
            QTest::qWait(50);
            QCOMPARE(b.book->typeAhead()->heldKeys(), 3);
            QCOMPARE(b.f.session->authoringAccess(),
                     DiaryAuthoringAccess::requiresPastDateConfirmation);
            QTest::mouseClick(b.book->notice()->actionButton(), Qt::LeftButton);
        }
        QVERIFY(waitUntil([&] { return b.book->typeAhead()->heldKeys() == 0; }));
        QVERIFY(b.f.settled());
        QCOMPARE(b.f.stored(PageScreenFixture::today)->content, QStringLiteral("Today"));
        if (sealed) {
            QCOMPARE(b.f.stored(day("2024-03-14"))->content, landed);
            QVERIFY(!b.book->editor()->isVisible());
        } else {
            QCOMPARE(b.page().entryText(), typed);
            QVERIFY(waitUntil([&] { return b.f.stored(day("2024-03-14")).has_value(); }));
            QVERIFY(b.f.settled());
            QCOMPARE(b.f.stored(day("2024-03-14"))->content, typed);
        }
    }
};

VELMORA_GUI_TEST_MAIN(PageKeysTest)
#include "tst_pagekeys.moc"

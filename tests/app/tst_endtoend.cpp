#include "app/VelmoraProgram.h"

#include "book/DiarySavedNote.h"
#include "book/MacReadingLeaf.h"
#include "book/MacRuledTextView.h"
#include "book/PaperSealRitualView.h"
#include "ink/MacInkLibrary.h"
#include "pagescreen/PageOverlayMotion.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "support/InkDrawings.h"
#include "support/PrivateXServer.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>

using namespace velmora;
using namespace velmora::test;

namespace {

// The whole program in this process, over one test-mode store that outlives it.
struct Run {
    std::unique_ptr<VelmoraProgram> program;
    int terminations = 0;

    explicit Run(const QTemporaryDir &folder) {
        DiaryProcessEnvironment environment;
        environment.arguments = {QStringLiteral("velmora"),
                                 QStringLiteral("--velmora-test-mode"),
                                 QStringLiteral("--velmora-store-url"),
                                 folder.filePath(QStringLiteral("diary/store.sqlite")),
                                 QStringLiteral("--velmora-defaults-suite"),
                                 QStringLiteral("EndToEnd")};
        environment.applicationSupportDirectory = folder.filePath(QStringLiteral("support"));
        environment.temporaryDirectory = folder.path();
        program =
            std::make_unique<VelmoraProgram>(VelmoraProgram::Options{environment, false, false});
    }

    // `beforeOpening` runs while the closed cover is shown.
    bool start(const std::function<void()> &beforeOpening = {}) {
        if (program->start())
            return false;
        program->delegate().setTerminate([this] { ++terminations; });
        if (!QTest::qWaitForWindowExposed(&program->window()))
            return false;
        if (beforeOpening)
            beforeOpening();
        // The program opens on the closed cover; the diary is behind it.
        program->rootView().openDiary();
        return waitUntil([this] { return book() && book()->isVisible(); });
    }

    VuzIvoduPageWidget *book() const {
        return qobject_cast<VuzIvoduPageWidget *>(program->rootView().bookView());
    }

    bool pageLoaded() const {
        const DiarySessionStore &session = program->graph().diarySession();
        const auto leaf = program->graph().pageSystem().selectedDescriptor();
        return session.phase().kind != DiarySessionPhase::Kind::loading && leaf &&
               leaf->dayKey == session.selectedDay();
    }

    std::optional<DiaryEntryDTO> stored() const {
        const DiarySessionStore &session = program->graph().diarySession();
        return test::waitFor(program->graph().repository()->entry(session.selectedDay()));
    }
};

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writeSaveSealQuitAndReopen() {
        QTemporaryDir folder;
        const QString words = QStringLiteral("A quiet evening by the window");
        {
            Run run(folder);
            QVERIFY(run.start());
            VuzIvoduPageWidget *book = run.book();
            QVERIFY(book);
            QVERIFY(waitUntil([&] { return run.pageLoaded(); }));
            run.program->window().activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&run.program->window()));
            MacRuledTextView *editor = book->editor();
            QVERIFY(waitUntil([&] { return editor->hasFocus(); }));

            QTest::keyClicks(editor, words);
            QCOMPARE(book->controller().entryText(), words);
            QVERIFY(waitUntil([&] {
                return book->writableLeaf()->content().footerNote == QStringLiteral("Draft saved");
            }));
            QCOMPARE(run.stored()->content, words);

            QTest::keyClick(editor, Qt::Key_S, Qt::ControlModifier);
            // On the page, coming in or at rest: a busy machine may end its stay before its motion.
            QVERIFY(waitUntil([&] {
                return book->savedNote()->isVisible() || book->savedNoteMotion()->isVisible();
            }));

            QTest::keyClick(editor, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
            QVERIFY(waitUntil([&] { return book->sealCard()->isVisible(); }));
            auto *confirm = book->sealCard()->findChild<QAbstractButton *>(
                QStringLiteral("diary-seal-confirm"));
            QVERIFY(confirm);
            QTest::mouseClick(confirm, Qt::LeftButton);
            QVERIFY(waitUntil([&] { return book->readingLeaf()->isVisible(); }));
            QVERIFY(run.stored()->isSealed());

            run.program->menus().action(QStringLiteral("Quit"))->trigger();
            QVERIFY(waitUntil([&] { return run.terminations == 1; }));
        }
        // Work the store finished for the program that is gone hands its results back here.
        QTest::qWait(100);
        {
            Run run(folder);
            QVERIFY(run.start());
            VuzIvoduPageWidget *book = run.book();
            QVERIFY(book);
            QVERIFY(waitUntil([&] { return run.pageLoaded(); }));
            QVERIFY(waitUntil([&] { return book->readingLeaf()->isVisible(); }));
            QVERIFY(book->readingLeaf()->content().isSealed);
            QCOMPARE(book->readingLeaf()->textView()->text(), words);
            QVERIFY(!book->editor()->isVisible());
            run.program->menus().action(QStringLiteral("Quit"))->trigger();
            QVERIFY(waitUntil([&] { return run.terminations == 1; }));
        }
        QTest::qWait(100);
    }

    void handwritingShowsBehindTheEditor() {
        QTemporaryDir folder;
        Run run(folder);
        const InkDrawing drawing({inkLine({{40, 80}, {400, 90}}, 3)});
        QVERIFY(run.start([&] {
            const DiaryDependencyGraph &graph = run.program->graph();
            const DayKey today =
                DayKey::fromDate(graph.clock()->now(), graph.diarySession().calendar());
            graph.handwriting()->write(drawing.encode(), today, 0);
        }));
        VuzIvoduPageWidget *book = run.book();
        QVERIFY(waitUntil([&] { return run.pageLoaded(); }));
        QVERIFY(waitUntil([&] { return !book->editor()->ink().isNull(); }));
        QCOMPARE(book->editor()->ink(),
                 *MacInkLibrary::render(drawing.encode(), book->editor()->lineHeight(), 696));
        run.program->menus().action(QStringLiteral("Quit"))->trigger();
        QVERIFY(waitUntil([&] { return run.terminations == 1; }));
        QTest::qWait(100);
    }
};

int main(int argc, char **argv) {
    // A private X server for this test alone.
    PrivateXServer server;
    const QString display = server.display();
    if (display.isEmpty()) {
        std::fprintf(stderr, "The end-to-end test could not start its X server (Xvfb).\n");
        return 1;
    }
    qputenv("DISPLAY", display.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    prepareTestEnvironment();
    QApplication app(argc, argv);
    EndToEndTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_endtoend.moc"

#include "app/DiaryTransferPanels.h"
#include "app/MessageBoxAlertPresenter.h"
#include "app/VelmoraMenuCommands.h"
#include "app/VuzIvoduRootView.h"
#include "book/FileDialogs.h"

#include "support/GuiTestMain.h"

#include "support/TestSupport.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace velmora;
using velmora::test::waitUntil;

namespace {

struct MenuFixture {
    DiaryCommandRouter router;
    QStringList calls;
    VelmoraMenuCommands commands{router,
                                 {
                                     [this] { calls << QStringLiteral("showDiary"); },
                                     [this] { calls << QStringLiteral("export"); },
                                     [this] { calls << QStringLiteral("import"); },
                                     [this] { calls << QStringLiteral("preferences"); },
                                     [this] { calls << QStringLiteral("fullScreen"); },
                                     [this] { calls << QStringLiteral("quit"); },
                                 }};
    QMenuBar bar;

    MenuFixture() {
        QObject::connect(&router, &DiaryCommandRouter::lastEventChanged, &router,
                         [this](const DiaryCommandRouter::Event &event) {
                             calls << QStringLiteral("send:") + rawValue(event.command);
                         });
        commands.populate(bar);
    }
};

} // namespace

class CommandTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void menuItems_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QStringList>("calls");
        auto row = [](const char *item, QKeySequence keys, QStringList calls) {
            QTest::newRow(item) << QString::fromUtf8(item) << keys << calls;
        };
        // The window comes back before the new page is asked for.
        row("New Entry", QKeySequence(QStringLiteral("Ctrl+N")),
            {QStringLiteral("showDiary"), QStringLiteral("send:newEntry")});
        row("Save", QKeySequence(QStringLiteral("Ctrl+S")), {QStringLiteral("send:save")});
        row("Seal This Page…", QKeySequence(QStringLiteral("Ctrl+Shift+L")),
            {QStringLiteral("send:seal")});
        row("Export…", QKeySequence(), {QStringLiteral("export")});
        row("Import…", QKeySequence(), {QStringLiteral("import")});
        row("Quit", QKeySequence(QStringLiteral("Ctrl+Q")), {QStringLiteral("quit")});
        row("Find…", QKeySequence(QStringLiteral("Ctrl+F")), {QStringLiteral("send:find")});
        row("Preferences…", QKeySequence(QStringLiteral("Ctrl+,")),
            {QStringLiteral("preferences")});
        row("Go to Today", QKeySequence(QStringLiteral("Ctrl+T")),
            {QStringLiteral("send:goToToday")});
        row("Enter Full Screen", QKeySequence(QStringLiteral("F11")),
            {QStringLiteral("fullScreen")});
        row("Show Diary", QKeySequence(QStringLiteral("Ctrl+0")), {QStringLiteral("showDiary")});
        row("Keyboard Shortcuts", QKeySequence(), {QStringLiteral("send:showShortcuts")});
    }

    void menuItems() {
        QFETCH(QString, item);
        QFETCH(QKeySequence, keys);
        QFETCH(QStringList, calls);
        MenuFixture f;
        QAction *action = f.commands.action(item);
        QVERIFY(action);
        QCOMPARE(action->text(), item);
        QCOMPARE(action->shortcut(), keys);
        action->trigger();
        QCOMPARE(f.calls, calls);
    }

    void menuLayout() {
        MenuFixture f;
        QStringList menus;
        for (QAction *menu : f.bar.actions())
            menus << menu->text();
        QCOMPARE(menus, (QStringList{QStringLiteral("&File"), QStringLiteral("&Edit"),
                                     QStringLiteral("&View"), QStringLiteral("&Window"),
                                     QStringLiteral("&Help")}));
        QStringList file;
        for (QAction *action : f.bar.actions().first()->menu()->actions())
            file << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(file, (QStringList{QStringLiteral("New Entry"), QStringLiteral("-"),
                                    QStringLiteral("Save"), QStringLiteral("Seal This Page…"),
                                    QStringLiteral("-"), QStringLiteral("Export…"),
                                    QStringLiteral("Import…"), QStringLiteral("-"),
                                    QStringLiteral("Quit")}));
    }

    void rootViewHandlesEachCommandOnce() {
        DiaryCommandRouter router;
        // Sent while no window exists (New Entry with the book closed).
        router.send(DiaryCommand::newEntry);
        VuzIvoduRootView::LaunchState launch;
        int shortcuts = 0;
        auto first = std::make_unique<VuzIvoduRootView>(launch, router);
        first->setShortcutPresenter([&](const QString &) { ++shortcuts; });
        QSignalSpy opens(first.get(), &VuzIvoduRootView::openDiaryRequested);
        QVERIFY(waitUntil([&] { return opens.size() == 1; }));
        router.send(DiaryCommand::showShortcuts);
        QCOMPARE(shortcuts, 1);
        router.send(DiaryCommand::save);
        QCoreApplication::processEvents();
        QCOMPARE(opens.size(), 1);
        QCOMPARE(shortcuts, 1);

        // A new view does not repeat the command its predecessor handled.
        first.reset();
        VuzIvoduRootView second(launch, router);
        int laterShortcuts = 0;
        second.setShortcutPresenter([&](const QString &) { ++laterShortcuts; });
        QSignalSpy laterOpens(&second, &VuzIvoduRootView::openDiaryRequested);
        QTest::qWait(50);
        QCOMPARE(laterShortcuts, 0);
        QCOMPARE(laterOpens.size(), 0);
        router.send(DiaryCommand::newEntry);
        QCOMPARE(laterOpens.size(), 1);
    }

    void loadFailurePrecedence_data() {
        QTest::addColumn<QString>("runtimeError");
        QTest::addColumn<QString>("persistenceError");
        QTest::addColumn<QString>("shown");
        QTest::newRow("none") << QString() << QString() << QString();
        QTest::newRow("store") << QString() << QStringLiteral("store broke")
                               << QStringLiteral("store broke");
        QTest::newRow("configuration wins")
            << QStringLiteral("bad launch") << QStringLiteral("store broke")
            << QStringLiteral("bad launch");
    }

    void loadFailurePrecedence() {
        QFETCH(QString, runtimeError);
        QFETCH(QString, persistenceError);
        QFETCH(QString, shown);
        DiaryCommandRouter router;
        VuzIvoduRootView::LaunchState launch;
        if (!runtimeError.isEmpty())
            launch.runtimeError = runtimeError;
        if (!persistenceError.isEmpty())
            launch.persistenceError = persistenceError;
        VuzIvoduRootView view(launch, router);
        QCOMPARE(view.loadFailureMessage().value_or(QString()), shown);
        QCOMPARE(view.showsBook(), shown.isEmpty());
        if (!shown.isEmpty()) {
            auto *label = view.findChild<QLabel *>(QStringLiteral("loadFailureMessage"));
            QVERIFY(label);
            QCOMPARE(label->text(), shown);
        }
    }

    void testModeMarker() {
        DiaryCommandRouter router;
        VuzIvoduRootView live({}, router);
        QVERIFY(!live.findChild<QWidget *>(VuzIvoduRootView::testModeIdentifier));
        VuzIvoduRootView::LaunchState launch;
        launch.isTestMode = true;
        VuzIvoduRootView test(launch, router);
        auto *marker = test.findChild<QWidget *>(VuzIvoduRootView::testModeIdentifier);
        QVERIFY(marker);
        QCOMPARE(marker->geometry(), QRect(0, 0, 1, 1));
    }

    void shortcutList() {
        const QStringList lines = VuzIvoduRootView::shortcutsText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 10);
        QCOMPARE(lines.at(3), QStringLiteral("Shift Ctrl L   Seal This Page"));
        QCOMPARE(lines.at(6), QStringLiteral("Ctrl PgUp  Ctrl PgDn   Turn the Page"));
        QVERIFY(!VuzIvoduRootView::shortcutsText().endsWith(QLatin1Char('\n')));
    }

    void exportPanel() {
        QCOMPARE(DiaryTransferPanels::proposedExportName(QDate(2026, 3, 7)),
                 QStringLiteral("Velmora_2026-03-07.json"));
        QFileDialog dialog;
        DiaryTransferPanels::configureExportDialog(dialog, QDate(2026, 3, 7), QDir::homePath());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Export Diary"));
        QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptSave);
        QCOMPARE(dialog.nameFilters(), QStringList{QStringLiteral("JSON (*.json)")});
        auto *message = dialog.findChild<QLabel *>(QStringLiteral("panelMessage"));
        QVERIFY(message);
        QCOMPARE(message->text(),
                 QStringLiteral("Choose where to save an unencrypted copy of your diary."));
        QVERIFY(
            dialog.selectedFiles().value(0).endsWith(QStringLiteral("/Velmora_2026-03-07.json")));
    }

    void panelsOpenAtHomeOrWhereTheyWereLeft_data() {
        QTest::addColumn<QString>("lastFolder");
        QTest::addColumn<bool>("opensThere");
        QTest::newRow("none yet") << QString() << false;
        QTest::newRow("a folder") << QStringLiteral("elsewhere") << true;
        QTest::newRow("a folder since removed") << QStringLiteral("gone") << false;
        QTest::newRow("the diary's folder") << QStringLiteral("diary") << false;
        QTest::newRow("inside the diary's folder") << QStringLiteral("diary/Backups") << false;
        QTest::newRow("beside the diary's folder") << QStringLiteral("diary-old") << true;
        QTest::newRow("relative") << QStringLiteral(".") << false;
    }

    void panelsOpenAtHomeOrWhereTheyWereLeft() {
        QFETCH(QString, lastFolder);
        QFETCH(bool, opensThere);
        QTemporaryDir root;
        for (const char *folder : {"elsewhere", "diary/Backups", "diary-old"})
            QVERIFY(QDir(root.path()).mkpath(QString::fromLatin1(folder)));
        const QString last = lastFolder.isEmpty() || lastFolder == QStringLiteral(".")
                                 ? lastFolder
                                 : root.filePath(lastFolder);
        QCOMPARE(fileDialogStartFolder(last, root.filePath(QStringLiteral("diary"))),
                 opensThere ? last : QDir::homePath());
    }

    void alertsAsMessageBoxes_data() {
        QTest::addColumn<int>("clicked");
        // The window the alert belongs to goes while it shows (and takes the alert along).
        QTest::addColumn<bool>("windowGoes");
        QTest::newRow("default") << 0 << false;
        QTest::newRow("last") << 2 << false;
        QTest::newRow("closed") << -1 << false;
        QTest::newRow("its window gone") << -1 << true;
    }

    void alertsAsMessageBoxes() {
        QFETCH(int, clicked);
        QFETCH(bool, windowGoes);
        auto window = std::make_unique<QWidget>();
        MessageBoxAlertPresenter presenter([&] { return window.get(); });
        std::optional<int> answer;
        DiaryAlert alert;
        alert.title = QStringLiteral("Import Diary?");
        // A quoted value that reads as markup is shown as written, not laid out as an image.
        alert.informativeText = QStringLiteral("3 new entries in <img width=3000 height=3000>");
        alert.style = DiaryAlertStyle::warning;
        alert.buttons = {QStringLiteral("Merge"), QStringLiteral("Cancel"),
                         QStringLiteral("Replace Diary")};
        auto run = [&]() -> QCoro::Task<void> {
            QCoro::Task<int> shown = presenter.present(alert);
            answer = co_await std::move(shown);
        };
        run();
        QMessageBox *box = nullptr;
        QVERIFY(waitUntil([&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (widget->objectName() == QStringLiteral("transferAlert") && widget->isVisible())
                    box = qobject_cast<QMessageBox *>(widget);
            }
            return box != nullptr;
        }));
        QCOMPARE(box->text(), QStringLiteral("Import Diary?"));
        QCOMPARE(box->informativeText(), alert.informativeText);
        QVERIFY2(box->sizeHint().height() < 1000, qPrintable(QString::number(box->height())));
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->windowModality(), Qt::ApplicationModal);
        QCOMPARE(box->defaultButton()->text(), QStringLiteral("Merge"));
        QStringList titles;
        for (QAbstractButton *button : box->buttons())
            titles << button->text();
        QCOMPARE(titles, (QStringList{QStringLiteral("Merge"), QStringLiteral("Cancel"),
                                      QStringLiteral("Replace Diary")}));
        QVERIFY(!answer);
        QCOMPARE(box->parentWidget(), window.get());
        if (windowGoes)
            window.reset();
        else if (clicked >= 0)
            box->buttons().at(clicked)->click();
        else
            box->reject();
        QVERIFY(waitUntil([&] { return answer.has_value(); }));
        QCOMPARE(*answer, clicked);
    }

    void importPanel() {
        QFileDialog dialog;
        DiaryTransferPanels::configureImportDialog(dialog, QDir::homePath());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Import Diary"));
        QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFile);
        auto *message = dialog.findChild<QLabel *>(QStringLiteral("panelMessage"));
        QVERIFY(message);
        QCOMPARE(message->text(), QStringLiteral("Select a Velmora export file."));
    }
};

VELMORA_GUI_TEST_MAIN(CommandTests)
#include "tst_commands.moc"

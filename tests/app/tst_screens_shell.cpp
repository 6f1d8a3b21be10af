#include "app/DiaryBookWindow.h"
#include "app/VelmoraMenuCommands.h"
#include "app/VuzIvoduRootView.h"

#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

#include <QMenu>
#include <QMenuBar>

using namespace velmora;
using namespace velmora::test;

namespace {

struct Shell {
    DiaryCommandRouter router;
    VelmoraMenuCommands menus{router, {}};
    DiaryBookWindow window;

    explicit Shell(const VuzIvoduRootView::LaunchState &launch) {
        menus.populate(*window.menuBar());
        window.setCentralWidget(new VuzIvoduRootView(launch, router));
        window.resize(686, 900);
        window.show();
    }
};

} // namespace

class ShellScreens : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void openBook() {
        Shell shell({});
        const QImage image = grabWidget(&shell.window, 1.0);
        QCOMPARE(image.size(), QSize(686, 900));
        QVERIFY(saveScreenshot(image, QStringLiteral("shell-window")));
    }

    void loadFailureCard() {
        VuzIvoduRootView::LaunchState launch;
        launch.persistenceError =
            QStringLiteral("The diary store could not be opened: file is not a database");
        Shell shell(launch);
        const QImage image = grabWidget(&shell.window, 2.0);
        // The card's paper, not the window's black, fills the middle.
        QVERIFY(image.pixelColor(image.width() / 2, image.height() / 5) != QColor(Qt::black));
        QVERIFY(saveScreenshot(image, QStringLiteral("shell-load-failure")));
    }

    void menus_data() {
        QTest::addColumn<int>("index");
        QTest::newRow("file") << 0;
        QTest::newRow("edit") << 1;
        QTest::newRow("view") << 2;
        QTest::newRow("window") << 3;
        QTest::newRow("help") << 4;
    }

    void menus() {
        QFETCH(int, index);
        Shell shell({});
        QMenu *menu = shell.window.menuBar()->actions().at(index)->menu();
        menu->popup(QPoint(0, 0));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        QVERIFY(saveScreenshot(grabWidget(menu, 2.0),
                               QStringLiteral("shell-menu-") + QTest::currentDataTag()));
        menu->hide();
    }
};

VELMORA_GUI_TEST_MAIN(ShellScreens)
#include "tst_screens_shell.moc"

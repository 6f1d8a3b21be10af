#include "app/BookWindowGeometry.h"
#include "app/DesktopSettingsReader.h"
#include "app/DiaryBookWindow.h"

#include "support/GuiTestMain.h"

#include <QDBusVariant>
#include <QScreen>
#include <QSignalSpy>

using namespace velmora;

class WindowTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sizedFrame_data() {
        QTest::addColumn<QRect>("visible");
        QTest::addColumn<QRect>("frame");
        QTest::newRow("900 high") << QRect(0, 0, 1440, 900) << QRect(377, 0, 686, 900);
        QTest::newRow("1000 high") << QRect(0, 25, 1600, 1000) << QRect(419, 25, 762, 1000);
        QTest::newRow("second screen")
            << QRect(1920, 30, 2560, 1410) << QRect(1920 + 1280 - 537, 30, 1074, 1410);
        QTest::newRow("design height") << QRect(0, 0, 780, 1024) << QRect(0, 0, 780, 1024);
        QTest::newRow("1200 high") << QRect(0, 0, 1920, 1200) << QRect(503, 0, 914, 1200);
        QTest::newRow("800 high") << QRect(0, 0, 1280, 800) << QRect(336, 0, 609, 800);
        // Too narrow for the full height: the tallest book its width holds, centred both ways.
        QTest::newRow("upright screen") << QRect(0, 0, 1080, 1920) << QRect(1, 252, 1079, 1417);
        QTest::newRow("narrow by one pixel") << QRect(100, 0, 761, 1000) << QRect(100, 1, 761, 999);
    }

    void sizedFrame() {
        QFETCH(QRect, visible);
        QFETCH(QRect, frame);
        QCOMPARE(BookWindowGeometry::sizedFrame(visible), frame);
        // Presenting the fitted window centres it on the same pixel.
        QCOMPARE(BookWindowGeometry::centredOrigin(visible, frame.size()), frame.topLeft());
    }

    void placement() {
        const QList<QRect> screens{QRect(0, 0, 1440, 900), QRect(1440, 0, 1920, 1080)};
        QVERIFY(!BookWindowGeometry::isOffScreen(QRect(100, 100, 686, 900), screens));
        QVERIFY(!BookWindowGeometry::isOffScreen(QRect(1400, 50, 686, 900), screens));
        // A frame saved on a display that is gone.
        QVERIFY(BookWindowGeometry::isOffScreen(QRect(4000, 0, 686, 900), screens));
        QVERIFY(BookWindowGeometry::isOffScreen(QRect(0, 0, 10, 10), {}));
        QCOMPARE(BookWindowGeometry::centredOrigin(QRect(0, 0, 1440, 900), QSize(686, 900)),
                 QPoint(377, 0));
        QCOMPARE(BookWindowGeometry::centredOrigin(QRect(1440, 0, 1920, 1080), QSize(100, 80)),
                 QPoint(1440 + 910, 500));
    }

    void screenOfFrame_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<int>("screen");
        QTest::newRow("on the first") << QRect(100, 0, 686, 900) << 0;
        QTest::newRow("on the second") << QRect(2000, 40, 600, 700) << 1;
        QTest::newRow("mostly on the second") << QRect(1300, 0, 600, 700) << 1;
        QTest::newRow("mostly on the first") << QRect(1000, 0, 600, 700) << 0;
        QTest::newRow("on a display that is gone") << QRect(4000, 0, 686, 900) << -1;
    }

    void screenOfFrame() {
        QFETCH(QRect, frame);
        QFETCH(int, screen);
        const QList<QRect> screens{QRect(0, 0, 1440, 900), QRect(1440, 0, 1920, 1080)};
        QCOMPARE(BookWindowGeometry::screenOfFrame(frame, screens).value_or(-1), screen);
    }

    void proportions_data() {
        QTest::addColumn<QSize>("previous");
        QTest::addColumn<QSize>("proposed");
        QTest::addColumn<QSize>("answer");
        QTest::newRow("wider leads") << QSize(609, 800) << QSize(709, 800) << QSize(709, 931);
        QTest::newRow("taller leads") << QSize(609, 800) << QSize(609, 1000) << QSize(762, 1000);
        QTest::newRow("the larger share leads")
            << QSize(780, 1024) << QSize(880, 1050) << QSize(880, 1155);
        QTest::newRow("kept as it is") << QSize(762, 1000) << QSize(762, 1000) << QSize(762, 1000);
        QTest::newRow("out of proportion, unchanged")
            << QSize(900, 1000) << QSize(900, 1000) << QSize(762, 1000);
    }

    void proportions() {
        QFETCH(QSize, previous);
        QFETCH(QSize, proposed);
        QFETCH(QSize, answer);
        QCOMPARE(BookWindowGeometry::proportionalSize(previous, proposed), answer);
    }

    void keptFrame_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("frame");
        QTest::newRow("kept") << QStringLiteral("336 0 609 800") << QRect(336, 0, 609, 800);
        QTest::newRow("left of the primary screen")
            << QStringLiteral("-1200 40 609 800") << QRect(-1200, 40, 609, 800);
        QTest::newRow("empty") << QString() << QRect();
        QTest::newRow("three numbers") << QStringLiteral("1 2 3") << QRect();
        QTest::newRow("not a number") << QStringLiteral("1 2 wide 4") << QRect();
        QTest::newRow("no size") << QStringLiteral("1 2 0 4") << QRect();
        QTest::newRow("past int") << QStringLiteral("1 2 3 99999999999") << QRect();
    }

    void keptFrame() {
        QFETCH(QString, text);
        QFETCH(QRect, frame);
        QCOMPARE(BookWindowGeometry::frameFromText(text).value_or(QRect()), frame);
        if (frame.isValid())
            QCOMPARE(BookWindowGeometry::frameText(frame), text);
    }

    // What a resize comes to rest on: the side that changed more has already led.
    void resize_data() {
        QTest::addColumn<QRect>("proposed");
        QTest::addColumn<QRect>("visible");
        QTest::addColumn<bool>("fullScreen");
        QTest::addColumn<QRect>("answer");
        const QRect visible(0, 0, 1600, 1000);
        QTest::newRow("shorter") << QRect(419, 0, 500, 600) << visible << false
                                 << QRect(419, 0, 762, 1000);
        QTest::newRow("taller") << QRect(419, 0, 900, 1200) << visible << false
                                << QRect(419, 0, 762, 1000);
        QTest::newRow("exact") << QRect(419, 0, 700, 1000) << visible << false
                               << QRect(419, 0, 700, 1000);
        QTest::newRow("full screen")
            << QRect(0, 0, 500, 600) << visible << true << QRect(0, 0, 500, 600);
        // The largest book that fits, on the screen.
        QTest::newRow("wider, 800 high") << QRect(336, 0, 809, 1062) << QRect(0, 0, 1280, 800)
                                         << false << QRect(336, 0, 609, 800);
        QTest::newRow("wider past the right edge")
            << QRect(900, 0, 809, 1062) << QRect(0, 0, 1280, 800) << false
            << QRect(671, 0, 609, 800);
        QTest::newRow("taller, 1440 high on a second screen")
            << QRect(2600, 30, 1300, 1707) << QRect(1920, 30, 2560, 1410) << false
            << QRect(2600, 30, 1074, 1410);
        QTest::newRow("taller, upright") << QRect(1, 252, 1200, 1575) << QRect(0, 0, 1080, 1920)
                                         << false << QRect(1, 252, 1079, 1417);
        QTest::newRow("narrower, its title bar above the screen")
            << QRect(300, -11, 500, 656) << QRect(0, 0, 1280, 800) << false
            << QRect(300, 0, 609, 800);
        QTest::newRow("below a panel") << QRect(336, 10, 609, 800) << QRect(0, 24, 1280, 776)
                                       << false << QRect(336, 24, 591, 776);
    }

    void resize() {
        QFETCH(QRect, proposed);
        QFETCH(QRect, visible);
        QFETCH(bool, fullScreen);
        QFETCH(QRect, answer);
        const QRect frame = BookWindowGeometry::frameForResize(proposed, visible, fullScreen);
        QCOMPARE(frame, answer);
        QVERIFY(fullScreen || visible.contains(frame));
    }

    void windowIsSizedToItsScreen() {
        DiaryBookWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora"));
        QCOMPARE(window.titleBarHeight(), 0);
        window.move(20000, 20000);
        window.configure(true);
        const QRect visible = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect expected = BookWindowGeometry::sizedFrame(visible);
        QCOMPARE(window.geometry().size(), expected.size());
        QCOMPARE(window.pos(), expected.topLeft());
    }

    void appearance_data() {
        QTest::addColumn<QString>("appearance");
        QTest::addColumn<bool>("desktopDark");
        QTest::addColumn<bool>("dark");
        QTest::newRow("light on a dark desktop") << QStringLiteral("light") << true << false;
        QTest::newRow("dark") << QStringLiteral("dark") << false << true;
        QTest::newRow("system dark") << QStringLiteral("system") << true << true;
        QTest::newRow("system light") << QStringLiteral("system") << false << false;
        QTest::newRow("unknown follows the desktop") << QStringLiteral("sepia") << true << true;
    }

    void appearance() {
        QFETCH(QString, appearance);
        QFETCH(bool, desktopDark);
        QFETCH(bool, dark);
        DiaryBookWindow window;
        window.applyAppearance(appearance, desktopDark);
        QCOMPARE(window.isDark(), dark);
    }

    void desktopSettings_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QVariant>("colorScheme");
        QTest::addColumn<QVariant>("animations");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("no answer") << QStringList() << QVariant() << QVariant() << false << false;
        QTest::newRow("prefers dark")
            << QStringList() << QVariant(1u) << QVariant() << true << false;
        QTest::newRow("prefers light")
            << QStringList() << QVariant(2u) << QVariant() << false << false;
        QTest::newRow("no preference")
            << QStringList() << QVariant(0u) << QVariant() << false << false;
        QTest::newRow("wrapped answer")
            << QStringList() << QVariant::fromValue(QDBusVariant(QVariant(1u)))
            << QVariant::fromValue(QDBusVariant(QVariant(false))) << true << true;
        QTest::newRow("animations off")
            << QStringList() << QVariant() << QVariant(false) << false << true;
        QTest::newRow("launch flag wins") << QStringList{QStringLiteral("--velmora-reduce-motion")}
                                          << QVariant() << QVariant(true) << false << true;
    }

    void desktopSettings() {
        QFETCH(QStringList, arguments);
        QFETCH(QVariant, colorScheme);
        QFETCH(QVariant, animations);
        QFETCH(bool, dark);
        QFETCH(bool, reduceMotion);
        // A bus that is not connected: the reader must fall back without blocking.
        DesktopSettingsReader reader(QDBusConnection(QStringLiteral("velmora-none")), arguments);
        reader.start();
        if (colorScheme.isValid())
            reader.applySetting(QStringLiteral("org.freedesktop.appearance"),
                                QStringLiteral("color-scheme"), colorScheme);
        if (animations.isValid())
            reader.applySetting(QStringLiteral("org.gnome.desktop.interface"),
                                QStringLiteral("enable-animations"), animations);
        QCOMPARE(reader.prefersDark(), dark);
        QCOMPARE(reader.reduceMotion(), reduceMotion);
    }
};

VELMORA_GUI_TEST_MAIN(WindowTests)
#include "tst_window.moc"
